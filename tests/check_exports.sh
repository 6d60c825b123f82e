#!/usr/bin/env bash
# Checks the shared library's binary interface: its export table is exactly
# the list in expected_exports.txt; on Linux the library carries the
# versioned SONAME libcommon.so.1, on Windows it needs no runtime DLLs of its
# own.
# check_exports.sh win32|posix LIBRARY EXPECTED_EXPORTS
set -euo pipefail
mode=$1
library=$2
expected_file=$3
status=0

if [ "$mode" = win32 ]; then
  dump=$(i686-w64-mingw32-objdump -p "$library")
  exports=$(printf '%s\n' "$dump" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
            sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*//p')
  imports=$(printf '%s\n' "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z')
  for dll in $imports; do
    case "$dll" in
      kernel32.dll|msvcrt.dll|user32.dll|advapi32.dll|ole32.dll|oleaut32.dll|shlwapi.dll|shell32.dll|ws2_32.dll) ;;
      *) echo "common.dll imports a non-system DLL: $dll"; status=1 ;;
    esac
  done
else
  exports=$(nm -D --defined-only "$library" | awk '{print $3}')
  # A program linked against the library records this name and runs against
  # any libcommon.so.1.y; a bare libcommon.so would tie it to no ABI version.
  soname=$(objdump -p "$library" | awk '$1 == "SONAME" {print $2}')
  if [ "$soname" != libcommon.so.1 ]; then
    echo "SONAME is '${soname:-(none)}', expected libcommon.so.1"
    status=1
  fi
fi

expected=$(awk -v mode="$mode" '!/^#/ && NF && (NF == 1 || $2 == mode) {print $1}' "$expected_file" |
           LC_ALL=C sort)
actual=$(printf '%s\n' "$exports" | grep -v '^$' | LC_ALL=C sort)
missing=$(LC_ALL=C comm -23 <(printf '%s\n' "$expected") <(printf '%s\n' "$actual"))
extra=$(LC_ALL=C comm -13 <(printf '%s\n' "$expected") <(printf '%s\n' "$actual"))
if [ -n "$missing" ]; then
  echo "missing exports:"; printf '%s\n' "$missing" | sed 's/^/  /'
  status=1
fi
if [ -n "$extra" ]; then
  echo "unexpected exports:"
  printf '%s\n' "$extra" | while read -r name; do
    printf '  %s  %s\n' "$name" "$(c++filt <<< "$name")"
  done
  status=1
fi
[ $status -eq 0 ] && echo "export table: $(printf '%s\n' "$actual" | wc -l) names, as expected"
exit $status
