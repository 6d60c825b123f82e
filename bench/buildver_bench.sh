#!/usr/bin/env bash
# BuildVer against the tools that do the same work one after the other:
# on a release-like tree of about 300 MB in about 9,000 files (program
# binaries, text, 10% incompressible data), the time of `filedist build`
# divided by the time of md5sum plus gzip -6 over the same files, each tool
# started once for all of them through xargs. The three run side by side in
# every round, so a busy machine slows all of them alike; the best round
# counts. Target: ratio <= 0.95.
#
#   bash bench/buildver_bench.sh [ROUNDS]
#
# FILEDIST: the program to time (default out/native/filedist, built if
# missing). BENCH_DIR: where the tree and the packer directory go (default
# /tmp/filedist-buildver-bench; the tree is made once and kept).
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-3}
bench_dir=${BENCH_DIR:-/tmp/filedist-buildver-bench}
program=${FILEDIST:-out/native/filedist}
if [ ! -x "$program" ]; then
  cmake --preset native > /dev/null
  cmake --build --preset native --target filedist > /dev/null
fi
program=$(realpath "$program")

tree=$bench_dir/tree
if [ ! -f "$bench_dir/tree.done" ]; then
  rm -rf "$tree"
  mkdir -p "$tree"
  echo "making the tree in $tree ..." >&2
  python3 - "$tree" <<'EOF'
import os, random, sys

root = sys.argv[1]
rng = random.Random(20090630)
TOTAL = 300 * 1000 * 1000
FILES = 9000

# Program binaries: the machine's own libraries and programs.
binary = bytearray()
for base in ("/usr/lib/x86_64-linux-gnu", "/usr/bin", "/usr/lib"):
    for dirpath, _, names in os.walk(base):
        for name in sorted(names):
            path = os.path.join(dirpath, name)
            if os.path.islink(path) or not os.path.isfile(path):
                continue
            try:
                with open(path, "rb") as f:
                    binary += f.read(4 << 20)
            except OSError:
                pass
            if len(binary) >= 64 << 20:
                break
        if len(binary) >= 64 << 20:
            break

# Text: source-like lines from a small vocabulary.
words = ("int void return static const char struct if else for while the of release file "
         "version key size path buffer update client server data index list error info "
         "0 1 2 16 32 64 1024 = == != ( ) { } ; , -> ::").split()
lines = []
size = 0
while size < 16 << 20:
    line = " " * (2 * rng.randrange(5)) + " ".join(rng.choice(words) for _ in range(rng.randrange(3, 14))) + "\r\n"
    lines.append(line)
    size += len(line)
text = "".join(lines).encode()

# File sizes: many small files and a few large ones, as releases have.
sizes = [rng.lognormvariate(9.2, 1.5) for _ in range(FILES)]
scale = TOTAL / sum(sizes)
sizes = [max(1, int(s * scale)) for s in sizes]
dirs = ["bin", "lib", "data", "res/images", "res/sounds", "docs", "scripts", "plugins/a", "plugins/b"]
for d in dirs:
    for k in range(10):
        os.makedirs(os.path.join(root, d, "set%d" % k), exist_ok=True)
for i, n in enumerate(sizes):
    pick = rng.random()
    if pick < 0.10:
        data, ext = os.urandom(n), ".pak"
    elif pick < 0.55:
        at = rng.randrange(max(1, len(binary) - n))
        data, ext = bytes(binary[at:at + n]), ".dll"
    else:
        at = rng.randrange(max(1, len(text) - n))
        data, ext = text[at:at + n], ".txt"
    d = os.path.join(root, dirs[i % len(dirs)], "set%d" % (i // len(dirs) % 10))
    with open(os.path.join(d, "file%05d%s" % (i, ext)), "wb") as f:
        f.write(data)
EOF
  touch "$bench_dir/tree.done"
fi
count=$(find "$tree" -type f | wc -l)
bytes=$(du -sb "$tree" | cut -f1)
echo "tree: $count files, $((bytes / 1000000)) MB"

rm -rf "$bench_dir"/packer*
find "$tree" -type f -print0 > "$bench_dir/files"
max_args=$(($(getconf ARG_MAX) - 65536))

now() { date +%s.%N; }
elapsed() { python3 -c "print(f'{$2 - $1:.3f}')"; }

# Warm the cache once so that no contestant pays for the disk.
xargs -0 -s "$max_args" cat < "$bench_dir/files" > /dev/null

best_ratio=""
printf "%-6s %10s %10s %10s %8s\n" round md5sum gzip-6 BuildVer ratio
for round in $(seq 1 "$rounds"); do
  t0=$(now)
  xargs -0 -s "$max_args" md5sum < "$bench_dir/files" > /dev/null
  t1=$(now)
  xargs -0 -s "$max_args" gzip -6 -c < "$bench_dir/files" > /dev/null
  # A packer directory per round, all removed at the end: ext4 makes new
  # files slowly while thousands of inodes were deleted within the last
  # minutes, and that would time the cleanup of the round before.
  packer=$bench_dir/packer$round
  mkdir -p "$packer"
  cp "$program" "$packer/"
  t2=$(now)
  "$packer/$(basename "$program")" build "$tree" --log-level 3 > /dev/null
  t3=$(now)
  md5=$(elapsed "$t0" "$t1")
  gz=$(elapsed "$t1" "$t2")
  ours=$(elapsed "$t2" "$t3")
  ratio=$(python3 -c "print(f'{$ours / ($md5 + $gz):.3f}')")
  printf "%-6s %10s %10s %10s %8s\n" "$round" "$md5" "$gz" "$ours" "$ratio"
  if [ -z "$best_ratio" ] || python3 -c "import sys; sys.exit(0 if $ratio < $best_ratio else 1)"; then
    best_ratio=$ratio
  fi
done
rm -rf "$bench_dir"/packer*
echo "best ratio time(BuildVer) / (time(md5sum) + time(gzip -6)): $best_ratio (target <= 0.95)"
