#!/usr/bin/env python3
"""What a player's Windows needs of OstrelLauncher.exe: only DLLs that Windows
ships, the icon group with its four images, the version strings and the
application manifest."""
import os
import re
import subprocess
import unittest

# The Windows build folder; ctest passes it.
BUILD = os.path.abspath(os.environ.get("OSTREL_BUILD_DIR", "build/windows"))
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "gdiplus.dll", "ole32.dll", "oleaut32.dll",
               "shell32.dll", "shlwapi.dll", "comctl32.dll", "winhttp.dll", "ws2_32.dll", "bcrypt.dll",
               "winmm.dll", "msvcrt.dll", "advapi32.dll", "comdlg32.dll", "mfplat.dll", "mfreadwrite.dll"}


def exe():
    return os.path.join(BUILD, "OstrelLauncher.exe")


def wrestool(*args):
    return subprocess.run(["wrestool", *args, exe()], capture_output=True, check=True).stdout


class ExecutableTest(unittest.TestCase):
    def test_imports_only_system_dlls(self):
        dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", exe()], capture_output=True, text=True,
                              check=True).stdout
        dlls = {name.lower() for name in re.findall(r"DLL Name: (\S+)", dump)}
        self.assertTrue(dlls, "no imports found")
        self.assertEqual(dlls - SYSTEM_DLLS, set())
        self.assertRegex(dump, r"Magic\s+020b")  # PE32+: a 64-bit program
        self.assertRegex(dump, r"Subsystem\s+00000002")  # GUI

    def test_icon_group_holds_four_sizes(self):
        raw = wrestool("-x", "--raw", "--type=14", "--name=1")
        count = int.from_bytes(raw[4:6], "little")
        self.assertEqual(count, 4)
        sizes, depths = set(), set()
        for i in range(count):
            entry = raw[6 + 14 * i: 6 + 14 * (i + 1)]
            sizes.add(entry[0] or 256)
            depths.add(int.from_bytes(entry[6:8], "little"))
        self.assertEqual(sizes, {256, 48, 32, 16})
        self.assertEqual(depths, {32})

    def test_version_strings(self):
        text = wrestool("-x", "--raw", "--type=16").decode("utf-16-le", errors="replace")
        for key, value in [("FileDescription", "Ostrelhold WoW Launcher"), ("ProductName", "Ostrelhold Launcher"),
                           ("InternalName", "OstrelLauncher"), ("OriginalFilename", "OstrelLauncher.exe"),
                           ("FileVersion", "1.0.0.0"), ("ProductVersion", "1.0.0.0")]:
            self.assertRegex(text, key + "\x00+" + re.escape(value))
        self.assertIn("040904B0", text)

    def test_manifest(self):
        text = wrestool("-x", "--raw", "--type=24").decode()
        self.assertIn('level="asInvoker"', text)
        self.assertIn('uiAccess="false"', text)
        self.assertIn('name="Microsoft.Windows.Common-Controls" version="6.0.0.0"', text)
        self.assertIn(">PerMonitorV2<", text)
        self.assertIn(">true/pm<", text)


if __name__ == "__main__":
    unittest.main(verbosity=2)
