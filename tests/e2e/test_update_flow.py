#!/usr/bin/env python3
"""The launcher against a live update server, as a player meets it: a client
folder holding Wow.exe, a manifest of files to fetch, a second start that only
verifies, and a start with the server gone (Offline)."""
import hashlib
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from launcher_session import LauncherSession  # noqa: E402

# The Windows build folder; ctest passes it.
BUILD = os.path.abspath(os.environ.get("OSTREL_BUILD_DIR", "build/windows"))
ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
DEMO_SERVER = os.path.join(ROOT, "tools", "demo_server.py")
PORT = 8405  # the test build's OSTREL_UPDATE_PORT


class DemoServer:
    def __init__(self):
        self.root = tempfile.mkdtemp(prefix="ostrel-site-")
        self.proc = None

    def __enter__(self):
        self.proc = subprocess.Popen([sys.executable, DEMO_SERVER, "--root", self.root, "--port", str(PORT),
                                      "--login-port", "3724"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                     text=True)
        line = self.proc.stdout.readline()
        if "serving" not in line:
            raise RuntimeError("demo server did not start: %r" % line)
        with open(os.path.join(self.root, "launcher", "manifest.php")) as f:
            self.manifest = json.load(f)
        return self

    def __exit__(self, *exc):
        self.proc.terminate()
        self.proc.wait(timeout=10)
        shutil.rmtree(self.root, ignore_errors=True)


class UpdateFlowTest(unittest.TestCase):
    def test_update_verify_and_offline(self):
        client = tempfile.mkdtemp(prefix="ostrel-client-")
        try:
            with open(os.path.join(client, "Wow.exe"), "wb") as f:
                f.write(b"stand-in client")
            with LauncherSession(BUILD) as session:
                session.install()
                with DemoServer() as server:
                    entries = server.manifest["game_files"]
                    # A partial first file: the launcher must resume it.
                    first = entries[0]["path"]
                    with open(os.path.join(server.root, "files", first), "rb") as f:
                        head = f.read(1000)
                    os.makedirs(os.path.dirname(os.path.join(client, first)), exist_ok=True)
                    with open(os.path.join(client, first), "wb") as f:
                        f.write(head)

                    session.start_with_client(client)
                    self.assertTrue(session.wait_for_log("Updater complete", timeout=90), session.log_bytes()[-2000:])
                    session.close()
                    log = session.log_bytes().decode("latin-1")
                    for line in ("Manifest thread started", "Manifest loaded OK, starting updater",
                                 "State: Verifying", "State: Updating", "State: Ready"):
                        self.assertIn(line, log)
                    self.assertEqual(log.count("Updater complete"), 1)
                    for entry in entries:
                        self.assertIn("Downloading: " + entry["path"], log)
                        with open(os.path.join(client, entry["path"]), "rb") as f:
                            self.assertEqual(hashlib.md5(f.read()).hexdigest(), entry["md5"], entry["path"])
                    # The archive was unpacked into its folder.
                    self.assertTrue(os.path.isfile(os.path.join(client, "Interface", "AddOns", "OstrelUI",
                                                                "OstrelUI.toc")))

                    # Second start: everything is verified, nothing fetched.
                    before = len(session.log_bytes())
                    session.start_with_client(client)
                    self.assertTrue(session.wait_for_log("Updater complete", timeout=60, since=before))
                    session.close()
                    second = session.log_bytes()[before:].decode("latin-1")
                    for entry in entries:
                        self.assertIn("OK: " + entry["path"], second)
                    self.assertNotIn("Downloading: ", second)

                # Third start with the server gone: Offline.
                before = len(session.log_bytes())
                session.start_with_client(client)
                self.assertTrue(session.wait_for_log("State: Offline", timeout=60, since=before),
                                session.log_bytes()[before:])
                session.close()
                third = session.log_bytes()[before:].decode("latin-1")
                self.assertIn("Manifest fetch failed: HTTP 0: Request failed", third)
                # Beside it, the failing call and its system error code (refused: cannot connect).
                self.assertIn("WinHttpSendRequest failed: 12029 (http://127.0.0.1:%d/launcher/manifest.php)" % PORT,
                              third)
        finally:
            shutil.rmtree(client, ignore_errors=True)


if __name__ == "__main__":
    unittest.main(verbosity=2)
