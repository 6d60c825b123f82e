#!/usr/bin/env bash
# filedist update over HTTP on the loopback address, side by side with curl in
# the same run:
#  1. 2,000 files of 4 KiB from a server that answers each request after
#     20 ms (tests/servers/fault_server.py, /delay/): filedist update with
#     its default 8 jobs, against curl --parallel --parallel-max 8 fetching the
#     same files, and against filedist update --jobs 1.
#  2. One file of 512 MiB from nginx: filedist update against curl -o.
# filedist does more than curl: it decodes each gzip file, checks its key,
# places it, flushes it to the disk and records it; curl only stores the
# bytes. For the large file, curl | gzip -dc with a sync does the same work,
# and md5sum of the file alone shows what keying its bytes costs.
#
#   FILEDIST=out/native/filedist bash bench/update_http_bench.sh
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
servers=$here/../tests/servers
filedist=$(realpath "${FILEDIST:-out/native/filedist}")
dir=${BENCH_DIR:-/tmp/filedist-bench/http}
files=${FILES:-2000}
big_mib=${BIG_MIB:-512}
rm -rf "$dir"
mkdir -p "$dir/small" "$dir/big" "$dir/packer" "$dir/faults" "$dir/nginx"
cleanup() {
  sh "$servers/test_server.sh" stop "$dir/faults"
  sh "$servers/test_server.sh" stop "$dir/nginx"
}
trap cleanup EXIT

python3 - "$dir/small" "$files" <<'PY'
import os, sys
root, count = sys.argv[1], int(sys.argv[2])
for i in range(count):
    sub = os.path.join(root, "dir%02d" % (i % 40))
    os.makedirs(sub, exist_ok=True)
    with open(os.path.join(sub, "file%05d.dat" % i), "wb") as f:
        f.write(os.urandom(4096))
PY
head -c $((big_mib * 1024 * 1024)) /dev/urandom > "$dir/big/big.bin"

cp "$filedist" "$dir/packer/filedist"
"$dir/packer/filedist" build "$dir/small" --releases "$dir/rel-small" > "$dir/build-small.out"
small=$(basename "$(tail -n 1 "$dir/build-small.out")")
"$dir/packer/filedist" build "$dir/big" --releases "$dir/rel-big" > "$dir/build-big.out"
big=$(basename "$(tail -n 1 "$dir/build-big.out")")

sh "$servers/test_server.sh" faults "$dir/faults" "$dir"
sh "$servers/test_server.sh" nginx "$dir/nginx" "$dir"
faults=$(awk '/^http /{print $2}' "$dir/faults/ports")
nginx=$(awk '/^http /{print $2}' "$dir/nginx/ports")

seconds() {  # COMMAND...: runs it, prints its wall time in seconds
  local start end
  start=$(date +%s.%N)
  "$@" > /dev/null
  end=$(date +%s.%N)
  python3 -c "print('%.3f' % ($end - $start))"
}
update() {  # NAME URL [OPTIONS]: a first install into a new client
  rm -rf "$dir/client-$1"
  mkdir -p "$dir/client-$1"
  cp "$filedist" "$dir/client-$1/filedist"
  local name=$1 url=$2
  shift 2
  "$dir/client-$name/filedist" update "$url" --quiet "$@"
}
curl_all() {  # the release's files, as filedist fetches them
  rm -rf "$dir/curl-out"
  mkdir -p "$dir/curl-out"
  (cd "$dir/rel-small/$small" && find . -type f -name '*.dat' | sed 's|^\./||') |
    awk -v base="http://127.0.0.1:$faults/delay/rel-small/$small" -v out="$dir/curl-out" \
      '{ name = $0; gsub("/", "_", name); print "url = \"" base "/" $0 "\"\noutput = \"" out "/" name "\"" }' \
      > "$dir/curl.cfg"
  curl -s --no-progress-meter --fail --parallel --parallel-max 8 -K "$dir/curl.cfg" 2> /dev/null
}

small_url=http://127.0.0.1:$faults/delay/rel-small/$small
t_jobs8=$(seconds update jobs8 "$small_url")
t_curl=$(seconds curl_all)
t_jobs1=$(seconds update jobs1 "$small_url" --jobs 1)
echo "$files files of 4 KiB, 20 ms a request:"
echo "  filedist update (8 jobs)      $t_jobs8 s"
echo "  curl --parallel-max 8         $t_curl s"
echo "  filedist update --jobs 1      $t_jobs1 s"
python3 -c "print('  ratio filedist / curl = %.2f (target <= 1.3)' % ($t_jobs8 / $t_curl))"
python3 -c "print('  speed-up 8 jobs / 1 job = %.1f (target >= 6)' % ($t_jobs1 / $t_jobs8))"

big_url=http://127.0.0.1:$nginx/rel-big/$big
gz=$(cd "$dir/rel-big/$big" && ls big.bin)
decode_sync() {  # the same work as filedist: fetch, decode, flush to the disk
  curl -s --fail "$big_url/$gz" | gzip -dc > "$dir/big-curl.bin" && sync "$dir/big-curl.bin"
}
# Several rounds, each taking every peer in turn, as the machine's load
# moves; the best of each is compared.
best() { python3 -c "import sys; print('%.3f' % min(float(x) for x in sys.argv[1:]))" "$@"; }
big_rounds=${BIG_ROUNDS:-3}
t_big_all=() t_curl_all=() t_decode_all=() t_key_all=()
for round in $(seq "$big_rounds"); do
  # Each starts with nothing of another's waiting for the disk: filedist
  # flushes the whole file system before it records what it installed.
  rm -rf "$dir/big-curl.gz" "$dir/big-curl.bin" "$dir/client-big"
  sync
  t_curl_all+=("$(seconds curl -s --fail -o "$dir/big-curl.gz" "$big_url/$gz")")
  sync
  t_big_all+=("$(seconds update big "$big_url")")
  sync
  t_decode_all+=("$(seconds decode_sync)")
  # What keying the file alone costs (it is in memory by now): filedist
  # keys every byte it installs, and no order of the work makes it faster
  # than that.
  t_key_all+=("$(seconds md5sum "$dir/big/big.bin")")
done
t_big=$(best "${t_big_all[@]}")
t_curl_big=$(best "${t_curl_all[@]}")
t_decode_big=$(best "${t_decode_all[@]}")
t_key_big=$(best "${t_key_all[@]}")
echo "one file of $big_mib MiB from nginx (best of $big_rounds rounds; random bytes, so the"
echo "gzip file curl fetches is as large as the file filedist installs):"
for round in $(seq 0 $((big_rounds - 1))); do
  echo "  round $((round + 1)): curl -o ${t_curl_all[$round]} s, filedist update ${t_big_all[$round]} s," \
       "curl | gzip -dc, sync ${t_decode_all[$round]} s, md5sum ${t_key_all[$round]} s"
done
echo "  filedist update               $t_big s"
echo "  curl -o                       $t_curl_big s"
python3 -c "print('  speed filedist / curl = %.2f (target >= 0.8)' % ($t_curl_big / $t_big))"
echo "  curl | gzip -dc > file && sync $t_decode_big s"
python3 -c "print('  speed filedist / (curl | gzip -dc, sync) = %.2f' % ($t_decode_big / $t_big))"
echo "  md5sum of the file alone      $t_key_big s"
python3 -c "print('  speed md5sum / curl = %.2f' % ($t_curl_big / $t_key_big))"
