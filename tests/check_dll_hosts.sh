#!/usr/bin/env bash
# Builds host programs of the shared library the way a user does (their own
# compile against include/ and the import library, nothing of the project's
# static core) and runs them:
#   - a C++ host with the compiler's default flags (on Windows: the shared
#     libstdc++-6.dll and libgcc_s_dw2-1.dll beside it) and one with
#     -static-libgcc -static-libstdc++, each with every C++ compiler given,
#     must catch CZipException from a failed run and go on (dll_hosts/cpp_host.cc);
#   - a C host must run in a folder with nothing but itself and the library.
# gzip and md5sum check what the hosts wrote.
#
# check_dll_hosts.sh win32|posix LIBRARY IMPORT_LIBRARY INCLUDE_DIR C_COMPILER CXX_COMPILER...
# HOST_FLAGS in the environment go to every compile (a sanitized library
# needs its hosts built with the same sanitizers).
set -euo pipefail
host_flags=${HOST_FLAGS:-}
mode=$1
library=$2
import_library=$3
include_dir=$4
c_compiler=$5
shift 5
sources=$(cd "$(dirname "$0")/dll_hosts" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
status=0

fail() {
  echo "FAILED: $*"
  status=1
}

# Test data: some text of a few blocks, and its gzip form cut in the middle of
# the compressed data.
python3 -c 'import sys
for i in range(4000): sys.stdout.write("line %d of the host test, %s\n" % (i, "x" * (i % 37)))' \
  > "$scratch/plain.txt"
gzip -9 -c "$scratch/plain.txt" > "$scratch/plain.gz"
head -c $(( $(stat -c %s "$scratch/plain.gz") / 2 )) "$scratch/plain.gz" > "$scratch/truncated.gz"

if [ "$mode" = win32 ]; then
  exe=.exe
  run() { wine "$@"; }
  # Copies beside the programs in folder $1 every DLL they import that the
  # compiler $2 ships (the C++ runtime DLLs), until nothing is missing.
  copy_runtime() {
    local folder=$1 compiler=$2 copied=1 dll found
    while [ $copied = 1 ]; do
      copied=0
      for dll in $(for f in "$folder"/*.exe "$folder"/*.dll; do
                     i686-w64-mingw32-objdump -p "$f" | sed -n 's/^[[:space:]]*DLL Name: //p'
                   done | sort -u); do
        [ -e "$folder/$dll" ] && continue
        found=$("$compiler" -print-file-name="$dll")
        if [ "$found" != "$dll" ] && [ -f "$found" ]; then
          cp "$found" "$folder/"
          copied=1
        fi
      done
    done
  }
  imports() { i686-w64-mingw32-objdump -p "$1" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z'; }
else
  exe=
  run() { LD_LIBRARY_PATH="$(dirname "$library")" "$@"; }
  copy_runtime() { :; }
  imports() { :; }
fi

# Sets up a folder for one host: the library, the data, the program.
new_folder() {
  local folder=$scratch/$1
  mkdir "$folder"
  if [ "$mode" = win32 ]; then cp "$library" "$folder/"; fi
  cp "$scratch/plain.txt" "$scratch/truncated.gz" "$folder/"
  echo "$folder"
}

number=0
for compiler in "$@"; do
  for flags in "" "-static-libgcc -static-libstdc++"; do
    number=$((number + 1))
    name="$(basename "$compiler") ${flags:-(default flags)}"
    folder=$(new_folder "cpp$number")
    # shellcheck disable=SC2086
    if ! "$compiler" $flags $host_flags -Wall -Wextra -Werror -I"$include_dir" "$sources/cpp_host.cc" \
         "$import_library" -o "$folder/cpp_host$exe"; then
      fail "$name: the C++ host does not build"
      continue
    fi
    copy_runtime "$folder" "$compiler"
    # The two builds are what they say: only the default one uses the shared
    # C++ runtime.
    if [ "$mode" = win32 ]; then
      runtime=$(imports "$folder/cpp_host$exe" | grep -E '^libstdc\+\+|^libgcc_s' | tr '\n' ' ' || true)
      if [ -z "$flags" ] && [ -z "$runtime" ]; then fail "$name: the host does not use the shared runtime"; fi
      if [ -n "$flags" ] && [ -n "$runtime" ]; then fail "$name: the host imports $runtime"; fi
    fi
    output=$(cd "$folder" && run "./cpp_host$exe" 2> stderr.txt | tr -d '\r') && result=0 || result=$?
    if [ $result -ne 0 ] || [ "$(printf '%s\n' "$output" | tail -n 1)" != "host ok" ]; then
      fail "$name: the C++ host ended with $result"
      printf '%s\n' "$output" | sed 's/^/  /'
      sed 's/^/  stderr: /' "$folder/stderr.txt"
      continue
    fi
    gzip -dc "$folder/plain.txt.gz" | cmp -s - "$scratch/plain.txt" ||
      fail "$name: plain.txt.gz does not expand to plain.txt"
    cmp -s "$folder/round.txt" "$scratch/plain.txt" || fail "$name: round.txt differs from plain.txt"
    echo "ok: $name"
  done
done

# A C host needs nothing beside itself but the library.
folder=$(new_folder c)
# shellcheck disable=SC2086
if "$c_compiler" $host_flags -Wall -Werror -I"$include_dir" "$sources/c_host.c" "$import_library" \
     -o "$folder/c_host$exe"; then
  expected="key $(md5sum < "$scratch/plain.txt" | cut -d' ' -f1)"
  output=$(cd "$folder" && run "./c_host$exe" 2>&1 | tr -d '\r') || true
  if grep -qx "$expected" <<< "$output"; then
    echo "ok: C host beside: $(cd "$folder" && ls | grep -v -e '^c_host' -e '^plain' -e '^truncated' | tr '\n' ' ')"
  else
    fail "C host: expected '$expected'"
    printf '%s\n' "$output" | sed 's/^/  /'
  fi
else
  fail "the C host does not build"
fi
exit $status
