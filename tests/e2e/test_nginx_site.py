#!/usr/bin/env python3
"""The launcher against nginx with the repository's configuration (tools/nginx), serving a site
whose manifest ostrel-manifest wrote. Keyless build: a partial file resumed with a 206, a changed
file replaced; a newer launcher build refused when its digest differs, undone and not tried again
when it exits at once; a real newer build swapped in; a swap cut short set right. A changed big
file patched through the block map the generator wrote (a fraction fetched, exact), and one
whose map was forged after publishing (one WARN, fetched whole, exact). The build with
the realm's key (test-key/): a signature by another key, none, or a manifest changed after signing
leaves the client as it was, offline with the reason. The https build (test-https/) against nginx
over TLS with certificates from a CA made here and trusted in the Wine prefix only: an update
with a resumed file (and one plain-http file, allowed with a warning); a certificate from a CA the
prefix does not trust, one for another name, or a redirect of the manifest to plain http leaves
the client as it was, offline with the reason."""
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from launcher_session import (BUILD, PORT, ROOT, LauncherSession, configured_version, read, wait_until,  # noqa: E402
                              windows_path, write)
from tls_certs import make_certificate, make_trusted_ca  # noqa: E402

BASE = "http://127.0.0.1:%d" % PORT
NEW_BUILD = os.path.join(BUILD, "exits_at_once.exe")  # version block 1.0.1; exits at once with code 1
NEWER_BUILD = os.path.join(BUILD, "test-newer", "OstrelLauncher.exe")  # the launcher at 1.0.2
OLD = "OstrelLauncher.previous.exe"
OFFER = ("--launcher", NEW_BUILD, "--launcher-version", "1.0.1", "--launcher-url",
         BASE + "/files/OstrelLauncher-1.0.1.exe")
REALM_KEY = os.path.join(BUILD, "test-key", "realm-test-key.pem")
NGINX_CONF = """
daemon off; master_process off; worker_processes 1;
pid {dir}/nginx.pid; error_log {dir}/error.log warn;
events {{ worker_connections 64; }}
http {{
    include /etc/nginx/mime.types; default_type application/octet-stream;
    log_format ostrel '$request_method $request_uri $status "$http_range" $body_bytes_sent';
    access_log {dir}/access.log ostrel;
    client_body_temp_path {dir}/tmp/body; proxy_temp_path {dir}/tmp/proxy; fastcgi_temp_path {dir}/tmp/fastcgi;
    uwsgi_temp_path {dir}/tmp/uwsgi; scgi_temp_path {dir}/tmp/scgi;
    {servers}
}}
"""
PLAIN_SERVER = "server {{ listen 127.0.0.1:{port}; {site} }}"
SITE = "root {dir}/site; include {root}/tools/nginx/ostrel-update-locations.conf;"
# localhost may be tried over IPv6 first.
TLS_SERVER = """server {{ listen 127.0.0.1:{port} ssl; listen [::1]:{port} ssl;
    ssl_certificate {cert}.pem; ssl_certificate_key {cert}.key;
    include {root}/tools/nginx/ostrel-update-tls.conf; {site} }}"""
HTTPS_BASE, MIRROR = "https://localhost:%d" % PORT, "http://localhost:%d" % (PORT + 1)
MIRROR_SERVER = "server {{ listen 127.0.0.1:%d; listen [::1]:%d; {site} }}" % (PORT + 1, PORT + 1)

def programs(session):
    return [name for name in os.listdir(session.folder) if name.endswith(".exe")]


def snapshot(folder):
    files = {}
    for base, _, names in os.walk(folder):
        for name in names:
            with open(os.path.join(base, name), "rb") as f:
                files[os.path.relpath(os.path.join(base, name), folder)] = f.read()
    return files


class NginxSiteTest(unittest.TestCase):
    def setUp(self):
        """nginx serving <dir>/site; <site>/files/client is the realm's client-shaped folder."""
        self.dir = tempfile.mkdtemp(prefix="nginx-site-", dir=BUILD)
        self.addCleanup(shutil.rmtree, self.dir, True)
        self.site, self.client = os.path.join(self.dir, "site"), os.path.join(self.dir, "client")
        self.realm = os.path.join(self.site, "files", "client")
        os.makedirs(os.path.join(self.dir, "tmp"))
        write(os.path.join(self.site, "launcher", "api", "status.php"), b'{"online": true, "population": 12}')
        write(os.path.join(self.site, "launcher", "api", "news.php"), b"[]")
        write(os.path.join(self.client, "Wow.exe"), b"stand-in client")
        self.nginx = None

    def serve(self, *servers, **fields):
        """(Re)starts nginx with the given server blocks (formatted with dir, port, root, site, fields)."""
        if self.nginx:
            self.nginx.terminate()
            self.nginx.wait(10)
        fields.update(dir=self.dir, port=PORT, root=ROOT)
        fields["site"] = SITE.format(**fields)
        with open(os.path.join(self.dir, "nginx.conf"), "w") as f:
            f.write(NGINX_CONF.format(servers="\n".join(s.format(**fields) for s in servers), **fields))
        nginx = self.nginx = subprocess.Popen(["nginx", "-p", self.dir, "-c", os.path.join(self.dir, "nginx.conf")])
        self.addCleanup(nginx.wait, 10)
        self.addCleanup(nginx.terminate)
        listening = lambda: nginx.poll() is None and socket.socket().connect_ex(("127.0.0.1", PORT)) == 0  # noqa: E731
        self.assertTrue(wait_until(lambda: nginx.poll() is not None or listening(), 10) and listening(), "no nginx")

    def publish(self, session, *options, base=BASE):
        """Runs ostrel-manifest.exe over the realm folder into launcher/manifest.php."""
        argv = [os.path.join(BUILD, "ostrel-manifest.exe"), "--files-url", base + "/files/client", "--out",
                windows_path(os.path.join(self.site, "launcher", "manifest.php"))]
        argv += [windows_path(o) if o.startswith("/") else o for o in options] + [windows_path(self.realm)]
        proc = session.start(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        err = proc.communicate(timeout=60)[1]
        self.assertEqual(proc.returncode, 0, err.decode(errors="replace"))

    def test_unsigned_site_updates_and_hands_over(self):
        files = {"Data/patch-4.MPQ": os.urandom(300000), "Data/enUS/realmlist.wtf": b"set realmlist 127.0.0.1\r\n",
                 "Data/Ostrel Patch #2.MPQ": os.urandom(5000)}
        self.serve(PLAIN_SERVER)
        session = self.enterContext(LauncherSession()).install()
        for rel, data in files.items():
            write(os.path.join(self.realm, rel), data)
        self.publish(session, *OFFER)
        # A keyless build ignores a signature document, even one that is no signature.
        write(os.path.join(self.site, "launcher", "manifest.php.sig"), b"not a signature")
        # The server holds another build than the one the manifest names.
        write(os.path.join(self.site, "files", "OstrelLauncher-1.0.1.exe"), b"MZ not the build the manifest names")
        write(os.path.join(self.client, "Data", "patch-4.MPQ"), files["Data/patch-4.MPQ"][:100000])
        write(os.path.join(self.client, "Data", "enUS", "realmlist.wtf"), b"set realmlist elsewhere\r\n")  # changed

        log = session.run_to(self.client, "Updater complete")
        self.assertIn("Self-update download rejected: MD5", log)
        self.assertEqual(log.count("Manifest signatures are not checked"), 1)
        self.assertFalse(os.path.exists(os.path.join(session.folder, "OstrelLauncher_update.exe")))
        self.assertEqual({rel: snapshot(self.client)[rel] for rel in files}, files)
        with open(os.path.join(self.dir, "access.log")) as f:
            self.assertRegex(f.read(), r'GET /files/client/Data/patch-4\.MPQ\?v=\w+ 206 "bytes=100000-" 200000')

        # A build that exits at once is undone; the next start neither downloads nor offers it.
        exe, previous = os.path.join(session.folder, "OstrelLauncher.exe"), os.path.join(session.folder, OLD)
        old = read(exe)
        shutil.copy(NEW_BUILD, os.path.join(self.site, "files", "OstrelLauncher-1.0.1.exe"))
        self.publish(session, *OFFER)
        log = session.run_to(self.client, "Updater complete")
        self.assertIn("[ERROR] Launcher update: the new build exited with code 1 before it reported", log)
        self.assertIn("[ERROR] Launcher update to 1.0.1 failed to start; staying on " + configured_version(), log)
        self.assertNotIn("Self-update triggered", log)
        self.assertEqual((programs(session), read(exe)), (["OstrelLauncher.exe"], old))
        log = session.run_to(self.client, "Updater complete")
        self.assertIn("Self-update to 1.0.1 not tried: it failed to start here before", log)
        self.assertNotIn("Self-update available", log)
        self.assertEqual(read(os.path.join(self.dir, "access.log")).count("GET /files/OstrelLauncher-1.0.1.exe"), 2)

        # A real build of a higher version takes over (the old one exits once it reported).
        shutil.copy(NEWER_BUILD, os.path.join(self.site, "files", "OstrelLauncher-1.0.2.exe"))
        self.publish(session, "--launcher", NEWER_BUILD, "--launcher-url", BASE + "/files/OstrelLauncher-1.0.2.exe")
        session.launch(self.client)
        self.assertEqual(session.proc.wait(timeout=60), 0)
        session.expect("Self-update triggered", "Launcher version 1.0.2",
                             "Started by the launcher update from " + configured_version(),
                             "Reported to the build this one replaced that it is up", "State: Ready")
        self.assertEqual((read(exe), read(previous)), (read(NEWER_BUILD), old))
        session.window = session.xdotool("search", "--name", "^Ostrelhold$").split()[0]
        session.press("close")
        session.expect("MainWindow::Run returned 0", count=2)
        self.assertIn("ran_well 1.0.2", read(os.path.join(session.folder, "launcher_cache", "launcher_update.txt")))

        # A swap cut short after its first step (the previous build's name only, the download
        # beside it): the program started finds that out and sets it right.
        os.replace(exe, previous)
        write(os.path.join(session.folder, "OstrelLauncher_update.exe"), b"MZ a download cut short")
        session.program = OLD
        log = session.run_to(self.client, "State: Ready")
        self.assertIn("Launcher files: this build moved from %s to OstrelLauncher.exe" % OLD, log)
        self.assertEqual((programs(session), read(exe)), (["OstrelLauncher.exe"], read(NEWER_BUILD)))

    def test_a_changed_big_file_is_patched_and_a_forged_block_map_fetched_whole(self):
        rel = "Data/patch-5.MPQ"  # big enough for a block map
        target, access = os.path.join(self.client, rel), os.path.join(self.dir, "access.log")
        old = os.urandom(17 << 20)
        new = old[:5000000] + os.urandom(70000) + old[5000000:12000000] + old[12100000:] + b"grown"
        self.serve(PLAIN_SERVER)
        session = self.enterContext(LauncherSession()).install()
        write(os.path.join(self.realm, rel), new)
        self.publish(session)
        write(target, old)
        log = session.run_to(self.client, "Updater complete")
        fetched = re.search(r"Patched %s: (\d+) of %d bytes fetched" % (rel, len(new)), log)
        self.assertTrue(fetched, log)
        self.assertEqual(read(target).encode("latin-1"), new)
        # What nginx sent for the file, its map included, is what the line says; ranges only.
        sent = re.findall(r"GET /files/client/%s\S* (\d+) \"(\S*)\" (\d+)" % rel, read(access))
        self.assertEqual(sum(int(n) for _, _, n in sent), int(fetched.group(1)))
        self.assertLess(int(fetched.group(1)), len(new) // 50)
        self.assertEqual([s for s, r, _ in sent if r != "-"], ["206"] * (len(sent) - 1))

        # The next version, its map changed after publishing: one WARN, the file whole.
        newer = new[:1000] + os.urandom(3000) + new[4000:]
        write(os.path.join(self.realm, rel), newer)
        self.publish(session)
        with open(os.path.join(self.realm, rel + ".ostrel-map"), "r+b") as f:
            f.seek(100)
            f.write(b"forged")
        log = session.run_to(self.client, "Updater complete")
        self.assertEqual(log.count("[WARN]"), 1, log)
        self.assertIn("[WARN] Block map of %s not used (it does not match its digests): fetching the file whole" % rel,
                      log)
        self.assertEqual(read(target).encode("latin-1"), newer)

    def test_only_the_realms_signature_opens_the_manifest(self):
        self.serve(PLAIN_SERVER)
        session = self.enterContext(LauncherSession()).install(os.path.join(BUILD, "test-key", "OstrelLauncher.exe"))
        manifest, other_key = os.path.join(self.site, "launcher", "manifest.php"), os.path.join(self.dir, "other.pem")
        subprocess.run(["openssl", "ecparam", "-name", "prime256v1", "-genkey", "-noout", "-out", other_key], check=True)
        patch = os.urandom(40000)
        write(os.path.join(self.realm, "Data", "patch-4.MPQ"), patch)
        shutil.copy(NEW_BUILD, os.path.join(self.site, "files", "OstrelLauncher-1.0.1.exe"))
        write(os.path.join(self.client, "Data", "patch-4.MPQ"), b"an old patch")

        def changed_after_signing():
            self.publish(session, "--key", REALM_KEY, *OFFER)
            with open(manifest) as f:
                text = f.read().replace('"1.0.1"', '"1.0.2"')
            write(manifest, text.encode())

        before = snapshot(self.client)
        for name, prepare, reason in [
                ("another key", lambda: self.publish(session, "--key", other_key, *OFFER), "signature invalid"),
                ("no signature", lambda: self.publish(session, *OFFER), "signature missing: HTTP 404"),
                ("changed after signing", changed_after_signing, "signature invalid")]:
            with self.subTest(name):
                prepare()
                log = session.run_to(self.client, "State: Offline")
                self.assertRegex(log, r"\[ERROR\] Manifest rejected: manifest " + reason)
                self.assertNotIn("Self-update", log)
                self.assertEqual(snapshot(self.client), before)
        self.assertFalse(os.path.exists(os.path.join(session.folder, "OstrelLauncher_update.exe")))

        # Signed by the realm: the update runs as it always did, and signed news shows.
        news = os.path.join(self.site, "launcher", "api", "news.php")
        write(news, b'[{"date": "2026-12-07", "title": "Signed", "body": "by the realm"}]')
        self.publish(session, "--key", REALM_KEY, "--sign-news", news)  # signs the news only
        self.publish(session, "--key", REALM_KEY)
        session.launch(self.client)
        session.expect("Updater complete", "News loaded: 1 items")
        session.close()
        self.assertNotIn("signatures are not checked", session.new_log())
        self.assertEqual(snapshot(self.client)["Data/patch-4.MPQ"], patch)
        # News changed after signing, or past its bound, is not used.
        for body, reason in [(b'[{"title": "Forged"}]', "news signature invalid"),
                             (b"[" + b" " * (1 << 20) + b"]", "reply larger than 1 MiB")]:
            write(news, body)
            session.launch(self.client)
            session.expect("News not used: " + reason)
            session.close()

    def test_https_site_updates_and_untrusted_certificates_leave_the_client_alone(self):
        session = self.enterContext(LauncherSession()).install(os.path.join(BUILD, "test-https", "OstrelLauncher.exe"))
        stranger, cert = os.path.join(self.dir, "stranger-ca"), os.path.join(self.dir, "cert")
        ca = make_trusted_ca(BUILD, session.env)
        make_certificate(stranger, "Stranger CA")
        patch = os.urandom(300000)
        write(os.path.join(self.realm, "Data", "patch-4.MPQ"), patch)
        write(os.path.join(self.realm, "Data", "enUS", "realmlist.wtf"), b"set realmlist localhost\r\n")
        self.publish(session, base=HTTPS_BASE)
        manifest, enus = os.path.join(self.site, "launcher", "manifest.php"), "/files/client/Data/enUS"
        write(manifest, read(manifest).replace(HTTPS_BASE + enus, MIRROR + enus).encode())  # one from a plain mirror
        write(os.path.join(self.client, "Data", "patch-4.MPQ"), patch[:100000])
        make_certificate(cert, "localhost", ca)
        self.serve(TLS_SERVER, MIRROR_SERVER, cert=cert)
        log = session.run_to(self.client, "Updater complete")
        self.assertEqual(log.count("[WARN] Manifest names plain-HTTP downloads: " + MIRROR), 1)
        self.assertEqual(read(os.path.join(self.client, "Data", "patch-4.MPQ")).encode("latin-1"), patch)
        self.assertRegex(read(os.path.join(self.dir, "access.log")), r'patch-4\.MPQ\?v=\w+ 206 "bytes=100000-" 200000')

        # Wine reports every refused certificate as a failed secure channel (12157), Windows as a
        # certificate failure (12175). A redirect down to plain http is no way round either.
        before, refused = snapshot(self.client), r"\[ERROR\] TLS failure: WinHttp\w+ failed: 12157 \(https://localhost:"
        write(os.path.join(self.realm, "Data", "patch-4.MPQ"), b"a newer patch")  # nothing of it may arrive
        self.publish(session, base=HTTPS_BASE)
        downgrade = TLS_SERVER.replace("{site}", "location = /launcher/manifest.php {{ return 302 %s$uri; }} {site}"
                                       % MIRROR)
        no_tls = "Secure connection to the update server failed."
        for case, dns, issuer, server, line, reason in [
                ("untrusted CA", "localhost", stranger, TLS_SERVER, refused, no_tls),
                ("other name", "elsewhere.test", ca, TLS_SERVER, refused, no_tls),
                ("to http", "localhost", ca, downgrade, r"\[WARN\] WinHttpReceiveResponse failed: 12156",
                 "Update server unreachable.")]:
            with self.subTest(case):
                make_certificate(cert, dns, issuer)
                self.serve(server, MIRROR_SERVER, cert=cert)
                log = session.run_to(self.client, "State: Offline")
                self.assertRegex(log, line)
                self.assertIn("State: Offline (%s Playing in offline mode.)" % reason, log)
                self.assertEqual(snapshot(self.client), before)


if __name__ == "__main__":
    unittest.main(verbosity=2)
