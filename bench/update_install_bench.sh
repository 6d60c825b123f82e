#!/usr/bin/env bash
# First install of a release of small files (1 to 8 KiB) from a local
# folder, at 20,000 and at 100,000 files: `filedist update` against its
# peer, cp -r of the release and gzip -d of every file through xargs. Both
# start from a release that was just written (in the page cache); filedist
# also flushes what it placed before it records it, which the peer does not.
#
# Each size runs ROUNDS rounds (3 by default), the two sides taking turns to
# go first; the best time of each side is compared, as other work on the
# machine only ever adds time. Every run is timed by /usr/bin/time as well:
# the processor time (user + system) of each side is less disturbed by that
# other work than the elapsed time is, and the load average is printed with
# the figures.
#
#   FILEDIST=out/native/filedist bash bench/update_install_bench.sh
#   SIZES="20000" ROUNDS=5 bash bench/update_install_bench.sh
set -euo pipefail
filedist=$(realpath "${FILEDIST:-out/native/filedist}")
dir=${BENCH_DIR:-/tmp/filedist-bench/update}
sizes=${SIZES:-20000 100000}
rounds=${ROUNDS:-3}
rm -rf "$dir"
mkdir -p "$dir"

# Seconds elapsed, user and system, as /usr/bin/time gives them.
timed() {
  local out=$1
  shift
  /usr/bin/time -f '%e %U %S' -o "$out" "$@"
}

for files in $sizes; do
  work=$dir/$files
  mkdir -p "$work/src" "$work/packer"
  python3 - "$work/src" "$files" <<'PY'
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
  cp "$filedist" "$work/packer/filedist"
  "$work/packer/filedist" build "$work/src" --releases "$work/rel" > "$work/build.out"
  patch=$(tail -n 1 "$work/build.out")
  sync

  load_before=$(cut -d' ' -f1-3 /proc/loadavg)
  : > "$work/times"
  for round in $(seq 1 "$rounds"); do
    client=$work/client$round
    peer=$work/peer$round
    mkdir -p "$client"
    cp "$filedist" "$client/filedist"
    sync
    update() {
      timed "$work/update.time" "$client/filedist" update "$patch" > "$work/update.out"
      echo "update $(cat "$work/update.time")" >> "$work/times"
    }
    copy() {
      timed "$work/peer.time" bash -c 'cp -r "$1" "$2" &&
        find "$2" -type f -name "*.dat" -print0 | xargs -0 gzip -d -f -S .dat' _ "$patch" "$peer"
      echo "peer $(cat "$work/peer.time")" >> "$work/times"
    }
    # Each side goes first in every other round: what one leaves to the
    # disk's write-back then slows the other no more than itself.
    if ((round % 2 == 1)); then
      update
      copy
    else
      copy
      update
    fi
    installed=$(find "$client" -type f -name 'file*.dat' | wc -l)
    if [ "$installed" -ne "$files" ]; then
      echo "filedist update installed $installed files of $files" >&2
      exit 1
    fi
  done
  load_after=$(cut -d' ' -f1-3 /proc/loadavg)

  python3 - "$files" "$work/times" "$load_before" "$load_after" <<'PY'
import sys
files, times, before, after = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4]
runs = {"update": [], "peer": []}
for line in open(times):
    side, elapsed, user, system = line.split()
    runs[side].append((float(elapsed), float(user) + float(system)))
best = {side: min(r[0] for r in rs) for side, rs in runs.items()}
cpu = {side: min(r[1] for r in rs) for side, rs in runs.items()}
n = len(runs["update"])
print(f"first install of {files} files, best of {n} rounds each (load average {before} before, {after} after):")
print(f"  filedist update:                 {best['update']:.2f} s elapsed, {cpu['update']:.2f} s processor")
print(f"  cp -r + gzip -d through xargs:   {best['peer']:.2f} s elapsed, {cpu['peer']:.2f} s processor")
print(f"  every round, elapsed update / peer: " +
      " ".join(f"{u[0]:.2f}/{p[0]:.2f}" for u, p in zip(runs["update"], runs["peer"])))
print(f"ratio update / peer at {files} files = {best['update'] / best['peer']:.2f} (target <= 1.0)")
print(f"processor time update / peer at {files} files = {cpu['update'] / cpu['peer']:.2f}")
PY
  rm -rf "$work"
done
rm -rf "$dir"
