"""Certificates made with openssl at run time for the https tests and the bench: a CA of their own,
trusted only inside the Wine prefix (trust_test_ca.exe writes its machine Root store, never the
host's), and server certificates it issues."""
import os
import subprocess


def make_certificate(path, name, issuer=None):
    """path.key and path.pem: a CA named `name` when issuer is None, else a server certificate for the
    DNS name `name` (Wine matches no IP address entry) signed by the CA at `issuer`."""
    new_key = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", path + ".key",
               "-subj", "/CN=" + name, "-days", "30"]
    if issuer is None:
        argv = ["openssl", "req", "-x509", *new_key, "-addext", "basicConstraints=critical,CA:TRUE"]
    else:
        argv = ["openssl", "req", "-x509", *new_key, "-CA", issuer + ".pem", "-CAkey", issuer + ".key",
                "-addext", "basicConstraints=CA:FALSE", "-addext", "subjectAltName=DNS:" + name,
                "-addext", "extendedKeyUsage=serverAuth"]
    subprocess.run(argv + ["-out", path + ".pem"], check=True, capture_output=True)


def make_trusted_ca(build_dir, wine_env):
    """The build's test CA (made once, under a name of its own), added to the build's Wine prefix
    (`wine_env`: its environment) if it is not there yet; gives its path (.key, .pem)."""
    path = os.path.join(build_dir, "test-https", "test-ca")
    if not os.path.exists(path + ".der"):
        make_certificate(path, "Ostrelhold test CA " + os.urandom(4).hex())
        subprocess.run(["openssl", "x509", "-in", path + ".pem", "-outform", "DER", "-out", path + ".der"], check=True)
    subprocess.run(["wine", os.path.join(build_dir, "trust_test_ca.exe"), "Z:" + path.replace("/", "\\") + ".der"],
                   env=wine_env, check=True, timeout=120)
    return path
