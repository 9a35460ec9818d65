#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer and UndefinedBehaviorSanitizer) in
# build-fuzz and runs each for SECONDS_PER_TARGET seconds (default 15).
#
#   scripts/fuzz.sh [SECONDS_PER_TARGET]
#
# Seeds come from fuzz/corpus/<target>, which is only read; what the fuzzer finds goes to
# build-fuzz/scratch/<target>/. Exits non-zero on any finding and prints where the input is.
# FUZZ_PARALLEL=1 runs the three targets at once (for long runs on a machine with spare cores).
set -euo pipefail
cd "$(dirname "$0")/.."

SECONDS_PER_TARGET=${1:-15}
if ! [[ $SECONDS_PER_TARGET =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: $0 [SECONDS_PER_TARGET]" >&2
  exit 2
fi
JOBS=${JOBS:-2}

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZERVO_FUZZ=ON
cmake --build build-fuzz -j"$JOBS"

ROOT=$PWD
SCRATCH=$ROOT/build-fuzz/scratch
TARGETS=(fuzz_frames fuzz_zvdat fuzz_profile)

# Small quarantine and no fill of fresh blocks: the targets allocate many small strings per
# input, and the defaults spend most of the time faulting in new pages.
export ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=16:max_malloc_fill_size=0:malloc_context_size=10}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}

# The Sys.ini target rewrites its file on every input; keep that in memory when possible.
tmp_base=/dev/shm
[[ -d $tmp_base && -w $tmp_base ]] || tmp_base=$SCRATCH
mkdir -p "$SCRATCH"
FUZZ_TMP=$(mktemp -d "$tmp_base/zervo-fuzz.XXXXXX")
trap 'rm -rf "$FUZZ_TMP"' EXIT

target_options() {
  case $1 in
    fuzz_frames)  echo "-max_len=1024" ;;
    # One allocation above 1 MB for an input of at most 8 KB is a finding.
    fuzz_zvdat)   echo "-max_len=8192 -malloc_limit_mb=1 -rss_limit_mb=1024" ;;
    fuzz_profile) echo "-max_len=2048" ;;
  esac
}

run_target() {
  local t=$1 dir=$SCRATCH/$1
  mkdir -p "$dir/corpus" "$dir/crashes"
  local dict=()
  [[ -f fuzz/$t.dict ]] && dict=(-dict="$ROOT/fuzz/$t.dict")
  # shellcheck disable=SC2046
  TMPDIR=$FUZZ_TMP nice -n 10 "build-fuzz/bin/$t" \
    -max_total_time="$SECONDS_PER_TARGET" -timeout=25 -print_final_stats=1 \
    -artifact_prefix="$dir/crashes/" "${dict[@]}" $(target_options "$t") \
    "$dir/corpus" "$ROOT/fuzz/corpus/$t" >"$dir/fuzz.log" 2>&1
}

report() {
  local t=$1 rc=$2 dir=$SCRATCH/$1
  if ((rc == 0)); then
    echo "== $t: no finding ($(grep -E '^#[0-9]+[[:space:]]+DONE' "$dir/fuzz.log" | tail -1))"
    grep -E '^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' "$dir/fuzz.log" | sed 's/^/   /'
    return 0
  fi
  echo "== $t: FINDING (exit $rc); log: $dir/fuzz.log"
  grep -E 'ERROR|SUMMARY|runtime error|deadly signal' "$dir/fuzz.log" | head -5 | sed 's/^/   /'
  local f
  for f in "$dir"/crashes/*; do
    [[ -e $f ]] && echo "   input: $f  (reproduce: build-fuzz/bin/$t $f)"
  done
  return 1
}

failed=0
if [[ ${FUZZ_PARALLEL:-0} == 1 ]]; then
  declare -A pids
  for t in "${TARGETS[@]}"; do
    run_target "$t" &
    pids[$t]=$!
  done
  for t in "${TARGETS[@]}"; do
    rc=0
    wait "${pids[$t]}" || rc=$?
    report "$t" "$rc" || failed=1
  done
else
  for t in "${TARGETS[@]}"; do
    echo "-- fuzzing $t for $SECONDS_PER_TARGET s"
    rc=0
    run_target "$t" || rc=$?
    report "$t" "$rc" || failed=1
  done
fi
exit $failed
