#!/usr/bin/env python3
"""Verifying a whole client folder, all files correct, against md5sum over the
same files (not part of the test suite).

  bench/verify_folder.py --build build/windows --kind large   # 2,000 files, 2 GiB
  bench/verify_folder.py --build build/windows --kind small   # 20,000 files of a few bytes
  bench/verify_folder.py --build build/windows --kind one --digests md5,both   # one 1 GiB file
  bench/verify_folder.py --build build/windows --kind big     # 32 files of 32 MiB

Each round times, one after the other: md5sum over the files, the launcher's
update run (bench/verify_bench_win.cpp: Updater::Run with the system backend
and launcher.log written, as the launcher does) with the launcher's own number
of check threads, and the same forced to one thread. --baseline names another
verify_bench.exe (for example one built from an older commit) that is timed in
the same rounds, writing launcher.log as well (a build older than 50bea33
takes only the manifest and the folder, ignores the rest and writes none). Both sides read from the page cache (the files are read once
before the first round). With --quiet LOAD every round first waits (up to
--quiet-wait seconds in all) until the 1-minute load average is below LOAD: a
speed-up from a second core shows only on an otherwise idle machine.

--digests names the manifests each launcher side runs over: md5 (an MD5 per
entry, as before), both (an MD5 and a SHA-256 per entry) or sha256; with more
than one, every launcher side (and --baseline) runs once per manifest, and
with both or sha256 `openssl dgst -md5` and `openssl dgst -sha256` over the
same files join md5sum as references.

--record times the quick check instead: the run without a record (as before
it existed), a first run that writes one (it is deleted before), a second run with the record the first left, and a "Check all
files" run that reads every file whatever the record says; the folder's files
are left to settle for 1.5 s first, as files changed within a second of a
listing are read again at the next run. --ready then also times a second start
of the launcher in a launcher folder that kept its record.

--profile also runs verify_bench's profile mode (per-file cost of each piece of
a check and its report) and --ready the start-to-Ready time of the launcher
(bench/ready_time.py) over the same folder. The folder is deleted at the end.
"""
import argparse
import hashlib
import json
import os
import re
import resource
import shutil
import statistics
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tests", "support"))
sys.dont_write_bytecode = True
import wine_env  # noqa: E402

KINDS = {"large": (2000, (2 * 1024 ** 3) // 2000, "Data/file%04d.MPQ"),
         "one": (1, 1024 ** 3, "Data/one%d.MPQ"),
         "big": (32, 32 * 1024 ** 2, "Data/big%02d.MPQ"),
         "small": (20000, None, "Interface/AddOns/Pack%02d/file%05d.lua")}
DIGESTS = {"md5": ("md5",), "both": ("md5", "sha256"), "sha256": ("sha256",)}


def load():
    with open("/proc/loadavg") as f:
        return float(f.read().split()[0])


class QuietWaiter:
    """Waits for a 1-minute load below `limit`, polling every 30 s, for at most `budget` seconds in all."""

    def __init__(self, limit, budget):
        self.limit, self.left = limit, budget

    def wait(self):
        if self.limit is None:
            return load()
        while load() >= self.limit and self.left > 0:
            print("  waiting for a quiet machine: load %.2f" % load(), flush=True)
            time.sleep(30)
            self.left -= 30
        return load()


def file_bytes(kind, i, size, block):
    """The pieces of file i of the folder."""
    if kind == "small":
        yield ("-- file %d\n" % i).encode()
    elif kind in ("one", "big"):
        for _ in range(size // len(block)):
            yield os.urandom(len(block))
    else:
        shift = i % 997  # every file different
        yield (block[shift:] + block[:shift] + block)[:size]


def make_folder(work, kind, digests):
    """Writes the client folder and one manifest per digest set; returns ({set: manifest path}, relative paths)."""
    count, size, pattern = KINDS[kind]
    client = os.path.join(work, "client")
    entries = {name: [] for name in digests}
    paths = []
    block = os.urandom(1 << 20)
    for i in range(count):
        rel = pattern % (i // 1000, i) if kind == "small" else pattern % i
        path = os.path.join(client, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        hashes, length = {"md5": hashlib.md5(), "sha256": hashlib.sha256()}, 0
        with open(path, "wb") as f:
            for piece in file_bytes(kind, i, size, block):
                f.write(piece)
                length += len(piece)
                for h in hashes.values():
                    h.update(piece)
        for name in digests:
            entry = {"path": rel, "size": length, "cdn_url": "http://127.0.0.1:9/unused"}
            entry.update((d, hashes[d].hexdigest()) for d in DIGESTS[name])
            entries[name].append(entry)
        paths.append(rel)
    manifests = {}
    for name in digests:
        manifests[name] = os.path.join(work, "manifest-%s.json" % name)
        with open(manifests[name], "w") as f:
            json.dump({"game_files": entries[name]}, f)
    return manifests, paths


def children_cpu():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


class Wineserver:
    """The prefix's wineserver, kept running for the whole bench so that its CPU time can be read."""

    def __init__(self, env):
        subprocess.run(["wineserver", "-p"], env=env, check=True)
        subprocess.run(["wine", "cmd", "/c", "echo"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.pid = None
        want = ("WINEPREFIX=" + env["WINEPREFIX"]).encode()
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open("/proc/%s/cmdline" % pid, "rb") as f, open("/proc/%s/environ" % pid, "rb") as e:
                    if b"wineserver" in f.read().split(b"\0")[0] and want in e.read().split(b"\0"):
                        self.pid = pid
            except OSError:
                pass

    def cpu(self):
        try:
            with open("/proc/%s/stat" % self.pid) as f:
                fields = f.read().rsplit(")", 1)[1].split()
            return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
        except (OSError, TypeError):
            return float("nan")


REFERENCES = {"md5sum": ["md5sum"], "openssl -md5": ["openssl", "dgst", "-md5"],
              "openssl -sha256": ["openssl", "dgst", "-sha256"]}


def reference_seconds(name, client, paths):
    start, cpu = time.perf_counter(), children_cpu()
    subprocess.run(["xargs", "-0"] + REFERENCES[name], input="\0".join(paths).encode(), cwd=client,
                   stdout=subprocess.DEVNULL, check=True)
    return time.perf_counter() - start, children_cpu() - cpu


class PeakAnon(threading.Thread):
    """The peak private resident memory (RssAnon) of the process whose command line names `exe`."""

    def __init__(self, exe):
        super().__init__(daemon=True)
        self.exe, self.peak_kib, self.done = os.path.basename(exe).encode(), 0, threading.Event()

    def run(self):
        pid = None
        while not self.done.is_set():
            if pid is None:
                pid = next((p for p in os.listdir("/proc") if p.isdigit() and self._names(p)), None)
            try:
                with open("/proc/%s/status" % pid) as f:
                    self.peak_kib = max(self.peak_kib, int(re.search(r"RssAnon:\s+(\d+)", f.read()).group(1)))
            except (OSError, TypeError, AttributeError):
                pid = None
            self.done.wait(0.02)

    def _names(self, pid):
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:  # Wine shows the program's Windows path first
                return f.read().split(b"\0")[0].replace(b"\\", b"/").endswith(b"/" + self.exe)
        except OSError:
            return False


def verify_seconds(env, exe, manifest, client, extra):
    """Seconds of the run, its peak private bytes as the program saw them, and the peak RssAnon."""
    sampler = PeakAnon(exe)
    sampler.start()
    cpu = children_cpu()
    out = subprocess.run(["wine", exe, wine_env.windows_path(manifest), wine_env.windows_path(client)] + extra,
                         env=env, capture_output=True, text=True, timeout=1200)
    cpu = children_cpu() - cpu
    sampler.done.set()
    sampler.join()
    fields = dict(part.split("=", 1) for part in out.stdout.split() if "=" in part)
    if out.returncode != 0 or fields.get("result") != "Done":
        raise RuntimeError("verify_bench failed: %s %s" % (out.stdout, out.stderr))
    return float(fields["verify_seconds"]), cpu, (int(fields.get("private_bytes_before", 0)),
                                                  int(fields.get("peak_private_bytes", 0)), sampler.peak_kib * 1024)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(os.path.dirname(HERE), "build", "windows"))
    parser.add_argument("--kind", choices=sorted(KINDS), default="large")
    parser.add_argument("--digests", default="md5",
                        help="comma-separated digest sets of the manifests: md5, both, sha256")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--baseline", help="another verify_bench.exe to time in the same rounds")
    parser.add_argument("--quiet", type=float, help="wait for a 1-minute load below this before each round")
    parser.add_argument("--quiet-wait", type=float, default=3600, help="seconds of waiting allowed in all")
    parser.add_argument("--record", action="store_true", help="first run, second run and Check all files")
    parser.add_argument("--profile", action="store_true", help="also print verify_bench's per-file profile")
    parser.add_argument("--ready", action="store_true", help="also time the launcher's start to Ready")
    parser.add_argument("--ready-baseline", help="another OstrelLauncher.exe for --ready")
    parser.add_argument("--work", default="/tmp/ostrel-bench-verify")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    subprocess.run(["cmake", "--build", build, "--target", "verify_bench"], check=True, stdout=subprocess.DEVNULL)
    wine_env.ensure_prefix(build)
    env = wine_env.headless_environment(build)
    quiet = QuietWaiter(args.quiet, args.quiet_wait)

    digests = args.digests.split(",")
    if any(name not in DIGESTS for name in digests):
        parser.error("--digests takes md5, both and sha256")

    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    try:
        manifests, paths = make_folder(args.work, args.kind, digests)
        client = os.path.join(args.work, "client")
        log = wine_env.windows_path(os.path.join(args.work, "launcher.log"))
        reference_seconds("md5sum", client, paths)  # warms the page cache for every side
        references = ["md5sum"]
        if digests != ["md5"]:
            references += ["openssl -md5", "openssl -sha256"]
        programs = [("launcher", []), ("launcher-1-thread", ["--threads", "1"])]
        record = os.path.join(args.work, "verified.dat")
        if args.record:
            time.sleep(1.5)
            keep = ["--record", wine_env.windows_path(record)]
            programs = [("no record", []), ("first run", keep), ("second run", keep),
                        ("check all files", keep + ["--full"])]
        if args.baseline:
            programs.append(("baseline", None))
        # Each launcher side once per manifest, named after its digests when there are several.
        sides = [(name, None, None) for name in references]
        for name, extra in programs:
            for digest in digests:
                label = name if len(digests) == 1 else "%s (%s)" % (name, digest)
                sides.append((label, extra, manifests[digest]))
        times = {name: [] for name, _, _ in sides}
        cpu = {name: [] for name, _, _ in sides}  # (process, wineserver) CPU seconds
        memory = {name: [] for name, _, _ in sides}
        exe = os.path.join(build, "verify_bench.exe")
        server = Wineserver(env)
        for round_ in range(args.rounds):
            start_load = quiet.wait()
            for name, extra, manifest in sides:
                server_cpu = server.cpu()
                if name.startswith("first run") and os.path.exists(record):
                    os.remove(record)
                if name in REFERENCES:
                    seconds, process_cpu = reference_seconds(name, client, paths)
                elif name.startswith("baseline"):
                    seconds, process_cpu, peak = verify_seconds(env, os.path.abspath(args.baseline), manifest,
                                                                client, ["--log", log])
                else:
                    seconds, process_cpu, peak = verify_seconds(env, exe, manifest, client, extra + ["--log", log])
                times[name].append(seconds)
                cpu[name].append((process_cpu, server.cpu() - server_cpu))
                if name not in REFERENCES:
                    memory[name].append(peak)
            print("round %d (load %.2f at its start, %.2f at its end): %s" % (
                round_ + 1, start_load, load(), ", ".join("%s %.3f s (CPU %.2f + server %.2f)" % (
                    (n, times[n][-1]) + cpu[n][-1]) for n, _, _ in sides)), flush=True)
        reference = statistics.median(times["md5sum"])
        for name, _, _ in sides:
            median = statistics.median(times[name])
            line = ("verify %s: %s median %.3f s, best %.3f s, ratio to md5sum %.3f (per-round %s); "
                    "CPU median %.2f s in the process + %.2f s in the wineserver") % (
                args.kind, name, median, min(times[name]), median / reference,
                " ".join("%.3f" % (t / m) for t, m in zip(times[name], times["md5sum"])),
                statistics.median(c[0] for c in cpu[name]), statistics.median(c[1] for c in cpu[name]))
            if memory[name]:
                line += ", peak RssAnon %.1f MiB" % (max(m[2] for m in memory[name]) / 1048576.0)
                before, peak, _ = max(memory[name], key=lambda m: m[1] - m[0])
                if peak:
                    line += "; private bytes (its own count) %.1f MiB before the run, peak %.1f MiB (+%.1f MiB)" % (
                        before / 1048576.0, peak / 1048576.0, (peak - before) / 1048576.0)
            print(line)
        for name, _, _ in sides:
            if name.endswith("(both)"):
                alone = name[:-len("(both)")] + "(md5)"
                if alone in times:
                    print("verify %s: %s against %s: median %.3f (per-round %s)" % (
                        args.kind, name, alone, statistics.median(times[name]) / statistics.median(times[alone]),
                        " ".join("%.3f" % (t / m) for t, m in zip(times[name], times[alone]))))

        if args.profile:
            quiet.wait()
            print("profile (load %.2f):" % load(), flush=True)
            subprocess.run([sys.executable, os.path.join(os.path.dirname(HERE), "tests", "support", "wine_env.py"),
                            "run", "--build", build, "--", exe, "profile", wine_env.windows_path(manifests[digests[0]]),
                            wine_env.windows_path(client), wine_env.windows_path(os.path.join(args.work, "p.log"))],
                           timeout=600)
        if args.ready:
            sys.path.insert(0, HERE)
            import ready_time  # noqa: E402
            ready_time.measure(build, args.work, client, manifests, args.rounds, quiet,
                               baseline=args.ready_baseline, second_start=args.record)
    finally:
        shutil.rmtree(args.work, ignore_errors=True)
        wine_env.kill_wineserver(build)
    return 0


if __name__ == "__main__":
    sys.exit(main())
