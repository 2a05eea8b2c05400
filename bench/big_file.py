#!/usr/bin/env python3
"""One big file over several connections (not part of the test suite).

A file of --size-mib MiB of random bytes is served on 127.0.0.1, each reply held
to 16 MiB/s (as a CDN or a long path holds one connection), by two servers:
nginx with `limit_rate 16m`, which lets each reply's first second go unthrottled
(its limit counts from the request's start, plus one second), so a piece of up to
16 MiB comes at the link's full speed; and tests/support/test_server.py with
rate=16777216 ("paced"), which holds every reply to the rate from its first byte.
They are fetched in turn by:
  compare  aria2c -x6 -s6, curl, and the launcher's fetch (bench/http_bench_win.cpp
           `fetch`: FileFetch as an update run uses it, over the system backend, the
           part file and its record, checked against the file's MD5 at the end);
  sizes    the launcher's fetch with pieces of 1 to 32 MiB, also from the paced server
           with --delay seconds before every reply (a round trip across the internet);
  kill     the launcher's fetch ended outright (wineserver -k) once half the file is on
           disk, then started again: the share the second start fetches (also from the
           paced server at 4 MiB/s per connection).
Every figure is the median of --runs runs taken in turn; the launcher's times are
taken inside the program (Wine's start-up not counted), the others' from outside.
Run it inside a private network namespace (nginx and the test server take ports):

  unshare -n sh -c 'ip link set lo up && bench/big_file.py --parts compare,sizes,kill'
"""
import argparse
import importlib.machinery
import os
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.dont_write_bytecode = True
# bench/run is a script without the .py ending; its helpers are reused.
bench_run = importlib.machinery.SourceFileLoader("bench_run", os.path.join(HERE, "run")).load_module()
import wine_env  # noqa: E402  (on the path bench/run set)

MIB = 1 << 20
PORT = 8446

NGINX = """daemon off; master_process off; worker_processes 1; pid {dir}/nginx.pid; error_log {dir}/error.log warn;
events {{ worker_connections 64; }}
http {{
    access_log off; client_body_temp_path {dir}/tmp; proxy_temp_path {dir}/tmp; fastcgi_temp_path {dir}/tmp;
    uwsgi_temp_path {dir}/tmp; scgi_temp_path {dir}/tmp;
    server {{ listen 127.0.0.1:{port}; root {served}; sendfile on; max_ranges 1; limit_rate {rate}; }}
}}
"""


class Nginx:
    def __init__(self, work, served, rate):
        self.folder = os.path.join(work, "nginx")
        os.makedirs(os.path.join(self.folder, "tmp"), exist_ok=True)
        with open(os.path.join(self.folder, "nginx.conf"), "w") as f:
            f.write(NGINX.format(dir=self.folder, port=PORT, served=served, rate=rate))

    def __enter__(self):
        self.proc = subprocess.Popen(["nginx", "-p", self.folder, "-c", os.path.join(self.folder, "nginx.conf")])
        deadline = time.time() + 10
        while socket.socket().connect_ex(("127.0.0.1", PORT)) != 0:
            if self.proc.poll() is not None or time.time() > deadline:
                raise RuntimeError("nginx did not start")
            time.sleep(0.1)
        return "http://127.0.0.1:%d/big.bin" % PORT

    def __exit__(self, *exc):
        self.proc.terminate()
        self.proc.wait(10)


class Side:
    """Paths of the launcher's fetch into `work`."""

    def __init__(self, work):
        self.dest = os.path.join(work, "out.bin")
        self.windows = wine_env.windows_path(self.dest)

    def clear(self):
        for path in (self.dest, self.dest + ".ostrel-part", self.dest + ".ostrel-part.pieces"):
            if os.path.exists(path):
                os.remove(path)


def fetch_args(url, side, size, md5, piece_mib=0, connections=0):
    return ["fetch", url, side.windows, str(size), md5, str(piece_mib * 1024), str(connections)]


def launcher_fetch(env, exe, url, side, size, md5, piece_mib=0):
    side.clear()
    result = bench_run.run_bench(env, exe, fetch_args(url, side, size, md5, piece_mib), sample_rss=True)
    if os.path.getsize(side.dest) != size:
        raise RuntimeError("the fetch left %d bytes" % os.path.getsize(side.dest))
    return result


def compare(env, exe, sources, work, size, md5, runs):
    side = Side(work)
    for source, url in sources.items():
        times = {"aria2c": [], "curl": [], "launcher": []}
        growth, rss = [], []
        for run in range(runs):
            side.clear()
            seconds, _ = bench_run.timed(["aria2c", "-x6", "-s6", "-q", "--allow-overwrite=true",
                                          "--auto-file-renaming=false", "-d", work, "-o", "out.bin", url])
            times["aria2c"].append(seconds)
            side.clear()
            times["curl"].append(bench_run.timed(["curl", "-sS", "-o", side.dest, url])[0])
            result = launcher_fetch(env, exe, url, side, size, md5)
            times["launcher"].append(float(result["seconds"]))
            growth.append(int(result["peak_growth"]) / MIB)
            rss.append(int(result["wine_peak_rss_kib"]) / 1024)
            print("compare %s run %d: aria2c %.2f s, curl %.2f s, launcher %.2f s (CPU %s s, memory growth %.1f MiB); "
                  "load %s" % (source, run + 1, times["aria2c"][-1], times["curl"][-1], times["launcher"][-1],
                               result["cpu_seconds"], growth[-1], bench_run.load()), flush=True)
        med = {k: statistics.median(v) for k, v in times.items()}
        print("compare %s: %d MiB; median aria2c %.2f s, curl %.2f s, launcher %.2f s (fetch and MD5 check); "
              "launcher / aria2c = %.2f (target <= 1.1); peak working-set growth %.1f MiB, Wine process peak RSS "
              "%.0f MiB" % (source, size // MIB, med["aria2c"], med["curl"], med["launcher"],
                            med["launcher"] / med["aria2c"], max(growth), max(rss)), flush=True)


def sizes(env, exe, sources, work, size, md5, runs, pieces):
    side = Side(work)
    for piece in pieces:
        for source, url in sources.items():
            seconds = [float(launcher_fetch(env, exe, url, side, size, md5, piece)["seconds"]) for _ in range(runs)]
            print("sizes: %2d MiB pieces, %-14s median %.2f s (%s); load %s" % (
                piece, source, statistics.median(seconds), " ".join("%.2f" % s for s in seconds), bench_run.load()),
                flush=True)


def url_path(work):
    return os.path.join(work, "served", "big.bin")


def allocated(path):
    try:
        return os.stat(path).st_blocks * 512
    except OSError:
        return 0


def kill(build, env, exe, sources, work, size, md5, runs):
    for source, url in sources.items():
        kill_one(build, env, exe, source, url, work, size, md5, runs)


def kill_one(build, env, exe, source, url, work, size, md5, runs):
    side = Side(work)
    shares = []
    for run in range(runs):
        side.clear()
        proc = subprocess.Popen(["wine", exe] + fetch_args(url, side, size, md5), env=env, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
        while allocated(side.dest + ".ostrel-part") < size // 2 and proc.poll() is None:
            time.sleep(0.01)
        at_kill = allocated(side.dest + ".ostrel-part")
        wine_env.kill_wineserver(build)
        proc.wait(30)
        result = bench_run.run_bench(env, exe, fetch_args(url, side, size, md5))
        shares.append(int(result["fetched"]) / size)
        print("kill %s run %d: %.0f MiB on disk at the kill, the record held %.0f MiB, the second start fetched %.0f MiB "
              "(%.1f %% of the file); load %s" % (source, run + 1, at_kill / MIB, int(result["held"]) / MIB,
                                                 int(result["fetched"]) / MIB, 100 * shares[-1], bench_run.load()),
              flush=True)
    print("kill %s: the second start fetched a median %.1f %% of the file (target <= 60 %%)" % (
        source, 100 * statistics.median(shares)), flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(os.path.dirname(HERE), "build", "windows"))
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--size-mib", type=int, default=256)
    parser.add_argument("--delay", type=float, default=0.02, help="seconds before every reply in `sizes`")
    parser.add_argument("--parts", default="compare,kill", help="comma-separated: compare, sizes, kill")
    parser.add_argument("--pieces", default="1,2,4,8,16,32", help="piece sizes in MiB for `sizes`")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    subprocess.run(["cmake", "--build", build, "--target", "http_bench"], check=True, stdout=subprocess.DEVNULL)
    exe = os.path.join(build, "http_bench.exe")
    wine_env.ensure_prefix(build)
    env = wine_env.headless_environment(build)
    info = bench_run.machine()
    print("machine: nproc=%(nproc)s cpu=%(cpu)s wine=%(wine)s kernel=%(kernel)s" % info)
    print("load average at the start: %s" % bench_run.load(), flush=True)
    work = tempfile.mkdtemp(prefix="ostrel-bench-big-", dir="/tmp")
    try:
        os.makedirs(os.path.join(work, "served"))
        size = args.size_mib * MIB
        bench_run.make_random_file(url_path(work), size)
        md5 = bench_run.timed(["md5sum", url_path(work)])[1].split()[0]
        with Nginx(work, os.path.join(work, "served"), "16m") as url, \
                wine_env.TestServer(root=os.path.join(work, "served")) as server:
            paced = server.url("/big.bin?rate=%d" % (16 * MIB))
            sources = {"nginx": url, "paced": paced}
            parts = args.parts.split(",")
            if "compare" in parts:
                compare(env, exe, sources, work, size, md5, args.runs)
            if "sizes" in parts:
                sources["paced, delayed"] = paced + "&delay=%g" % args.delay
                sizes(env, exe, sources, work, size, md5, args.runs, [int(p) for p in args.pieces.split(",")])
            if "kill" in parts:
                sources = {"nginx": url, "paced": paced, "paced at 4 MiB/s": server.url("/big.bin?rate=%d" % (4 * MIB))}
                kill(build, env, exe, sources, work, size, md5, args.runs)
        print("load average at the end: %s" % bench_run.load())
    finally:
        shutil.rmtree(work, ignore_errors=True)
        wine_env.kill_wineserver(build)
    return 0


if __name__ == "__main__":
    sys.exit(main())
