#!/usr/bin/env python3
"""A fresh client of many small files fetched by the real launcher (not part of
the test suite): the per-file cost of a download. Run it inside a private
network namespace, since the update server takes the build's fixed port:

  unshare -n sh -c 'ip link set lo up && bench/fetch_files.py --baseline OTHER/OstrelLauncher.exe'

With --https the same site is served over TLS by nginx (bench/run's
tls_server: the site's TLS settings, a certificate from the build's test CA,
trusted in the Wine prefix only) as https://localhost:8405, and the build's
test-https/OstrelLauncher.exe is started (a --baseline must be an https build
too); the server then waits for nothing, so --wait is refused.

Each start gets an empty client folder (Wow.exe only) and a manifest of
--files files of --size bytes; the server waits --wait seconds before every
reply (the test server's delay option, as across the internet). The figure is
the time from "Manifest loaded OK" to "Updater complete" in launcher.log, the
median of --rounds starts taken in turn with the baseline; the peak resident
size of the launcher's process is sampled from /proc.
"""
import argparse
import contextlib
import hashlib
import importlib.machinery
import json
import os
import shutil
import statistics
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.dont_write_bytecode = True
import ready_time  # noqa: E402

# bench/run is a script without the .py ending; its process sampler and TLS server are reused.
bench_run = importlib.machinery.SourceFileLoader("bench_run", os.path.join(HERE, "run")).load_module()
PeakRss = bench_run.PeakRss
import wine_env  # noqa: E402  (on the path bench/run set)


@contextlib.contextmanager
def plain_server(site):
    server = ready_time.serve(site)
    try:
        yield
    finally:
        server.terminate()
        server.wait()


def make_site(work, files, size, wait, base):
    site = os.path.join(work, "site")
    shutil.rmtree(site, ignore_errors=True)
    os.makedirs(os.path.join(site, "launcher"))
    os.makedirs(os.path.join(site, "files"))
    entries = []
    for i in range(files):
        data = (b"%06d " % i) * (size // 7 + 1)
        data = data[:size]
        with open(os.path.join(site, "files", "f%04d.bin" % i), "wb") as f:
            f.write(data)
        url = "%s/files/f%04d.bin" % (base, i)
        entries.append({"path": "Data/f%04d.bin" % i, "size": size, "md5": hashlib.md5(data).hexdigest(),
                        "cdn_url": url + ("?delay=%g" % wait if wait else "")})
    with open(os.path.join(site, "launcher", "manifest.php"), "w") as f:
        json.dump({"game_files": entries}, f)
    return site


def one_fetch(build, exe, work):
    client = os.path.join(work, "client")
    shutil.rmtree(client, ignore_errors=True)
    os.makedirs(client)
    with open(os.path.join(client, "Wow.exe"), "wb") as f:
        f.write(b"stand-in client")
    with PeakRss("OstrelLauncher.exe") as peak:
        for _ in range(3):
            result = ready_time.one_start(build, exe, client)
            if result:
                return result[1], peak.peak_kib / 1024.0
    raise RuntimeError("%s went Offline three times" % exe)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(os.path.dirname(HERE), "build", "windows"))
    parser.add_argument("--baseline", help="another OstrelLauncher.exe, timed in the same rounds")
    parser.add_argument("--files", type=int, default=300)
    parser.add_argument("--size", type=int, default=4096)
    parser.add_argument("--wait", type=float, default=0.0, help="seconds the server waits before each reply")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--https", action="store_true", help="over TLS from nginx, with the test-https build")
    parser.add_argument("--work", default="/tmp/ostrel-bench-fetch")
    args = parser.parse_args()
    if args.https and args.wait:
        parser.error("--wait needs the plain test server")
    args.build = os.path.abspath(args.build)
    os.makedirs(args.work, exist_ok=True)
    base = ("https://localhost:%d" if args.https else "http://127.0.0.1:%d") % ready_time.PORT
    site = make_site(args.work, args.files, args.size, args.wait, base)
    sides = [("launcher", os.path.join(args.build, "test-https" if args.https else "", "OstrelLauncher.exe"))]
    if args.baseline:
        sides.append(("baseline", os.path.abspath(args.baseline)))
    results = {name: [] for name, _ in sides}
    try:
        with (bench_run.tls_server(args.build, wine_env.wine_environment(args.build), site, args.work,
                                   ready_time.PORT) if args.https else plain_server(site)):
            for round_ in range(args.rounds):
                for name, exe in sides:
                    results[name].append(one_fetch(args.build, exe, args.work))
                    print("round %d %s: %.2f s, peak %.0f MiB; load %s" % (
                        (round_ + 1, name) + results[name][-1] + (bench_run.load(),)), flush=True)
    finally:
        shutil.rmtree(args.work, ignore_errors=True)
    for name, _ in sides:
        print("fetch %s over %s: %d files of %d bytes, wait %g s: manifest loaded to updater complete median %.2f s, "
              "peak resident median %.0f MiB" % (name, base.split(":")[0], args.files, args.size, args.wait,
                                                 statistics.median(r[0] for r in results[name]),
                                                 statistics.median(r[1] for r in results[name])))


if __name__ == "__main__":
    main()
