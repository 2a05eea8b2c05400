#!/usr/bin/env python3
"""The update run and the main screen as a player meets them, four starts in one launcher
folder (the players' package of the build, unpacked) against the demo site: the first fetches the files (a partial one resumed) while the
screen is probed (status dot, PLAY, video, wheel, mute, drag strip), with no warning; the second
only verifies, on a system without Media Foundation; the third reads nothing; the fourth finds the
server gone. And OstrelLauncher.exe imports only DLLs that every supported Windows has."""
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from launcher_session import (BUILD, GREEN, PORT, RED, ROOT, STATUS_DOT, LauncherSession,  # noqa: E402
                              configured_version, read, wait_until, write)
from test_server import TestServer  # noqa: E402

sys.path.insert(0, os.path.join(ROOT, "tools"))
from demo_server import build_site  # noqa: E402

PLAY_FILL = (1130, 700)  # inside PLAY, clear of its outline and label
VIDEO_AREA = (40, 120, 780, 480)
NEWS_CARDS = (890, 68, 360, 250)
EXE = os.path.join(BUILD, "OstrelLauncher.exe")
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "gdiplus.dll", "ole32.dll", "oleaut32.dll",
               "shell32.dll", "shlwapi.dll", "comctl32.dll", "winhttp.dll", "ws2_32.dll", "bcrypt.dll",
               "winmm.dll", "msvcrt.dll", "advapi32.dll", "comdlg32.dll"}  # Media Foundation: loaded at run time


def wrestool(*args):
    return subprocess.run(["wrestool", "-x", "--raw", *args, EXE], capture_output=True, check=True).stdout


def unpack_package(test, folder):
    """Makes the players' package of the build where an older package folder of the same name lies,
    checks what it holds (the program, every asset, the players' texts, digests of it all; nothing
    else) and unpacks it into `folder`."""
    out = tempfile.mkdtemp(prefix="ostrel-package-")
    test.addCleanup(shutil.rmtree, out, True)
    name = "OstrelLauncher-%s-win64" % configured_version()
    write(os.path.join(out, name, "assets", "old.png"))
    said = subprocess.run([os.path.join(ROOT, "scripts", "package"), "--build", BUILD, "--out", out],
                          capture_output=True, text=True, check=True).stdout
    test.assertEqual(said.count("is not signed"), 1, said)
    assets = {os.path.relpath(os.path.join(base, n), ROOT).replace(os.sep, "/")
              for base, _, names in os.walk(os.path.join(ROOT, "assets")) for n in names} - {"assets/README.md"}
    with zipfile.ZipFile(os.path.join(out, name + ".zip")) as z:
        test.assertEqual(set(z.namelist()), assets | {"OstrelLauncher.exe", "README.txt", "LICENSES.txt",
                                                      "licenses/mingw-w64.txt", "SHA256SUMS"})
        z.extractall(folder)
    test.assertFalse(os.path.exists(os.path.join(out, name, "assets", "old.png")), "old package folder kept")
    checked = subprocess.run(["sha256sum", "-c", "--strict", "SHA256SUMS"], cwd=folder, capture_output=True, text=True,
                             check=True).stdout
    test.assertEqual(checked.count(": OK\n"), len(z.namelist()) - 1)


class MainScreenTest(unittest.TestCase):
    def test_update_screen_and_offline(self):
        client = tempfile.mkdtemp(prefix="ostrel-client-")
        self.addCleanup(shutil.rmtree, client, True)
        write(os.path.join(client, "Wow.exe"), b"stand-in client")
        s = self.enterContext(LauncherSession())
        unpack_package(self, s.folder)
        with TestServer(port=PORT, login_port=3724) as server:
            build_site(server.root, "127.0.0.1", PORT)
            entries = json.loads(read(os.path.join(server.root, "launcher", "manifest.php")))["game_files"]
            first = entries[0]["path"]
            write(os.path.join(client, first), read(os.path.join(server.root, "files", first))[:1000].encode("latin-1"))
            write(os.path.join(server.root, "_options.json"), b'{"/launcher/manifest.php": {"hold": "1"}}')
            write(os.path.join(server.root, "_hold"))
            s.launch(client, muted=False)
            self.assertEqual(s.geometry(), (320, 180, 1280, 720))  # centred on the 1920 x 1080 screen
            # While connecting PLAY does nothing (Wow.exe is no program: a start would fail). Mute,
            # clicked after it, is saved at once: both clicks have been taken in.
            s.press("play")
            s.press("mute")
            self.assertTrue(wait_until(lambda: s.settings()["muted"], 10), s.settings())
            os.remove(os.path.join(server.root, "_hold"))
            log = s.expect("Updater complete", "State: Ready", "News loaded: 6 items")
            self.assertIn("Launcher version %s\r\n" % configured_version(), log)
            self.assertNotIn("WoW cache cleared", log)
            self.assertNotIn("CreateProcess", log)
            self.assertNotIn("[WARN]", log)  # the launcher's own fonts, found
            for line in ("VideoBackground: playing", "Video background loaded", "Sprite fonts: 39 letters, 29 subletters",
                         "State: Verifying", "State: Updating"):
                self.assertIn(line, log)
            for entry in entries:
                self.assertIn("Downloading: " + entry["path"], log)
                with open(os.path.join(client, entry["path"]), "rb") as f:
                    self.assertEqual(hashlib.md5(f.read()).hexdigest(), entry["md5"], entry["path"])
            self.assertIn("GET /files/%s bytes=1000- " % first, read(os.path.join(server.root, "_requests.log")))
            self.assertTrue(os.path.isfile(os.path.join(client, "Interface", "AddOns", "OstrelUI", "OstrelUI.toc")))
            s.move_to(400, 300)  # away from every control

            # The realm is up (the login port answers): green dot; PLAY is lit, brighter under the pointer.
            # The log runs ahead of the screen by up to a paint (tens of milliseconds, more under load).
            s.wait_pixel(STATUS_DOT, GREEN)
            shot = s.wait_pixel(PLAY_FILL, 0xFFB47814)
            time.sleep(0.5)
            self.assertGreater(s.shot().changed(shot, VIDEO_AREA, threshold=2), 1000, "video stands still")
            s.move_to(1192, 690)
            s.wait_pixel(PLAY_FILL, 0xFFDC9B1E)
            s.move_to(400, 300)

            # The wheel scrolls the news one card at a time wherever the pointer is.
            before = s.shot()
            for button, test in (("5", lambda n: n > 500), ("4", lambda n: n < 50)):  # toward the player, back
                s.xdotool("click", button)
                self.assertTrue(wait_until(lambda: test(s.shot().changed(before, NEWS_CARDS)), 10), button)

            s.press("mute")  # and back, saved at once
            self.assertTrue(wait_until(lambda: s.settings()["muted"] is False, 10), s.settings())

            # Held on the drag strip the window stands still, video included; released, it has moved.
            x, y, _, _ = s.geometry()
            s.xdotool("mousemove", "--sync", x + 600, y + 20, "mousedown", "1")
            for step in range(1, 6):
                s.xdotool("mousemove", "--sync", x + 600 + 20 * step, y + 20 + 10 * step)
            time.sleep(0.3)
            held = s.shot()
            time.sleep(0.5)
            self.assertEqual(s.shot().changed(held, VIDEO_AREA, threshold=2), 0, "video ran during the drag")
            s.xdotool("mouseup", "1")
            self.assertTrue(wait_until(lambda: s.geometry() == (x + 100, y + 50, 1280, 720), 10), s.geometry())
            after = s.shot()
            time.sleep(0.5)
            self.assertGreater(s.shot().changed(after, VIDEO_AREA, threshold=2), 1000, "video stayed still")
            s.close()
            log = s.log_bytes()
            self.assertNotIn(b"\n", log.replace(b"\r\n", b""), "every line ends in CR LF")
            order = [log.find(text) for text in (b"=== Launcher starting ===", b"GDI+ init", b"COM init",
                                                 b"Entering MainWindow::Run", b"OnCreate complete")]
            self.assertTrue(-1 not in order and order == sorted(order), order)
            self.assertTrue(log.endswith(b"[INFO] MainWindow::Run returned 0\r\n"), log[-200:])

            # Second start, Media Foundation missing (as on Windows N): the picture without video, one
            # warning. Everything verified, nothing fetched or unpacked; a news body that is no JSON is
            # cached as it came and its parser error logged.
            write(os.path.join(server.root, "launcher", "api", "news.php"), b"<html>maintenance</html>")
            s.launch(client, dll_overrides="mfplat,mfreadwrite=d")
            log = s.expect("State: Ready", "[ERROR] Exception in news thread: ")
            self.assertEqual(re.findall(r"\[WARN\] .*", log), ["[WARN] Video background unavailable: mfplat.dll not "
                                                              "loaded (error 126)\r"])
            self.assertIn("Background loaded: ", log)
            still = s.wait_pixel(PLAY_FILL, 0xFFB47814)
            time.sleep(0.5)
            self.assertEqual(s.shot().changed(still, VIDEO_AREA, threshold=2), 0, "a video played")
            s.close()
            for entry in entries:
                self.assertIn("OK: " + entry["path"], s.new_log())
            self.assertNotIn("Downloading: ", s.new_log())
            self.assertNotIn("ExtractZip", s.new_log())  # an archive in place and whole is not unpacked again
            self.assertEqual(read(os.path.join(s.folder, "launcher_cache", "news.json")), "<html>maintenance</html>")

            # Third start: every file was read at the second and has not changed since; none is read again.
            s.launch(client)
            log = s.expect("State: Ready")
            s.close()
            self.assertIn("Quick check: %d of %d files unchanged since their last check" % ((len(entries),) * 2), log)
            self.assertNotIn("OK: ", log)

        # Fourth start, the server gone, with a font file that holds another family.
        shutil.copy("/usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf",
                    os.path.join(s.folder, "assets", "fonts", "FRIZQT__.TTF"))
        s.launch(client)
        log = s.expect("State: Offline", "News fetch failed or empty: Request failed")
        # Beside the failure, the failing call and its system error code (refused: cannot connect).
        for line in ("Manifest fetch failed: HTTP 0: Request failed",
                     "WinHttpSendRequest failed: 12029 (http://127.0.0.1:%d/launcher/manifest.php)" % PORT):
            self.assertIn(line, log)
        # The slot then takes the launcher's own font.
        self.assertRegex(log, r"\[WARN\] Font family not found in file: Friz Quadrata TT\r\n.*Loaded font: Ostrel Goudy")
        s.wait_pixel(STATUS_DOT, RED)

        # Minimise: the window shrinks to Wine's icon (no window manager here); the launcher runs on.
        s.press("minimise")
        self.assertTrue(wait_until(lambda: s.geometry()[2:] != (1280, 720), 10), "window not minimised")
        self.assertIsNone(s.proc.poll())


class ExecutableTest(unittest.TestCase):
    def test_system_dlls_only_and_resources(self):
        dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", EXE], capture_output=True, text=True,
                              check=True).stdout
        dlls = {name.lower() for name in re.findall(r"DLL Name: (\S+)", dump)}
        self.assertTrue(dlls, "no imports found")
        self.assertEqual(dlls - SYSTEM_DLLS, set())
        self.assertRegex(dump, r"Magic\s+020b")  # PE32+: a 64-bit program
        self.assertRegex(dump, r"Subsystem\s+00000002")  # GUI
        icons = wrestool("--type=14", "--name=1")  # the icon group: 16, 32, 48, 256 at 32 bits
        self.assertEqual(sorted(icons[6 + 14 * i] or 256 for i in range(icons[4])), [16, 32, 48, 256])
        block = wrestool("--type=16").decode("utf-16-le", errors="replace")
        for key in ("FileVersion", "ProductVersion"):
            self.assertRegex(block, key + "\0+" + re.escape(configured_version() + ".0") + "\0")
        self.assertRegex(wrestool("--type=24").decode(), '(?s)level="asInvoker".*>PerMonitorV2<')

if __name__ == "__main__":
    unittest.main(verbosity=2)
