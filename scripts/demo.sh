#!/usr/bin/env bash
# Builds korvalcom and runs one demonstration job in a temporary folder.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

bash scripts/install-deps.sh
cmake --preset default
cmake --build --preset default --target korvalcom

demo=$(mktemp -d "${TMPDIR:-/tmp}/korval-demo.XXXXXX")
echo "Demo folder: $demo"

# The profile that holds the number to dial.
cat > "$demo/win.ini" <<INI
[KORVAL]
NUMTRANSPAC=0836064545
INI

# The file sent with the job: 12 lines of 40 bytes.
for i in $(seq -w 1 12); do
  printf 'Demo line %s: 0123456789ABCDEFGHIJKLMNO\n' "$i"
done > "$demo/data.txt"
[ "$(wc -c < "$demo/data.txt")" -eq 480 ]

cat > "$demo/job.ini" <<INI
[KORVAL]
NumeroAbonne=175000123
TypeAction=L
CarteParametre=Demonstration job
FichierAssocie=$demo/data.txt
INI

echo "Running: KORVAL_WININI=$demo/win.ini build/korvalcom /B:$demo/job.ini /N:Demo"
status=0
# Bounded so a job waiting on a line that never answers cannot hang the demo.
KORVAL_WININI="$demo/win.ini" timeout 300 build/korvalcom "/B:$demo/job.ini" /N:Demo </dev/null || status=$?

echo
echo "korvalcom exit status: $status"
echo
echo "Job file after the run ($demo/job.ini):"
cat "$demo/job.ini"
