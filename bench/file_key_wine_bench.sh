#!/usr/bin/env bash
# GetFileKey of the 32-bit Windows build, run under Wine, against the native
# md5sum on one 256 MiB file from the page cache: best of 5 runs each, the
# two alternating. The program times its own key (--key), so that Wine's
# start-up stays outside the figure; md5sum's time includes its start-up, as
# in the native benchmark.
#
#   BENCH_EXE=out/win32/file_key_bench.exe bash bench/file_key_wine_bench.sh
set -euo pipefail
exe=${BENCH_EXE:-out/win32/file_key_bench.exe}
dir=${BENCH_DIR:-/tmp/filedist-bench/wine}
runs=${RUNS:-5}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$dir"
data=$dir/filedist-key-bench.bin
trap 'rm -f "$data"' EXIT
head -c $((256 << 20)) /dev/urandom > "$data"
cat "$data" > /dev/null
windows_path=$(winepath -w "$data" 2> /dev/null)
expected=$(md5sum < "$data" | cut -d' ' -f1)

# The first start of Wine sets up its prefix and is slow: not a run.
wine "$exe" --key "$windows_path" > /dev/null 2>&1 || true

ours=() theirs=() hashes=()
for ((run = 0; run < runs; run++)); do
  said=$(wine "$exe" --key "$windows_path" 2>&1 > /dev/null | tr -d '\r')
  # "GetFileKey <seconds> s <key>", then "MD5 in memory <seconds> s"
  read -r _ seconds _ key <<< "$(head -n 1 <<< "$said")"
  read -r _ _ _ memory _ <<< "$(sed -n 2p <<< "$said")"
  hashes+=("$memory")
  if [[ "$key" != "$expected" ]]; then
    echo "the Windows build keyed the file as '$key', md5sum as $expected" >&2
    exit 1
  fi
  ours+=("$seconds")
  start=$(date +%s%N)
  md5sum "$data" > /dev/null
  end=$(date +%s%N)
  theirs+=("$(awk -v ns=$((end - start)) 'BEGIN { printf "%.4f", ns / 1e9 }')")
done

awk -v ours="${ours[*]}" -v theirs="${theirs[*]}" -v hashes="${hashes[*]}" 'BEGIN {
  n = split(ours, o, " "); split(theirs, t, " "); split(hashes, h, " ")
  bo = o[1]; bt = t[1]; bh = h[1]
  for (i = 2; i <= n; i++) {
    if (o[i] < bo) bo = o[i]; if (t[i] < bt) bt = t[i]; if (h[i] < bh) bh = h[i]
  }
  mb = 256 * 1048576 / 1e6
  printf "256 MiB from the page cache, best of %d runs each, alternating\n", n
  printf "GetFileKey (32-bit Windows build under Wine)  %7.1f MB/s\n", mb / bo
  printf "md5sum (native)                               %7.1f MB/s\n", mb / bt
  printf "ratio win32  %7.3f (target >= 1.25)\n", bt / bo
  printf "MD5 alone on 256 MiB in memory (32-bit build) %7.1f MB/s, %.3f of md5sum'"'"'s speed\n", mb / bh, bt / bh
}'
