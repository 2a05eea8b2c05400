#!/usr/bin/env python3
"""ZIP64 archives by real tools, into the folder given: Info-ZIP's `zip -fz`, zipfile's
force_zip64, streamed to a pipe (64-bit data descriptors), 70,000 entries; with --big
one deflated entry of 4 GiB + 1 MiB of zeros."""
import os, random, subprocess, sys, zipfile

out, D = sys.argv[1], zipfile.ZIP_DEFLATED
files = {"Wow.exe": random.Random(1).randbytes(40000), "Data/common.MPQ": b"MPQ\x1a" * 30000,
         "Data/enUS/realmlist.wtf": b"set realmlist 127.0.0.1\r\n", "zero.txt": b"", "empty/": None}
for name, data in files.items():
    os.makedirs(os.path.dirname(os.path.join(out, "tree", name)), exist_ok=True)
    if data is not None:
        open(os.path.join(out, "tree", name), "wb").write(data)
subprocess.run(["zip", "-q", "-r", "-fz", "../infozip_fz.zip", "."], cwd=os.path.join(out, "tree"), check=True)


class Pipe:  # not seekable: zipfile streams, with data descriptors
    def __init__(self, f): self.write, self.flush = f.write, f.flush


for name, target in [("force_zip64.zip", os.path.join(out, "force_zip64.zip")),
                     ("streamed.zip", Pipe(open(os.path.join(out, "streamed.zip"), "wb")))]:
    with zipfile.ZipFile(target, "w", D) as zf:
        for entry, data in files.items():
            with zf.open(entry, "w", force_zip64=True) as f:
                f.write(data or b"")
with zipfile.ZipFile(os.path.join(out, "many_entries.zip"), "w", D) as zf:
    for i in range(70000):
        zf.writestr("d%02d/f%05d.txt" % (i % 50, i), b"%d\n" % i)
if "--big" in sys.argv:
    with zipfile.ZipFile(os.path.join(out, "big.zip"), "w", D, compresslevel=1) as zf:
        with zf.open("zeros.bin", "w", force_zip64=True) as f:
            for _ in range(4097):
                f.write(bytes(1 << 20))
