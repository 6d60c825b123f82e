#!/usr/bin/env bash
# The main job, end to end on the bundled sample tree: build filedist, make a
# release of samples/app in a packer directory, then bring a client folder up
# to that release. Everything it makes lies in out/main-job/.
# FILEDIST_PROGRAM=/usr/bin/filedist runs it with an installed program
# instead of building one.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install_deps.sh

program=${FILEDIST_PROGRAM:-}
if [ -z "$program" ]; then
  cmake --preset native > /dev/null
  # The program, and what `cmake --install out/native` then installs beside
  # it: the two libraries and the manual page out/native/filedist.1.
  cmake --build --preset native -j "$(nproc)" --target filedist filedist_man_page common \
    filedist_update
  program=out/native/filedist
fi

job=out/main-job
rm -rf "$job"
mkdir -p "$job/packer"

# ---- release half: filedist build ----------------------------------------
# filedist reads Filters.ini beside its own program file and writes the plain
# VerComp.dat, Ver and BuildVer.log there, so it works from a packer
# directory of its own.
cp "$program" samples/Filters.ini "$job/packer/"
echo "== filedist build samples/app (Filters.ini leaves out .pdb and .bak files)"
"$job/packer/filedist" build samples/app --log-level 3 | tee "$job/build.out"
PATCH_DIR=$(tail -n 1 "$job/build.out")
export PATCH_DIR
echo "== the release: $PATCH_DIR"
(cd "$PATCH_DIR" && find . -type f | sort)
echo "== its version list"
"$job/packer/filedist" list "$job/packer/VerComp.dat"

# ---- client half: filedist update ----------------------------------------
# Brings a client folder up to the release in "$PATCH_DIR" (see
# `filedist update --help`). Written by the client side of the project.
mkdir -p "$job/client"
cp "$program" "$job/client/"
echo "== filedist update --dry-run: the plan for an empty client"
"$job/client/filedist" update "$PATCH_DIR" --dry-run
echo "== filedist update"
"$job/client/filedist" update "$PATCH_DIR"
echo "== the client's version list"
"$job/client/filedist" list "$job/client/VerComp.dat"
echo "== a second update finds nothing to do"
"$job/client/filedist" update "$PATCH_DIR" | tee "$job/update2.out"
grep -q "already up to date" "$job/update2.out"
echo "== the client matches the release's source, file for file"
(cd samples/app && find . -type f ! -name '*.pdb' ! -name '*.bak' -print0 | sort -z |
  xargs -0 -I{} cmp {} "../../$job/client/{}")
echo "main job done: release in $PATCH_DIR, client in $job/client"
