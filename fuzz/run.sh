#!/usr/bin/env bash
# Builds the fuzz preset, makes the seed corpora and runs every fuzz target
# for SECONDS seconds (default 60), one after the other. Fails when a target
# reports a crash, a leak, a hang, an invariant broken or any sanitizer
# report; the input that did it is left in out/fuzz/artifacts/.
#
# usage: fuzz/run.sh [SECONDS] [ENTRY...]
#   ENTRY: version_list filters_ini unzip client_file zip_round_trip fast_deflate
#          fast_inflate stream_inflate manifest release_check patch_apply suffix_array
#          (default all)
#   FUZZ_PREPARED=1 skips the build and the seeds (for runs side by side).
#   FUZZ_FLAGS adds libFuzzer flags.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
entries=("$@")
if [ ${#entries[@]} -eq 0 ]; then
  entries=(version_list filters_ini unzip client_file zip_round_trip fast_deflate fast_inflate stream_inflate
           manifest release_check patch_apply suffix_array)
fi
out=out/fuzz

if [ "${FUZZ_PREPARED:-0}" != 1 ]; then
  cmake --preset fuzz > /dev/null
  cmake --build --preset fuzz -j "$(nproc)" --target fuzzers filedist > "$out-build.log" 2>&1 ||
    { tail -n 40 "$out-build.log"; exit 1; }
  bash fuzz/make_seeds.sh "$out/filedist"
fi

# Inputs larger than the engine's 32 KiB buffers and window, so that refills,
# window flushes and the compressor's window slide are reached.
max_len() {
  case "$1" in
    version_list | filters_ini | manifest) echo 8192 ;;
    unzip | client_file | fast_inflate | stream_inflate) echo 70000 ;;
    zip_round_trip | fast_deflate) echo 140000 ;;
    # A patch's streams are cut into blocks of 1 MiB; inputs stay small so
    # that a run tries many of them.
    patch_apply) echo 70000 ;;
    suffix_array) echo 8192 ;;
    # Past the 64 KiB at which signing once failed inside libgcrypt.
    release_check) echo 200000 ;;
  esac
}

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
failed=0
mkdir -p "$out/artifacts" "$out/logs"
for entry in "${entries[@]}"; do
  corpus=$out/corpus/$entry
  log=$out/logs/$entry.log
  mkdir -p "$corpus"
  status=0
  # The library prints file keys and the engine its messages: -close_fd_mask
  # keeps them out of the loop; sanitizer reports still reach the log.
  # shellcheck disable=SC2086
  "$out/${entry}_fuzz" -max_total_time="$seconds" -timeout=25 -max_len="$(max_len "$entry")" \
    -close_fd_mask=3 -print_final_stats=1 -artifact_prefix="$out/artifacts/$entry-" \
    ${FUZZ_FLAGS:-} "$corpus" "$out/seeds/$entry" > "$log" 2>&1 || status=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  if [ "$status" -ne 0 ] || grep -qE 'ERROR: [A-Za-z]+Sanitizer|runtime error:|invariant broken' "$log"; then
    echo "$entry: FAILED (exit $status) after ${execs:-?} runs; see $log"
    grep -E -A 30 'ERROR: |runtime error:|invariant broken|deadly signal|Test unit written' "$log" | head -n 60
    failed=1
  else
    echo "$entry: ok, ${execs:-?} runs in ${seconds}s, corpus $(find "$corpus" -type f | wc -l) files"
  fi
done
exit "$failed"
