#!/usr/bin/env python3
"""Unpacking a ZIP64 client archive (client-like data: MPQ-sized files, about a third
of their bytes compressible, plus small files) with the launcher's own reader under
Wine (bench/unzip_bench_win.cpp) against Info-ZIP's unzip over the same archive, in
turn, in one run (not part of the test suite).

  bench/unzip_client.py --build build/windows          # --gib 5 --rounds 3 by default

Both sides write into an emptied folder under --work each time and are timed from
outside (Wine's start-up, about half a second, is counted for the launcher; the
program's own figure is printed beside it). Everything under --work is deleted at
the end. Needs about 3.2 x --gib of free space there.
"""
import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tests", "support"))
sys.dont_write_bytecode = True
import wine_env  # noqa: E402

MIB = 1 << 20
SHARES = [0.30, 0.20, 0.15, 0.10, 0.10, 0.08, 0.05, 0.02]  # of the total: common.MPQ, patch.MPQ, ...


def make_client(root, gib):
    """The files, then the archive (Info-ZIP, forced ZIP64); the files are deleted again."""
    rng = random.Random(7)
    text = b"".join(b"%08d ostrelhold client data, compressible part\n" % i for i in range(20000))[:MIB]
    client = os.path.join(root, "src", "Ostrelhold_3.3.5a")
    os.makedirs(os.path.join(client, "Data", "enUS"))
    for n, share in enumerate(SHARES):
        with open(os.path.join(client, "Data", "file%d.MPQ" % n), "wb") as f:
            for block in range(int(gib * 1024 * share)):
                f.write(text if block % 3 == 0 else rng.randbytes(MIB))
    for n in range(300):  # interface files, configuration, small patches
        folder = os.path.join(client, "Interface", "Pack%02d" % (n % 10))
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "file%03d.lua" % n), "wb") as f:
            f.write(text[:rng.randrange(200, 60000)])
    archive = os.path.join(root, "client.zip")
    subprocess.run(["zip", "-q", "-r", "-fz", archive, "Ostrelhold_3.3.5a"], cwd=os.path.dirname(client), check=True)
    shutil.rmtree(os.path.join(root, "src"))
    return archive


def timed(argv, out, env=None):
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    start = time.monotonic()
    done = subprocess.run(argv, env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, check=True)
    return time.monotonic() - start, done.stdout.decode().strip()


def listing(out):
    return sorted((os.path.relpath(os.path.join(d, f), out), os.path.getsize(os.path.join(d, f)))
                  for d, _, files in os.walk(out) for f in files)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--gib", type=float, default=5)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--work", default="/tmp/ostrel-bench-unzip")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    subprocess.run(["cmake", "--build", build, "--target", "unzip_bench"], check=True, stdout=subprocess.DEVNULL)
    wine_env.ensure_prefix(build)
    env = wine_env.headless_environment(build)
    exe = os.path.join(build, "unzip_bench.exe")
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    try:
        archive = make_client(args.work, args.gib)
        print("archive: %.2f GiB, %s" % (os.path.getsize(archive) / 1024 ** 3,
                                         subprocess.run(["zipinfo", "-t", archive], stdout=subprocess.PIPE,
                                                        text=True).stdout.strip()), flush=True)
        out = os.path.join(args.work, "out")
        sides = {"unzip": lambda: timed(["unzip", "-q", "-o", archive, "-d", out], out),
                 "launcher": lambda: timed(["wine", exe, wine_env.windows_path(archive),
                                            wine_env.windows_path(out)], out, env)}
        times = {name: [] for name in sides}
        for r in range(args.rounds):
            for name in (list(sides) if r % 2 == 0 else list(sides)[::-1]):
                seconds, said = sides[name]()
                times[name].append(seconds)
                if r == 0:
                    files = listing(out)
                    if name == "unzip":
                        expected = files
                    elif files != expected:
                        sys.exit("the launcher's files differ from unzip's")
                print("round %d %-8s %7.2f s  %s  load %.2f" % (r + 1, name, seconds, said,
                                                              os.getloadavg()[0]), flush=True)
        a, b = statistics.median(times["launcher"]), statistics.median(times["unzip"])
        print("median: launcher %.2f s, unzip %.2f s, ratio %.2f" % (a, b, a / b))
    finally:
        shutil.rmtree(args.work, ignore_errors=True)
        wine_env.kill_wineserver(build)


if __name__ == "__main__":
    main()
