#!/usr/bin/env bash
# Checks that C and C++ sources follow .clang-format: the files given, or
# every tracked .c, .cc and .h file of the tree. Prints each file that
# clang-format would change and how many of its lines, then the total; exits
# 1 when there is any, 0 when there is none, 2 when clang-format is missing.
# Nothing is rewritten.
#
#   scripts/check_format.sh [--diff] [FILE...]
#     --diff      show what would change, as a unified diff
#   CLANG_FORMAT  the clang-format to use (default: clang-format). Versions
#                 lay some constructs out differently; the figures in the
#                 docs are clang-format 14's.
set -euo pipefail
cd "$(dirname "$0")/.."
clang_format=${CLANG_FORMAT:-clang-format}
show_diff=false
if [[ ${1:-} == --diff ]]; then
  show_diff=true
  shift
fi
if ! command -v "$clang_format" > /dev/null; then
  echo "check_format: $clang_format not found" >&2
  exit 2
fi

files=("$@")
if [[ ${#files[@]} -eq 0 ]]; then
  mapfile -t files < <(git ls-files '*.c' '*.cc' '*.h')
fi

total=0
changed_files=0
for file in "${files[@]}"; do
  case $file in
    *.c | *.cc | *.h) ;;
    *) continue ;;
  esac
  if [[ ! -f $file ]]; then
    echo "check_format: $file: no such file" >&2
    exit 2
  fi
  # The x keeps the file's last line ends, which $(...) would drop.
  formatted=$("$clang_format" --style=file --assume-filename="$file" < "$file"; echo x)
  formatted=${formatted%x}
  lines=$(diff <(printf '%s' "$formatted") "$file" | grep -c '^>' || true)
  if [[ $lines -gt 0 ]]; then
    echo "$file: $lines lines"
    if $show_diff; then
      diff -u --label "$file" --label "$file (formatted)" "$file" <(printf '%s' "$formatted") || true
    fi
    total=$((total + lines))
    changed_files=$((changed_files + 1))
  fi
done
echo "${#files[@]} files checked: $changed_files to format, $total lines would change"
[[ $total -eq 0 ]]
