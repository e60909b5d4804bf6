#!/usr/bin/env bash
# The release's files, in the one folder that both the zip and the installer are made from:
# the plug-in (signed when the environment gives a certificate, see sign.sh), the user guide
# with its pictures (rendered now by the native pyrix and plug-in of the same build),
# LICENSE.txt, THIRD_PARTY_NOTICES.txt and SHA256SUMS of them all.
#
# Usage: tools/package/stage_release.sh BUILD STAGE
#   BUILD: the windows preset's build folder (build/windows), already built
#   STAGE: the folder to fill (emptied first)
# Prints "signed by NAME" or "UNSIGNED" as its last line.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
[[ $# -eq 2 ]] || {
  sed -n '2,10p' "$0" >&2
  exit 2
}
build="$(realpath "$1")"
stage="$(realpath -m "$2")"

fail() {
  echo "stage_release: $*" >&2
  exit 1
}

version_file="$build/resources/version.txt"
version="$(cat "$version_file" 2>/dev/null || true)"
[[ "$version" =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "no version in $version_file"
aex="$build/host/vexo_Pyrix.aex"
for input in "$aex" "$build/host/vexo_Pyrix.map" "$build/native/bin/pyrix" \
  "$build/native/bin/vexo_Pyrix.so"; do
  [[ -s "$input" ]] || fail "missing $input (build the windows preset first)"
done
# Checked first: a bad certificate stops the release before anything is made.
signer="$("$here/sign.sh" signer)"

rm -rf "$stage"
mkdir -p "$stage"
cp "$aex" "$stage/vexo_Pyrix.aex"
if [[ -n "$signer" ]]; then
  "$here/sign.sh" sign "$stage/vexo_Pyrix.aex"
  signature=(--signer "$signer")
else
  signature=(--unsigned)
fi
"$here/make_guide.py" --source "$root" --pyrix "$build/native/bin/pyrix" \
  --plugin "$build/native/bin/vexo_Pyrix.so" --version "$version" "${signature[@]}" --out "$stage"
"$here/third_party_notices.py" "$build/host/vexo_Pyrix.map" "$stage/THIRD_PARTY_NOTICES.txt"

# The licence as the About dialog states it: its licence line is the last line of the text.
licence_line="$("$build/native/bin/pyrix" about --plugin "$build/native/bin/vexo_Pyrix.so" |
  tr -d '\r' | tail -n 1)"
grep -qF -- "$licence_line" "$here/LICENSE.txt" ||
  fail "LICENSE.txt does not state the About dialog's licence line: $licence_line"
sed 's/$/\r/' "$here/LICENSE.txt" >"$stage/LICENSE.txt"

(cd "$stage" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort |
  xargs -d '\n' sha256sum >SHA256SUMS)
if [[ -n "$signer" ]]; then
  echo "signed by $signer"
else
  echo "UNSIGNED"
fi
