#!/usr/bin/env bash
# Builds and runs every test suite: native, ThreadSanitizer,
# AddressSanitizer + UndefinedBehaviorSanitizer, and the Windows build under
# Wine. Each suite is counted; the last line is "N passed, N failed".
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
root=$PWD
jobs=2

# CI stops a run at 90 minutes: stay inside this many seconds so the summary
# is still printed when something hangs.
budget=${KORVAL_TEST_BUDGET:-4800}

log() { printf '\n=== %s\n' "$*"; }

# Runs a step under the smaller of its own limit and what is left of the budget.
step() {
  local limit=$1 name=$2
  shift 2
  local left=$((budget - SECONDS))
  if ((left < limit)); then limit=$left; fi
  if ((limit <= 0)); then
    echo "test.sh: time budget spent, not running: $name" >&2
    return 124
  fi
  log "$name (limit ${limit}s)"
  local t0=$SECONDS rc=0
  timeout --kill-after=30 "$limit" "$@" </dev/null || rc=$?
  if ((rc == 124 || rc == 137)); then
    echo "test.sh: $name timed out after ${limit}s" >&2
  fi
  echo "--- $name: exit $rc, $((SECONDS - t0))s"
  return "$rc"
}

# --timeout only catches hangs; --no-tests=error catches a suite that lost its tests.
ctest_args=(--output-on-failure --no-tests=error -j"$jobs" --timeout 600)

suite_native() {
  step 300 "native: configure" cmake --preset default || return 1
  step 1800 "native: build" cmake --build --preset default -j"$jobs" || return 1
  step 1800 "native: ctest" ctest --test-dir build "${ctest_args[@]}" || return 1
}

# The .deb made from the native build, installed into a fresh root and run.
suite_package() {
  step 300 "package: configure" cmake --preset default || return 1
  step 1800 "package: build" \
    cmake --build --preset default -j"$jobs" --target korvalcom korval-netemu || return 1
  step 600 "package: make, install and run the .deb" bash scripts/test-package.sh build || return 1
}

suite_tsan() {
  step 300 "tsan: configure" cmake --preset tsan || return 1
  step 1800 "tsan: build" cmake --build --preset tsan -j"$jobs" || return 1
  # GCC 12's TSan cannot map its shadow memory under high ASLR entropy.
  local norand=()
  if (($(cat /proc/sys/vm/mmap_rnd_bits 2>/dev/null || echo 0) > 28)); then
    norand=(setarch "$(uname -m)" -R)
  fi
  step 1800 "tsan: ctest" "${norand[@]}" \
    env TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    ctest --test-dir build-tsan "${ctest_args[@]}" || return 1
}

suite_asan() {
  step 300 "asan: configure" cmake --preset asan || return 1
  step 1800 "asan: build" cmake --build --preset asan -j"$jobs" || return 1
  step 1800 "asan: ctest" \
    env ASAN_OPTIONS=detect_leaks=1:halt_on_error=1 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-asan "${ctest_args[@]}" || return 1
}

suite_wine() {
  step 300 "wine: configure" cmake --preset mingw || return 1
  step 1800 "wine: build korval_tests" \
    cmake --build --preset mingw -j"$jobs" --target korval_tests || return 1

  # A fresh prefix each run; no display, no Mono or Gecko install dialogs.
  # wineboot's syswow64 warning is harmless: there is no 32-bit Wine here.
  (
    export WINEPREFIX=$root/build-mingw/wineprefix WINEARCH=win64
    export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    unset DISPLAY WAYLAND_DISPLAY
    trap 'wineserver -k 2>/dev/null || true' EXIT
    rm -rf "$WINEPREFIX"
    step 300 "wine: create prefix" wineboot -i || exit 1
    step 120 "wine: wait for wineserver" wineserver -w || exit 1
    step 1800 "wine: korval_tests.exe" wine "$root/build-mingw/korval_tests.exe" || exit 1
  ) || return 1
}

suites=(native package tsan asan wine)
declare -A status seconds
passed=0
failed=0

deps_ok=1
step 1800 "install dependencies" bash scripts/install-deps.sh || deps_ok=0

for s in "${suites[@]}"; do
  t0=$SECONDS
  if ((deps_ok)) && "suite_$s"; then
    status[$s]=passed
    passed=$((passed + 1))
  else
    status[$s]=failed
    failed=$((failed + 1))
  fi
  seconds[$s]=$((SECONDS - t0))
done

log "summary (${SECONDS}s in all)"
if ((!deps_ok)); then
  echo "install-deps.sh failed: no suite was run"
fi
for s in "${suites[@]}"; do
  printf '  %-7s %-7s %5ss\n' "$s" "${status[$s]}" "${seconds[$s]}"
done
echo "$passed passed, $failed failed"
((failed == 0))
