#!/usr/bin/env python3
"""Makes the ZIP archives the extraction tests read, with Python's zipfile (real
archives from an independent writer), next to itself. The output is deterministic."""
import os
import struct
import subprocess
import tempfile
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
S, D = zipfile.ZIP_STORED, zipfile.ZIP_DEFLATED


def info(name, method=D):
    zi = zipfile.ZipInfo(name, date_time=(2024, 5, 1, 12, 0, 0))
    zi.compress_type = method
    zi.external_attr = (0o40755 << 16) | 0x10 if name.endswith("/") else 0o644 << 16
    return zi


def write(name, entries):  # entries: (entry name, bytes or None for a folder, method)
    with zipfile.ZipFile(os.path.join(HERE, name), "w") as zf:
        for entry_name, data, method in entries:
            zf.writestr(info(entry_name, method), b"" if data is None else data)
    return os.path.join(HERE, name)


def pattern(size, seed):  # testutil::PatternBytes(size, seed): std::minstd_rand's low bytes
    x, out = seed % 2147483647 or 1, bytearray(size)
    for i in range(size):
        x = x * 48271 % 2147483647
        out[i] = x & 0xFF
    return bytes(out)


def compressible(size):
    """A 6 KiB block over a ten-letter alphabet after a changing line number: dynamic
    Huffman blocks with matches from far back in the window."""
    block = bytes(b"ostrelhd \n"[b % 10] for b in pattern(6144, 7))
    out, line = bytearray(), 0
    while len(out) < size:
        out += b"%08d " % line + block
        line += 1
    return bytes(out[:size])


def data_offset(raw, entry):  # where an entry's data start in the archive bytes, and their stored size
    name_len, extra_len = struct.unpack("<HH", raw[entry.header_offset + 26:entry.header_offset + 30])
    return entry.header_offset + 30 + name_len + extra_len, entry.compress_size


def rewrite(path, change):  # replaces the archive at path with change(its bytes, the entry list)
    with zipfile.ZipFile(path) as zf, open(path, "rb") as f:
        raw = change(bytearray(f.read()), zf.infolist())
    with open(path, "wb") as f:
        f.write(raw)


def main():
    write("stored.zip", [("readme.txt", b"Stored, not compressed.\r\n", S), ("Data/patch-4.MPQ", pattern(3000, 1), S)])
    write("deflated.zip", [
        ("hello.txt", b"hello hello hello hello\n", D),  # short: fixed Huffman codes
        ("a/", None, S), ("a/b/", None, S),
        ("a/b/c/deep.txt", compressible(20000), D),
        ("a/noise.bin", pattern(70000, 2), D),  # incompressible: stored blocks inside deflate
        ("empty.txt", b"", D), ("empty_stored.txt", b"", S), ("emptydir/", None, S),
        ("implicit/parent/file.txt", b"folders made without entries of their own\n", D),
    ])
    write("large.zip", [("big/compressible.dat", compressible(2 * 1024 * 1024), D),
                        # several dynamic blocks, few matches
                        ("big/letters.txt", bytes(b"abcdefgh"[b % 8] for b in pattern(96 * 1024, 11)), D)])

    # Entries that must be refused, each after a harmless one.
    for name, evil in [("dotdot", "../evil.txt"), ("nested_dotdot", "sub/../../evil.txt"),
                       ("backslash", "sub\\..\\..\\evil.txt"), ("absolute", "/abs.txt"), ("drive", "C:/drive.txt")]:
        write("escape_%s.zip" % name, [("good.txt", b"good\n", D), (evil, b"evil\n", D)])

    def flip_byte(raw, entries):  # a stored entry's data changed: the CRC no longer matches
        raw[data_offset(raw, entries[1])[0] + 1000] ^= 0x55
        return raw
    rewrite(write("corrupt_crc.zip", [("first.txt", b"fine\n", S), ("damaged.bin", pattern(4000, 3), S)]), flip_byte)

    def reserved_block(raw, entries):  # deflate data starting with the reserved block type 3
        offset = data_offset(raw, entries[0])[0]
        return raw[:offset] + b"\xff" * 4 + raw[offset + 4:]
    rewrite(write("bad_deflate.zip", [("broken.txt", compressible(5000), D)]), reserved_block)

    # The first half of a good archive: no central directory left.
    with open(os.path.join(HERE, "deflated.zip"), "rb") as f, open(os.path.join(HERE, "truncated.zip"), "wb") as out:
        out.write(f.read()[:os.path.getsize(f.name) // 2])

    def cut_data(raw, entries):  # the directory intact (its offset moved), 2000 data bytes gone
        offset, size = data_offset(raw, entries[1])
        directory, end = raw[offset + size:-22], raw[-22:]
        end[16:20] = struct.pack("<I", struct.unpack("<I", end[16:20])[0] - 2000)
        return raw[:offset + size - 2000] + directory + end
    rewrite(write("truncated_data.zip", [("whole.txt", b"whole\n", S), ("cut.bin", pattern(5000, 4), S)]), cut_data)

    def wrong_size(raw, entries):  # both headers declare one byte more than the data unpack to
        wrong = struct.pack("<I", entries[0].file_size + 1)
        raw[entries[0].header_offset + 22:entries[0].header_offset + 26] = wrong
        directory = raw.rfind(b"PK\x01\x02")
        raw[directory + 24:directory + 28] = wrong
        return raw
    rewrite(write("size_mismatch.zip", [("short.txt", compressible(3000), D)]), wrong_size)

    with tempfile.TemporaryDirectory() as tmp:  # Info-ZIP's forced ZIP64: ZIP64 end record and extra fields
        for name, data in [("a.txt", b"hello\n"), ("b.txt", compressible(2000))]:
            with open(os.path.join(tmp, name), "wb") as f:
                f.write(data)
            os.utime(os.path.join(tmp, name), (1714564800, 1714564800))
        subprocess.run(["zip", "-q", "-X", "-fz", "z.zip", "a.txt", "b.txt"], cwd=tmp, check=True, env={"TZ": "UTC"})
        os.replace(os.path.join(tmp, "z.zip"), os.path.join(HERE, "zip64_infozip.zip"))
    write("utf8_names.zip", [("caf\u00e9/na\u00efve.txt", b"utf-8 name\n", D)])  # flagged as UTF-8


if __name__ == "__main__":
    main()
