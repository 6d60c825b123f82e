#!/usr/bin/env bash
# Checks the shared library's export table: the thirteen C functions under their
# plain names, and on Windows that the DLL needs no runtime DLLs of its own.
set -euo pipefail
mode=$1
library=$2
functions="BuildVer LoadVersionInfo GenerateUpdateList FreeUpdateList FreeVersionInfo
UpdateClientVersionInfo MakeClientFile GetFileKey MakeDirTree SetLogLevel AddPort2FW AddProc2FW
VerifyReleaseManifest"

if [ "$mode" = win32 ]; then
  dump=$(i686-w64-mingw32-objdump -p "$library")
  exports=$(printf '%s\n' "$dump" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
            sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*//p')
  imports=$(printf '%s\n' "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z')
  status=0
  for dll in $imports; do
    case "$dll" in
      # ws2_32: libgpg-error, linked in with libgcrypt, names Winsock.
      kernel32.dll|msvcrt.dll|user32.dll|advapi32.dll|ole32.dll|oleaut32.dll|shlwapi.dll|shell32.dll|ws2_32.dll) ;;
      *) echo "common.dll imports a non-system DLL: $dll"; status=1 ;;
    esac
  done
else
  exports=$(nm -D --defined-only "$library" | awk '{print $3}')
  status=0
fi

for name in $functions; do
  # A here-string, not a pipe: grep -q stops at the first match, and under
  # pipefail the writer's SIGPIPE would then report the name as missing.
  if ! grep -qx "$name" <<< "$exports"; then
    echo "missing export: $name"
    status=1
  fi
done
# Every other export is a C++ class member (a mangled name); no internal C
# function may leak out.
extra=$(printf '%s\n' "$exports" | grep -v '^_Z' | grep -vx -F "$(printf '%s\n' $functions)" |
        grep -v '^$' || true)
if [ -n "$extra" ]; then
  echo "unexpected exports:"; printf '%s\n' "$extra"
  status=1
fi
[ $status -eq 0 ] && echo "export table: $(printf '%s\n' $functions | wc -l) functions, as expected"
exit $status
