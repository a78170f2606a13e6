#!/usr/bin/env bash
# Builds the benchmarks (Release, KORVAL_BUILD_BENCH=ON) and runs them all by hand,
# then prints a summary table. Never run by the test suite.
#
#   bash bench/run_all.sh [build folder]        (default: build-bench)
#
# Knobs (environment): IDLE_S (seconds per idle wait, 10), IDLE_RUNS (3), ARRIVALS (2000),
# RECORDS (records of the timed L.C.R file, 20), SEND_RUNS (3), SMALL_MB (5),
# LARGE_MB (50). KEEP=1 keeps the work folder (logs of every run).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source bench/bench_common.sh
build=${1:-build-bench}
IDLE_S=${IDLE_S:-10}
IDLE_RUNS=${IDLE_RUNS:-3}
ARRIVALS=${ARRIVALS:-2000}
RECORDS=${RECORDS:-20}
SEND_RUNS=${SEND_RUNS:-3}
SMALL_MB=${SMALL_MB:-5}
LARGE_MB=${LARGE_MB:-50}

echo "== building in $build (Release, KORVAL_BUILD_BENCH=ON)"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORVAL_BUILD_BENCH=ON > /dev/null
cmake --build "$build" --target korvalcom korval-netemu korval_bench_idle korval_bench_latency \
  korval_bench_measure > /dev/null
load_before=$(load)

korvalcom=$build/korvalcom
netemu=$build/korval-netemu
measure=$build/korval_bench_measure
work=$(mktemp -d "${TMPDIR:-/tmp}/korval-bench.XXXXXX")
emulator=""
cleanup() {
  [ -n "$emulator" ] && kill "$emulator" 2> /dev/null
  if [ "${KEEP:-0}" = 1 ]; then echo "work folder kept: $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
subscriber=175000123


# start_emulator NAME [options...]: one call, then the emulator ends (--once).
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
  printf '[KORVAL]\nNUMTRANSPAC=0836064545\nDelaiReponse=%s\n[MODEM0]\nPort=%s\n' \
    "${REPLY_WAIT_S:-120}" "$pty" > "$work/win.ini"
}

# run_job NAME TYPE FILE [--mark NAME=TEXT]...: korvalcom under the measuring tool;
# sets $result to its "key=value" line.
run_job() {
  local name=$1 type=$2 file=$3
  shift 3
  printf '[KORVAL]\r\nNumeroAbonne=%s\r\nTypeAction=%s\r\nCarteParametre=BENCH %s\r\nFichierAssocie=%s\r\n' \
    "$subscriber" "$type" "$name" "$file" > "$work/$name.job.ini"
  result=$(KORVAL_WININI="$work/win.ini" "$measure" --log "$work/$name.log" "$@" -- \
    "$korvalcom" "/B:$work/$name.job.ini" < /dev/null)
  wait "$emulator" 2> /dev/null || true
  emulator=""
  echo "$result" > "$work/$name.measure"
  [ "$(kv exit "$result")" = "${EXPECT_EXIT:-0}" ] || echo "   (!) $name: korvalcom exit status $(kv exit "$result")"
}

statement_file() {  # statement_file PATH MEGABYTES: CR-ended ANSI lines, no end record inside
  awk -v bytes=$(($2 * 1024 * 1024)) 'BEGIN {
    for (n = 1; total < bytes; n++) {
      line = sprintf("RELEVE DU 08/12/26 LIGNE %09d SOLDE %d,00 EUR\r", n, n % 100000)
      printf "%s", line; total += length(line) } }' > "$1"
}


# 1. Idle cost, on the program's own link against a silent pty peer; several runs,
# since the figure is near the goal and moves with whatever else the machine does.
echo "== 1. idle cost: Pause and AwaitReply, ${IDLE_S} s windows, $IDLE_RUNS runs"
idle_lines=""
for run in $(seq 1 "$IDLE_RUNS"); do
  idle=$("$build/korval_bench_idle" --seconds "$IDLE_S")
  echo "$idle"
  idle_lines+="$idle"$'\n'
done
for wait in Pause AwaitReply; do
  lines=$(grep "wait=$wait " <<< "$idle_lines")
  figures=$(while read -r line; do kv cpu_pct "$line"; done <<< "$lines")
  invalid=$(while read -r line; do kv valid "$line"; done <<< "$lines" | grep -c 0 || true)
  pct=$(median_of <<< "$figures")
  low=$(sort -n <<< "$figures" | head -n 1) high=$(sort -n <<< "$figures" | tail -n 1)
  wakeups=$(while read -r line; do
    calc '%.1f\n' "$(kv main_wakeups_per_s "$line") + $(kv other_wakeups_per_s "$line")"
  done <<< "$lines" | median_of)
  # Per thread, from the run whose total is the median: main, modem call, read.
  each=$(while read -r line; do
    echo "$(calc '%.1f' "$(kv main_wakeups_per_s "$line") + $(kv other_wakeups_per_s "$line")") $(kv thread_wakeups_per_s "$line")"
  done <<< "$lines" | awk -v m="$wakeups" '$1 == m { print $2; exit }')
  row "idle, $wait on a connected call, silent peer (${IDLE_S} s windows, $IDLE_RUNS runs; $wakeups wake-ups/s: main, call, read threads $each)" \
    "median $(calc '%.3f' "$pct") % of a core (runs $(calc '%.3f' "$low")-$(calc '%.3f' "$high") %)" \
    "at most 5 wake-ups/s, under 0.05 %" "$(verdict "$pct < 0.05 && $wakeups <= 5 && $invalid == 0")"
done

# The same from outside: korvalcom waiting for a banner that never comes.
echo "== 1b. korvalcom waiting ${IDLE_S} s for a silent PAD (whole process)"
records_file "$work/idle.lcr" 1
REPLY_WAIT_S=$IDLE_S start_emulator idle --silent-at banner --dial-delay-ms 10
EXPECT_EXIT=1 run_job idle L "$work/idle.lcr"  # no banner: Retour 0
echo "$result"
pct=$(kv cpu_pct "$result")
row "idle, korvalcom awaiting a banner that never comes (whole run, $(calc '%.1f s' "$(kv wall_ms "$result") / 1000"))" \
  "$(calc '%.2f %% of a core' "$pct")" "under 1 %" "$(verdict "$pct < 1")"

# 2. Arrival latency, seen as the program's own waits see it.
echo "== 2. arrival latency, $ARRIVALS arrivals"
latency=$("$build/korval_bench_latency" --count "$ARRIVALS" --mode pump)
echo "$latency"
p99=$(kv p99_ms "$latency")
row "arrival latency, master write to ReceiveBuffer, main thread turning the queue ($(kv arrivals "$latency") arrivals)" \
  "median $(kv median_ms "$latency") ms, p99 $p99 ms, p99.9 $(kv p999_ms "$latency") ms, max $(kv max_ms "$latency") ms" \
  "p99 under 2 ms" "$(verdict "$p99 < 2")"

# 3. Whole exchanges, the emulator's default delays.
echo "== 3. whole exchanges"
printf 'RELEVE LIGNE %05d SOLDE 1000,00 EUR\r' $(seq 1 200) > "$work/small.txt"
start_emulator statement --statement "$work/small.txt" --dial-delay-ms 500
run_job statement R "$work/small.rel"
echo "$result"
pct=$(kv cpu_pct "$result")
row "whole statement request (200 lines, $(calc '%.1f s' "$(kv wall_ms "$result") / 1000"))" \
  "$(calc '%.2f %%' "$pct")" "under 2 %" "$(verdict "$pct < 2")"
records_file "$work/lcr3.txt" 3
start_emulator lcr3 --dial-delay-ms 500
run_job lcr3 L "$work/lcr3.txt"
echo "$result"
pct=$(kv cpu_pct "$result")
row "whole L.C.R file (3 records, $(calc '%.1f s' "$(kv wall_ms "$result") / 1000"))" \
  "$(calc '%.2f %%' "$pct")" "under 2 %" "$(verdict "$pct < 2")"

# 4. Send time over its floor: the emulator's delays set to 10 ms each. The floor
# holds the quiet times the protocol requires and the emulator's delays; the marks
# split the run into the connection (dial, banner, 500 ms, COM), the card (2000 ms,
# answer) and the records (100 ms each, 2000 ms, OKF).
echo "== 4. $RECORDS-record file sent, over its floor"
delay=10
floor=$((5 * delay + 500 + 2000 + 2000 + RECORDS * 100))
records_file "$work/lcr.txt" "$RECORDS"
sends=()
for run in $(seq 1 "$SEND_RUNS"); do
  start_emulator "send$run" --record-length 160 --dial-delay-ms $delay --banner-delay-ms $delay \
    --com-delay-ms $delay --answer-delay-ms $delay --okf-delay-ms $delay
  run_job "send$run" L "$work/lcr.txt" --mark "first=Envoi fichier L.C.R" \
    --mark "site=Connexion avec site" --mark "card=Carte param" --mark "done=Envoi du fichier termin"
  echo "$result"
  first=$(kv mark_first_ms "$result") site=$(kv mark_site_ms "$result")
  card=$(kv mark_card_ms "$result") done=$(kv mark_done_ms "$result")
  echo "   start-up $(calc '%.0f' "$first") ms; connection +$(calc '%.0f' "$site - $first - (3 * $delay + 500)") ms;" \
    "card +$(calc '%.0f' "$card - $site - (2000 + $delay)") ms;" \
    "records +$(calc '%.0f' "$done - $card - ($RECORDS * 100 + 2000 + $delay)") ms" \
    "($(calc '%.1f' "($done - $card - ($RECORDS * 100 + 2000 + $delay)) / $RECORDS") ms a record)"
  sends+=("$done")
  cmp -s "$work/lcr.txt" "$work/send$run.received" || echo "   (!) send$run: the bank received another file"
done
median=$(printf '%s\n' "${sends[@]}" | median_of)
over=$(calc '%.2f' "100 * ($median - $floor) / $floor")
row "L.C.R file of $RECORDS records: start to OKF, median of $SEND_RUNS runs (${sends[*]} ms)" \
  "${median} ms, floor ${floor} ms: +${over} %" "within 2 %" "$(verdict "$over <= 2")"

# 5. Large statements at pseudo-terminal speed (the emulator writes as fast as it
# can), then 50 MB with the emulator paced at 32 KiB every 2 ms (16 MiB/s offered):
# unpaced, the emulator's own output queue caps the rate (see README).
echo "== 5. large statements"
declare -A rss
statement_run() {  # statement_run NAME MEGABYTES LABEL [emulator options...]
  local name=$1 mb=$2 label=$3
  shift 3
  [ -f "$work/big$mb.txt" ] || statement_file "$work/big$mb.txt" "$mb"
  local sent stored seconds complete
  sent=$(wc -c < "$work/big$mb.txt")
  start_emulator "$name" --statement "$work/big$mb.txt" --statement-delay-ms 0 "$@"
  run_job "$name" R "$work/$name.rel" --mark "start=ception du relev" --mark "end=entierement re"
  echo "$result"
  stored=$(wc -c < "$work/$name.rel" 2> /dev/null || echo 0)
  rm -f "$work/$name.rel" "$work/$name.received"
  seconds=$(calc '%.3f' "($(kv mark_end_ms "$result") - $(kv mark_start_ms "$result")) / 1000")
  rss[$name]=$(kv maxrss_kb "$result")
  # The stored file ends with the 20-byte end record, as the program keeps it.
  [ "$stored" = $((sent + 20)) ] && complete=complete || complete="INCOMPLETE: $stored of $((sent + 20)) bytes"
  row "$mb MiB statement, $label ($complete)" \
    "$(calc '%.1f MiB/s' "$sent / 1048576 / $seconds") ($seconds s), whole-run CPU $(calc '%.1f %%' "$(kv cpu_pct "$result")"), max RSS ${rss[$name]} KiB" \
    "memory flat" "-"
}
statement_run "big$SMALL_MB" "$SMALL_MB" "64 KiB chunks, pace 0" --chunk-size 65536 --chunk-pace-ms 0
statement_run "big$LARGE_MB" "$LARGE_MB" "64 KiB chunks, pace 0" --chunk-size 65536 --chunk-pace-ms 0
statement_run "paced$LARGE_MB" "$LARGE_MB" "32 KiB every 2 ms" --chunk-size 32768 --chunk-pace-ms 2
small=${rss[big$SMALL_MB]} large=${rss[big$LARGE_MB]}
growth=$(calc '%.1f' "100 * ($large - $small) / $small")
row "peak memory, $LARGE_MB MiB against $SMALL_MB MiB statement" "$small KiB -> $large KiB (${growth} %)" \
  "does not grow with size" "$(verdict "$large - $small < 1024")"

echo
echo "== summary ($(date -u +%Y-%m-%d), $(nproc) cores, $(git rev-parse --short HEAD 2> /dev/null || echo '?'))"
echo "load average before: $load_before; after: $(load) (other work on the machine skews every figure)"
echo "| Measure | Figure | Goal | Verdict |"
echo "|---|---|---|---|"
printf '%s\n' "${rows[@]}"
