#!/usr/bin/env bash
# First install of a release of 100,000 files of 1 to 8 KiB from a local
# folder: `filedist update` against its peer, cp -r of the release and
# gzip -d of every file through xargs. Both start from a release that was
# just written (in the page cache); filedist also flushes what it placed
# before it records it, which the peer does not.
#
#   FILEDIST=out/native/filedist bash bench/update_install_bench.sh
set -euo pipefail
filedist=$(realpath "${FILEDIST:-out/native/filedist}")
dir=${BENCH_DIR:-/tmp/filedist-bench/update}
files=${FILES:-100000}
rm -rf "$dir"
mkdir -p "$dir/src" "$dir/packer" "$dir/client"

python3 - "$dir/src" "$files" <<'PY'
import os, random, sys
root, count = sys.argv[1], int(sys.argv[2])
random.seed(1)
words = [b"alpha", b"bravo", b"charlie", b"delta", b"echo", b"foxtrot", b"golf", b"hotel",
         b"india", b"juliet", b"kilo", b"lima", b"mike", b"november", b"oscar", b"papa"]
for i in range(count):
    sub = os.path.join(root, "dir%03d" % (i % 400), "sub%d" % (i % 7))
    os.makedirs(sub, exist_ok=True)
    size = random.randint(1024, 8192)
    data = bytearray()
    while len(data) < size:
        data += random.choice(words) + b" %d\n" % random.randrange(100000)
    with open(os.path.join(sub, "file%06d.dat" % i), "wb") as f:
        f.write(bytes(data[:size]))
PY

cp "$filedist" "$dir/packer/filedist"
"$dir/packer/filedist" build "$dir/src" --releases "$dir/rel" > "$dir/build.out"
patch=$(tail -n 1 "$dir/build.out")
cp "$filedist" "$dir/client/filedist"
sync

start=$(date +%s.%N)
"$dir/client/filedist" update "$patch" > "$dir/update.out"
mid=$(date +%s.%N)
cp -r "$patch" "$dir/peer"
find "$dir/peer" -type f -name '*.dat' -print0 | xargs -0 gzip -d -f -S .dat
end=$(date +%s.%N)

installed=$(find "$dir/client" -type f -name '*.dat' | wc -l)
python3 - "$start" "$mid" "$end" "$files" "$installed" <<'PY'
import sys
start, mid, end = map(float, sys.argv[1:4])
files, installed = sys.argv[4], sys.argv[5]
update, peer = mid - start, end - mid
print(f"filedist update, first install of {files} files: {update:.2f} s ({installed} files installed)")
print(f"cp -r + gzip -d through xargs:            {peer:.2f} s")
print(f"ratio update / peer = {update / peer:.2f} (target <= 2.0)")
PY
rm -rf "$dir"
