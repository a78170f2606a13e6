#!/usr/bin/env bash
# Checks the sources' layout and runs clang-tidy (lint), then builds and runs
# every test suite: native, ThreadSanitizer,
# AddressSanitizer + UndefinedBehaviorSanitizer, the 64-bit and 32-bit Windows
# builds under Wine, and the fuzz targets (their corpora replayed, then a short
# fuzz). Each suite is counted; the last line is "N passed, N failed" (with
# ", N skipped" when a suite could not be run here).
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
root=$PWD
jobs=2

# CI stops a run at 90 minutes: stay inside this many seconds so the summary
# is still printed when something hangs.
budget=${KORVAL_TEST_BUDGET:-4800}

log() { printf '\n=== %s\n' "$*"; }
# shellcheck source=scripts/wine-rig.sh
source "$root/scripts/wine-rig.sh"

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

# The layout and clang-tidy checks (scripts/lint.sh), first because they take
# minutes where the builds take much longer. KORVAL_LINT_FORMAT=0 skips the layout.
suite_lint() {
  step 300 "lint: configure" cmake --preset default || return 1
  step 900 "lint: clang-format and clang-tidy" bash scripts/lint.sh || return 1
}

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

# The Windows programs under Wine, in a prefix, a display and serial ports of
# their own (scripts/wine-rig.sh). Runs in a subshell: its EXIT trap ends what it
# started.
# The whole exchanges run the Linux e2e cases (e2e_filter picks them) against
# korvalcom.exe, with the test-double tapi32.dll beside it and the native emulator.
windows_suite() {
  local name=$1 preset=$2 arch=$3 e2e_filter=$4
  local dir=$root/build-$preset
  step 300 "$name: configure" cmake --preset "$preset" || return 1
  step 1800 "$name: build" cmake --build --preset "$preset" -j"$jobs" \
    --target korval_tests korval_win32_tests korvalcom korval_win32_tools tapi32_double ||
    return 1
  # The ZIP as it ships, for the case that runs a statement from it.
  rm -rf "$dir/package"
  step 600 "$name: package" cpack --config "$dir/CPackConfig.cmake" -B "$dir/package" ||
    return 1
  local zip
  zip=$(ls "$dir"/package/*.zip 2>/dev/null | head -n1 || true)
  step 300 "$name: configure the native emulator and cases" cmake --preset default || return 1
  step 1800 "$name: build the native emulator and cases" cmake --build --preset default \
    -j"$jobs" --target korval_e2e_tests korval-netemu || return 1
  (
    export WINEPREFIX=$dir/wineprefix WINEARCH=$arch
    export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    local run=$dir/wine-run
    trap wine_rig_down EXIT
    trap 'exit 143' TERM INT
    local rig=0
    wine_rig_up "$run" "$name" || rig=$?
    if ((rig == 3)); then
      echo "test.sh: Wine cannot create a prefix on this machine: the $name suite is skipped" >&2
      exit "$skip_status"
    fi
    ((rig == 0)) || exit 1

    local failed=0
    step 1800 "$name: korval_tests.exe" wine "$dir/korval_tests.exe" || failed=1
    step 1800 "$name: korval_win32_tests.exe" wine "$dir/korval_win32_tests.exe" || failed=1
    step 2400 "$name: whole exchanges of korvalcom.exe" \
      env KORVAL_E2E_WINE_EXE="$dir/korvalcom.exe" \
      KORVAL_E2E_BOX_WATCHER="$dir/box_watcher.exe" KORVAL_E2E_WINE_PORTS="$run/ports" \
      KORVAL_E2E_WINE_ZIP="$zip" \
      KORVAL_E2E_SCREENSHOT="$dir/exchange_main_window.png" \
      WINEDLLOVERRIDES="tapi32=n,b;mscoree,mshtml=" \
      "$root/build/korval_e2e_tests" --gtest_filter="$e2e_filter" || failed=1
    exit "$failed"
  ) || return
}

# Replays each seed corpus and fuzzes each target briefly; scripts/fuzz.sh with a
# longer time per target is the deeper run.
suite_fuzz() {
  step 1500 "fuzz: build, replay, ${KORVAL_FUZZ_SECONDS:-20}s per target" \
    bash scripts/fuzz.sh "${KORVAL_FUZZ_SECONDS:-20}" || return 1
}

suite_wine64() { windows_suite wine64 mingw win64 '*'; }
# The 32-bit build is the one shipped for older systems: a statement and an L.C.R,
# and both under the strictest telephony provider.
suite_wine32() {
  # install-deps.sh leaves the 32-bit loader out when the mirror cannot give it.
  if ! dpkg -s wine32 2>/dev/null | grep -q '^Status: install ok installed$'; then
    echo "test.sh: wine32 is not installed (see install-deps.sh): the 32-bit suite is skipped" >&2
    return "$skip_status"
  fi
  windows_suite wine32 mingw32 win32 '*StatementE2e*:*SendFileE2e*Lcr*:*ProviderVariantE2e*Strict'
}

# KORVAL_TEST_SUITES="wine32" runs only the suites named.
read -r -a suites <<<"${KORVAL_TEST_SUITES:-lint native package tsan asan wine64 wine32 fuzz}"
for s in "${suites[@]}"; do
  if ! declare -F "suite_$s" >/dev/null; then
    echo "test.sh: no suite '$s'" >&2
    exit 2
  fi
done
declare -A status seconds
passed=0
failed=0
skipped=0
# A suite that returns this could not be run here, and says why.
skip_status=77

deps_ok=1
step 1800 "install dependencies" bash scripts/install-deps.sh || deps_ok=0

for s in "${suites[@]}"; do
  t0=$SECONDS
  rc=1
  if ((deps_ok)); then
    rc=0
    "suite_$s" || rc=$?
  fi
  if ((rc == 0)); then
    status[$s]=passed
    passed=$((passed + 1))
  elif ((rc == skip_status)); then
    status[$s]=skipped
    skipped=$((skipped + 1))
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
if ((skipped)); then
  echo "$passed passed, $failed failed, $skipped skipped"
else
  echo "$passed passed, $failed failed"
fi
((failed == 0))
