#!/usr/bin/env bash
# The Windows build under Wine against the network emulator, through the test-double
# tapi32.dll: CPU of korvalcom.exe while it waits for a reply and over whole
# exchanges, and the wall time of an L.C.R file against its floor. Run by hand;
# the test suite never runs it.
#
#   bash bench/wine_bench.sh [mingw|mingw32]        (default: mingw, the 64-bit build)
#
# Knobs (environment): IDLE_S (seconds of the idle window, 20), RECORDS (records of
# the timed L.C.R file, 20), SEND_RUNS (3). KEEP=1 keeps the work folder; IDLE_ONLY=1
# stops after the idle run.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source bench/bench_common.sh
root=$PWD
preset=${1:-mingw}
arch=win64
[ "$preset" = mingw32 ] && arch=win32
IDLE_S=${IDLE_S:-20}
RECORDS=${RECORDS:-20}
SEND_RUNS=${SEND_RUNS:-3}

echo "== building $preset and the native emulator (build-bench)"
cmake --preset "$preset" > /dev/null
cmake --build "build-$preset" --target korvalcom tapi32_double > /dev/null
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORVAL_BUILD_BENCH=ON > /dev/null
cmake --build build-bench --target korval-netemu korval_bench_measure > /dev/null
exe=$root/build-$preset/korvalcom.exe
netemu=$root/build-bench/korval-netemu
measure=$root/build-bench/korval_bench_measure

work=$(mktemp -d "${TMPDIR:-/tmp}/korval-wine-bench.XXXXXX")
export WINEPREFIX=$work/prefix WINEARCH=$arch WINEDLLOVERRIDES="tapi32=n,b;mscoree,mshtml="
source scripts/wine-rig.sh
emulator=""
cleanup() {
  [ -n "$emulator" ] && kill "$emulator" 2> /dev/null
  wine_rig_down
  if [ "${KEEP:-0}" = 1 ]; then echo "work folder kept: $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
echo "== a Wine prefix of its own ($arch)"
wine_rig_up "$work/run" wine-bench > "$work/rig.log" 2>&1 || { cat "$work/rig.log"; exit 1; }
# A persistent server: its start-up is not counted in a run.
wineserver -k
wineserver -w
wineserver -p > /dev/null 2>&1
load_before=$(load)
subscriber=175000123

ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat" 2> /dev/null || echo 0; }
hz=$(getconf CLK_TCK)

# start_emulator NAME [options...]: one call on COM3, then the emulator ends.
start_emulator() {
  local name=$1
  shift
  "$netemu" --once --timeout 900 --bank-number "$subscriber" --report "$work/$name.report" \
    --received "$work/$name.received" "$@" > "$work/$name.emu" 2> "$work/$name.emu.err" &
  emulator=$!
  pty=""
  for _ in $(seq 1 100); do
    pty=$(head -n 1 "$work/$name.emu" 2> /dev/null || true)
    [ -n "$pty" ] && break
    sleep 0.1
  done
  [ -n "$pty" ] || { echo "the emulator did not start" >&2; exit 1; }
  ln -sfn "$pty" "$work/run/ports/com3"
  printf '[KORVAL]\r\nNUMTRANSPAC=0836064545\r\nDelaiReponse=%s\r\n[MODEM0]\r\nPort=COM3\r\n' \
    "${REPLY_WAIT_S:-120}" > "$WINEPREFIX/drive_c/windows/win.ini"
}

# Depending on the Wine version, the loader starts korvalcom.exe as a process of its
# own (through start.exe, its Windows path as command line) or becomes it (its Unix
# path). Either way it is named korvalcom.exe and its command line holds this run's
# work folder, which no other developer's Wine run shares. program_pid waits for it.
program_pid() {
  local pid tag
  tag=$(basename "$work")
  for _ in $(seq 1 200); do
    for pid in $(pgrep -f "$tag" || true); do
      if [ "$(cat "/proc/$pid/comm" 2> /dev/null)" = korvalcom.exe ]; then
        echo "$pid"
        return 0
      fi
    done
    sleep 0.05
  done
}

# Its CPU time, read every 50 ms until it ends (the last 50 ms are not counted).
follow_program() {
  local pid t
  pid=$(program_pid)
  program_ticks=0
  [ -n "$pid" ] || return 0
  while [ -d "/proc/$pid" ]; do
    t=$(ticks "$pid")
    [ "$t" != 0 ] && program_ticks=$t
    sleep 0.05
  done
}

# run_job NAME TYPE FILE [--mark NAME=TEXT]...: korvalcom.exe under the measuring
# tool, for the wall time and the log's marks; sets $result, with program_pct the
# CPU of korvalcom.exe itself over the wall time.
run_job() {
  local name=$1 type=$2 file=$3
  shift 3
  printf '[KORVAL]\r\nNumeroAbonne=%s\r\nTypeAction=%s\r\nCarteParametre=BENCH %s\r\nFichierAssocie=%s\r\n' \
    "$subscriber" "$type" "$name" "$file" > "$work/$name.job.ini"
  "$measure" --log "$work/$name.log" --mark "first=Syst" "$@" -- \
    wine "$exe" "/B:Z:${work//\//\\}\\$name.job.ini" < /dev/null > "$work/$name.measure" &
  local measuring=$!
  follow_program
  wait "$measuring" || true
  wait "$emulator" 2> /dev/null || true
  emulator=""
  result="$(cat "$work/$name.measure") program_pct=$(calc '%.3f' "100 * $program_ticks / $hz / ($(kv wall_ms "$(cat "$work/$name.measure")") / 1000)")"
  [ "$(kv exit "$result")" = "${EXPECT_EXIT:-0}" ] || echo "   (!) $name: korvalcom.exe exit status $(kv exit "$result")"
}


# 1. Waiting for a reply: a PAD that never sends its banner. The window starts 3 s
# into the wait, after the start-up and the dialling, and the server's share of
# the work is shown beside the program's.
echo "== 1. korvalcom.exe waiting for a banner that never comes (${IDLE_S} s window)"
records_file "$work/idle.lcr" 1
REPLY_WAIT_S=$((IDLE_S + 10)) start_emulator idle --silent-at banner --dial-delay-ms 10
printf '[KORVAL]\r\nNumeroAbonne=%s\r\nTypeAction=L\r\nCarteParametre=BENCH\r\nFichierAssocie=%s\r\n' \
  "$subscriber" "$work/idle.lcr" > "$work/idle.job.ini"
wine "$exe" "/B:Z:${work//\//\\}\\idle.job.ini" > "$work/idle.log" 2>&1 &
wine_pid=$!
program=$(program_pid)
# Without it nothing would end the wait, which ends in a message box nobody answers.
if [ -z "$program" ]; then
  kill "$wine_pid" 2> /dev/null || true
  echo "korvalcom.exe was not found running" >&2
  exit 1
fi
server=$(pgrep -f 'wineserver' | head -n 1 || true)
sleep 4
switches_of() {  # every thread's context switches: the process's wake-ups
  awk '/^voluntary_ctxt_switches|^nonvoluntary_ctxt_switches/ { n += $2 } END { print n }' \
    /proc/"$1"/task/*/status 2> /dev/null || echo 0
}
# Time on a CPU in nanoseconds, summed over the threads: a clock tick is 0.05 % of a
# core over 20 s, too coarse for the goal.
cpu_ns_of() {
  awk '{ n += $1 } END { print n + 0 }' /proc/"$1"/task/*/schedstat 2> /dev/null || echo 0
}
# One line a thread: its id, its name and its context switches.
threads_of() {
  local task
  for task in /proc/"$1"/task/*; do
    printf '%s %s %s\n' "${task##*/}" "$(tr ' ' _ < "$task/comm")" \
      "$(awk '/ctxt_switches/ { n += $2 } END { print n + 0 }' "$task/status")"
  done 2> /dev/null
}
threads_of "$program" > "$work/idle.threads0"
p0=$(ticks "$program") s0=$(ticks "$server") w0=$(switches_of "$program") c0=$(cpu_ns_of "$program")
sleep "$IDLE_S"
p1=$(ticks "$program") s1=$(ticks "$server") w1=$(switches_of "$program") c1=$(cpu_ns_of "$program")
threads_of "$program" > "$work/idle.threads1"
wakeups=$(calc '%.1f' "($w1 - $w0) / $IDLE_S")
# The busy threads first: which wait wakes the process.
per_thread=$(awk -v s="$IDLE_S" 'NR == FNR { at[$1] = $3; next }
  { printf "%s(%s) %.1f\n", $2, $1, ($3 - at[$1]) / s }' "$work/idle.threads0" "$work/idle.threads1" |
  sort -k2 -rn | awk '$2 > 0 { printf "%s%s %s", sep, $1, $2; sep = ", " }')
# The failure would end in a message box, and no one is there to answer it.
kill "$program" 2> /dev/null || true
wait "$wine_pid" 2> /dev/null || true
wait "$emulator" 2> /dev/null || true
emulator=""
tick_pct=$(calc '%.3f' "100 * ($p1 - $p0) / $hz / $IDLE_S")
pct=$(calc '%.4f' "100 * ($c1 - $c0) / 1000000000 / $IDLE_S")
server_pct=$(calc '%.3f' "100 * ($s1 - $s0) / $hz / $IDLE_S")
echo "program_cpu_pct=$pct (in ticks of 1/$hz s: $tick_pct) wineserver_cpu_pct=$server_pct" \
  "wakeups_per_s=$wakeups threads: $per_thread"
row "korvalcom.exe waiting for a reply (banner), ${IDLE_S} s window; $wakeups wake-ups/s ($per_thread)" \
  "$pct % of a core (wineserver: $server_pct %)" "at most 5 wake-ups/s, under 0.05 %" \
  "$(verdict "$pct < 0.05 && $wakeups <= 5")"

summary() {
  echo
  echo "== summary ($arch, load average $load_before before, $(load) after)"
  echo "| Measure | Figure | Goal | Verdict |"
  echo "|---|---|---|---|"
  printf '%s\n' "${rows[@]}"
}
if [ "${IDLE_ONLY:-0}" = 1 ]; then
  summary
  exit 0
fi

# 2. Whole exchanges with the emulator's default delays.
echo "== 2. whole exchanges"
printf 'RELEVE LIGNE %05d SOLDE 1000,00 EUR\r' $(seq 1 200) > "$work/small.txt"
start_emulator statement --statement "$work/small.txt" --dial-delay-ms 500
run_job statement R "$work/small.rel"
echo "$result"
pct=$(kv program_pct "$result")
row "whole statement request (200 lines, $(calc '%.1f s' "$(kv wall_ms "$result") / 1000"), start-up included)" \
  "$(calc '%.2f %%' "$pct")" "under 2 %" "$(verdict "$pct < 2")"
records_file "$work/lcr3.txt" 3
start_emulator lcr3 --dial-delay-ms 500
run_job lcr3 L "$work/lcr3.txt"
echo "$result"
pct=$(kv program_pct "$result")
row "whole L.C.R file (3 records, $(calc '%.1f s' "$(kv wall_ms "$result") / 1000"), start-up included)" \
  "$(calc '%.2f %%' "$pct")" "under 2 %" "$(verdict "$pct < 2")"

# 3. Send time over its floor, every emulator delay 10 ms: the same floor as the
# Linux figure. Measured from the start of the Windows process, and from its first
# log line (Wine's own start-up left out).
echo "== 3. $RECORDS-record file sent, over its floor"
delay=10
floor=$((5 * delay + 500 + 2000 + 2000 + RECORDS * 100))
records_file "$work/lcr.txt" "$RECORDS"
sends=() after_start=()
for run in $(seq 1 "$SEND_RUNS"); do
  start_emulator "send$run" --record-length 160 --dial-delay-ms $delay --banner-delay-ms $delay \
    --com-delay-ms $delay --answer-delay-ms $delay --okf-delay-ms $delay
  run_job "send$run" L "$work/lcr.txt" --mark "done=Envoi du fichier termin"
  echo "$result"
  sends+=("$(kv mark_done_ms "$result")")
  after_start+=("$(calc '%.1f' "$(kv mark_done_ms "$result") - $(kv mark_first_ms "$result")")")
  cmp -s "$work/lcr.txt" "$work/send$run.received" || echo "   (!) send$run: the bank received another file"
done
median=$(printf '%s\n' "${sends[@]}" | median_of)
median_after=$(printf '%s\n' "${after_start[@]}" | median_of)
over=$(calc '%.2f' "100 * ($median - $floor) / $floor")
over_after=$(calc '%.2f' "100 * ($median_after - $floor) / $floor")
row "L.C.R file of $RECORDS records, process start to OKF, median of $SEND_RUNS (${sends[*]} ms)" \
  "${median} ms, floor ${floor} ms: +${over} %" "within 3 %" "$(verdict "$over <= 3")"
row "the same from the first log line, Wine's start-up left out (${after_start[*]} ms)" \
  "${median_after} ms: +${over_after} %" "within 3 %" "$(verdict "$over_after <= 3")"

summary
