#!/usr/bin/env python3
"""A demo update server for the Ostrelhold Launcher, on 127.0.0.1.

It lays out a small realm site in a folder and serves it over plain HTTP with
Range support, the way a realm's web server would:

  /launcher/manifest.php     the manifest (JSON)
  /launcher/api/status.php   realm status (JSON: online, population)
  /launcher/api/news.php     news (JSON array of date/title/body)
  /files/...                 the game files the manifest lists

It also listens on the realm login port (3724 by default) and closes every
connection at once, so the launcher's status probe sees a live realm.

A real realm serves the same three documents from its own host (PHP, static
files, anything); see README.md, "Hosting the update server".
"""
import argparse
import hashlib
import io
import json
import os
import socket
import sys
import threading
import zipfile
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer


class QuietServer(ThreadingHTTPServer):
    """A client that drops its connection (a keep-alive closed by WinHTTP, a
    cancelled download) is ordinary here, not an error worth a traceback."""

    daemon_threads = True

    def handle_error(self, request, client_address):
        if isinstance(sys.exc_info()[1], (ConnectionError, TimeoutError)):
            return
        super().handle_error(request, client_address)
from urllib.parse import unquote, urlsplit

DEMO_FILES = {
    "Data/enUS/patch-enUS-4.MPQ": b"OSTRELHOLD DEMO PATCH\n" * 40000,
    "Data/patch-4.MPQ": bytes(range(256)) * 4096,
    "realmlist.wtf": b"set realmlist 127.0.0.1\r\n",
}
# Two optional addons, each a ZIP that unpacks into Interface/AddOns/<name>.
DEMO_ADDONS = {
    "OstrelUI": {
        "OstrelUI/OstrelUI.toc": b"## Interface: 30300\r\n## Title: Ostrel UI\r\nOstrelUI.lua\r\n",
        "OstrelUI/OstrelUI.lua": b"-- Ostrelhold demo addon\r\nprint('Welcome to Ostrelhold')\r\n",
    },
    "OstrelMap": {
        "OstrelMap/OstrelMap.toc": b"## Interface: 30300\r\n## Title: Ostrel Map\r\nOstrelMap.lua\r\n",
        "OstrelMap/OstrelMap.lua": b"-- Ostrelhold demo addon: realm map pins\r\n",
    },
}
# The whole client, as DOWNLOAD CLIENT fetches it: one folder holding Wow.exe
# (a stand-in program built with the project) and a few files.
CLIENT_DIR = "Ostrelhold_3.3.5a"
DEMO_CLIENT_FILES = {
    "Data/common.MPQ": b"OSTRELHOLD DEMO CLIENT DATA\n" * 2000,
    "readme.txt": b"Ostrelhold demo client: Wow.exe is a stand-in that shows a small window.\r\n",
}


def zip_bytes(files):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as archive:
        for rel, data in files.items():
            archive.writestr(rel, data)
    return buffer.getvalue()


def md5_of(data):
    return hashlib.md5(data).hexdigest()


def build_site(root, host, port, client_exe=None):
    base = "http://%s:%d" % (host, port)
    files_dir = os.path.join(root, "files")
    game_files = []
    for rel, data in DEMO_FILES.items():
        path = os.path.join(files_dir, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        game_files.append({"path": rel, "size": len(data), "md5": md5_of(data),
                           "cdn_url": "%s/files/%s" % (base, rel), "required": True})

    # Archives that unpack into the addons folder: the optional addons.
    os.makedirs(os.path.join(files_dir, "Interface", "AddOns"), exist_ok=True)
    for name, content in DEMO_ADDONS.items():
        data = zip_bytes(content)
        rel = "Interface/AddOns/%s.zip" % name
        with open(os.path.join(files_dir, rel), "wb") as f:
            f.write(data)
        game_files.append({"path": rel, "size": len(data), "md5": md5_of(data),
                           "cdn_url": "%s/files/%s" % (base, rel), "extract_to": "Interface/AddOns"})

    client = {CLIENT_DIR + "/" + rel: data for rel, data in DEMO_CLIENT_FILES.items()}
    client[CLIENT_DIR + "/Wow.exe"] = b"demo client\r\n"
    if client_exe:
        with open(client_exe, "rb") as f:
            client[CLIENT_DIR + "/Wow.exe"] = f.read()
    client_zip = zip_bytes(client)
    with open(os.path.join(files_dir, "wow_client.zip"), "wb") as f:
        f.write(client_zip)

    manifest = {
        "launcher_version": "1.0.0",
        "launcher_url": "%s/files/OstrelLauncher.exe" % base,
        "launcher_md5": "",
        "config": {"realmList": host, "realmName": "Ostrelhold"},
        "wow_client": {"url": "%s/files/wow_client.zip" % base, "size": len(client_zip), "md5": md5_of(client_zip),
                       "dir_name": CLIENT_DIR},
        "game_files": game_files,
    }
    documents = {
        "launcher/manifest.php": manifest,
        "launcher/api/status.php": {"online": True, "population": 128},
        # Six entries, so the news panel scrolls; one in UTF-8 with letters beyond ASCII.
        "launcher/api/news.php": [
            {"date": "2026-12-01", "title": "Welcome to Ostrelhold",
             "body": "The realm is open. This news comes from the demo update server."},
            {"date": "2026-11-28", "title": "Winter market in Skjaldvík",
             "body": "Händler aus Nordheim, Ærø and Łódź bring their wares: crème brûlée, smoked fish "
                     "and enchanted lanterns, until the thaw."},
            {"date": "2026-11-20", "title": "Patch 4 deployed",
             "body": "The launcher keeps your client files in step automatically."},
            {"date": "2026-11-12", "title": "Realm maintenance",
             "body": "The realm restarts every Tuesday at 06:00 server time for about fifteen minutes."},
            {"date": "2026-11-03", "title": "Guild halls",
             "body": "Guilds of ten or more members can now claim a hall in the old quarter of the city."},
            {"date": "2026-10-25", "title": "Addons in the launcher",
             "body": "Optional addons are listed under ADDONS; tick the ones you want and the launcher "
                     "installs and updates them with the game files."},
        ],
    }
    for rel, doc in documents.items():
        path = os.path.join(root, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", encoding="utf-8") as f:
            json.dump(doc, f, indent=2, ensure_ascii=False)  # UTF-8 as it stands, no \u escapes


class SiteHandler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    root = "."

    def log_message(self, fmt, *args):
        sys.stderr.write("demo-server: %s\n" % (fmt % args))

    def do_GET(self):
        rel = unquote(urlsplit(self.path).path).lstrip("/")
        path = os.path.realpath(os.path.join(self.root, rel))
        if not path.startswith(os.path.realpath(self.root) + os.sep) or not os.path.isfile(path):
            self.send_error(404)
            return
        size = os.path.getsize(path)
        start, status = 0, 200
        wanted = self.headers.get("Range", "")
        if wanted.startswith("bytes="):
            start = int(wanted[6:].split("-")[0] or 0)
            if start >= size:
                self.send_response(416)
                self.send_header("Content-Range", "bytes */%d" % size)
                self.send_header("Content-Length", "0")
                self.end_headers()
                return
            status = 206
        self.send_response(status)
        self.send_header("Content-Type", "application/json" if rel.endswith(".php") else "application/octet-stream")
        self.send_header("Content-Length", str(size - start))
        if status == 206:
            self.send_header("Content-Range", "bytes %d-%d/%d" % (start, size - 1, size))
        self.end_headers()
        with open(path, "rb") as f:
            f.seek(start)
            while True:
                chunk = f.read(1 << 16)
                if not chunk:
                    break
                self.wfile.write(chunk)


def serve_login_port(host, port):
    try:
        listener = socket.create_server((host, port), reuse_port=False)
    except OSError as e:
        sys.stderr.write("demo-server: login port %d not available (%s)\n" % (port, e))
        return

    def loop():
        while True:
            conn, _ = listener.accept()
            conn.close()

    threading.Thread(target=loop, daemon=True).start()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--root", required=True, help="folder to lay the demo site into")
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=8405)
    parser.add_argument("--login-port", type=int, default=3724)
    parser.add_argument("--client-exe", help="the program to offer as the client package's Wow.exe")
    args = parser.parse_args()
    build_site(args.root, args.host, args.port, args.client_exe)
    SiteHandler.root = os.path.abspath(args.root)
    server = QuietServer((args.host, args.port), SiteHandler)
    serve_login_port(args.host, args.login_port)
    print("demo-server: serving %s on http://%s:%d" % (args.root, args.host, args.port), flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    sys.exit(main())
