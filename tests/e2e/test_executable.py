#!/usr/bin/env python3
"""What a player's Windows needs of OstrelLauncher.exe: only DLLs that Windows
ships, the icon group with its four images, the version strings and the
application manifest; and a smoke run: it starts, shows its window, closes with
its close button and leaves its log."""
import os
import re
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from launcher_session import BUILD, LauncherSession  # noqa: E402

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "gdiplus.dll", "ole32.dll", "oleaut32.dll",
               "shell32.dll", "shlwapi.dll", "comctl32.dll", "winhttp.dll", "ws2_32.dll", "bcrypt.dll",
               "winmm.dll", "msvcrt.dll", "advapi32.dll", "comdlg32.dll", "mfplat.dll", "mfreadwrite.dll"}


def exe():
    return os.path.join(BUILD, "OstrelLauncher.exe")


def wrestool(*args):
    return subprocess.run(["wrestool", *args, exe()], capture_output=True, check=True).stdout


class ExecutableTest(unittest.TestCase):
    def test_starts_and_closes_cleanly(self):
        with LauncherSession() as session:
            session.install()
            session.launch()
            self.assertEqual(session.geometry(), (320, 180, 1280, 720))
            self.assertTrue(session.wait_for_log("OnCreate complete"))
            session.close()
            log = session.log_bytes()
            self.assertNotIn(b"\n", log.replace(b"\r\n", b""), "every line ends in CR LF")
            order = [log.find(text) for text in (b"=== Launcher starting ===", b"GDI+ init", b"COM init",
                                                 b"Entering MainWindow::Run", b"MainWindow::Run returned 0\r\n")]
            self.assertTrue(-1 not in order and order == sorted(order), order)
            self.assertTrue(log.endswith(b"[INFO] MainWindow::Run returned 0\r\n"), log[-200:])

    def test_imports_only_system_dlls(self):
        dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", exe()], capture_output=True, text=True,
                              check=True).stdout
        dlls = {name.lower() for name in re.findall(r"DLL Name: (\S+)", dump)}
        self.assertTrue(dlls, "no imports found")
        self.assertEqual(dlls - SYSTEM_DLLS, set())
        self.assertRegex(dump, r"Magic\s+020b")  # PE32+: a 64-bit program
        self.assertRegex(dump, r"Subsystem\s+00000002")  # GUI

    def test_resources(self):
        icons = wrestool("-x", "--raw", "--type=14", "--name=1")  # the icon group: 16, 32, 48, 256 at 32 bits
        entries = [icons[6 + 14 * i:20 + 14 * i] for i in range(int.from_bytes(icons[4:6], "little"))]
        self.assertEqual(sorted((e[0] or 256, int.from_bytes(e[6:8], "little")) for e in entries),
                         [(16, 32), (32, 32), (48, 32), (256, 32)])
        text = wrestool("-x", "--raw", "--type=16").decode("utf-16-le", errors="replace")
        for key, value in [("FileDescription", "Ostrelhold WoW Launcher"), ("ProductName", "Ostrelhold Launcher"),
                           ("OriginalFilename", "OstrelLauncher.exe"), ("FileVersion", "1.0.0.0")]:
            self.assertRegex(text, key + "\x00+" + re.escape(value))
        manifest = wrestool("-x", "--raw", "--type=24").decode()
        for text in ('level="asInvoker"', 'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"',
                     ">PerMonitorV2<"):
            self.assertIn(text, manifest)

if __name__ == "__main__":
    unittest.main(verbosity=2)
