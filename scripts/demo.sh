#!/usr/bin/env bash
# Builds korvalcom and the network emulator, then runs two demonstration jobs in a
# temporary folder: a statement request and an L.C.R file, each against the
# emulator (a Hayes modem, the TRANSPAC PAD and a bank site on a pseudo-terminal).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

bash scripts/install-deps.sh
cmake --preset default > /dev/null
cmake --build --preset default --target korvalcom korval-netemu

demo=$(mktemp -d "${TMPDIR:-/tmp}/korval-demo.XXXXXX")
emulator=""
trap '[ -n "$emulator" ] && kill "$emulator" 2>/dev/null; true' EXIT
subscriber=175000123

heading() { printf '\n==== %s\n' "$*"; }

# Starts the emulator for one call and waits (bounded) for its device path.
start_emulator() {
  local name=$1
  shift
  build/korval-netemu --once --timeout 120 --bank-number "$subscriber" --dial-delay-ms 500 \
    --report "$demo/$name.report.txt" --received "$demo/$name.received.txt" "$@" \
    > "$demo/$name.emulator.out" 2> "$demo/$name.emulator.err" &
  emulator=$!
  pty=""
  for _ in $(seq 1 100); do
    pty=$(head -n 1 "$demo/$name.emulator.out" 2>/dev/null || true)
    [ -n "$pty" ] && return 0
    sleep 0.1
  done
  echo "the emulator did not start" >&2
  exit 1
}

write_win_ini() {
  cat > "$demo/win.ini" <<INI
[KORVAL]
NUMTRANSPAC=0836064545
[MODEM0]
Port=$pty
[$subscriber]
COMPLEMENT=
INI
}

# Runs one job and shows its log, its exit status and the job file's results.
run_job() {
  local name=$1 type=$2 file=$3
  printf '[KORVAL]\r\nNumeroAbonne=%s\r\nTypeAction=%s\r\nCarteParametre=DEMONSTRATION %s\r\nFichierAssocie=%s\r\n' \
    "$subscriber" "$type" "$name" "$file" > "$demo/$name.job.ini"
  heading "$name: korvalcom /B:$demo/$name.job.ini /N:Demo"
  local status=0
  KORVAL_WININI="$demo/win.ini" timeout 120 build/korvalcom "/B:$demo/$name.job.ini" /N:Demo \
    < /dev/null || status=$?
  wait "$emulator" 2>/dev/null || true
  emulator=""
  echo "exit status: $status"
  echo "job file results:"
  grep -aE '^(Retour|Detail1|Detail2)=' "$demo/$name.job.ini" | tr -d '\r' | sed 's/^/  /'
  return "$status"
}

overall=0

# 1. A statement request: the previous statement is kept as RELEVE.BAK.
for i in $(seq 1 8); do printf 'RELEVE DU 08/12/26 LIGNE %d SOLDE %d,00 EUR\r' "$i" "$((1000 * i))"; done \
  > "$demo/bank-statement.txt"
printf 'previous statement\r\n' > "$demo/RELEVE.TXT"
start_emulator statement --statement "$demo/bank-statement.txt"
write_win_ini
run_job statement R "$demo/RELEVE.TXT" || overall=1
heading "statement: files at both ends"
echo "sent by the bank ($demo/bank-statement.txt):"; tr '\r' '\n' < "$demo/bank-statement.txt" | sed 's/^/  /'
echo "received ($demo/RELEVE.TXT), the end record included:"; tr '\r' '\n' < "$demo/RELEVE.TXT" | sed 's/^/  /'; echo
echo "previous copy ($demo/RELEVE.BAK):"; tr -d '\r' < "$demo/RELEVE.BAK" | sed 's/^/  /'

# 2. An L.C.R file of three 160-byte records.
for i in 1 2 3; do printf '%-160s' "LCR $i TIRE DUPONT ECHEANCE 31/12/26 MONTANT 1500,00"; done > "$demo/lcr.txt"
start_emulator lcr
write_win_ini
run_job lcr L "$demo/lcr.txt" || overall=1
heading "lcr: files at both ends"
echo "sent ($demo/lcr.txt): $(wc -c < "$demo/lcr.txt") bytes"
echo "received by the bank ($demo/lcr.received.txt): $(wc -c < "$demo/lcr.received.txt") bytes"
if cmp -s "$demo/lcr.txt" "$demo/lcr.received.txt"; then echo "  identical"; else echo "  DIFFERENT"; overall=1; fi
echo "the records as the bank decoded them from EBCDIC (trailing blanks cut):"
fold -w 160 "$demo/lcr.received.txt" | sed 's/ *$//; s/^/  /'; echo
echo "the bank's report:"; sed 's/^/  /' "$demo/lcr.report.txt"

heading "demo folder: $demo"
exit "$overall"
