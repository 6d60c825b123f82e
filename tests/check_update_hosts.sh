#!/usr/bin/env bash
# Builds host programs of the updater library the way a user does (their own
# compile against include/ and the library, nothing of the project's) and
# runs them against a signed release served over HTTP:
#   - a C host (update_hosts/c_update_host.c): a second session on a locked
#     directory, an unknown option, check, a download cancelled part-way that
#     installs nothing, a second download that goes on from what was staged,
#     apply, up to date, a forged release refused, then the second release
#     taken by a binary patch: its plan, its progress, the plan's older size;
#   - the C host following a channel of a releases folder: the release its
#     signed pointer names is taken, remembered for a session opened without
#     a source, a signed roll-back is taken, an older pointer served again,
#     an unsigned one and a forged one are refused, a halted rollout holds
#     the install where it is; then `filedist update` with no source takes
#     up the source and channel the host recorded;
#   - a C++ host (update_hosts/cpp_update_host.cc): two sessions on two
#     directories in two threads, progress on the calling thread at most ten
#     times a second, and a session refused a directory another thread holds.
# cmp checks what the hosts installed against the released files; the
# library's export table and (on Windows) its imports are checked too.
#
# check_update_hosts.sh win32|posix FILEDIST LIBRARY IMPORT_LIBRARY INCLUDE_DIR C_COMPILER CXX_COMPILER
set -euo pipefail
mode=$1
filedist=$2
library=$3
import_library=$4
include_dir=$5
c_compiler=$6
cxx_compiler=$7
tests=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d)
status=0
cleanup() {
  bash "$tests/servers/test_server.sh" stop "$scratch/server" > /dev/null 2>&1 || true
  rm -rf "$scratch"
}
[ -n "${KEEP_SCRATCH:-}" ] && echo "scratch: $scratch" || trap cleanup EXIT

fail() {
  echo "FAILED: $*"
  status=1
}

if [ "$mode" = win32 ]; then
  exe=.exe
  run() { wine "$@"; }
  # Nothing beside the host but the library: the runtime, threads included,
  # linked in.
  host_flags="-static"
  imports=$(i686-w64-mingw32-objdump -p "$library" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z')
  for dll in $imports; do
    case "$dll" in
      kernel32.dll|msvcrt.dll|user32.dll|advapi32.dll|ole32.dll|oleaut32.dll|shlwapi.dll|shell32.dll|ws2_32.dll|winhttp.dll|crypt32.dll|bcrypt.dll) ;;
      *) fail "the library imports a non-system DLL: $dll" ;;
    esac
  done
  exports=$(i686-w64-mingw32-objdump -p "$library" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
            sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*//p')
else
  exe=
  run() { LD_LIBRARY_PATH="$(dirname "$library")" "$@"; }
  host_flags="-pthread"
  exports=$(nm -D --defined-only "$library" | awk '{print $3}')
  soname=$(objdump -p "$library" | awk '$1 == "SONAME" {print $2}')
  [ "$soname" = libfiledist_update.so.1 ] || fail "SONAME is '${soname:-(none)}'"
fi
expected="filedist_update_apply filedist_update_check filedist_update_close filedist_update_download filedist_update_error filedist_update_open filedist_update_restart filedist_update_set"
actual=$(printf '%s\n' $exports | grep -v '^$' | LC_ALL=C sort | tr '\n' ' ' | sed 's/ $//')
[ "$actual" = "$expected" ] || fail "the library exports: $actual"

# A signed release of four incompressible files, and a forged copy of it.
cd "$scratch"
mkdir packer source releases dir-c dir-forged dir-channel dir-1 dir-2
cp "$filedist" packer/
python3 -c '
import os
for name in "abcd":
    with open("source/%s.bin" % name, "wb") as f: f.write(os.urandom(256 * 1024))'
(cd packer && run "./$(basename "$filedist")" keygen rel > /dev/null)
(cd packer && run "./$(basename "$filedist")" build ../source --releases ../releases --sign rel.key > ../build.out 2>&1) ||
  { cat build.out; fail "the release does not build"; exit 1; }
cp packer/rel.pub trusted.pub
patch=releases/$(tr -d '\r\n' < releases/LATEST)
cp -r "$patch" forged
sed -i 's/^built 20/built 19/' forged/Manifest

# Channels: a beta release (a.bin grown, so that it has a patch from the
# first) beside stable, and copies of the
# folder that serve the pointers a host meets over time: beta-1 the first
# beta pointer, beta-2 the signed roll-back to the first release, unsigned
# and forged-pointer that one without its signature and with its patch
# changed after signing. releases/ itself ends with a third pointer that
# offers the beta release again to 0% of installs: a halted rollout.
first=$(basename "$patch")
mkdir source2
cp source/*.bin source2/
python3 -c '
import os
with open("source2/a.bin", "ab") as f: f.write(os.urandom(44 * 1024))'
sleep 1  # a patch directory is named by the second it is built in
(cd packer && run "./$(basename "$filedist")" build ../source2 --releases ../releases --sign rel.key \
   --channel beta > ../build2.out 2>&1) ||
  { cat build2.out; fail "the beta release does not build"; exit 1; }
second=$(sed -n 's/^patch //p' releases/channel.beta)
pointer_copy() {  # FOLDER: the patch directories linked, the beta pointer copied
  mkdir "$1"
  ln -s "../releases/$first" "../releases/$second" "$1/"
  cp releases/channel.beta "$1/"
  cp releases/channel.beta.sig "$1/"
}
promote() {
  (cd packer && run "./$(basename "$filedist")" promote ../releases "$@" --channel beta \
     --sign rel.key > ../promote.out 2>&1) || { cat promote.out; fail "promote $*"; exit 1; }
}
pointer_copy beta-1
promote "$first"
pointer_copy beta-2
pointer_copy unsigned
rm unsigned/channel.beta.sig
pointer_copy forged-pointer
sed -i "s/^patch .*/patch $second/; s/^release .*/release 2/" forged-pointer/channel.beta
promote "$second" --rollout 0

bash "$tests/servers/test_server.sh" faults "$scratch/server" "$scratch" ||
  { cat "$scratch/server/failed"; fail "the web server does not start"; exit 1; }
port=$(awk '$1 == "http" {print $2}' server/ports)

# shellcheck disable=SC2086
if "$c_compiler" -Wall -Wextra -Werror -I"$include_dir" "$tests/update_hosts/c_update_host.c" \
     "$import_library" $host_flags -o "c_update_host$exe"; then
  [ "$mode" = win32 ] && cp "$library" .
  url=http://127.0.0.1:$port
  output=$(run "./c_update_host$exe" dir-c "$url/slow-1/$patch/" "$url/plain-1/$patch/" forged \
             trusted.pub dir-forged dir-channel "$url/plain-3/beta-1/" "$url/plain-3/beta-2/" \
             "$url/plain-3/unsigned/" "$url/plain-3/forged-pointer/" "$url/plain-3/releases/" \
             "$url/plain-1/releases/$second/" 2>&1 | tr -d '\r') || true
  if [ "$(printf '%s\n' "$output" | tail -n 1)" = "host ok" ]; then
    for name in a b c d; do
      # The second release, a.bin made from its patch.
      cmp -s "dir-c/$name.bin" "source2/$name.bin" || fail "C host: $name.bin differs from the release"
      # Rolled back to the first release, and kept there.
      cmp -s "dir-channel/$name.bin" "source/$name.bin" || fail "C host: channel: $name.bin differs"
    done
    # The program takes up the source and channel the host recorded last
    # (beta-2, which has no LATEST: only its beta pointer leads anywhere).
    program=$(run "packer/$(basename "$filedist")" update --dir dir-channel --trust trusted.pub \
                --check 2>&1 | tr -d '\r') || true
    [ "$program" = "up to date with $first" ] || fail "filedist update after the C host: $program"
    echo "ok: C host"
  else
    fail "C host"
    printf '%s\n' "$output" | sed 's/^/  /'
  fi
else
  fail "the C host does not build"
fi

# shellcheck disable=SC2086
if "$cxx_compiler" -Wall -Wextra -Werror -I"$include_dir" "$tests/update_hosts/cpp_update_host.cc" \
     "$import_library" $host_flags -o "cpp_update_host$exe"; then
  output=$(run "./cpp_update_host$exe" dir-1 dir-2 "http://127.0.0.1:$port/plain-2/$patch/" trusted.pub 2>&1 |
           tr -d '\r') || true
  if [ "$(printf '%s\n' "$output" | tail -n 1)" = "host ok" ]; then
    for dir in dir-1 dir-2; do
      for name in a b c d; do
        cmp -s "$dir/$name.bin" "source/$name.bin" || fail "C++ host: $dir/$name.bin differs"
      done
    done
    echo "ok: C++ host"
  else
    fail "C++ host"
    printf '%s\n' "$output" | sed 's/^/  /'
  fi
else
  fail "the C++ host does not build"
fi
exit $status
