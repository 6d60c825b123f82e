#!/usr/bin/env bash
# BuildVer against the tools that do the same work one after the other:
# on a release-like tree of about 300 MB in about 9,000 files (program
# binaries, text, 10% incompressible data), the time of `filedist build`
# divided by the time of md5sum plus gzip -6 over the same files, each tool
# started once for all of them through xargs (gzip writing to a file). The
# three run side by side in every round, so a busy machine slows all of them
# alike; the best round counts. Target: ratio <= 0.6. Beside it, the total
# size of the release's compressed files against gzip -6's output for the
# same files (gzip stores each file's name, the release does not; both are
# shown). Target: size ratio <= 1.
#
# Then, in the same round, a rebuild into the same release folder after 1% of
# the files changed, which takes the unchanged files' compressed form from the
# release just made (found as its build record says, not decoded): its time
# over the full build's (target <= 0.15) and over md5sum's (target <= 2).
# Both builds make no binary patches (--delta-window 0): their time is the
# codec's, measured by bench/delta_bench.py.
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

# Warm the cache once so that no contestant pays for the disk.
xargs -0 -s "$max_args" cat < "$bench_dir/files" > /dev/null

# Wall-clock times decide; the processor time (user + system) is shown
# beside them, since it barely moves when other work shares the machine.
python3 - "$rounds" "$bench_dir" "$program" "$tree" "$max_args" <<'EOF'
import os, resource, shutil, subprocess, sys, time

rounds, bench_dir, program, tree, max_args = int(sys.argv[1]), *sys.argv[2:]
files = os.path.join(bench_dir, "files")


def release_bytes(packer):
    # The compressed files of the tree in the patch directory; the version
    # list, its key file and the Manifest beside them are left out, gzip
    # makes no such, and so is the build's own record (.build-records/),
    # which clients never fetch.
    total = 0
    releases = os.path.join(packer, "releases")
    for patch in os.listdir(releases):
        if not patch.startswith("Patch_"):
            continue
        top = os.path.join(releases, patch)
        for dirpath, _, names in os.walk(top):
            for name in names:
                if dirpath != top or name not in ("VerComp.dat", "Ver", "Manifest", "Manifest.sig"):
                    total += os.path.getsize(os.path.join(dirpath, name))
    return total


def timed(command):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.monotonic()
    subprocess.run(command, shell=True, check=True)
    wall = time.monotonic() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return wall, (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


print("%-5s %17s %17s %17s %6s %6s %17s %8s %8s" % (
    "round", "md5sum wall/cpu", "gzip -6 wall/cpu", "BuildVer wall/cpu", "ratio", "cpu",
    "rebuild wall/cpu", "/full", "/md5sum"))
ratios, cpu_ratios, rebuild_ratios, rebuild_md5_ratios = [], [], [], []
with open(files, "rb") as f:
    all_files = sorted(p.decode() for p in f.read().split(b"\0") if p)
# Every hundredth file changes between the build and the rebuild.
changed = all_files[::100]
gzip_out = os.path.join(bench_dir, "gzip6.out")
ours_size = 0
for round_ in range(1, rounds + 1):
    md5 = timed(f"xargs -0 -s {max_args} md5sum < '{files}' > /dev/null")
    gz = timed(f"xargs -0 -s {max_args} gzip -6 -c < '{files}' > '{gzip_out}'")
    # A packer directory per round, all removed at the end: ext4 makes new
    # files slowly while thousands were deleted in the last minutes, and that
    # would time the cleanup of the round before.
    packer = os.path.join(bench_dir, "packer%d" % round_)
    os.makedirs(packer)
    shutil.copy2(program, packer)
    build = os.path.join(packer, os.path.basename(program))
    ours = timed(f"'{build}' build '{tree}' --delta-window 0 --log-level 3 > /dev/null")
    ours_size = release_bytes(packer)
    ratios.append(ours[0] / (md5[0] + gz[0]))
    cpu_ratios.append(ours[1] / (md5[1] + gz[1]))
    sizes = {}
    for path in changed:
        sizes[path] = os.path.getsize(path)
        with open(path, "ab") as f:
            f.write(b"changed for the rebuild\r\n")
    try:
        again = timed(f"'{build}' build '{tree}' --delta-window 0 --log-level 3 > /dev/null")
    finally:
        for path, size in sizes.items():
            os.truncate(path, size)
    rebuild_ratios.append(again[0] / ours[0])
    rebuild_md5_ratios.append(again[0] / md5[0])
    print("%-5d %8.2f /%7.2f %8.2f /%7.2f %8.2f /%7.2f %6.3f %6.3f %8.2f /%7.2f %8.3f %8.3f" %
          (round_, *md5, *gz, *ours, ratios[-1], cpu_ratios[-1], *again, rebuild_ratios[-1],
           rebuild_md5_ratios[-1]), flush=True)
for round_ in range(1, rounds + 1):
    shutil.rmtree(os.path.join(bench_dir, "packer%d" % round_))
gzip_size = os.path.getsize(gzip_out)
gzip_n_size = int(subprocess.run(f"xargs -0 -s {max_args} gzip -6 -n -c < '{files}' | wc -c", shell=True,
                                 check=True, capture_output=True, text=True).stdout)
os.remove(gzip_out)
print("best of %d: time(BuildVer) / (time(md5sum) + time(gzip -6)) = %.3f (target <= 0.6), "
      "processor time %.3f" % (rounds, min(ratios), min(cpu_ratios)))
print("best of %d: rebuild after 1%% changed (%d files) / full build = %.3f (target <= 0.15), "
      "rebuild / md5sum = %.3f (target <= 2)" % (rounds, len(changed), min(rebuild_ratios),
                                   min(rebuild_md5_ratios)))
print("release size: %d bytes vs gzip -6 %d bytes: size ratio %.4f (target <= 1); "
      "vs gzip -6 -n (no names) %d bytes: %.4f" % (ours_size, gzip_size, ours_size / gzip_size, gzip_n_size,
                                                   ours_size / gzip_n_size))
EOF
