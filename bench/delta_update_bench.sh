#!/usr/bin/env bash
# Bytes a client fetches to update, on the npm version pairs of
# bench/npm_pairs.txt: for each pair the two packages are released in
# version order into one release folder with `filedist build` (patches from
# the default window), a client holding the older one updates from nginx on
# the loopback address, and beside it, in the same run:
#   whole:  the same update with --no-delta (every changed file whole);
#   rsync:  rsync -a -c --no-whole-file -z from the new tree onto a copy of
#           the old one (through a pipe as remote shell, so that -z applies),
#           bytes sent plus received;
#   zstd:   zstd -19 --patch-from for every changed file, plus gzip -6 of
#           every new file (counted whole for both, as filedist fetches them).
# filedist's figure is what came over the network, its version list, key
# file, Manifest and patch index included. Also the client's peak memory
# (RSS) with patches against --no-delta.
# Targets: filedist <= 0.3 x rsync and <= zstd in total; no pair above
# whole + 1%; peak memory within 32 MiB of --no-delta.
#
#   FILEDIST=out/native/filedist bash bench/delta_update_bench.sh
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
filedist=$(realpath "${FILEDIST:-out/native/filedist}")
dir=${BENCH_DIR:-/tmp/filedist-bench/delta-update}
cache=$(realpath -m "${NPM_CACHE:-out/bench/npm}")
servers=$here/../tests/servers
rm -rf "$dir"
mkdir -p "$dir" "$cache"
cleanup() { sh "$servers/test_server.sh" stop "$dir/nginx"; }
trap cleanup EXIT

python3 - "$here/npm_pairs.txt" "$filedist" "$dir" "$cache" "$servers/test_server.sh" <<'PY'
import json, os, shutil, subprocess, sys, tarfile

pairs_file, filedist, work, cache, server_script = sys.argv[1:]
nginx = os.path.join(work, "nginx")


def serve():
    """nginx serving work, started afresh for each pair: it stops by itself
    after ten minutes, and making the patches of a large pair takes long."""
    subprocess.run(["sh", server_script, "stop", nginx], capture_output=True)
    subprocess.run(["sh", server_script, "nginx", nginx, work], check=True)
    for line in open(os.path.join(nginx, "ports")):
        if line.startswith("http "):
            return line.split()[1]


def pairs():
    for line in open(pairs_file):
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
    return os.path.join(tree, "package")


def files(tree):
    out = {}
    for root, _, names in os.walk(tree):
        for n in names:
            p = os.path.join(root, n)
            if os.path.isfile(p) and not os.path.islink(p):
                out[os.path.relpath(p, tree)] = p
    return out


def run(argv, **kw):
    r = subprocess.run(argv, capture_output=True, **kw)
    if r.returncode != 0:
        sys.exit("%s failed (%d):\n%s" % (" ".join(argv), r.returncode, r.stderr.decode()[-2000:]))
    return r


def peak(argv):
    """Runs argv; its standard output and peak RSS in KiB."""
    r = run(["/usr/bin/time", "-f", "%M"] + argv)
    return r.stdout, int(r.stderr.decode().strip().splitlines()[-1])


rsh = os.path.join(work, "rsh")
with open(rsh, "w") as f:
    f.write('#!/bin/sh\nshift\nexec "$@"\n')
os.chmod(rsh, 0o755)
packer = os.path.join(work, "packer")
os.makedirs(packer, exist_ok=True)
shutil.copy2(filedist, packer)
program = os.path.join(packer, os.path.basename(filedist))

totals = {"filedist": 0, "whole": 0, "rsync": 0, "zstd": 0}
worst_over_whole = 0.0
worst_memory = 0
print(f"{'pair':40} {'filedist':>10} {'whole':>10} {'rsync -z':>10} {'zstd-19':>10} "
      f"{'/rsync':>7} {'/zstd':>6} {'/whole':>7} {'MiB +':>6}")
for n, (name, a, b) in enumerate(pairs()):
    old_tree, new_tree = fetch(name, a), fetch(name, b)
    pair = os.path.join(work, "pair%d" % n)
    source = os.path.join(pair, "source")
    releases = os.path.join(pair, "releases")
    patch_dirs = []
    for tree in (old_tree, new_tree):
        shutil.rmtree(source, ignore_errors=True)
        shutil.copytree(tree, source, symlinks=True)
        out = run([program, "build", source, "--releases", releases]).stdout.decode()
        patch_dirs.append(out.strip().splitlines()[-1])
    url = "http://127.0.0.1:%s/%s" % (serve(), os.path.relpath(patch_dirs[1], work))
    received = {}
    memory = {}
    for mode, extra in (("filedist", []), ("whole", ["--no-delta"])):
        client = os.path.join(pair, "client-" + mode)
        os.makedirs(client)
        run([program, "update", patch_dirs[0], "--dir", client, "--no-delta", "--quiet"])
        out, memory[mode] = peak([program, "update", url, "--dir", client, "--json"] + extra)
        doc = json.loads(out)
        received[mode] = doc["result"]["received_bytes"]
        for rel, path in files(new_tree).items():
            with open(path, "rb") as x, open(os.path.join(client, rel), "rb") as y:
                if x.read() != y.read():
                    sys.exit(f"{name}: {rel} differs after the update ({mode})")
    # rsync over a pipe, so that it compresses as over a network.
    dest = os.path.join(pair, "rsync")
    shutil.copytree(old_tree, dest, symlinks=True)
    stats = run(["rsync", "-a", "-c", "--no-whole-file", "-z", "--stats", "-e", rsh,
                 new_tree + "/", "localhost:" + dest + "/"]).stdout.decode()
    rsync_bytes = 0
    for line in stats.splitlines():
        if line.startswith("Total bytes sent:") or line.startswith("Total bytes received:"):
            rsync_bytes += int(line.split(":")[1].replace(",", "").split()[0])
    zstd_bytes = 0
    old_files = files(old_tree)
    for rel, new in files(new_tree).items():
        old = old_files.get(rel)
        data = open(new, "rb").read()
        if old is not None and open(old, "rb").read() == data:
            continue
        if old is None:
            zstd_bytes += len(run(["gzip", "-6", "-c", new]).stdout)
        else:
            zstd_bytes += len(run(["zstd", "-q", "-19", "--long=31", "--patch-from=" + old, "-c", new])
                              .stdout)
    row = {"filedist": received["filedist"], "whole": received["whole"], "rsync": rsync_bytes,
           "zstd": zstd_bytes}
    for k in totals:
        totals[k] += row[k]
    over_whole = row["filedist"] / max(1, row["whole"])
    worst_over_whole = max(worst_over_whole, over_whole)
    extra_mib = (memory["filedist"] - memory["whole"]) / 1024
    worst_memory = max(worst_memory, extra_mib)
    print(f"{name + ' ' + a + '->' + b:40} {row['filedist']:>10} {row['whole']:>10} {rsync_bytes:>10} "
          f"{zstd_bytes:>10} {row['filedist'] / max(1, rsync_bytes):>7.3f} "
          f"{row['filedist'] / max(1, zstd_bytes):>6.2f} {over_whole:>7.3f} {extra_mib:>6.1f}",
          flush=True)
print(f"{'total':40} {totals['filedist']:>10} {totals['whole']:>10} {totals['rsync']:>10} "
      f"{totals['zstd']:>10} {totals['filedist'] / max(1, totals['rsync']):>7.3f} "
      f"{totals['filedist'] / max(1, totals['zstd']):>6.2f}")
print("filedist / rsync -z = %.3f (target <= 0.3); filedist / zstd-19 patches = %.2f (target <= 1); "
      "worst pair / whole files = %.3f (target <= 1.01); peak memory over --no-delta at most "
      "%.1f MiB (target <= 32)" % (totals["filedist"] / max(1, totals["rsync"]),
                                   totals["filedist"] / max(1, totals["zstd"]), worst_over_whole,
                                   worst_memory))
PY
