"""A realm's update server as an operator runs it: nginx with the repository's
configuration (tools/nginx) serving a site whose manifest ostrel-manifest
(the Windows build, under Wine) wrote. nginx listens on the test build's
update address, 127.0.0.1:8405: run these tests in a private network
namespace (scripts/test's callers do)."""
import os
import shutil
import socket
import subprocess
import tempfile
import time

from wine_env import windows_path

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
LOCATIONS = os.path.join(ROOT, "tools", "nginx", "ostrel-update-locations.conf")
PORT = 8405  # the test build's OSTREL_UPDATE_PORT
BASE = "http://127.0.0.1:%d" % PORT

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
    server {{ listen 127.0.0.1:{port}; root {site}; include {locations}; }}
}}
"""


class NginxSite:
    """nginx on 127.0.0.1:8405 with its configuration, logs and temporary
    files in a folder of the build tree. `realm` is the folder published at
    /files/client (the client-shaped folder the manifest is generated from)."""

    def __init__(self, build_dir):
        self.build_dir = build_dir
        self.dir = tempfile.mkdtemp(prefix="nginx-site-", dir=build_dir)
        self.site = os.path.join(self.dir, "site")
        self.realm = os.path.join(self.site, "files", "client")
        self.proc = None

    def __enter__(self):
        os.makedirs(os.path.join(self.dir, "tmp"))
        os.makedirs(self.realm)
        self.write("launcher/api/status.php", b'{"online": true, "population": 12}')
        self.write("launcher/api/news.php", b"[]")
        conf = os.path.join(self.dir, "nginx.conf")
        with open(conf, "w") as f:
            f.write(NGINX_CONF.format(dir=self.dir, port=PORT, site=self.site, locations=LOCATIONS))
        self.proc = subprocess.Popen(["nginx", "-p", self.dir, "-c", conf])
        deadline = time.time() + 10
        while True:
            try:
                socket.create_connection(("127.0.0.1", PORT), timeout=1).close()
                return self
            except OSError:
                if self.proc.poll() is not None or time.time() > deadline:
                    raise RuntimeError("nginx did not start; see %s/error.log" % self.dir)
                time.sleep(0.05)

    def __exit__(self, *exc):
        self.proc.terminate()
        self.proc.wait(timeout=10)
        if not os.environ.get("OSTREL_KEEP_TEST_FOLDERS"):
            shutil.rmtree(self.dir, ignore_errors=True)
        return False

    def write(self, relative, data, base=None):
        path = os.path.join(base or self.site, relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)

    def access_log(self):
        with open(os.path.join(self.dir, "access.log")) as f:
            return f.read()

    def publish(self, session, *options):
        """Runs ostrel-manifest.exe over the realm folder into
        launcher/manifest.php; options name Unix paths as they stand."""
        argv = [os.path.join(self.build_dir, "ostrel-manifest.exe"), "--files-url", BASE + "/files/client",
                "--out", windows_path(os.path.join(self.site, "launcher", "manifest.php"))]
        argv += [windows_path(o) if o.startswith("/") else o for o in options] + [windows_path(self.realm)]
        proc = session.start(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        out, err = proc.communicate(timeout=60)
        if proc.returncode != 0:
            raise RuntimeError("ostrel-manifest failed (%s): %s" % (proc.returncode, err.decode(errors="replace")))
        return out.decode()
