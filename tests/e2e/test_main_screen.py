#!/usr/bin/env python3
"""The main screen as a player sees and handles it: pixels probed on
screenshots, the wheel, the drag strip, mute, minimise, the moving video, and
the news feed's failures in the log."""
import json
import os
import shutil
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from launcher_session import LauncherSession, near  # noqa: E402
from test_update_flow import PORT, DemoServer  # noqa: E402
from wine_env import TestServer, windows_path  # noqa: E402

BUILD = os.path.abspath(os.environ.get("OSTREL_BUILD_DIR", "build/windows"))
STATUS_DOT = (890, 35)
PLAY_FILL = (1130, 700)       # inside PLAY, clear of its outline and label
VIDEO_AREA = (40, 120, 780, 480)
NEWS_CARDS = (890, 68, 360, 250)


def until(predicate, timeout=10, step=0.2):
    deadline = time.time() + timeout
    while time.time() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(step)
    return predicate()


class MainScreenTest(unittest.TestCase):
    def start(self, session, client, muted=False):
        with open(os.path.join(session.folder, "launcher_settings.json"), "w") as f:
            json.dump({"wow_dir": windows_path(client), "close_on_launch": True, "muted": muted}, f)
        session.launch()

    def test_screen_as_a_player_uses_it(self):
        client = tempfile.mkdtemp(prefix="ostrel-client-")
        with open(os.path.join(client, "Wow.exe"), "wb") as f:
            f.write(b"stand-in client")
        with LauncherSession(BUILD) as session, DemoServer():
            session.install()
            self.start(session, client)
            self.assertTrue(session.wait_for_log("State: Ready", timeout=60))
            self.assertTrue(session.wait_for_log("News loaded: 6 items"))
            log = session.log_bytes()
            self.assertIn(b"VideoBackground: playing", log)
            self.assertIn(b"Video background loaded", log)
            self.assertIn(b"Sprite fonts: 39 letters, 29 subletters", log)
            session.move_to(400, 300)  # away from every control

            # The realm is up (the demo server answers its login port): green dot; PLAY is lit.
            first = until(lambda: (lambda s: s if near(s.pixel(*STATUS_DOT), 0xFF50C850) else None)(session.shot()))
            self.assertTrue(first, "status dot is not green")
            self.assertTrue(near(first.pixel(*PLAY_FILL), 0xFFB47814), first.pixel(*PLAY_FILL))
            # The video moves under everything.
            time.sleep(0.5)
            self.assertGreater(session.shot().changed(first, VIDEO_AREA, threshold=2), 1000)

            session.move_to(1192, 690)  # hover PLAY
            self.assertTrue(until(lambda: near(session.shot().pixel(*PLAY_FILL), 0xFFDC9B1E)), "PLAY not hovered")
            session.move_to(400, 300)

            # The wheel scrolls the news one card at a time wherever the pointer is.
            before = session.shot()
            session.wheel(toward_player=True)
            self.assertTrue(until(lambda: session.shot().changed(before, NEWS_CARDS) > 500), "news did not scroll")
            session.wheel(toward_player=False)
            self.assertTrue(until(lambda: session.shot().changed(before, NEWS_CARDS) < 50), "news did not scroll back")

            # Mute toggles and is saved at once.
            session.click(1160, 16)
            self.assertTrue(until(lambda: session.settings()["muted"] is True), session.settings())
            session.click(1160, 16)
            self.assertTrue(until(lambda: session.settings()["muted"] is False), session.settings())

            # Held on the drag strip the window stands still, video included; released, it has moved.
            x, y, _, _ = session.geometry()
            session.xdotool("mousemove", "--sync", x + 600, y + 20, "mousedown", "1")
            for step in range(1, 6):
                session.xdotool("mousemove", "--sync", x + 600 + 20 * step, y + 20 + 10 * step)
            time.sleep(0.3)
            held = session.shot()
            time.sleep(0.5)
            self.assertEqual(session.shot().changed(held, VIDEO_AREA, threshold=2), 0, "video ran during the drag")
            session.xdotool("mouseup", "1")
            self.assertEqual(until(lambda: session.geometry()[:2] == (x + 100, y + 50) and session.geometry()),
                             (x + 100, y + 50, 1280, 720))
            after = session.shot()
            time.sleep(0.5)
            self.assertGreater(session.shot().changed(after, VIDEO_AREA, threshold=2), 1000, "video stayed still")

            # Minimise: the window shrinks to Wine's icon (no window manager here); the launcher runs on.
            session.click(1225, 16)
            self.assertTrue(until(lambda: session.geometry()[2:] != (1280, 720)), "window not minimised")
            self.assertIsNone(session.proc.poll())

    def test_news_failures_and_offline_realm(self):
        client = tempfile.mkdtemp(prefix="ostrel-client-")
        with open(os.path.join(client, "Wow.exe"), "wb") as f:
            f.write(b"stand-in client")
        cache = None
        with LauncherSession(BUILD) as session:
            session.install()
            cache = os.path.join(session.folder, "launcher_cache", "news.json")
            # A font file under the expected name that holds another family: the "Arial" fallback.
            shutil.copy("/usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf",
                        os.path.join(session.folder, "assets", "fonts", "FRIZQT__.TTF"))
            # No server at all: two log lines, no cache file, a red dot.
            self.start(session, client)
            self.assertTrue(session.wait_for_log("News fetch failed or empty", timeout=60))
            log = session.log_bytes()
            self.assertIn(b"News thread started", log)
            self.assertIn(b"[WARN] Font family not found in file: Friz Quadrata TT", log)
            self.assertIn(b"[WARN] Font not found: MORPHEUS.TTF", log)
            self.assertFalse(os.path.exists(cache))
            self.assertTrue(session.wait_for_log("State: Offline", timeout=60))
            self.assertTrue(until(lambda: near(session.shot().pixel(*STATUS_DOT), 0xFFC83C3C)), "dot not red")
            session.click(1250, 10)
            self.assertEqual(session.wait_exit(), 0)

            # A news body that is not JSON: the parser's error in the log, the body in the cache.
            with TestServer(port=PORT) as server:
                os.makedirs(os.path.join(server.root, "launcher", "api"))
                with open(os.path.join(server.root, "launcher", "api", "news.php"), "wb") as f:
                    f.write(b"<html>maintenance</html>")
                self.start(session, client)
                self.assertTrue(session.wait_for_log("[ERROR] Exception in news thread: ", timeout=60))
                with open(cache, "rb") as f:
                    self.assertEqual(f.read(), b"<html>maintenance</html>")
                session.click(1250, 10)
                self.assertEqual(session.wait_exit(), 0)


if __name__ == "__main__":
    unittest.main(verbosity=2)
