#!/usr/bin/env python3
"""Signed updates: a launcher built with the realm's key (test-key/, made when
the build was configured) uses a manifest only with the realm's signature. A
signature by another key, a signature of another manifest, none at all, or a
manifest changed after signing: the client folder stays byte for byte as it
was, no self-update runs, and the launcher ends offline with the reason."""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from launcher_session import LauncherSession  # noqa: E402
from realm_site import BASE, NginxSite  # noqa: E402

BUILD = os.path.abspath(os.environ.get("OSTREL_BUILD_DIR", "build/windows"))
KEYED_LAUNCHER = os.path.join(BUILD, "test-key", "OstrelLauncher.exe")
REALM_KEY = os.path.join(BUILD, "test-key", "realm-test-key.pem")
OFFER = ("--launcher", os.path.join(BUILD, "fake_launcher_new.exe"), "--launcher-version", "1.0.1",
         "--launcher-url", BASE + "/files/OstrelLauncher-1.0.1.exe")


def snapshot(folder):
    files = {}
    for base, _, names in os.walk(folder):
        for name in names:
            with open(os.path.join(base, name), "rb") as f:
                files[os.path.relpath(os.path.join(base, name), folder)] = f.read()
    return files


class SignedUpdatesTest(unittest.TestCase):
    def test_only_the_realms_signature_opens_the_manifest(self):
        work = tempfile.mkdtemp(prefix="ostrel-signed-")
        self.addCleanup(shutil.rmtree, work, ignore_errors=True)
        client, other_key = os.path.join(work, "client"), os.path.join(work, "other.pem")
        subprocess.run(["openssl", "ecparam", "-name", "prime256v1", "-genkey", "-noout", "-out", other_key],
                       check=True)
        with LauncherSession(BUILD) as session, NginxSite(BUILD) as site:
            session.install(KEYED_LAUNCHER)
            manifest = os.path.join(site.site, "launcher", "manifest.php")
            patch = os.urandom(40000)
            site.write("Data/patch-4.MPQ", patch, base=site.realm)
            shutil.copy(OFFER[1], os.path.join(site.site, "files", "OstrelLauncher-1.0.1.exe"))
            site.write("Wow.exe", b"stand-in client", base=client)
            site.write("Data/patch-4.MPQ", b"an old patch", base=client)

            def signature_of_another_manifest():
                site.publish(session, "--key", REALM_KEY, "--realm-name", "Elsewhere", *OFFER)
                shutil.copy(manifest + ".sig", os.path.join(work, "elsewhere.sig"))
                site.publish(session, "--key", REALM_KEY, *OFFER)
                shutil.copy(os.path.join(work, "elsewhere.sig"), manifest + ".sig")

            def changed_after_signing():
                site.publish(session, "--key", REALM_KEY, *OFFER)
                with open(manifest) as f:
                    text = f.read().replace('"1.0.1"', '"1.0.2"')
                with open(manifest, "w") as f:
                    f.write(text)

            scenarios = [
                ("another key", lambda: site.publish(session, "--key", other_key, *OFFER), "signature invalid"),
                ("another manifest's signature", signature_of_another_manifest, "signature invalid"),
                ("no signature", lambda: (site.publish(session, *OFFER)), "signature missing: HTTP 404"),
                ("changed after signing", changed_after_signing, "signature invalid"),
            ]
            before = snapshot(client)
            for name, prepare, reason in scenarios:
                with self.subTest(name):
                    prepare()
                    start = len(session.log_bytes()) if os.path.exists(os.path.join(session.folder, "launcher.log")) else 0
                    session.start_with_client(client)
                    self.assertTrue(session.wait_for_log("State: Offline", since=start), session.log_bytes()[start:])
                    session.close()
                    log = session.log_bytes()[start:].decode("latin-1")
                    self.assertRegex(log, r"\[ERROR\] Manifest rejected: manifest " + reason)
                    self.assertNotIn("Self-update", log)
                    self.assertEqual(snapshot(client), before)
            self.assertFalse(os.path.exists(os.path.join(session.folder, "OstrelLauncher_update.exe")))

            # Signed by the realm: the update runs as it always did.
            site.publish(session, "--key", REALM_KEY)
            start = len(session.log_bytes())
            session.start_with_client(client)
            self.assertTrue(session.wait_for_log("Updater complete", since=start), session.log_bytes()[start:])
            session.close()
            self.assertEqual(snapshot(client)["Data/patch-4.MPQ"], patch)
            self.assertNotIn(b"signatures are not checked", session.log_bytes())


if __name__ == "__main__":
    unittest.main(verbosity=2)
