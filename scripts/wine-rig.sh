# Sourced by test.sh and bench/wine_bench.sh: a Wine prefix with a display and
# serial ports of its own. Before wine_rig_up, export WINEPREFIX and WINEARCH;
# wine_rig_up RUN NAME makes RUN (a work folder) and exports DISPLAY;
# wine_rig_down ends what it started. The ports:
#   COM1, COM2      the two ends of one null-modem pair of pseudo-terminals
#   COM3 to COM6    the links RUN/ports/com3 to com6, which a whole exchange points
#                   at its emulator's device, so that no run has to restart Wine

# Outside test.sh a step is its command under a time limit.
if ! declare -F step >/dev/null; then
  step() {
    local limit=$1
    shift 2
    timeout --kill-after=30 "$limit" "$@" </dev/null
  }
fi

wine_rig_pids=()

wine_rig_tmp_prefix=""

wine_rig_down() {
  wineserver -k 2>/dev/null || true
  if [[ -n $wine_rig_tmp_prefix ]]; then rm -rf "$wine_rig_tmp_prefix"; fi
  local pid
  for pid in "${wine_rig_pids[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  wine_rig_pids=()
}

# wait_for SECONDS TEST...: true once the test holds, checked every 0.1 s.
wine_rig_wait_for() {
  local tenths=$(($1 * 10)) i
  shift
  for ((i = 0; i < tenths; i++)); do
    "$@" && return 0
    sleep 0.1
  done
  "$@"
}

# Under WINEDEBUG=-all a failed first start may say nothing at all: on a failure,
# say what the start depends on, then try once more with Wine's errors shown.
wine_rig_create_prefix() {
  local name=$1
  step 300 "$name: create prefix" wineboot -i && return 0
  {
    echo "$name: wineboot failed; what it depends on:"
    id
    ulimit -a
    ls -ld "$(dirname "$WINEPREFIX")" "$WINEPREFIX" "/tmp/.wine-$(id -u)"
    command -v wine wineboot wineserver
    ls -l /usr/lib/wine
    pgrep -a wineserver
    env | grep -E '^(WINE|DISPLAY|HOME|TMPDIR|XDG_)'
  } >&2 2>&1 || true
  wineserver -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"
  step 300 "$name: create prefix, second try" env WINEDEBUG=fixme-all,err+all wineboot -i &&
    return 0
  # Last, a prefix on /tmp, in case the work folder's file system is the cause.
  wineserver -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"
  WINEPREFIX=$(mktemp -d /tmp/korval-wineprefix.XXXXXX) || return 1
  wine_rig_tmp_prefix=$WINEPREFIX
  step 300 "$name: create prefix in $WINEPREFIX" env WINEDEBUG=fixme-all,err+all wineboot -i
}

wine_rig_up() {
  local run=$1 name=$2
  export WINEDEBUG=${WINEDEBUG:--all}
  unset WAYLAND_DISPLAY
  rm -rf "$WINEPREFIX" "$run"
  mkdir -p "$run/ports"

  # A display of our own: Xvfb picks a free number and writes it to fd 3.
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$run/display" \
    >"$run/xvfb.log" 2>&1 &
  wine_rig_pids+=($!)
  wine_rig_wait_for 10 test -s "$run/display" ||
    { echo "$name: Xvfb did not start" >&2; return 1; }
  export DISPLAY=:$(head -n1 "$run/display")
  timeout 30 xdpyinfo >/dev/null 2>&1 || { echo "$name: no display" >&2; return 1; }
  echo "--- $name: display $DISPLAY"

  # socat outlives the ports' closes.
  socat pty,raw,echo=0,link="$run/com1" pty,raw,echo=0,link="$run/com2" \
    >"$run/socat.log" 2>&1 &
  wine_rig_pids+=($!)
  wine_rig_wait_for 10 test -e "$run/com1" -a -e "$run/com2"
  local -A device
  device[1]=$(readlink -f "$run/com1") && device[2]=$(readlink -f "$run/com2") &&
    [[ -c ${device[1]} && -c ${device[2]} ]] ||
    { echo "$name: socat made no ports" >&2; return 1; }
  local n
  for n in 3 4 5 6; do
    ln -sfn /dev/null "$run/ports/com$n"
    device[$n]=$run/ports/com$n
  done

  # 3: Wine itself cannot start here (the caller may count its suite as skipped).
  wine_rig_create_prefix "$name" || return 3
  for n in 1 2 3 4 5 6; do
    step 60 "$name: map COM$n to ${device[$n]}" \
      wine reg add 'HKLM\Software\Wine\Ports' /v "COM$n" /d "${device[$n]}" /f || return 1
  done
  # Without a window manager on the display, Wine draws the windows' frames and
  # captions itself only for windows it does not leave to one.
  step 60 "$name: windows drawn whole" \
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f || return 1
  # The port links in dosdevices are written when Wine starts: restart it.
  step 60 "$name: stop wineserver" wineserver -k || true
  step 60 "$name: wait for wineserver" wineserver -w || return 1
  step 120 "$name: restart Wine" wine cmd /c exit || return 1
  wine_rig_mapped() {
    for n in 1 2 3 4 5 6; do
      [[ $(readlink "$WINEPREFIX/dosdevices/com$n") == "${device[$n]}" ]] || return 1
    done
  }
  if ! wine_rig_wait_for 10 wine_rig_mapped; then
    echo "$name: COM ports not mapped: $(ls -l "$WINEPREFIX/dosdevices")" >&2
    return 1
  fi
}
