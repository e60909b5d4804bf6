#!/usr/bin/env bash
# The release package: dist/vexo_Pyrix-<version>-win64.zip (make package).
#
# Builds the Windows plug-in and runs its checks (the PE checks and the Wine tests, ctest
# --preset windows); any failure stops here and leaves no zip. Then packs the very .aex those
# checks passed with the user guide (its pictures rendered now by the native pyrix and plug-in
# of the same build), LICENSE.txt, THIRD_PARTY_NOTICES.txt and SHA256SUMS, unpacks the zip
# again and checks what came out.
#
# Usage: tools/package/make_package.sh   (the windows preset's build, build/windows: the one
# folder that the preset commands build and check)
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
here="$root/tools/package"
build="$root/build/windows"
cd "$root"

fail() {
  echo "make package: $*" >&2
  exit 1
}

[[ $# -eq 0 ]] || {
  echo "usage: tools/package/make_package.sh (no arguments: it packs the windows preset's" \
    "build)" >&2
  exit 2
}
# The PE checks need pefile (Debian's python3-pefile): $PYTHON, else the first python3 on PATH
# that has it (a user's own python3 may come first without it).
python=""
for candidate in ${PYTHON:-} $(type -ap python3); do
  if "$candidate" -c 'import pefile' 2>/dev/null; then
    python="$candidate"
    break
  fi
done
[[ -n "$python" ]] || fail "no python3 on PATH (nor \$PYTHON) has the pefile module"

mkdir -p dist
# A failed run leaves nothing, not even an old package or a part of one.
rm -f dist/vexo_Pyrix-*-win64.zip dist/vexo_Pyrix-*-win64.zip.part

cmake --preset windows
cmake --build --preset windows
aex="$build/host/vexo_Pyrix.aex"
tested_sum="$(sha256sum "$aex" | cut -d' ' -f1)"
ctest --preset windows || fail "the Windows checks failed; no package"
[[ "$(sha256sum "$aex" | cut -d' ' -f1)" == "$tested_sum" ]] ||
  fail "$aex changed while it was being checked"

version="$(cat "$build/resources/version.txt")"
[[ "$version" =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "no version in $build/resources/version.txt"
name="vexo_Pyrix-$version-win64"
stage="$build/package/$name"
rm -rf "$build/package"
mkdir -p "$stage"

cp "$aex" "$stage/vexo_Pyrix.aex"
"$here/make_guide.py" --source "$root" --pyrix "$build/native/bin/pyrix" \
  --plugin "$build/native/bin/vexo_Pyrix.so" --version "$version" --out "$stage"
"$here/third_party_notices.py" "$build/host/vexo_Pyrix.map" "$stage/THIRD_PARTY_NOTICES.txt"

# The licence as the About dialog states it: its licence line is the last line of the text.
licence_line="$("$build/native/bin/pyrix" about --plugin "$build/native/bin/vexo_Pyrix.so" |
  tr -d '\r' | tail -n 1)"
grep -qF -- "$licence_line" "$here/LICENSE.txt" ||
  fail "LICENSE.txt does not state the About dialog's licence line: $licence_line"
sed 's/$/\r/' "$here/LICENSE.txt" > "$stage/LICENSE.txt"

(cd "$stage" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort |
  xargs -d '\n' sha256sum > SHA256SUMS)
# What a user gets: packed, unpacked and checked as such; dist/ receives it only then.
check="$build/package/unpacked"
"$here/zip_checked.sh" "$stage" "$build/package/$name.zip" "$check"
[[ "$(sha256sum "$check/$name/vexo_Pyrix.aex" | cut -d' ' -f1)" == "$tested_sum" ]] ||
  fail "the packed .aex is not the one that was tested"
for check_name in exports imports pipl dialog kernels version; do
  "$python" tools/windows/pe_check.py "$check_name" "$check/$name/vexo_Pyrix.aex" \
    --pipl "$build/resources/pipl.bin" --dxbc kernels/bytecode/anchor_kernel.dxbc \
    kernels/bytecode/fire_kernel.dxbc || fail "the packed .aex fails the $check_name check"
done
"$here/check_guide.py" "$check/$name/user_guide.html" || fail "the guide is incomplete"

cp "$build/package/$name.zip" "dist/$name.zip.part"
mv "dist/$name.zip.part" "dist/$name.zip"
echo "package: $root/dist/$name.zip ($(du -k "dist/$name.zip" | cut -f1) KiB)"
unzip -l "dist/$name.zip" | sed 's/^/  /'
