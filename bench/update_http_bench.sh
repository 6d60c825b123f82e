#!/usr/bin/env bash
# filedist update over HTTP on the loopback address, side by side with curl in
# the same run:
#  1. 2,000 files of 4 KiB from a server that answers each request after
#     20 ms (tests/servers/fault_server.py, /delay/): filedist update with
#     its default 8 jobs, against curl --parallel --parallel-max 8 fetching the
#     same files, and against filedist update --jobs 1.
#  2. One file of 512 MiB of real program data (the machine's ELF files under
#     /usr/bin and /usr/lib, in name order, as many as it takes) from nginx,
#     in a signed release as users install them: filedist update against
#     curl -o, against the shell pipeline that does its work
#     (curl | gzip -d | tee FILE | md5sum), and against decoding the .gz alone
#     with the engine's fastest decoder (fast_gunzip_bench, its decode time).
# filedist does more than curl: it decodes each gzip file, keys it (MD5, and
# SHA-256 against the signed Manifest), places it, flushes it to the disk and
# records it; curl only stores the bytes.
#
#   FILEDIST=out/native/filedist GUNZIP_BENCH=out/native/fast_gunzip_bench \
#     bash bench/update_http_bench.sh
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
servers=$here/../tests/servers
filedist=$(realpath "${FILEDIST:-out/native/filedist}")
gunzip_bench=$(realpath "${GUNZIP_BENCH:-out/native/fast_gunzip_bench}")
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
# Program data compresses as installs do (about 2.6:1 with gzip -6), where
# random bytes would not compress at all.
python3 - "$dir/big/big.bin" $((big_mib * 1024 * 1024)) <<'PY'
import os, sys
out, left = sys.argv[1], int(sys.argv[2])
paths = []
for top in ("/usr/bin", "/usr/lib"):
    for folder, subs, names in os.walk(top):
        subs.sort()
        paths += [os.path.join(folder, name) for name in sorted(names)]
with open(out, "wb") as o:
    while left > 0:
        before = left
        for path in paths:
            if left == 0:
                break
            try:
                if os.path.islink(path) or not os.path.isfile(path):
                    continue
                with open(path, "rb") as f:
                    if f.read(4) != b"\x7fELF":
                        continue
                    f.seek(0)
                    data = f.read(left)
            except OSError:
                continue
            o.write(data)
            left -= len(data)
        if left == before:
            sys.exit("no ELF files to make the big file of")
PY

cp "$filedist" "$dir/packer/filedist"
if [ "$files" -gt 0 ]; then
  "$dir/packer/filedist" build "$dir/small" --releases "$dir/rel-small" > "$dir/build-small.out"
  small=$(basename "$(tail -n 1 "$dir/build-small.out")")
fi
(cd "$dir/packer" && ./filedist keygen release > /dev/null)
"$dir/packer/filedist" build "$dir/big" --releases "$dir/rel-big" --sign "$dir/packer/release.key" \
  > "$dir/build-big.out"
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
# PID: the processor time (user and system, in seconds) of the commands
# that shell ran and waited for so far, its subshells' included.
processor() { awk -v tick="$(getconf CLK_TCK)" '{ printf "%.2f", ($16 + $17) / tick }' "/proc/$1/stat"; }
timed() {  # COMMAND...: runs it, prints its wall time and processor time in seconds
  local me=$BASHPID before wall
  before=$(processor "$me")
  wall=$(seconds "$@")
  echo "$wall $(python3 -c "print('%.2f' % ($(processor "$me") - $before))")"
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

if [ "$files" -gt 0 ]; then  # FILES=0 measures the large file alone
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
fi

big_url=http://127.0.0.1:$nginx/rel-big/$big
gz=$(cd "$dir/rel-big/$big" && ls big.bin)
gz_size=$(stat -c %s "$dir/rel-big/$big/$gz")
gzip6_size=$(gzip -6 -c "$dir/big/big.bin" | wc -c)
signed_update() {  # a first install of the signed release, trusting its key
  rm -rf "$dir/client-big"
  mkdir -p "$dir/client-big"
  cp "$filedist" "$dir/client-big/filedist"
  cp "$dir/packer/release.pub" "$dir/client-big/filedist.pub"
  "$dir/client-big/filedist" update "$big_url" --quiet
}
pipeline() {  # the same work by the shell: fetch, decode, write, key
  curl -s --fail "$big_url/$gz" | gzip -d | tee "$dir/big-curl.bin" | md5sum
}
decode_alone() {  # the engine's fastest decoder, decode time only
  "$gunzip_bench" "$dir/rel-big/$big/$gz" |
    awk '/ decoder /{ if (best == "" || $3 < best) best = $3 } END { print best }'
}
# Several rounds, each taking every peer in turn, as the machine's load
# moves; the best of each is compared.
best() { python3 -c "import sys; print('%.3f' % min(float(x) for x in sys.argv[1:]))" "$@"; }
big_rounds=${BIG_ROUNDS:-3}
t_big_all=() t_curl_all=() t_pipe_all=() t_decode_all=() loads=() cpu_big=() cpu_pipe=()
for round in $(seq "$big_rounds"); do
  loads+=("$(cut -d' ' -f1-3 /proc/loadavg)")
  rm -rf "$dir/big-curl.gz" "$dir/big-curl.bin" "$dir/client-big"
  sync
  t_curl_all+=("$(seconds curl -s --fail -o "$dir/big-curl.gz" "$big_url/$gz")")
  sync
  read -r wall cpu < <(timed signed_update)
  t_big_all+=("$wall") cpu_big+=("$cpu")
  cmp -s "$dir/client-big/big.bin" "$dir/big/big.bin" || { echo "the installed file differs" >&2; exit 1; }
  sync
  read -r wall cpu < <(timed pipeline)
  t_pipe_all+=("$wall") cpu_pipe+=("$cpu")
  t_decode_all+=("$(decode_alone)")
done
t_big=$(best "${t_big_all[@]}")
t_curl_big=$(best "${t_curl_all[@]}")
t_pipe_big=$(best "${t_pipe_all[@]}")
t_decode_big=$(best "${t_decode_all[@]}")
echo "one file of $big_mib MiB of program data from nginx, signed release (best of $big_rounds rounds;"
echo "the release's .gz is $gz_size bytes, gzip -6 makes $gzip6_size):"
for round in $(seq 0 $((big_rounds - 1))); do
  echo "  round $((round + 1)) (load ${loads[$round]}): curl -o ${t_curl_all[$round]} s," \
       "filedist update ${t_big_all[$round]} s (processor ${cpu_big[$round]} s)," \
       "curl | gzip -d | tee | md5sum ${t_pipe_all[$round]} s (processor ${cpu_pipe[$round]} s)," \
       "fast decode alone ${t_decode_all[$round]} s"
done
echo "  after the rounds: $(uptime | sed 's/^ *//')"
echo "  filedist update               $t_big s"
echo "  curl -o                       $t_curl_big s"
python3 -c "print('  speed filedist / curl = %.2f (curl stores the .gz only)' % ($t_curl_big / $t_big))"
echo "  curl | gzip -d | tee | md5sum $t_pipe_big s"
python3 -c "print('  time filedist / (curl | gzip -d | tee | md5sum) = %.2f (target <= 0.5)' % ($t_big / $t_pipe_big))"
echo "  fast decode alone             $t_decode_big s"
python3 -c "print('  time filedist / fast decode alone = %.2f (target <= 1.5)' % ($t_big / $t_decode_big))"
