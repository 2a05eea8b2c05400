#!/usr/bin/env python3
"""The launcher on a 3840 x 2160 display at 192 DPI (200 %), in a Wine prefix of its own: the window
at twice the size, PLAY at its scaled place, lit under the pointer, and a click there starts the game."""
import os
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from launcher_session import PORT, LauncherSession, wait_until  # noqa: E402
from test_game import runs, serve_manifest, stand_in  # noqa: E402
from test_server import TestServer  # noqa: E402

PLAY_FILL = (2260, 1400)  # design (1130, 700), inside PLAY clear of its outline and label


class HighDpiTest(unittest.TestCase):
    def test_window_at_scale_two(self):
        client = stand_in(tempfile.mkdtemp(prefix="ostrel-client-"))
        self.addCleanup(shutil.rmtree, client, True)
        s = self.enterContext(LauncherSession(screen="3840x2160", dpi=192)).install()
        with TestServer(port=PORT) as server:
            serve_manifest(server.root)
            s.launch(client)
            log = s.expect("State: Ready")
            self.assertEqual(s.geometry(), (640, 360, 2560, 1440))  # centred on the screen
            self.assertIn("Window scale: 200 %", log)
            s.move_to(800, 600)
            s.wait_pixel(PLAY_FILL, 0xFFB47814)
            s.move_to(2242, 1331)  # PLAY's top-left device pixel: design (1120, 665) at twice the size
            s.wait_pixel(PLAY_FILL, 0xFFDC9B1E)
            s.click(2380, 1372)
            self.assertTrue(wait_until(lambda: runs(client), 20), "the game did not start")


if __name__ == "__main__":
    unittest.main(verbosity=2)
