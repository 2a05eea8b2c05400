#!/usr/bin/env python3
"""A changed big file brought up to date by the launcher's update run, patched
from the old copy through its block map, beside zsync over the same two
versions and beside the same update without the map (not part of the test
suite).

  unshare -n bash -c 'ip link set lo up; bench/patch_update.py'    # --mib 1024 --runs 3

Under --work (deleted at the end) it writes an old version of --mib MiB of random
bytes and the new versions of bench/delta_methods.py (changed: 20 runs of 256 KiB
overwritten, 10 inserted, 10 deleted; appended: 256 KiB added; unrelated). Each
new version is published by ostrel-manifest.exe (under Wine) into a site that
nginx serves on 127.0.0.1:8405, which writes its block map; the same manifest
without the "block_map" key is the update without patching. Each run, taken in
turn for the three sides:
  launcher  the old version copied into a client folder, verified by an update
            run over the old version's manifest (which leaves the record of
            verified files, as on a player's machine), then the timed update run
            over the new manifest (bench/verify_bench_win.cpp --update: the real
            Updater with the system backend; Wine's start-up not counted);
  whole     the same over the manifest without the map;
  zsync     zsync -i old over the same nginx, its control file made beforehand
            by zsyncmake (its time from outside, its process start included).
Each side starts with nothing left to write back (sync), and each side's
result is removed once compared: on the virtual machine this was measured on,
a gigabyte an earlier side left in the page cache slowed the next side's
writing by up to 2 s (memory the machine gave back to its host is slow to
take again), and which side that was depended on the order. Bytes are what nginx
sent for the file (map or control file included); every
result is compared with the new version. Memory: the update run's peak private
bytes above those at its start. Medians of --runs runs.
"""
import argparse
import importlib.machinery
import json
import os
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.dont_write_bytecode = True
bench_run = importlib.machinery.SourceFileLoader("bench_run", os.path.join(HERE, "run")).load_module()
delta_methods = importlib.machinery.SourceFileLoader("delta_methods", os.path.join(HERE, "delta_methods.py")).load_module()
import wine_env  # noqa: E402  (on the path bench/run set)

MIB = 1 << 20
REL = "Data/patch-4.MPQ"


class Site:
    """nginx on delta_methods' port serving `work`/site; the files are below /files/client."""

    def __init__(self, work):
        self.work = work
        self.realm = os.path.join(work, "site", "files", "client")
        os.makedirs(os.path.join(self.realm, "Data"))
        self.nginx = delta_methods.Nginx(os.path.join(work, "site"))

    def sent(self, since):
        return self.nginx.sent_since(since)[0]


def publish(env, build, site, version, name):
    """The manifest of `version` published by ostrel-manifest.exe as <name>.json; with its map and without."""
    target = os.path.join(site.realm, REL)
    for leftover in (target, target + ".ostrel-map"):
        if os.path.exists(leftover):
            os.remove(leftover)
    os.link(version, target)
    manifest = os.path.join(site.work, name + ".json")
    subprocess.run(["wine", os.path.join(build, "ostrel-manifest.exe"), "--files-url",
                    "http://127.0.0.1:%d/files/client" % delta_methods.PORT, "--out", wine_env.windows_path(manifest),
                    wine_env.windows_path(site.realm)], env=env, check=True, stdout=subprocess.DEVNULL)
    with open(manifest) as f:
        document = json.load(f)
    for entry in document["game_files"]:
        entry.pop("block_map", None)
    with open(os.path.join(site.work, name + "-whole.json"), "w") as f:
        json.dump(document, f)
    return manifest


def update(env, build, work, old, old_manifest, manifest):
    """One timed update of a client folder that holds `old`, verified once before; its results."""
    client = os.path.join(work, "client")
    shutil.rmtree(client, ignore_errors=True)
    os.makedirs(os.path.join(client, "Data"))
    shutil.copyfile(old, os.path.join(client, REL))
    time.sleep(1.2)  # the record trusts only a file that had settled when it was listed
    record = wine_env.windows_path(os.path.join(work, "verified.dat"))
    if os.path.exists(os.path.join(work, "verified.dat")):
        os.remove(os.path.join(work, "verified.dat"))
    bench = os.path.join(build, "verify_bench.exe")
    args = [wine_env.windows_path(client), "--record", record]
    subprocess.run(["wine", bench, wine_env.windows_path(old_manifest)] + args, env=env, check=True,
                   stdout=subprocess.DEVNULL)
    log = os.path.join(work, "update.log")
    if os.path.exists(log):
        os.remove(log)
    os.sync()  # no side pays for the writing back of an earlier one's gigabyte
    out = subprocess.run(["wine", bench, wine_env.windows_path(manifest)] + args +
                         ["--update", "--log", wine_env.windows_path(log)], env=env, check=True, capture_output=True,
                         text=True).stdout
    results = dict(item.split("=", 1) for item in out.split() if "=" in item)
    if results.get("result") != "Done":
        raise RuntimeError("the update run failed: " + out)
    with open(log, encoding="latin-1") as f:
        results["log"] = f.read()
    results["exact"] = delta_methods.same_files(os.path.join(client, REL), manifest_version(manifest))
    shutil.rmtree(client)
    return results


def manifest_version(manifest):
    return manifest.replace("-whole.json", ".json").replace(".json", ".bin")


def zsync_run(work, site, new, control_url):
    out = os.path.join(work, "zsync-out.bin")
    for leftover in (out, out + ".part", out + ".zs-old"):
        if os.path.exists(leftover):
            os.remove(leftover)
    since = site.nginx.log_size()
    os.sync()
    start = time.monotonic()
    subprocess.run(["zsync", "-q", "-i", os.path.join(work, "old.bin"), "-o", out, control_url], check=True,
                   cwd=work, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    seconds = time.monotonic() - start
    same = delta_methods.same_files(out, new)
    os.remove(out)
    return seconds, site.sent(since), same


def bench_case(env, build, work, site, old_manifest, name, runs, only):
    new = os.path.join(work, name + ".bin")
    size = os.path.getsize(new)
    manifest = publish(env, build, site, new, name)
    # Beside the site's files, not among them (the realm tool would list it).
    control = os.path.join(work, "site", name + ".zsync")
    base = "http://127.0.0.1:%d" % delta_methods.PORT
    subprocess.run(["zsyncmake", "-o", control, "-u", base + "/files/client/" + REL, new], check=True, cwd=work,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    control_url = "%s/%s.zsync" % (base, name)
    sides = {"launcher": [], "whole": [], "zsync": []}
    for run in range(runs):
        for side, path in (("launcher", manifest), ("whole", manifest.replace(".json", "-whole.json"))):
            if side not in only:
                sides[side].append((0.0, 1, 0))
                continue
            since = site.nginx.log_size()
            result = update(env, build, work, os.path.join(work, "old.bin"), old_manifest, path)
            if not result["exact"]:
                raise RuntimeError("%s %s: the updated file differs" % (name, side))
            growth = int(result["peak_private_bytes"]) - int(result["private_bytes_before"])
            sides[side].append((float(result["verify_seconds"]), site.sent(since), growth))
            if side == "launcher" and run == 0:
                print("  " + "\n  ".join(line for line in result["log"].splitlines()
                                          if "Patched" in line or "block map" in line or "old copy" in line or "Quick check" in line))
        if "zsync" not in only:
            sides["zsync"].append((1.0, 1, 0))
            continue
        seconds, sent, exact = zsync_run(work, site, new, control_url)
        if not exact:
            raise RuntimeError(name + ": zsync's file differs")
        sides["zsync"].append((seconds, sent, 0))
        print("%s run %d: %s; load %s" % (name, run + 1, ", ".join(
            "%s %.2f s %s bytes" % (side, values[-1][0], format(values[-1][1], ",")) for side, values in sides.items()),
            bench_run.load()), flush=True)
    med = {side: [statistics.median(v[i] for v in values) for i in range(3)] for side, values in sides.items()}
    map_bytes = os.path.getsize(os.path.join(site.realm, REL + ".ostrel-map"))
    print("%s (%s bytes, map %s bytes = %.3f %%): medians" % (name, format(size, ","), format(map_bytes, ","),
                                                               100.0 * map_bytes / size))
    for side, (seconds, sent, growth) in med.items():
        print("  %-8s %6.2f s  %15s bytes  %s" % (side, seconds, format(int(sent), ","),
                                                  "" if side == "zsync" else "memory +%.1f MiB" % (growth / MIB)))
    print("  launcher / zsync: bytes %.3f, time %.2f; launcher / whole: time %.2f, memory %+.1f MiB" % (
        med["launcher"][1] / med["zsync"][1], med["launcher"][0] / med["zsync"][0],
        med["launcher"][0] / med["whole"][0], (med["launcher"][2] - med["whole"][2]) / MIB), flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(os.path.dirname(HERE), "build", "windows"))
    parser.add_argument("--work", default="/tmp/ostrel-patch-bench")
    parser.add_argument("--mib", type=int, default=1024)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--cases", default="changed,appended,unrelated")
    parser.add_argument("--sides", default="launcher,whole,zsync", help="the sides to run (the others count as 0)")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    subprocess.run(["cmake", "--build", build, "--target", "verify_bench", "ostrel-manifest"], check=True,
                   stdout=subprocess.DEVNULL)
    wine_env.ensure_prefix(build)
    env = wine_env.headless_environment(build)
    info = bench_run.machine()
    print("machine: nproc=%(nproc)s cpu=%(cpu)s wine=%(wine)s kernel=%(kernel)s" % info)
    print("load average at the start: %s" % bench_run.load(), flush=True)
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    site = None
    try:
        delta_methods.make_versions(args.work, args.mib * MIB)
        site = Site(args.work)
        old_manifest = publish(env, build, site, os.path.join(args.work, "old.bin"), "old")
        for name in args.cases.split(","):
            bench_case(env, build, args.work, site, old_manifest, name, args.runs, args.sides.split(","))
        print("load average at the end: %s" % bench_run.load())
    finally:
        if site:
            site.nginx.stop()
        shutil.rmtree(args.work, ignore_errors=True)


if __name__ == "__main__":
    main()
