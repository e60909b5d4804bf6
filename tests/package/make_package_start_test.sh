#!/usr/bin/env bash
# make_package.sh before it builds anything, in a copy of itself with cmake stubbed out: it takes
# no build folder it would not check, finds a python3 with pefile on PATH (none is an error), and
# starts from nothing (no old zip, no part of one).
# Usage: make_package_start_test.sh TOOLS_PACKAGE WORK_DIR
set -uo pipefail
tools="$1" work="$2/make_package_start"
rm -rf "$work" && mkdir -p "$work/tree/tools/package" "$work/tree/dist" "$work/bin" "$work/nopefile"
cp "$tools/make_package.sh" "$tools/sign.sh" "$work/tree/tools/package/"
printf '#!/bin/sh\necho "cmake called: $*"\nexit 1\n' > "$work/bin/cmake"
printf '#!/bin/sh\nexit 0\n' > "$work/bin/python3"
printf '#!/bin/sh\nexit 1\n' > "$work/nopefile/python3"
chmod +x "$work/bin/cmake" "$work/bin/python3" "$work/nopefile/python3"
ln -s "$(command -v bash)" "$(command -v dirname)" "$work/nopefile/"
script="$work/tree/tools/package/make_package.sh"
status=0
expect() {  # expected exit status, expected text, command...
  local want="$1" text="$2"
  shift 2
  local output code
  output="$("$@" 2>&1)"
  code=$?
  if [[ $code -ne $want || "$output" != *"$text"* ]]; then
    echo "FAIL: $* exited $code, wanted $want with '$text'; said: $output"
    status=1
  fi
}
expect 2 "usage:" env PATH="$work/bin:$PATH" "$script" build/other
expect 1 "has the pefile module" env PATH="$work/nopefile" "$script"
touch "$work/tree/dist/vexo_Pyrix-0.9.0-win64.zip" "$work/tree/dist/vexo_Pyrix-0.9.0-win64.zip.part"
expect 1 "cmake called: --preset windows" env PATH="$work/nopefile:$work/bin:$PATH" "$script"
left="$(ls -A "$work/tree/dist")"
[[ -z "$left" ]] || { echo "FAIL: a new run keeps $left"; status=1; }
exit $status
