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
import random
import json
import os
import struct
import subprocess
import sys
import tempfile
import threading
import zipfile

# The update server the tests use, with every reply as a well-behaved server's.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tests", "support"))
from test_server import TestServer  # noqa: E402

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
            # A fixed time: the same files give the same archive (and digest) on every start.
            archive.writestr(zipfile.ZipInfo(rel, date_time=(2026, 1, 1, 0, 0, 0)), data, zipfile.ZIP_DEFLATED)
    return buffer.getvalue()


def zip64_bytes(files):
    """The archive as Info-ZIP's `zip -fz` makes it: ZIP64, as a whole client of many GB must be."""
    with tempfile.TemporaryDirectory() as tmp:
        for rel, data in files.items():
            os.makedirs(os.path.dirname(os.path.join(tmp, "in", rel)), exist_ok=True)
            with open(os.path.join(tmp, "in", rel), "wb") as f:
                f.write(data)
        # Fixed times: the same files give the same archive (and digest) on every start, so a
        # download cut short goes on at the next start.
        for folder, dirs, names in os.walk(os.path.join(tmp, "in")):
            for name in dirs + names:
                os.utime(os.path.join(folder, name), (1767225600, 1767225600))
        # MPQ files are stored as they are (as a real client's archives are: they are compressed already).
        subprocess.run(["zip", "-q", "-r", "-X", "-fz", "-n", ".MPQ", "../out.zip", "."], cwd=os.path.join(tmp, "in"),
                       check=True)
        with open(os.path.join(tmp, "out.zip"), "rb") as f:
            return f.read()


def big_addon(path, name="OstrelMap", tiles=12, tile_bytes=10 << 20, pins=3000):
    """Writes to `path` an addon archive as big as real ones get: the addon's two small files,
    `pins` small map pin files and `tiles` map tiles (120 MB by default), stored as they are.
    Unpacking it takes a few seconds: time enough to end the launcher halfway through. Gives the files."""
    files = dict(DEMO_ADDONS[name])
    for i in range(pins):
        files["%s/Pins/pin%04d.lua" % (name, i)] = b"-- map pin %d\r\nreturn { x = %d, y = %d }\r\n" % (i, i % 97, i % 89)
    block = random.Random(7).randbytes(1 << 20)  # the same bytes on every start, made quickly
    for i in range(tiles):
        turned = block[i:] + block[:i]
        files["%s/Tiles/p%02d.bin" % (name, i + 1)] = (turned * (tile_bytes // len(block) + 1))[:tile_bytes]
    with zipfile.ZipFile(path, "w", zipfile.ZIP_STORED) as archive:
        for rel, data in files.items():
            archive.writestr(zipfile.ZipInfo(rel, date_time=(2026, 1, 1, 0, 0, 0)), data)
    return files


def md5_of(data):
    return hashlib.md5(data).hexdigest()


def program_version(data):
    """major.minor.patch from a Windows program's version block (its VS_FIXEDFILEINFO)."""
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    if at < 0:
        sys.exit("demo-server: the launcher build offered has no version block")
    most, least = struct.unpack_from("<II", data, at + 8)
    return "%d.%d.%d" % (most >> 16, most & 0xFFFF, least >> 16)


def build_site(root, host, port, client_exe=None, stall_client=False, big_map=False, launcher_build=None,
               connection_rate=0):
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
        rel = "Interface/AddOns/%s.zip" % name
        if big_map and name == "OstrelMap":
            big_addon(os.path.join(files_dir, rel), name)
            with open(os.path.join(files_dir, rel), "rb") as f:
                data = f.read()
        else:
            data = zip_bytes(content)
            with open(os.path.join(files_dir, rel), "wb") as f:
                f.write(data)
        game_files.append({"path": rel, "size": len(data), "md5": md5_of(data),
                           "cdn_url": "%s/files/%s" % (base, rel), "extract_to": "Interface/AddOns"})

    client = {CLIENT_DIR + "/" + rel: data for rel, data in DEMO_CLIENT_FILES.items()}
    client[CLIENT_DIR + "/Wow.exe"] = b"demo client\r\n"
    if connection_rate:
        # Big enough to come in pieces over several connections, and slow enough to watch.
        client[CLIENT_DIR + "/Data/terrain.MPQ"] = random.Random(5).randbytes(96 << 20)
    if client_exe:
        with open(client_exe, "rb") as f:
            client[CLIENT_DIR + "/Wow.exe"] = f.read()
    client_zip = zip64_bytes(client)
    with open(os.path.join(files_dir, "wow_client.zip"), "wb") as f:
        f.write(client_zip)
    # Each reply of a download at most `connection_rate` MiB/s; the first request of the client
    # archive stops sending halfway (the launcher's retry carries on).
    options = {}
    if connection_rate:
        for folder, _, names in os.walk(files_dir):
            for name in names:
                rel = os.path.relpath(os.path.join(folder, name), root).replace(os.sep, "/")
                options["/" + rel] = {"rate": str(int(connection_rate * (1 << 20)))}
    if stall_client:
        options.setdefault("/files/wow_client.zip", {}).update(once="1", stall=str(len(client_zip) // 2))
    with open(os.path.join(root, "_options.json"), "w") as f:
        json.dump(options, f)

    # A launcher build on offer, under the version its version block gives.
    launcher = {"launcher_version": "1.0.0", "launcher_url": "%s/files/OstrelLauncher.exe" % base, "launcher_md5": ""}
    if launcher_build:
        with open(launcher_build, "rb") as f:
            data = f.read()
        version = program_version(data)
        with open(os.path.join(files_dir, "OstrelLauncher-%s.exe" % version), "wb") as f:
            f.write(data)
        launcher = {"launcher_version": version, "launcher_url": "%s/files/OstrelLauncher-%s.exe" % (base, version),
                    "launcher_md5": md5_of(data)}
    manifest = {
        **launcher,
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


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--root", required=True, help="folder to lay the demo site into")
    parser.add_argument("--port", type=int, default=8405)
    parser.add_argument("--login-port", type=int, default=3724)
    parser.add_argument("--client-exe", help="the program to offer as the client package's Wow.exe")
    parser.add_argument("--stall-client-once", action="store_true",
                        help="stop sending the client archive halfway through its first request")
    parser.add_argument("--connection-rate", type=float, default=0, metavar="MIB",
                        help="send each download reply at most MIB MiB/s, as a server that limits each connection "
                             "does, and add 96 MiB to the client archive: DOWNLOAD CLIENT then fetches it in pieces "
                             "over several connections, slowly enough to close the launcher halfway")
    parser.add_argument("--big-map-addon", action="store_true",
                        help="the OstrelMap addon carries 120 MB of map tiles (time to end the launcher as it unpacks)")
    offer = parser.add_mutually_exclusive_group()
    offer.add_argument("--newer-launcher", metavar="EXE",
                       help="offer EXE, a newer launcher build, to the self-update (its version block gives its version)")
    offer.add_argument("--broken-launcher", metavar="EXE",
                       help="offer EXE, a program that exits at once, as a newer launcher build (the same way)")
    args = parser.parse_args()
    build_site(args.root, "127.0.0.1", args.port, args.client_exe, args.stall_client_once, args.big_map_addon,
               args.newer_launcher or args.broken_launcher, args.connection_rate)
    with TestServer(args.root, args.port, args.login_port):
        print("demo-server: serving %s on http://127.0.0.1:%d" % (args.root, args.port), flush=True)
        try:
            threading.Event().wait()
        except KeyboardInterrupt:
            pass


if __name__ == "__main__":
    sys.exit(main())
