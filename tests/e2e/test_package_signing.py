#!/usr/bin/env python3
"""The players' package signed with a code-signing certificate (made here by openssl): osslsigncode
verifies its OstrelLauncher.exe against that certificate and SHA256SUMS gives the signed bytes; a
wrong password writes no package."""
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
        key, cert, pfx, out, exe = (os.path.join(work, n)
                                    for n in ("k.pem", "c.pem", "s.pfx", "out", "OstrelLauncher.exe"))
        for command in (["req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert, "-days", "2",
                         "-subj", "/CN=Ostrelhold Test Signing", "-addext", "extendedKeyUsage=codeSigning"],
                        ["pkcs12", "-export", "-inkey", key, "-in", cert, "-out", pfx, "-passout", "pass:right"]):
            subprocess.run(["openssl", *command], check=True, capture_output=True)
        for password, code in (("wrong", 1), ("right", 0)):
            made = subprocess.run([os.path.join(ROOT, "scripts", "package"), "--build", BUILD, "--out", out],
                                  env=dict(os.environ, OSTREL_SIGN_PFX=pfx, OSTREL_SIGN_PASSWORD=password),
                                  capture_output=True, text=True)
            self.assertEqual(made.returncode, code, made.stderr)
            if code:
                self.assertRegex(made.stderr, r"Wrong password\?\); no package written")
                self.assertEqual(os.listdir(out), [])
        with zipfile.ZipFile(os.path.join(out, "OstrelLauncher-%s-win64.zip" % configured_version())) as z:
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
