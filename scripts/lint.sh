#!/usr/bin/env bash
# The fast first stage of scripts/test.sh: every tracked C/C++ file as
# .clang-format lays it out, then clang-tidy (.clang-tidy) over the core and
# platform sources of the native build. KORVAL_LINT_FORMAT=0 skips the layout
# check alone, for a tree not yet formatted.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
jobs=${KORVAL_LINT_JOBS:-2}
failed=0

if [ "${KORVAL_LINT_FORMAT:-1}" != 0 ]; then
  echo "lint: clang-format --dry-run over the tracked C/C++ files"
  git ls-files -z '*.c' '*.cc' '*.cpp' '*.h' '*.hpp' |
    xargs -0 -r clang-format --dry-run -Werror || failed=1
else
  echo "lint: KORVAL_LINT_FORMAT=0, layout not checked"
fi

# clang-tidy reads the flags of each file from the native build.
if [ ! -f build/compile_commands.json ]; then
  cmake --preset default >/dev/null
fi
echo "lint: clang-tidy over src/, $jobs at a time"
mapfile -t sources < <(git ls-files 'src/*.cpp')
# Only the files the native build compiles: the Windows back-end has no entry.
mapfile -t sources < <(python3 - build/compile_commands.json "${sources[@]}" <<'PY'
import json, os, sys
built = {os.path.realpath(e["file"]) for e in json.load(open(sys.argv[1]))}
for path in sys.argv[2:]:
    if os.path.realpath(path) in built:
        print(path)
PY
)
# --quiet leaves only the findings; a finding fails the file's run.
printf '%s\0' "${sources[@]}" |
  xargs -0 -r -n4 -P"$jobs" clang-tidy -p build --quiet --warnings-as-errors='*' \
    2> >(grep -v -E '^[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$' >&2) ||
  failed=1

if ((failed)); then
  echo "lint: failed" >&2
  exit 1
fi
echo "lint: clean"
