#!/usr/bin/env python3
"""What a player's Windows needs of OstrelLauncher.exe: only DLLs that Windows
ships, the icon group with its four images, the version strings and the
application manifest. (Its start and clean close: test_main_screen.)"""
import os
import re
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from launcher_session import BUILD  # noqa: E402

EXE = os.path.join(BUILD, "OstrelLauncher.exe")
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "gdiplus.dll", "ole32.dll", "oleaut32.dll",
               "shell32.dll", "shlwapi.dll", "comctl32.dll", "winhttp.dll", "ws2_32.dll", "bcrypt.dll",
               "winmm.dll", "msvcrt.dll", "advapi32.dll", "comdlg32.dll", "mfplat.dll", "mfreadwrite.dll"}


def wrestool(*args):
    return subprocess.run(["wrestool", "-x", "--raw", *args, EXE], capture_output=True, check=True).stdout


class ExecutableTest(unittest.TestCase):
    def test_imports_only_system_dlls(self):
        dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", EXE], capture_output=True, text=True,
                              check=True).stdout
        dlls = {name.lower() for name in re.findall(r"DLL Name: (\S+)", dump)}
        self.assertTrue(dlls, "no imports found")
        self.assertEqual(dlls - SYSTEM_DLLS, set())
        self.assertRegex(dump, r"Magic\s+020b")  # PE32+: a 64-bit program
        self.assertRegex(dump, r"Subsystem\s+00000002")  # GUI

    def test_resources(self):
        icons = wrestool("--type=14", "--name=1")  # the icon group: 16, 32, 48, 256 at 32 bits
        entries = [icons[6 + 14 * i:20 + 14 * i] for i in range(int.from_bytes(icons[4:6], "little"))]
        self.assertEqual(sorted((e[0] or 256, int.from_bytes(e[6:8], "little")) for e in entries),
                         [(16, 32), (32, 32), (48, 32), (256, 32)])
        text = wrestool("--type=16").decode("utf-16-le", errors="replace")
        for key, value in [("FileDescription", "Ostrelhold WoW Launcher"), ("ProductName", "Ostrelhold Launcher"),
                           ("OriginalFilename", "OstrelLauncher.exe"), ("FileVersion", "1.0.0.0")]:
            self.assertRegex(text, key + "\x00+" + re.escape(value))
        manifest = wrestool("--type=24").decode()
        for text in ('level="asInvoker"', 'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"',
                     ">PerMonitorV2<"):
            self.assertIn(text, manifest)


if __name__ == "__main__":
    unittest.main(verbosity=2)
