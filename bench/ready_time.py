#!/usr/bin/env python3
"""Start-to-Ready time of the launcher for an up-to-date client (not part of
the test suite). Used by bench/verify_folder.py --ready; run it inside a
private network namespace, since the update server takes the build's fixed
port:  unshare -n bash -c 'ip link set lo up; bench/verify_folder.py --kind small --ready'

Each round starts OstrelLauncher.exe in a fresh launcher folder (settings
pointing at the client), with the manifest served on 127.0.0.1:8405, and
polls launcher.log every 5 ms: the time from starting the program to
"State: Ready", and from "Manifest loaded OK" to "Updater complete" (the
verification itself). Wine's start-up is inside the first figure. With
second_start, another side starts the launcher again and again in one launcher
folder (after one start before the first round), so that every measured start
finds the record of verified files its previous start left.
"""
import json
import os
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import wine_env  # noqa: E402
from launcher_session import LauncherSession  # noqa: E402

PORT = 8405  # the build's OSTREL_UPDATE_PORT


def serve(site):
    with socket.socket() as probe:
        try:
            probe.bind(("127.0.0.1", PORT))
        except OSError:
            raise SystemExit("port %d is taken: run inside 'unshare -n' (see the docstring)" % PORT)
    proc = subprocess.Popen([sys.executable, os.path.join(ROOT, "tests", "support", "test_server.py"),
                             "--root", site, "--port", str(PORT)], stdout=subprocess.PIPE, text=True)
    if not proc.stdout.readline().startswith("PORT"):
        raise RuntimeError("test server did not start")
    return proc


def one_start(build, exe, client, folder=None):
    """Seconds from start to Ready, and from manifest loaded to updater complete; in a new launcher
    folder, or in `folder` as an earlier start left it."""
    if folder:
        os.environ["OSTREL_KEEP_TEST_FOLDERS"] = "1"  # the session leaves the folder for the next start
    else:
        os.environ.pop("OSTREL_KEEP_TEST_FOLDERS", None)
        folder = tempfile.mkdtemp(prefix="ostrel-ready-")
    with LauncherSession(build, folder=folder) as session:
        shutil.copy2(exe, os.path.join(folder, "OstrelLauncher.exe"))
        shutil.copytree(os.path.join(build, "assets"), os.path.join(folder, "assets"), dirs_exist_ok=True)
        with open(os.path.join(folder, "launcher_settings.json"), "w") as f:
            f.write(json.dumps({"wow_dir": wine_env.windows_path(client), "close_on_launch": True, "muted": True},
                               separators=(",", ":")))
        log = os.path.join(folder, "launcher.log")
        earlier = os.path.getsize(log) if os.path.exists(log) else 0  # what earlier starts wrote
        marks = {b"Manifest loaded OK": None, b"Updater complete": None, b"State: Ready": None}
        start = time.perf_counter()
        session.proc = session.start([os.path.join(folder, "OstrelLauncher.exe")], cwd=folder)
        deadline = start + 600
        text = b""
        while marks[b"State: Ready"] is None and time.perf_counter() < deadline:
            if os.path.exists(log):
                with open(log, "rb") as f:  # only what is new: the log grows by a line per file
                    f.seek(earlier + len(text))
                    text += f.read()
                now = time.perf_counter()
                for mark in marks:
                    if marks[mark] is None and mark in text:
                        marks[mark] = now - start
                if b"State: Offline" in text:
                    return None  # the first fetch failed before it reached the server (issue 8): start again
                if b"State: Error" in text:
                    raise RuntimeError("launcher did not get Ready: %s" % text[-500:])
            time.sleep(0.005)
        if marks[b"State: Ready"] is None:
            with open(log, "rb") as f:
                raise RuntimeError("%s: no Ready within 600 s; the log ends: %r" % (exe, f.read()[-1500:]))
        return marks[b"State: Ready"], marks[b"Updater complete"] - marks[b"Manifest loaded OK"]


def measure(build, work, client, manifests, rounds, quiet, baseline=None, second_start=False):
    """`manifests`: {label: manifest path}; with more than one, every side starts once per manifest."""
    site = os.path.join(work, "site")
    os.makedirs(os.path.join(site, "launcher"), exist_ok=True)
    wow = os.path.join(client, "Wow.exe")
    with open(wow, "wb") as f:
        f.write(b"stand-in client")
    programs = [("launcher", os.path.join(build, "OstrelLauncher.exe"), None)]
    if baseline:
        programs.insert(0, ("baseline", os.path.abspath(baseline), None))
    if second_start:
        programs.append(("launcher second start", programs[-1][1], os.path.join(work, "kept-launcher")))
        os.makedirs(programs[-1][2])
    sides = [(name if len(manifests) == 1 else "%s (%s)" % (name, label), exe, folder, manifest)
             for name, exe, folder in programs for label, manifest in manifests.items()]
    results = {name: [] for name, _, _, _ in sides}
    server = serve(site)
    try:
        if second_start:
            for name, exe, folder, manifest in sides:
                if folder:
                    shutil.copy2(manifest, os.path.join(site, "launcher", "manifest.php"))
                    one_start(build, exe, client, folder)
        for round_ in range(rounds):
            start_load = quiet.wait()
            for name, exe, folder, manifest in sides:
                shutil.copy2(manifest, os.path.join(site, "launcher", "manifest.php"))  # read at every request
                for _ in range(3):
                    result = one_start(build, exe, client, folder)
                    if result:
                        break
                    print("  %s went Offline with the server up; started again" % name, flush=True)
                results[name].append(result)
            print("ready round %d (load %.2f at its start): %s" % (round_ + 1, start_load, ", ".join(
                "%s start-to-Ready %.2f s, verification %.2f s" % ((name,) + results[name][-1])
                for name, _, _, _ in sides)), flush=True)
    finally:
        server.terminate()
        server.wait()
        os.remove(wow)
    for name, _, _, _ in sides:
        print("ready %s: start-to-Ready median %.2f s, manifest loaded to updater complete median %.2f s" % (
            name, statistics.median(r[0] for r in results[name]), statistics.median(r[1] for r in results[name])))
