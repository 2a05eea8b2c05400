#!/usr/bin/env python3
"""Makes the ZIP archives the extraction tests read, with Python's zipfile
(so they are real archives from an independent writer). Run it from any
folder; it writes next to itself. The output is deterministic."""
import os
import struct
import zipfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
STAMP = (2024, 5, 1, 12, 0, 0)


def info(name, method=zipfile.ZIP_DEFLATED):
    zi = zipfile.ZipInfo(name, date_time=STAMP)
    zi.compress_type = method
    zi.external_attr = (0o40755 << 16) | 0x10 if name.endswith("/") else 0o644 << 16
    return zi


def write(name, entries):
    """entries: (entry name, bytes or None for a folder, method)."""
    path = os.path.join(HERE, name)
    with zipfile.ZipFile(path, "w") as zf:
        for entry_name, data, method in entries:
            zf.writestr(info(entry_name, method), b"" if data is None else data)
    return path


def pattern(size, seed):
    """The bytes of testutil::PatternBytes(size, seed): std::minstd_rand's
    low bytes, so the tests can rebuild every entry's content."""
    x = seed % 2147483647 or 1
    out = bytearray(size)
    for i in range(size):
        x = x * 48271 % 2147483647
        out[i] = x & 0xFF
    return bytes(out)


def compressible(size):
    """Text-like data: a 6 KiB block over a ten-letter alphabet, repeated
    after a changing line number, so the compressor uses dynamic Huffman
    blocks and matches from far back in its window."""
    block = bytes(b"ostrelhd \n"[b % 10] for b in pattern(6144, 7))
    out = bytearray()
    line = 0
    while len(out) < size:
        out += b"%08d " % line + block
        line += 1
    return bytes(out[:size])


def letters(size):
    """Bytes over an eight-letter alphabet with no repeats to speak of."""
    return bytes(b"abcdefgh"[b % 8] for b in pattern(size, 11))


def patch(path, offset, data):
    with open(path, "r+b") as f:
        f.seek(offset)
        f.write(data)


def data_offset(path, entry_name):
    with zipfile.ZipFile(path) as zf:
        zi = zf.getinfo(entry_name)
    with open(path, "rb") as f:
        f.seek(zi.header_offset)
        header = f.read(30)
    name_len, extra_len = struct.unpack("<HH", header[26:30])
    return zi.header_offset + 30 + name_len + extra_len, zi.compress_size


def main():
    S, D = zipfile.ZIP_STORED, zipfile.ZIP_DEFLATED

    write("stored.zip", [
        ("readme.txt", b"Stored, not compressed.\r\n", S),
        ("Data/patch-4.MPQ", pattern(3000, 1), S),
    ])

    write("deflated.zip", [
        ("hello.txt", b"hello hello hello hello\n", D),  # short: fixed Huffman codes
        ("a/", None, S),
        ("a/b/", None, S),
        ("a/b/c/deep.txt", compressible(20000), D),
        ("a/noise.bin", pattern(70000, 2), D),  # incompressible: stored blocks inside deflate
        ("empty.txt", b"", D),
        ("empty_stored.txt", b"", S),
        ("emptydir/", None, S),
        ("implicit/parent/file.txt", b"folders made without entries of their own\n", D),
    ])

    write("large.zip", [
        ("big/compressible.dat", compressible(2 * 1024 * 1024), D),
        ("big/letters.txt", letters(96 * 1024), D),  # several dynamic blocks, few matches
    ])

    # Entries that must be refused, each next to a harmless one.
    write("escape_dotdot.zip", [("good.txt", b"good\n", D), ("../evil.txt", b"evil\n", D)])
    write("escape_nested_dotdot.zip", [("good.txt", b"good\n", D), ("sub/../../evil.txt", b"evil\n", D)])
    write("escape_backslash.zip", [("good.txt", b"good\n", D), ("sub\\..\\..\\evil.txt", b"evil\n", D)])
    write("escape_absolute.zip", [("good.txt", b"good\n", D), ("/abs.txt", b"evil\n", D)])
    write("escape_drive.zip", [("good.txt", b"good\n", D), ("C:/drive.txt", b"evil\n", D)])

    # A stored entry with one data byte changed: the CRC no longer matches.
    path = write("corrupt_crc.zip", [("first.txt", b"fine\n", S), ("damaged.bin", pattern(4000, 3), S)])
    offset, _ = data_offset(path, "damaged.bin")
    with open(path, "rb") as f:
        f.seek(offset + 1000)
        byte = f.read(1)[0]
    patch(path, offset + 1000, bytes([byte ^ 0x55]))

    # A deflated entry whose data start with the reserved block type 3.
    path = write("bad_deflate.zip", [("broken.txt", compressible(5000), D)])
    offset, size = data_offset(path, "broken.txt")
    patch(path, offset, b"\xff" * 4)

    # The first half of a good archive: no central directory left.
    good = open(os.path.join(HERE, "deflated.zip"), "rb").read()
    with open(os.path.join(HERE, "truncated.zip"), "wb") as f:
        f.write(good[: len(good) // 2])

    # Intact directory, but the file ends inside the last entry's data.
    path = write("truncated_data.zip", [("whole.txt", b"whole\n", S), ("cut.bin", pattern(5000, 4), S)])
    raw = open(path, "rb").read()
    offset, size = data_offset(path, "cut.bin")
    directory = raw[offset + size:]
    cut = 2000
    # Keep the central directory but drop bytes from the data, fixing the
    # directory's offset so only the data is missing.
    end = directory[-22:]
    cd = directory[:-22]
    cd_offset = struct.unpack("<I", end[16:20])[0] - cut
    end = end[:16] + struct.pack("<I", cd_offset) + end[20:]
    with open(path, "wb") as f:
        f.write(raw[: offset + size - cut] + cd + end)

    # Declared size differs from what the data unpack to (both headers agree).
    path = write("size_mismatch.zip", [("short.txt", compressible(3000), D)])
    with zipfile.ZipFile(path) as zf:
        zi = zf.getinfo("short.txt")
    raw = bytearray(open(path, "rb").read())
    wrong = struct.pack("<I", zi.file_size + 1)
    raw[zi.header_offset + 22: zi.header_offset + 26] = wrong
    cd_at = raw.rfind(b"PK\x01\x02")
    raw[cd_at + 24: cd_at + 28] = wrong
    open(path, "wb").write(bytes(raw))

    # A local header with ZIP64 sizes, as zipfile writes with force_zip64.
    path = os.path.join(HERE, "zip64.zip")
    with zipfile.ZipFile(path, "w") as zf:
        with zf.open(info("z.txt"), "w", force_zip64=True) as out:
            out.write(b"zip64 local header\n")

    # Names flagged as UTF-8 by zipfile.
    write("utf8_names.zip", [("caf\u00e9/na\u00efve.txt", b"utf-8 name\n", D)])


if __name__ == "__main__":
    main()
