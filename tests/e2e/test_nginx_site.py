#!/usr/bin/env python3
"""The launcher against a real web server: nginx with the repository's
configuration, serving a site that ostrel-manifest generated. A fresh client
is brought up to date (a partial file resumed with a 206), a changed file is
replaced, and a launcher build is offered: refused when its digest differs,
handed over when it matches."""
import hashlib
import os
import re
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from launcher_session import LauncherSession  # noqa: E402
from realm_site import BASE, NginxSite  # noqa: E402

BUILD = os.path.abspath(os.environ.get("OSTREL_BUILD_DIR", "build/windows"))
LAUNCHER_URL = BASE + "/files/OstrelLauncher-1.0.1.exe"


class NginxSiteTest(unittest.TestCase):
    def assertClientHolds(self, client, files):
        for rel, data in files.items():
            with open(os.path.join(client, rel), "rb") as f:
                self.assertEqual(hashlib.md5(f.read()).hexdigest(), hashlib.md5(data).hexdigest(), rel)

    def test_generated_site_served_by_nginx(self):
        client = tempfile.mkdtemp(prefix="ostrel-client-")
        self.addCleanup(shutil.rmtree, client, ignore_errors=True)
        files = {"Data/patch-4.MPQ": os.urandom(300000), "Data/enUS/realmlist.wtf": b"set realmlist 127.0.0.1\r\n",
                 "Data/Ostrel Patch #2.MPQ": os.urandom(5000)}
        build = os.path.join(BUILD, "fake_launcher_new.exe")
        offer = ("--launcher", build, "--launcher-version", "1.0.1", "--launcher-url", LAUNCHER_URL)
        with LauncherSession(BUILD) as session, NginxSite(BUILD) as site:
            session.install()
            for rel, data in files.items():
                site.write(rel, data, base=site.realm)
            site.publish(session, *offer)
            # A keyless build ignores a signature document, even one that is no signature.
            site.write("launcher/manifest.php.sig", b"not a signature")
            # The server holds another build than the one the manifest names.
            site.write("files/OstrelLauncher-1.0.1.exe", b"MZ not the build the manifest names")
            site.write("Wow.exe", b"stand-in client", base=client)
            site.write("Data/patch-4.MPQ", files["Data/patch-4.MPQ"][:100000], base=client)

            session.start_with_client(client)
            self.assertTrue(session.wait_for_log("Updater complete", timeout=60), session.log_bytes()[-2000:])
            session.close()
            log = session.log_bytes().decode("latin-1")
            self.assertIn("Self-update download rejected: MD5", log)
            self.assertEqual(log.count("Manifest signatures are not checked"), 1)
            self.assertFalse(os.path.exists(os.path.join(session.folder, "OstrelLauncher_update.exe")))
            self.assertClientHolds(client, files)
            self.assertRegex(site.access_log(), r'GET /files/client/Data/patch-4\.MPQ\?v=\w+ 206 "bytes=100000-" 200000')

            # A changed file on the server replaces the player's copy; nothing else moves.
            files["Data/enUS/realmlist.wtf"] = b"set realmlist logon.ostrelhold.example\r\n"
            site.write("Data/enUS/realmlist.wtf", files["Data/enUS/realmlist.wtf"], base=site.realm)
            site.publish(session)
            before = len(session.log_bytes())
            session.start_with_client(client)
            self.assertTrue(session.wait_for_log("Updater complete", timeout=60, since=before))
            session.close()
            second = session.log_bytes()[before:].decode("latin-1")
            self.assertEqual(re.findall(r"Downloading: (.*)\r\n", second), ["Data/enUS/realmlist.wtf"])
            self.assertClientHolds(client, files)

            # The build the manifest names: the launcher hands over to it and closes.
            shutil.copy(build, os.path.join(site.site, "files", "OstrelLauncher-1.0.1.exe"))
            site.publish(session, *offer)
            session.start_with_client(client)
            self.assertEqual(session.wait_exit(timeout=60), 0)
            self.assertIn(b"Self-update triggered", session.log_bytes())
            marker = os.path.join(session.folder, "fake_launcher_ran.txt")
            self.assertTrue(session.wait_for_file(marker, timeout=30), "the new build did not start")
            with open(os.path.join(session.folder, "OstrelLauncher.exe"), "rb") as f, open(build, "rb") as g:
                self.assertEqual(f.read(), g.read())


if __name__ == "__main__":
    unittest.main(verbosity=2)
