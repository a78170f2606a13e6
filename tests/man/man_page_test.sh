#!/usr/bin/env bash
# A manual page renders without warnings and documents every option its program
# accepts, and no option it does not.
# Usage: man_page_test.sh PAGE PROGRAM|"" SOURCE...
#   PROGRAM, when given, is asked for --help; the SOURCEs are scanned for the option
#   names the parser knows ("--name", "-x" or "/X:" as whole string literals).
set -euo pipefail
page=$1
program=$2
shift 2

failed=0
fail() {
  echo "$(basename "$page"): $*" >&2
  failed=1
}

warnings=$(groff -ww -z -man "$page" 2>&1)
[ -z "$warnings" ] || fail "groff warns: $warnings"

errors=$(mktemp)
trap 'rm -f "$errors"' EXIT
rendered=$(MANWIDTH=80 LC_ALL=C.UTF-8 man -l "$page" 2> "$errors" | col -b) || fail "man -l failed"
[ -s "$errors" ] && fail "man -l warns: $(cat "$errors")"
grep -q '^NAME' <<< "$rendered" || fail "renders without a NAME section"

accepted=$(
  {
    if [ -n "$program" ]; then
      "$program" --help | grep -oE '(^|[][ ,|])--?[a-z][a-z0-9-]*' | grep -oE -- '--?[a-z][a-z0-9-]*'
    fi
    grep -ohE '"(--?[a-z][a-z0-9-]*|/[A-Z]:)"' "$@" | tr -d '"'
  } | sort -u
)
[ -n "$accepted" ] || fail "no option found in the program or its sources"

for option in $accepted; do
  grep -qE -- "(^|[^a-z0-9-])$option([^a-z0-9-]|$)" <<< "$rendered" || fail "option $option is not in the page"
done
for option in $(grep -oE -- '(^|[^a-z0-9-])--[a-z][a-z0-9-]*' <<< "$rendered" | grep -oE -- '--[a-z0-9-]+' | sort -u); do
  grep -qxF -- "$option" <<< "$accepted" || fail "the page documents $option, which the program does not accept"
done

[ "$failed" -eq 0 ] && echo "$(basename "$page"): renders cleanly; documents $(wc -w <<< "$accepted") options"
exit "$failed"
