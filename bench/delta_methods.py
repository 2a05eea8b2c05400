#!/usr/bin/env python3
"""Patching a changed big file: the block matching (fixed blocks with a rolling
weak sum, what the launcher uses) beside content-defined chunks and zsync over
the same two versions, and the realm tool's time over the file against md5sum
(not part of the test suite).

  unshare -n bash -c 'ip link set lo up; bench/delta_methods.py'    # --mib 1024 --runs 3

Builds nothing: it runs delta_bench and ostrel-manifest of an optimised native
build (cmake --preset tools && cmake --build --preset tools --target delta_bench
ostrel-manifest). Under --work (deleted at the end) it writes an old version of
--mib MiB of random bytes and three new versions of it:
  changed    20 runs of 256 KiB overwritten, 10 inserted, 10 deleted, at spread
             places (so most of the file is shifted);
  appended   256 KiB added at the end;
  unrelated  other random bytes of the same size.
For each: the block map (map bytes, time), the plan against the old version
(bytes to fetch, ranges, time, the process's peak resident size) and the file
written from it (checked equal to the new version); the same with
content-defined chunks of 8 and 16 KiB on average (delta_bench cdc); and zsync
(zsyncmake, then zsync -i old over HTTP from nginx on 127.0.0.1:8405, which is
why it runs in a network namespace of its own): the bytes nginx sent for it,
its control file included, and its time. For the changed version also the
fixed block sizes 4 to 32 KiB. Times are medians of --runs runs.
"""
import argparse
import json
import os
import random
import re
import shutil
import socket
import statistics
import subprocess
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MIB, KIB = 1 << 20, 1 << 10
RUN = 256 * KIB
PORT = 8405
NGINX = """daemon off; master_process off; worker_processes 1; pid {dir}/nginx.pid; error_log {dir}/error.log warn;
events {{}}
http {{ log_format sent '$status $body_bytes_sent $request'; access_log {dir}/access.log sent;
       server {{ listen 127.0.0.1:{port}; root {served}; }} }}
"""


def write_random(path, size, seed):
    rng = random.Random(seed)
    with open(path, "wb") as f:
        for left in range(size, 0, -MIB):
            f.write(rng.randbytes(min(MIB, left)))


def make_versions(work, size):
    """old.bin and the three new versions beside it."""
    rng = random.Random(29)
    old = os.path.join(work, "old.bin")
    write_random(old, size, 1)
    kinds = ["overwrite"] * 20 + ["insert"] * 10 + ["delete"] * 10
    rng.shuffle(kinds)
    places = sorted(rng.sample(range(1, size // MIB - 1), len(kinds)))
    with open(old, "rb") as src, open(os.path.join(work, "changed.bin"), "wb") as out:
        at = 0
        for mib, kind in zip(places, kinds):
            edit = mib * MIB + rng.randrange(0, MIB // 2)
            out.write(src.read(edit - at))
            at = edit
            if kind != "delete":
                out.write(rng.randbytes(RUN))
            if kind != "insert":
                src.seek(RUN, 1)
                at += RUN
        shutil.copyfileobj(src, out, MIB)
    with open(old, "rb") as src, open(os.path.join(work, "appended.bin"), "wb") as out:
        shutil.copyfileobj(src, out, MIB)
        out.write(rng.randbytes(RUN))
    write_random(os.path.join(work, "unrelated.bin"), size, 2)


def run_json(argv):
    return json.loads(subprocess.run(argv, check=True, stdout=subprocess.PIPE).stdout.decode().strip().splitlines()[-1])


def same_files(a, b):
    return subprocess.run(["cmp", "-s", a, b]).returncode == 0


def median_of(runs, key):
    return statistics.median(r[key] for r in runs)


def fixed_blocks(bench, work, name, block, runs):
    new, out = os.path.join(work, name + ".bin"), os.path.join(work, "out.bin")
    block_map = os.path.join(work, name + ".map")
    made = [run_json([bench, "map", new, block_map] + ([str(block)] if block else [])) for _ in range(runs)]
    patched = [run_json([bench, "patch", block_map, os.path.join(work, "old.bin"), new, out]) for _ in range(runs)]
    assert same_files(out, new), name + ": the patched file differs"
    first = patched[0]
    return {"method": "fixed %d KiB" % (first["block"] // KIB), "map_bytes": first["map_bytes"],
            "fetch_bytes": first["fetch_bytes"], "ranges": first["fetch_ranges"],
            "map_s": median_of(made, "map_seconds"), "plan_s": median_of(patched, "plan_seconds"),
            "apply_s": median_of(patched, "apply_seconds"), "peak_mib": max(r["plan_peak_kib"] for r in patched) / 1024}


def chunks(bench, work, name, average, runs):
    results = [run_json([bench, "cdc", os.path.join(work, "old.bin"), os.path.join(work, name + ".bin"), str(average)])
               for _ in range(runs)]
    first = results[0]
    return {"method": "chunks %d KiB" % (average // KIB), "map_bytes": first["map_bytes"],
            "fetch_bytes": first["fetch_bytes"], "ranges": first["fetch_ranges"],
            "map_s": median_of(results, "map_seconds"), "plan_s": median_of(results, "plan_seconds"),
            "apply_s": None, "peak_mib": max(r["peak_kib"] for r in results) / 1024}


class Nginx:
    def __init__(self, work):
        self.dir = os.path.join(work, "nginx")
        os.makedirs(self.dir, exist_ok=True)
        with open(os.path.join(self.dir, "nginx.conf"), "w") as f:
            f.write(NGINX.format(dir=self.dir, port=PORT, served=work))
        self.process = subprocess.Popen(["nginx", "-p", self.dir, "-c", os.path.join(self.dir, "nginx.conf")])
        deadline = time.time() + 10
        while socket.socket().connect_ex(("127.0.0.1", PORT)) != 0:
            if self.process.poll() is not None or time.time() > deadline:
                raise RuntimeError("nginx did not start: see %s/error.log" % self.dir)
            time.sleep(0.05)

    def sent_since(self, offset):
        """Bytes of the bodies nginx sent after `offset` of its log, and the new offset."""
        with open(os.path.join(self.dir, "access.log")) as f:
            f.seek(offset)
            lines = f.read()
            return sum(int(line.split()[1]) for line in lines.splitlines()), f.tell()

    def log_size(self):
        path = os.path.join(self.dir, "access.log")
        return os.path.getsize(path) if os.path.exists(path) else 0

    def stop(self):
        self.process.terminate()
        self.process.wait(10)


def zsync(nginx, work, name, runs):
    new = os.path.join(work, name + ".bin")
    control = os.path.join(work, name + ".zsync")
    start = time.monotonic()
    subprocess.run(["zsyncmake", "-o", control, "-u", "%s.bin" % name, new], check=True, cwd=work,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    make_s = time.monotonic() - start
    times, sent = [], None
    for _ in range(runs):
        out = os.path.join(work, "zsync-out.bin")
        for leftover in (out, out + ".part", out + ".zs-old"):
            if os.path.exists(leftover):
                os.remove(leftover)
        offset = nginx.log_size()
        start = time.monotonic()
        subprocess.run(["zsync", "-q", "-i", os.path.join(work, "old.bin"), "-o", out,
                        "http://127.0.0.1:%d/%s.zsync" % (PORT, name)], check=True, cwd=work,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        times.append(time.monotonic() - start)
        sent, _ = nginx.sent_since(offset)
        assert same_files(out, new), name + ": zsync's file differs"
    return {"method": "zsync", "map_bytes": os.path.getsize(control), "fetch_bytes": sent - os.path.getsize(control),
            "ranges": None, "map_s": make_s, "plan_s": None, "apply_s": None, "peak_mib": None,
            "total_s": statistics.median(times)}


def timed(argv, runs):
    times = []
    for _ in range(runs):
        start = time.monotonic()
        subprocess.run(argv, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        times.append(time.monotonic() - start)
    return statistics.median(times)


def generator(build, work, runs):
    """ostrel-manifest over a folder holding the changed version, against md5sum and sha256sum."""
    realm = os.path.join(work, "realm", "Data")
    os.makedirs(realm, exist_ok=True)
    os.link(os.path.join(work, "changed.bin"), os.path.join(realm, "patch-4.MPQ"))
    tool = [os.path.join(build, "ostrel-manifest"), "--files-url", "http://cdn.example/realm",
            "--out", os.path.join(work, "manifest.php"), os.path.join(work, "realm")]
    return {"ostrel-manifest": timed(tool, runs), "md5sum": timed(["md5sum", os.path.join(realm, "patch-4.MPQ")], runs),
            "sha256sum": timed(["sha256sum", os.path.join(realm, "patch-4.MPQ")], runs)}


def show(rows, size):
    print("| method | map | fetched | map + fetched | ranges | map s | plan s | apply s | peak MiB |")
    print("|---|---|---|---|---|---|---|---|---|")
    cell = lambda v, f: "" if v is None else f % v  # noqa: E731
    for r in rows:
        total = r["map_bytes"] + r["fetch_bytes"]
        print("| %s | %s (%.3f %%) | %s | %s | %s | %s | %s | %s | %s |" % (
            r["method"], format(r["map_bytes"], ","), 100.0 * r["map_bytes"] / size, format(r["fetch_bytes"], ","),
            format(total, ","), cell(r["ranges"], "%d"), cell(r["map_s"], "%.2f"),
            cell(r.get("plan_s"), "%.2f") if "total_s" not in r else "%.2f (whole run)" % r["total_s"],
            cell(r["apply_s"], "%.2f"), cell(r["peak_mib"], "%.1f")))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "tools"))
    parser.add_argument("--work", default="/tmp/ostrel-delta-bench")
    parser.add_argument("--mib", type=int, default=1024)
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    bench = os.path.join(args.build, "delta_bench")
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    nginx = None
    try:
        print("load average at the start: %s" % open("/proc/loadavg").read().strip(), flush=True)
        make_versions(args.work, args.mib * MIB)
        nginx = Nginx(args.work)
        for name in ("changed", "appended", "unrelated"):
            size = os.path.getsize(os.path.join(args.work, name + ".bin"))
            for warm in ("old", name):  # every side reads from the page cache
                subprocess.run(["cat", os.path.join(args.work, warm + ".bin")], check=True, stdout=subprocess.DEVNULL)
            blocks = [0] + ([4 * KIB, 8 * KIB, 32 * KIB] if name == "changed" else [])
            rows = [fixed_blocks(bench, args.work, name, b, args.runs) for b in blocks]
            rows += [chunks(bench, args.work, name, a, args.runs) for a in (8 * KIB, 16 * KIB)]
            rows.append(zsync(nginx, args.work, name, args.runs))
            print("\n%s (%s bytes; the first row is the tool's block size):\n" % (name, format(size, ",")))
            show(rows, size)
        times = generator(args.build, args.work, args.runs)
        print("\nthe realm tool over the changed version: %s" % ", ".join("%s %.2f s" % kv for kv in times.items()))
        print("(the map's own part is the map s of the tool's block size for the changed version)")
        print("load average at the end: %s" % open("/proc/loadavg").read().strip())
    finally:
        if nginx:
            nginx.stop()
        shutil.rmtree(args.work, ignore_errors=True)


if __name__ == "__main__":
    main()
