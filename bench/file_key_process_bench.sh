#!/usr/bin/env bash
# The file key as a whole process, `filedist key FILE`, against `md5sum FILE`
# on one 256 MiB file from the page cache: processor time (user + system, as
# perf stat counts it, or as bash's times do without perf) of each, the two
# alternating, over RUNS runs; the figure is the median of the per-run
# ratios, so that a busy machine moves both sides of a ratio alike. What the
# in-process benchmark leaves out shows here: the program's start and the
# system time of its reads.
#
#   FILEDIST=out/native/filedist bash bench/file_key_process_bench.sh
set -euo pipefail
filedist=${FILEDIST:-out/native/filedist}
dir=${BENCH_DIR:-/tmp/filedist-bench/key-process}
runs=${RUNS:-9}
mkdir -p "$dir"
data=$dir/filedist-key-process.bin
trap 'rm -f "$data"' EXIT
head -c $((256 << 20)) /dev/urandom > "$data"
cat "$data" > /dev/null

# Processor seconds of one run of the command, user and system.
cpu_seconds() {
  if command -v perf > /dev/null && perf stat -x, -e task-clock true > /dev/null 2>&1; then
    perf stat -x, -e user_time,system_time "$@" 2>&1 > /dev/null |
      awk -F, '/user_time|system_time/ {ns += $1} END {printf "%.4f\n", ns / 1e9}'
  else
    # Children's user and system time, before and after.
    local before after
    before=$( (times) | tail -n 1)
    "$@" > /dev/null
    after=$( (times) | tail -n 1)
    python3 - "$before" "$after" <<'PY'
import re, sys
def s(t):
    return sum(float(m) * 60 + float(x) for m, x in re.findall(r"(\d+)m([\d.]+)s", t))
print("%.4f" % (s(sys.argv[2]) - s(sys.argv[1])))
PY
  fi
}

expected=$(md5sum < "$data" | cut -d' ' -f1)
got=$("$filedist" key "$data" | tr -d '\r')
[[ "$got" == *"$expected"* ]] || { echo "filedist key gave '$got', md5sum $expected" >&2; exit 1; }

ratios=()
for ((run = 0; run < runs; run++)); do
  ours=$(cpu_seconds "$filedist" key "$data")
  theirs=$(cpu_seconds md5sum "$data")
  ratios+=("$(python3 -c "print('%.3f' % ($ours / $theirs))")")
  echo "run $run: filedist key ${ours} s, md5sum ${theirs} s (user + system)"
done
median=$(printf '%s\n' "${ratios[@]}" | sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}')
echo "process time ratio filedist key / md5sum $median (median of $runs runs; target <= 0.9)"
