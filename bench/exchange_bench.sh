#!/usr/bin/env bash
# Benchmarks of the real program against the network emulator on a pseudo-terminal,
# run by hand: bash bench/exchange_bench.sh [build folder]. Prints one line per figure.
#  - idle cost: CPU time over wall time while korvalcom waits for a PAD that stays
#    silent (the reply wait) for DelaiReponse seconds;
#  - whole exchanges: CPU time over wall time of a statement and of an L.C.R file;
#  - a large statement: throughput and peak memory for 5 MB and 50 MB.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
build=${1:-build}
korvalcom=$build/korvalcom netemu=$build/korval-netemu
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT

run() {  # run NAME TYPE FILE [emulator options...]: prints cpu, wall, max RSS
  local name=$1 type=$2 file=$3
  shift 3
  "$netemu" --once --timeout 600 --bank-number 175000123 --dial-delay-ms 200 \
    --received "$work/$name.rx" "$@" > "$work/$name.emu" 2>/dev/null &
  local pty=""
  for _ in $(seq 1 100); do pty=$(head -n 1 "$work/$name.emu" 2>/dev/null || true); [ -n "$pty" ] && break; sleep 0.1; done
  printf '[KORVAL]\nNUMTRANSPAC=0836064545\nDelaiReponse=20\n[MODEM0]\nPort=%s\n' "$pty" > "$work/win.ini"
  printf '[KORVAL]\nNumeroAbonne=175000123\nTypeAction=%s\nFichierAssocie=%s\n' "$type" "$file" > "$work/$name.ini"
  KORVAL_WININI="$work/win.ini" /usr/bin/time -f '%U %S %e %M' -o "$work/$name.time" \
    "$korvalcom" "/B:$work/$name.ini" > /dev/null 2>&1 || true
  wait || true
  read -r user sys wall rss < <(tail -n 1 "$work/$name.time")
  awk -v n="$name" -v u="$user" -v s="$sys" -v w="$wall" -v r="$rss" \
    'BEGIN { printf "%-22s cpu %6.2f s  wall %7.2f s  cpu/wall %5.2f %%  max RSS %6d KiB\n", n, u + s, w, 100 * (u + s) / w, r }'
}

printf 'RELEVE LIGNE %05d SOLDE 1000,00 EUR\r' $(seq 1 200) > "$work/small.txt"
for i in $(seq 1 20); do printf '%-160s' "ENREGISTREMENT $i"; done > "$work/lcr.txt"
run idle-reply-wait L "$work/lcr.txt" --silent-at banner
run statement R "$work/small.rel" --statement "$work/small.txt"
run lcr-20-records L "$work/lcr.txt"
for mb in 5 50; do
  head -c $((mb * 1024 * 1024)) /dev/zero | tr '\0' 'A' | fold -w 79 | tr '\n' '\r' > "$work/big.txt"
  run "statement-${mb}MB" R "$work/big.rel" --statement "$work/big.txt" --chunk-size 4096 --chunk-pace-ms 0
  echo "  stored $(wc -c < "$work/big.rel") bytes"
done
