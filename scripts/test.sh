#!/usr/bin/env bash
# Builds and runs every test suite: native, ThreadSanitizer,
# AddressSanitizer + UndefinedBehaviorSanitizer, the 64-bit and 32-bit Windows
# builds under Wine, and the fuzz targets (their corpora replayed, then a short
# fuzz). Each suite is counted; the last line is "N passed, N failed".
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

# The Windows programs under Wine, in a prefix, a display and a pair of serial
# ports of their own. Runs in a subshell: its EXIT trap ends what it started.
windows_suite() {
  local name=$1 preset=$2 arch=$3
  local dir=$root/build-$preset
  step 300 "$name: configure" cmake --preset "$preset" || return 1
  step 1800 "$name: build" cmake --build --preset "$preset" -j"$jobs" \
    --target korval_tests korval_win32_tests korvalcom korval_win32_tools || return 1
  (
    export WINEPREFIX=$dir/wineprefix WINEARCH=$arch
    export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    unset WAYLAND_DISPLAY
    local run=$dir/wine-run xvfb_pid='' socat_pid=''
    cleanup() {
      wineserver -k 2>/dev/null || true
      for pid in $socat_pid $xvfb_pid; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
      done
    }
    trap cleanup EXIT
    trap 'exit 143' TERM INT
    rm -rf "$WINEPREFIX" "$run"
    mkdir -p "$run"

    # A display of our own: Xvfb picks a free number and writes it to fd 3.
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$run/display" \
      >"$run/xvfb.log" 2>&1 &
    xvfb_pid=$!
    local waited
    for ((waited = 0; waited < 100; waited++)); do
      [[ -s $run/display ]] && break
      sleep 0.1
    done
    [[ -s $run/display ]] || { echo "test.sh: $name: Xvfb did not start" >&2; exit 1; }
    export DISPLAY=:$(head -n1 "$run/display")
    timeout 30 xdpyinfo >/dev/null 2>&1 || { echo "test.sh: $name: no display" >&2; exit 1; }
    echo "--- $name: display $DISPLAY"

    # COM1 and COM2: the two ends of one null-modem pair of pseudo-terminals
    # (socat outlives the ports' closes).
    socat pty,raw,echo=0,link="$run/com1" pty,raw,echo=0,link="$run/com2" \
      >"$run/socat.log" 2>&1 &
    socat_pid=$!
    for ((waited = 0; waited < 100; waited++)); do
      [[ -e $run/com1 && -e $run/com2 ]] && break
      sleep 0.1
    done
    local com1 com2
    com1=$(readlink -f "$run/com1") && com2=$(readlink -f "$run/com2") &&
      [[ -c $com1 && -c $com2 ]] || { echo "test.sh: $name: socat made no ports" >&2; exit 1; }

    step 300 "$name: create prefix" wineboot -i || exit 1
    step 60 "$name: map COM1 to $com1" \
      wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /d "$com1" /f || exit 1
    step 60 "$name: map COM2 to $com2" \
      wine reg add 'HKLM\Software\Wine\Ports' /v COM2 /d "$com2" /f || exit 1
    # The port links in dosdevices are written when Wine starts: restart it.
    step 60 "$name: stop wineserver" wineserver -k || true
    step 60 "$name: wait for wineserver" wineserver -w || exit 1
    step 120 "$name: restart Wine" wine cmd /c exit || exit 1
    for ((waited = 0; waited < 100; waited++)); do
      [[ $(readlink "$WINEPREFIX/dosdevices/com1") == "$com1" &&
        $(readlink "$WINEPREFIX/dosdevices/com2") == "$com2" ]] && break
      sleep 0.1
    done
    if [[ $(readlink "$WINEPREFIX/dosdevices/com1") != "$com1" ||
      $(readlink "$WINEPREFIX/dosdevices/com2") != "$com2" ]]; then
      echo "test.sh: $name: COM1/COM2 not mapped: $(ls -l "$WINEPREFIX/dosdevices")" >&2
      exit 1
    fi

    local failed=0
    step 1800 "$name: korval_tests.exe" wine "$dir/korval_tests.exe" || failed=1
    step 1800 "$name: korval_win32_tests.exe" wine "$dir/korval_win32_tests.exe" || failed=1
    exit "$failed"
  ) || return 1
}

# Replays each seed corpus and fuzzes each target briefly; scripts/fuzz.sh with a
# longer time per target is the deeper run.
suite_fuzz() {
  step 1500 "fuzz: build, replay, ${KORVAL_FUZZ_SECONDS:-20}s per target" \
    bash scripts/fuzz.sh "${KORVAL_FUZZ_SECONDS:-20}" || return 1
}

suite_wine64() { windows_suite wine64 mingw win64; }
suite_wine32() { windows_suite wine32 mingw32 win32; }

# KORVAL_TEST_SUITES="wine32" runs only the suites named.
read -r -a suites <<<"${KORVAL_TEST_SUITES:-native package tsan asan wine64 wine32 fuzz}"
for s in "${suites[@]}"; do
  if ! declare -F "suite_$s" >/dev/null; then
    echo "test.sh: no suite '$s'" >&2
    exit 2
  fi
done
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
