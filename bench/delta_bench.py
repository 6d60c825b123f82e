#!/usr/bin/env python3
"""Patch codec against its peers on real version pairs from npm.

For each pair in bench/npm_pairs.txt the two packages are fetched with
`npm pack` into a cache (out/bench/npm), unpacked, and every file that
changed between them is measured:
  size:   our patch vs `zstd -19 --patch-from` vs `gzip -6` of the new file;
  make:   time of delta_tool make vs `gzip -6` of the new file (target <= 10x),
          and its peak memory (RSS) vs the old file's size (target <= 10x);
  apply:  delta_tool apply + md5sum vs `gzip -d` + md5sum (target <= 2x).
Times are processor time (user + system). Files under 4 KiB are left out of
the time and memory ratios (process start dominates), not out of the sizes.

usage: delta_bench.py DELTA_TOOL [CACHE_DIR]
"""
import os
import resource
import shutil
import subprocess
import sys
import tarfile

tool = os.path.abspath(sys.argv[1])
cache = os.path.abspath(sys.argv[2] if len(sys.argv) > 2 else "out/bench/npm")
here = os.path.dirname(os.path.abspath(__file__))
work = os.path.join(cache, "work")
os.makedirs(work, exist_ok=True)


def pairs():
    for line in open(os.path.join(here, "npm_pairs.txt")):
        fields = line.split("#")[0].split()
        if len(fields) == 3:
            yield fields


def fetch(name, version):
    tgz = os.path.join(cache, name.lstrip("@").replace("/", "-") + "-" + version + ".tgz")
    if not os.path.exists(tgz):
        subprocess.run(["npm", "pack", "--silent", name + "@" + version], cwd=cache, check=True,
                       stdout=subprocess.DEVNULL)
    tree = tgz[:-4]
    if not os.path.isdir(tree):
        with tarfile.open(tgz) as t:
            t.extractall(tree)
    return tree


def files(tree):
    out = {}
    for root, _, names in os.walk(tree):
        for n in names:
            p = os.path.join(root, n)
            if os.path.isfile(p) and not os.path.islink(p):
                out[os.path.relpath(p, tree)] = p
    return out


def cpu_seconds():
    r = resource.getrusage(resource.RUSAGE_CHILDREN)
    return r.ru_utime + r.ru_stime


# Times are processor seconds (user + system) of the commands and what they
# start: on a machine shared with other work, wall time says more about the
# neighbours than about the code.
def timed(argv, stdout=subprocess.DEVNULL):
    """Processor seconds and peak RSS (KiB) of a command, through /usr/bin/time."""
    start = cpu_seconds()
    r = subprocess.run(["/usr/bin/time", "-f", "%M"] + argv, stdout=stdout, stderr=subprocess.PIPE,
                       check=True)
    return cpu_seconds() - start, int(r.stderr.decode().strip().splitlines()[-1])


def shell_time(command):
    start = cpu_seconds()
    subprocess.run(command, shell=True, check=True, stdout=subprocess.DEVNULL)
    return cpu_seconds() - start


totals = {"patch": 0, "zstd": 0, "gzip": 0}
worst = {"make": 0.0, "memory": 0.0, "apply": 0.0}
print(f"{'pair / file':58} {'new':>10} {'gzip-6':>9} {'zstd-19':>8} {'patch':>8} "
      f"{'make/gz':>7} {'mem/old':>7} {'apply/gz':>8}")
for name, a, b in pairs():
    old_tree, new_tree = fetch(name, a), fetch(name, b)
    old_files, new_files = files(old_tree), files(new_tree)
    sums = {"patch": 0, "zstd": 0, "gzip": 0, "new": 0}
    print(f"{name} {a} -> {b}")
    for rel in sorted(new_files):
        new = new_files[rel]
        old = old_files.get(rel)
        new_size = os.path.getsize(new)
        if old is None:
            continue
        if open(old, "rb").read() == open(new, "rb").read():
            continue
        gz = os.path.join(work, "new.gz")
        patch = os.path.join(work, "patch")
        zst = os.path.join(work, "patch.zst")
        out = os.path.join(work, "out")
        gzip_s = shell_time(f"gzip -6 -c '{new}' > '{gz}'")
        make_s, make_kib = timed([tool, "make", old, new, patch])
        subprocess.run(["zstd", "-q", "-f", "-19", f"--patch-from={old}", new, "-o", zst], check=True,
                       stderr=subprocess.DEVNULL)
        apply_s = shell_time(f"'{tool}' apply '{old}' '{patch}' '{out}' && md5sum '{out}'")
        if open(out, "rb").read() != open(new, "rb").read():
            sys.exit(f"{rel}: patched file differs")
        gunzip_s = shell_time(f"gzip -d -c '{gz}' > '{out}' && md5sum '{out}'")
        sizes = {"patch": os.path.getsize(patch), "zstd": os.path.getsize(zst), "gzip": os.path.getsize(gz)}
        for k in sizes:
            sums[k] += sizes[k]
        sums["new"] += new_size
        old_size = os.path.getsize(old)
        ratios = ["", "", ""]
        if new_size >= 4096 and old_size >= 4096:
            r_make = make_s / gzip_s
            r_mem = make_kib * 1024 / old_size
            r_apply = apply_s / gunzip_s
            ratios = [f"{r_make:.1f}", f"{r_mem:.1f}", f"{r_apply:.2f}"]
            if new_size >= 1 << 20:  # the ratios that are more than noise
                worst["make"] = max(worst["make"], r_make)
                worst["memory"] = max(worst["memory"], r_mem)
                worst["apply"] = max(worst["apply"], r_apply)
        shown = rel if len(rel) <= 56 else "..." + rel[-53:]
        print(f"  {shown:56} {new_size:>10} {sizes['gzip']:>9} {sizes['zstd']:>8} {sizes['patch']:>8} "
              f"{ratios[0]:>7} {ratios[1]:>7} {ratios[2]:>8}", flush=True)
    for k in totals:
        totals[k] += sums[k]
    if sums["gzip"]:
        print(f"  changed files: new {sums['new']}, gzip -6 {sums['gzip']}, zstd -19 {sums['zstd']}, "
              f"patch {sums['patch']} (patch / zstd = {sums['patch'] / max(sums['zstd'], 1):.2f}, "
              f"patch / gzip = {sums['patch'] / sums['gzip']:.3f})")
print(f"total changed files: gzip -6 {totals['gzip']}, zstd -19 --patch-from {totals['zstd']}, "
      f"patch {totals['patch']}")
print(f"patch / zstd -19 (total size) = {totals['patch'] / max(totals['zstd'], 1):.2f}")
print(f"patch / gzip -6 (total size) = {totals['patch'] / max(totals['gzip'], 1):.3f}")
print(f"files of 1 MiB or more, worst: make / gzip -6 = {worst['make']:.1f} (target <= 10), "
      f"make memory / old size = {worst['memory']:.1f} (target <= 10), "
      f"(apply + md5sum) / (gzip -d + md5sum) = {worst['apply']:.2f} (target <= 2)")
