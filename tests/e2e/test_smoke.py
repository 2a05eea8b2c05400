#!/usr/bin/env python3
"""Smoke test: start the launcher from a fresh folder, check its window,
close it with the close button, and read the log it left. A second run in
the same folder must append to the log."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from launcher_session import LauncherSession  # noqa: E402

# The Windows build folder; ctest passes it.
BUILD = os.path.abspath(os.environ.get("OSTREL_BUILD_DIR", "build/windows"))
EXPECTED_ORDER = [b"=== Launcher starting ===", b"GDI+ init", b"COM init",
                  b"Entering MainWindow::Run", b"MainWindow::Run returned 0"]


class SmokeTest(unittest.TestCase):
    def run_once(self, session):
        session.launch()
        self.assertEqual(session.geometry(), (320, 180, 1280, 720))
        self.assertTrue(session.wait_for_log("OnCreate complete"))
        session.click(1250, 10)  # the close button
        self.assertEqual(session.wait_exit(timeout=30), 0)

    def test_start_close_and_log(self):
        with LauncherSession(BUILD) as session:
            session.install()
            self.run_once(session)
            first = session.log_bytes()

            lines = first.split(b"\r\n")
            self.assertEqual(lines[-1], b"", "log must end with CR LF")
            self.assertNotIn(b"\n", b"".join(lines), "every line ends in CR LF")
            positions = [first.find(text) for text in EXPECTED_ORDER]
            self.assertTrue(all(p >= 0 for p in positions), positions)
            self.assertEqual(positions, sorted(positions))
            self.assertTrue(lines[-2].endswith(b"[INFO] MainWindow::Run returned 0"), lines[-2])

            # The same folder again: the first run's lines stay, the second's follow.
            self.run_once(session)
            second = session.log_bytes()
            self.assertTrue(second.startswith(first))
            self.assertEqual(second.count(b"=== Launcher starting ==="), 2)
            self.assertTrue(second.endswith(b"MainWindow::Run returned 0\r\n"))


if __name__ == "__main__":
    unittest.main(verbosity=2)
