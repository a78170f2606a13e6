#!/usr/bin/env bash
# Builds the benchmarks (Release, KORVAL_BUILD_BENCH=ON) and runs them all by hand,
# then prints a summary table. Never run by the test suite.
#
#   bash bench/run_all.sh [build folder]        (default: build-bench)
#
# Knobs (environment): IDLE_S (seconds per idle wait, 10), ARRIVALS (2000),
# RECORDS (records of the timed L.C.R file, 20), SEND_RUNS (3), SMALL_MB (5),
# LARGE_MB (50). KEEP=1 keeps the work folder (logs of every run).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
build=${1:-build-bench}
IDLE_S=${IDLE_S:-10}
ARRIVALS=${ARRIVALS:-2000}
RECORDS=${RECORDS:-20}
SEND_RUNS=${SEND_RUNS:-3}
SMALL_MB=${SMALL_MB:-5}
LARGE_MB=${LARGE_MB:-50}

echo "== building in $build (Release, KORVAL_BUILD_BENCH=ON)"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORVAL_BUILD_BENCH=ON > /dev/null
cmake --build "$build" --target korvalcom korval-netemu korval_bench_idle korval_bench_latency \
  korval_bench_measure > /dev/null

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

# The value of key in a "key=value ..." line.
kv() { tr ' ' '\n' <<< "$2" | sed -n "s/^$1=//p" | head -n 1; }
calc() { awk "BEGIN { printf \"$1\", $2 }"; }

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

records_file() {  # records_file PATH COUNT: 160-byte L.C.R records
  for i in $(seq 1 "$2"); do printf '%-160s' "LCR $i TIRE DUPONT ECHEANCE 31/12/26 MONTANT 1500,00"; done > "$1"
}

statement_file() {  # statement_file PATH MEGABYTES: CR-ended ANSI lines, no end record inside
  awk -v bytes=$(($2 * 1024 * 1024)) 'BEGIN {
    for (n = 1; total < bytes; n++) {
      line = sprintf("RELEVE DU 08/12/26 LIGNE %09d SOLDE %d,00 EUR\r", n, n % 100000)
      printf "%s", line; total += length(line) } }' > "$1"
}

rows=()
row() { rows+=("$(printf '| %s | %s | %s | %s |' "$1" "$2" "$3" "$4")"); }
verdict() { awk "BEGIN { exit !($1) }" && echo met || echo MISSED; }

# 1. Idle cost, on the program's own link against a silent pty peer.
echo "== 1. idle cost: Pause and AwaitReply, ${IDLE_S} s windows"
idle=$("$build/korval_bench_idle" --seconds "$IDLE_S")
echo "$idle"
while read -r line; do
  pct=$(kv cpu_pct "$line")
  row "idle, $(kv wait "$line") on a connected call (${IDLE_S} s; main thread $(kv main_thread_pct "$line") %, others $(kv other_threads_pct "$line") %)" \
    "$(calc '%.2f %% of a core' "$pct")" "under 1 %" "$(verdict "$pct < 1 && $(kv valid "$line") == 1")"
done <<< "$idle"

# The same from outside: korvalcom waiting for a banner that never comes.
echo "== 1b. korvalcom waiting ${IDLE_S} s for a silent PAD (whole process)"
records_file "$work/idle.lcr" 1
REPLY_WAIT_S=$IDLE_S start_emulator idle --silent-at banner --dial-delay-ms 10
EXPECT_EXIT=1 run_job idle L "$work/idle.lcr"  # no banner: Retour 0
echo "$result"
pct=$(kv cpu_pct "$result")
row "idle, korvalcom awaiting a banner that never comes (whole run, $(calc '%.1f s' "$(kv wall_ms "$result") / 1000"))" \
  "$(calc '%.2f %% of a core' "$pct")" "under 1 %" "$(verdict "$pct < 1")"

# 2. Arrival latency.
echo "== 2. arrival latency, $ARRIVALS arrivals"
latency=$("$build/korval_bench_latency" --count "$ARRIVALS")
echo "$latency"
p99=$(kv p99_ms "$latency")
row "arrival latency, master write to ReceiveBuffer ($(kv arrivals "$latency") arrivals)" \
  "median $(kv median_ms "$latency") ms, p99 $p99 ms, max $(kv max_ms "$latency") ms" \
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

# 4. Send time over its floor: the emulator's delays set to 10 ms each.
echo "== 4. $RECORDS-record file sent, over its floor"
delay=10
floor=$((5 * delay + 500 + 2000 + 2000 + RECORDS * 100))
records_file "$work/lcr.txt" "$RECORDS"
sends=()
for run in $(seq 1 "$SEND_RUNS"); do
  start_emulator "send$run" --record-length 160 --dial-delay-ms $delay --banner-delay-ms $delay \
    --com-delay-ms $delay --answer-delay-ms $delay --okf-delay-ms $delay
  run_job "send$run" L "$work/lcr.txt" --mark "done=Envoi du fichier termin"
  echo "$result"
  sends+=("$(kv mark_done_ms "$result")")
  cmp -s "$work/lcr.txt" "$work/send$run.received" || echo "   (!) send$run: the bank received another file"
done
median=$(printf '%s\n' "${sends[@]}" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }')
over=$(calc '%.2f' "100 * ($median - $floor) / $floor")
row "L.C.R file of $RECORDS records: start to OKF, median of $SEND_RUNS (${sends[*]} ms)" \
  "${median} ms, floor ${floor} ms: +${over} %" "within 2 %" "$(verdict "$over <= 2")"

# 5. Large statements at pseudo-terminal speed.
echo "== 5. large statements"
declare -A rss
for mb in $SMALL_MB $LARGE_MB; do
  statement_file "$work/big$mb.txt" "$mb"
  sent=$(wc -c < "$work/big$mb.txt")
  start_emulator "big$mb" --statement "$work/big$mb.txt" --chunk-size 65536 --chunk-pace-ms 0 \
    --statement-delay-ms 0
  run_job "big$mb" R "$work/big$mb.rel" --mark "start=ception du relev" --mark "end=entierement re"
  echo "$result"
  stored=$(wc -c < "$work/big$mb.rel" 2> /dev/null || echo 0)
  seconds=$(calc '%.3f' "($(kv mark_end_ms "$result") - $(kv mark_start_ms "$result")) / 1000")
  rss[$mb]=$(kv maxrss_kb "$result")
  pct=$(kv cpu_pct "$result")
  row "$mb MB statement (stored $stored of $sent bytes): receive phase, whole-run CPU" \
    "$(calc '%.1f MB/s' "$sent / 1048576 / $seconds") ($seconds s), CPU $(calc '%.1f %%' "$pct"), max RSS ${rss[$mb]} KiB" \
    "memory flat" "-"
done
growth=$(calc '%.1f' "100 * (${rss[$LARGE_MB]} - ${rss[$SMALL_MB]}) / ${rss[$SMALL_MB]}")
row "peak memory, $LARGE_MB MB against $SMALL_MB MB" "${rss[$SMALL_MB]} KiB -> ${rss[$LARGE_MB]} KiB (${growth} %)" \
  "does not grow with size" "$(verdict "${rss[$LARGE_MB]} - ${rss[$SMALL_MB]} < 1024")"

echo
echo "== summary ($(date -u +%Y-%m-%d), $(nproc) cores, $(git rev-parse --short HEAD 2> /dev/null || echo '?'))"
echo "| Measure | Figure | Goal | Verdict |"
echo "|---|---|---|---|"
printf '%s\n' "${rows[@]}"
