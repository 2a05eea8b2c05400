#!/usr/bin/env bash
# Verifying a whole client folder: 2,000 files totalling 2 GiB, all correct,
# checked by the launcher's update run (size + MD5 of every file) against
# md5sum over the same files. Both read from the page cache: the files are
# read once before either is timed, and each side runs three times (best kept).
#   bench/verify_folder.sh <windows build folder> [work folder]
set -euo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
work=${2:-/tmp/ostrel-bench-verify}
files=2000
size=$(( (2 * 1024 * 1024 * 1024) / files ))  # 1,073,741 bytes each

export WINEPREFIX=$build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
python3 - "$build" "$here/../tests/support" <<'PY'
import sys
sys.path.insert(0, sys.argv[2])
from wine_env import ensure_prefix; ensure_prefix(sys.argv[1])
PY

rm -rf "$work" && mkdir -p "$work/client/Data"
echo "verify: making $files files of $size bytes in $work/client" >&2
python3 - "$work/client/Data" "$files" "$size" <<'PY'
import os, sys
folder, count, size = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
block = os.urandom(1 << 20)
for i in range(count):
    with open(os.path.join(folder, "file%04d.MPQ" % i), "wb") as f:
        f.write(block[i % 997:] + block[: i % 997])  # 1 MiB, different in every file
        f.write(block[: size - (1 << 20)] if size > (1 << 20) else b"")
        f.truncate(size)
PY

cat "$work"/client/Data/* > /dev/null  # warm the page cache for both sides

best() { sort -n | head -n 1; }
md5_times=()
for _ in 1 2 3; do
  start=$(date +%s.%N)
  (cd "$work/client" && md5sum Data/*) > "$work/md5sum.txt"
  md5_times+=("$(python3 -c "print($(date +%s.%N) - $start)")")
done
md5_best=$(printf '%s\n' "${md5_times[@]}" | best)

python3 - "$work/md5sum.txt" "$work/manifest.json" "$size" <<'PY'
import json, sys
entries = []
for line in open(sys.argv[1]):
    digest, path = line.split(None, 1)
    entries.append({"path": path.strip(), "size": int(sys.argv[3]), "md5": digest, "cdn_url": "http://127.0.0.1:9/unused"})
json.dump({"game_files": entries}, open(sys.argv[2], "w"))
PY

client_win="Z:${work//\//\\}\\client"
manifest_win="Z:${work//\//\\}\\manifest.json"
launcher_times=()
for _ in 1 2 3; do
  out=$(wine "$build/verify_bench.exe" "$manifest_win" "$client_win")
  echo "verify: $out" >&2
  launcher_times+=("$(sed -n 's/.*verify_seconds=\([0-9.]*\).*/\1/p' <<<"$out")")
done
launcher_best=$(printf '%s\n' "${launcher_times[@]}" | best)
wineserver -k 2>/dev/null || true

ratio=$(python3 -c "print($launcher_best / $md5_best)")
printf 'verify_folder files=%d bytes=%d md5sum_best=%.2fs launcher_best=%.2fs ratio=%.3f\n' \
  "$files" $((files * size)) "$md5_best" "$launcher_best" "$ratio"
rm -rf "$work"
