#!/usr/bin/env bash
# Makes the Debian package from a built tree, installs it with dpkg into a fresh
# root, and runs the installed korvalcom through a statement request against the
# installed korval-netemu, with the installed example files as its settings.
# Usage: scripts/test-package.sh [build dir]   (default: build)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
build=${1:-build}

work=$(mktemp -d "${TMPDIR:-/tmp}/korval-package.XXXXXX")
emulator=""
cleanup() {
  if [ -n "$emulator" ]; then kill "$emulator" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "test-package: $*" >&2
  exit 1
}

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" > "$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack failed"; }
debs=("$work"/out/korvalcom_*.deb)
[ -f "${debs[0]}" ] || fail "no .deb made"
deb=${debs[0]}
echo "test-package: made $(basename "$deb")"

# Depends was computed from the binaries, and this system satisfies it.
depends=$(dpkg-deb -f "$deb" Depends)
case "$depends" in *libc6*) ;; *) fail "Depends lacks libc6: '$depends'" ;; esac
IFS=',' read -ra items <<< "$depends"
for item in "${items[@]}"; do
  read -r name op version <<< "$(sed -E 's/^ *([^ (]+) *(\(([<>=]+) *([^)]+)\))?.*/\1 \3 \4/' <<< "$item")"
  have=$(dpkg-query -W -f='${Version}' "$name" 2>/dev/null) || fail "dependency $name is not installed here"
  if [ -n "$op" ]; then
    dpkg --compare-versions "$have" "$op" "$version" || fail "$name $have does not satisfy $item"
  fi
done
echo "test-package: Depends: $depends"

# Debian's own checks: no error (warnings and notes are shown, not fatal).
if command -v lintian > /dev/null; then
  lintian --tag-display-limit 0 "$deb" > "$work/lintian.log" 2>&1 || true
  grep -v '^running with root privileges' "$work/lintian.log" || true
  ! grep -q '^E: ' "$work/lintian.log" || fail "lintian reports errors"
  echo "test-package: lintian: no error"
else
  fail "lintian is not installed"
fi

# A fresh root of its own: an empty dpkg database, the host's libraries not in it.
root=$work/root
mkdir -p "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/info"
: > "$root/var/lib/dpkg/status"
: > "$root/var/lib/dpkg/available"
dpkg --root="$root" --force-depends -i "$deb" > "$work/dpkg.log" 2>&1 ||
  { cat "$work/dpkg.log"; fail "dpkg -i failed"; }
dpkg --root="$root" -s korvalcom | grep -q '^Status: install ok installed$' || fail "not installed"
bin=$root/usr/bin
examples=$root/usr/share/doc/korvalcom/examples
for f in "$bin/korvalcom" "$bin/korval-netemu" \
  "$root/usr/share/man/man1/korvalcom.1.gz" "$root/usr/share/man/man1/korval-netemu.1.gz" \
  "$root/usr/share/doc/korvalcom/copyright" "$root/usr/share/doc/korvalcom/changelog.gz" \
  "$examples/win.ini" "$examples/statement.job.ini" "$examples/lcr.job.ini" \
  "$examples/virement.job.ini" "$examples/dads.job.ini"; do
  [ -e "$f" ] || fail "not installed: ${f#"$root"}"
done
for page in korvalcom korval-netemu; do
  warnings=$(zcat "$root/usr/share/man/man1/$page.1.gz" | groff -ww -z -man 2>&1)
  [ -z "$warnings" ] || fail "$page.1: $warnings"
done

# The installed emulator, for one call.
subscriber=$(sed -n 's/^NumeroAbonne=//p' "$examples/statement.job.ini")
printf 'RELEVE DU 08/12/26 LIGNE %d\r' 1 2 3 > "$work/bank.txt"
"$bin/korval-netemu" --once --timeout 120 --bank-number "$subscriber" --dial-delay-ms 200 \
  --statement "$work/bank.txt" --report "$work/report.txt" \
  > "$work/emulator.out" 2> "$work/emulator.err" &
emulator=$!
pty=""
for _ in $(seq 1 100); do
  pty=$(head -n 1 "$work/emulator.out" 2>/dev/null || true)
  [ -n "$pty" ] && break
  sleep 0.1
done
[ -n "$pty" ] || fail "the installed emulator did not start: $(cat "$work/emulator.err")"

# The installed examples, pointed at the emulator and at this folder.
sed "s|^Port=.*|Port=$pty|" "$examples/win.ini" > "$work/win.ini"
sed "s|^FichierAssocie=.*|FichierAssocie=$work/RELEVE.TXT|" "$examples/statement.job.ini" > "$work/job.ini"
printf 'previous statement\r' > "$work/RELEVE.TXT"

status=0
KORVAL_WININI="$work/win.ini" timeout 120 "$bin/korvalcom" "/B:$work/job.ini" \
  < /dev/null > "$work/korvalcom.out" 2> "$work/korvalcom.err" || status=$?
wait "$emulator" || true
emulator=""
if [ "$status" -ne 0 ]; then
  cat "$work/korvalcom.out" "$work/korvalcom.err" "$work/emulator.err" >&2
  fail "the installed korvalcom ended with status $status"
fi
grep -qx 'Retour=1' "$work/job.ini" || fail "no Retour=1 in the job file: $(cat "$work/job.ini")"
cmp -s <(head -c "$(wc -c < "$work/bank.txt")" "$work/RELEVE.TXT") "$work/bank.txt" ||
  fail "the statement stored differs from the one sent"
[ "$(cat "$work/RELEVE.BAK")" = $'previous statement\r' ] || fail "the previous statement was not kept"
grep -q '^acknowledgement received: yes$' "$work/report.txt" || fail "the bank saw no acknowledgement"
echo "test-package: the installed korvalcom received a statement from the installed emulator"
