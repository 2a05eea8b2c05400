#!/usr/bin/env python3
"""The update run and the main screen as a player meets them, three starts in one
launcher folder against the demo site: the first fetches the files (a partial one
resumed) while the screen is probed on screenshots (status dot, PLAY, video, wheel,
mute, drag strip); the second only verifies while the news document is broken;
the third finds the server gone: Offline with the failing WinHTTP call in the log,
a red dot, and a minimised window that runs on."""
import hashlib
import json
import os
import shutil
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from launcher_session import BUILD, PORT, ROOT, LauncherSession, near, read, wait_until, write  # noqa: E402
from test_server import TestServer  # noqa: E402

sys.path.insert(0, os.path.join(ROOT, "tools"))
from demo_server import build_site  # noqa: E402

STATUS_DOT = (890, 35)
PLAY_FILL = (1130, 700)  # inside PLAY, clear of its outline and label
VIDEO_AREA = (40, 120, 780, 480)
NEWS_CARDS = (890, 68, 360, 250)


class MainScreenTest(unittest.TestCase):
    def expect_log(self, session, *texts, timeout=60):
        for text in texts:
            self.assertTrue(session.wait_for_log(text, timeout=timeout), "%r not in log:\n%s" % (
                text, session.new_log()[-2000:]))

    def test_update_screen_and_offline(self):
        client = tempfile.mkdtemp(prefix="ostrel-client-")
        self.addCleanup(shutil.rmtree, client, True)
        write(os.path.join(client, "Wow.exe"), b"stand-in client")
        s = self.enterContext(LauncherSession())
        s.install()
        cache = os.path.join(s.folder, "launcher_cache", "news.json")
        with TestServer(port=PORT, login_port=3724) as server:
            build_site(server.root, "127.0.0.1", PORT)
            entries = json.loads(read(os.path.join(server.root, "launcher", "manifest.php")))["game_files"]
            first = entries[0]["path"]
            write(os.path.join(client, first), read(os.path.join(server.root, "files", first))[:1000].encode("latin-1"))
            s.start_with_client(client, muted=False)
            self.expect_log(s, "Updater complete", "State: Ready", "News loaded: 6 items")
            log = s.new_log()
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

            # The realm is up (the login port answers): green dot; PLAY is lit; the video moves.
            shot = wait_until(lambda: (lambda x: x if near(x.pixel(*STATUS_DOT), 0xFF50C850) else None)(s.shot()), 10)
            self.assertTrue(shot, "status dot is not green")
            self.assertTrue(near(shot.pixel(*PLAY_FILL), 0xFFB47814), shot.pixel(*PLAY_FILL))
            time.sleep(0.5)
            self.assertGreater(s.shot().changed(shot, VIDEO_AREA, threshold=2), 1000)
            s.move_to(1192, 690)
            self.assertTrue(wait_until(lambda: near(s.shot().pixel(*PLAY_FILL), 0xFFDC9B1E), 10), "PLAY not hovered")
            s.move_to(400, 300)

            # The wheel scrolls the news one card at a time wherever the pointer is.
            before = s.shot()
            s.wheel(toward_player=True)
            self.assertTrue(wait_until(lambda: s.shot().changed(before, NEWS_CARDS) > 500, 10), "news did not scroll")
            s.wheel(toward_player=False)
            self.assertTrue(wait_until(lambda: s.shot().changed(before, NEWS_CARDS) < 50, 10), "no scroll back")

            # Mute toggles and is saved at once.
            for muted in (True, False):
                s.click(1160, 16)
                self.assertTrue(wait_until(lambda: s.settings()["muted"] is muted, 10), s.settings())

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
            self.assertEqual(wait_until(lambda: s.geometry()[:2] == (x + 100, y + 50) and s.geometry(), 10),
                             (x + 100, y + 50, 1280, 720))
            after = s.shot()
            time.sleep(0.5)
            self.assertGreater(s.shot().changed(after, VIDEO_AREA, threshold=2), 1000, "video stayed still")
            s.close()

            # Second start: everything verified, nothing fetched or unpacked; a news body that is no JSON
            # is cached as it came and its parser error logged.
            write(os.path.join(server.root, "launcher", "api", "news.php"), b"<html>maintenance</html>")
            s.start_with_client(client)
            self.expect_log(s, "Updater complete", "[ERROR] Exception in news thread: ")
            s.close()
            for entry in entries:
                self.assertIn("OK: " + entry["path"], s.new_log())
            self.assertNotIn("Downloading: ", s.new_log())
            self.assertNotIn("ExtractZip", s.new_log())  # an archive in place and whole is not unpacked again
            self.assertEqual(read(cache), "<html>maintenance</html>")

        # Third start, the server gone, with a font file that holds another family.
        shutil.copy("/usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf",
                    os.path.join(s.folder, "assets", "fonts", "FRIZQT__.TTF"))
        s.start_with_client(client)
        self.expect_log(s, "State: Offline", "News fetch failed or empty")
        log = s.new_log()
        self.assertIn("Manifest fetch failed: HTTP 0: Request failed", log)
        # Beside it, the failing call and its system error code (refused: cannot connect).
        self.assertIn("WinHttpSendRequest failed: 12029 (http://127.0.0.1:%d/launcher/manifest.php)" % PORT, log)
        self.assertIn("[WARN] Font family not found in file: Friz Quadrata TT", log)
        self.assertIn("[WARN] Font not found: MORPHEUS.TTF", log)
        self.assertTrue(wait_until(lambda: near(s.shot().pixel(*STATUS_DOT), 0xFFC83C3C), 10), "dot not red")

        # Minimise: the window shrinks to Wine's icon (no window manager here); the launcher runs on.
        s.click(1225, 16)
        self.assertTrue(wait_until(lambda: s.geometry()[2:] != (1280, 720), 10), "window not minimised")
        self.assertIsNone(s.proc.poll())


if __name__ == "__main__":
    unittest.main(verbosity=2)
