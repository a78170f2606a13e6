# Sourced by the bench scripts: the helpers that read and report their figures.

load() { cut -d ' ' -f 1-3 /proc/loadavg; }
# The value of key in a "key=value ..." line.
kv() { tr ' ' '\n' <<< "$2" | sed -n "s/^$1=//p" | head -n 1; }
calc() { awk "BEGIN { printf \"$1\", $2 }"; }
median_of() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

records_file() {  # records_file PATH COUNT: 160-byte L.C.R records
  for i in $(seq 1 "$2"); do printf '%-160s' "LCR $i TIRE DUPONT ECHEANCE 31/12/26 MONTANT 1500,00"; done > "$1"
}

# The summary table's rows.
rows=()
row() { rows+=("$(printf '| %s | %s | %s | %s |' "$1" "$2" "$3" "$4")"); }
verdict() { awk "BEGIN { exit !($1) }" && echo met || echo MISSED; }
