#!/usr/bin/env python3
"""The players' package signed as a realm signs it: with a code-signing certificate (made here by
openssl) its OstrelLauncher.exe carries an Authenticode signature that osslsigncode verifies against
that certificate, and SHA256SUMS gives the signed bytes; a wrong password writes no package."""
import hashlib
import os
import subprocess
import sys
import tempfile
import unittest
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from launcher_session import BUILD, ROOT, configured_version  # noqa: E402


class PackageSigningTest(unittest.TestCase):
    def test_signed_package_verifies_and_a_wrong_password_writes_none(self):
        work = self.enterContext(tempfile.TemporaryDirectory(prefix="ostrel-signing-"))
        key, cert, pfx, out = (os.path.join(work, n) for n in ("key.pem", "cert.pem", "sign.pfx", "out"))
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                        "-days", "2", "-subj", "/CN=Ostrelhold Test Signing", "-addext",
                        "extendedKeyUsage=codeSigning"], check=True, capture_output=True)
        subprocess.run(["openssl", "pkcs12", "-export", "-inkey", key, "-in", cert, "-out", pfx, "-passout",
                        "pass:test password"], check=True, capture_output=True)
        archive = os.path.join(out, "OstrelLauncher-%s-win64.zip" % configured_version())

        def package(password):
            env = dict(os.environ, OSTREL_SIGN_PFX=pfx, OSTREL_SIGN_PASSWORD=password)
            return subprocess.run([os.path.join(ROOT, "scripts", "package"), "--build", BUILD, "--out", out],
                                  env=env, capture_output=True, text=True)

        refused = package("wrong password")
        self.assertEqual(refused.returncode, 1, refused.stdout)
        self.assertIn("Wrong password", refused.stderr)
        self.assertIn("no package written", refused.stderr)
        self.assertEqual(os.listdir(out), [])

        made = package("test password")
        self.assertEqual(made.returncode, 0, made.stderr)
        self.assertIn("signed by /CN=Ostrelhold Test Signing", made.stdout)
        exe = os.path.join(work, "OstrelLauncher.exe")
        with zipfile.ZipFile(archive) as z:
            z.extract("OstrelLauncher.exe", work)
            sums = z.read("SHA256SUMS").decode()
        verified = subprocess.run(["osslsigncode", "verify", "-in", exe, "-CAfile", cert], capture_output=True,
                                  text=True)
        self.assertEqual(verified.returncode, 0, verified.stdout + verified.stderr)
        self.assertIn("Message digest algorithm  : SHA256", verified.stdout)
        with open(exe, "rb") as f:
            self.assertIn(hashlib.sha256(f.read()).hexdigest() + "  OstrelLauncher.exe\n", sums)


if __name__ == "__main__":
    unittest.main(verbosity=2)
