#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer + UndefinedBehaviorSanitizer)
# in build-fuzz, replays each seed corpus of tests/fuzz/corpus, then fuzzes each
# target for a fixed time. What a run finds is kept in build-fuzz/findings/; a case
# worth keeping is fixed and then copied into the target's corpus.
#
#   scripts/fuzz.sh [seconds per target, default 30] [target...]
#   scripts/fuzz.sh 3600 job        # a longer run of one target
#
# Targets: profile_text command_line modem_text receive_path job.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
seconds=${1:-30}
shift || true
targets=("$@")
if ((${#targets[@]} == 0)); then
  targets=(profile_text command_line modem_text receive_path job)
fi

build=build-fuzz
cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVAL_BUILD_FUZZ=ON -DKORVAL_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target "${targets[@]/#/fuzz_}"

export ASAN_OPTIONS=detect_leaks=1:halt_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
mkdir -p "$build/findings"
failed=()
for t in "${targets[@]}"; do
  seeds=tests/fuzz/corpus/$t
  grown=$build/corpus/$t  # what the fuzzer adds stays out of the repository
  mkdir -p "$grown"
  echo "=== $t: replaying $(find "$seeds" -type f | wc -l) seeds"
  if ! "$build/fuzz_$t" -runs=0 "$seeds" 2>"$build/findings/$t.replay.log"; then
    tail -40 "$build/findings/$t.replay.log"
    failed+=("$t (replay)")
    continue
  fi
  echo "=== $t: fuzzing for ${seconds}s"
  if ! "$build/fuzz_$t" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=4096 \
      -artifact_prefix="$build/findings/$t-" -print_final_stats=1 \
      "$grown" "$seeds" 2>"$build/findings/$t.log"; then
    tail -40 "$build/findings/$t.log"
    failed+=("$t")
    continue
  fi
  grep -E '^stat::number_of_executed_units|^stat::new_units_added' "$build/findings/$t.log" |
    tr '\n' ' '
  echo
done

if ((${#failed[@]} > 0)); then
  echo "fuzz: findings in ${failed[*]}; inputs in $build/findings/"
  exit 1
fi
echo "fuzz: ${#targets[@]} targets clean"
