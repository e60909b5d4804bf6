#!/usr/bin/env bash
# The release package: dist/vexo_Pyrix-<version>-win64.zip (make package).
#
# Builds the Windows plug-in and runs its checks (the PE checks and the Wine tests, ctest
# --preset windows); any failure stops here and leaves no zip. Then packs the very .aex those
# checks passed with the user guide (its pictures rendered now by the native pyrix and plug-in
# of the same build), LICENSE.txt, THIRD_PARTY_NOTICES.txt and SHA256SUMS, unpacks the zip
# again and checks what came out.
#
# Usage: tools/package/make_package.sh [BUILD_DIR]   (default build/windows, the windows preset)
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
here="$root/tools/package"
build="${1:-$root/build/windows}"
python=/usr/bin/python3  # Debian's, which has python3-pefile
cd "$root"

fail() {
  echo "make package: $*" >&2
  exit 1
}

mkdir -p dist
rm -f dist/vexo_Pyrix-*-win64.zip  # a failed run leaves none, not even an old one

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
(cd "$build/package" && TZ=UTC zip -qrX "$root/dist/$name.zip.part" "$name")

# What a user gets: unpack and check it as such.
check="$build/package/unpacked"
mkdir -p "$check"
unzip -q "dist/$name.zip.part" -d "$check"
(cd "$check/$name" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match"
[[ "$(sha256sum "$check/$name/vexo_Pyrix.aex" | cut -d' ' -f1)" == "$tested_sum" ]] ||
  fail "the packed .aex is not the one that was tested"
for check_name in exports imports pipl dialog kernels version; do
  "$python" tools/windows/pe_check.py "$check_name" "$check/$name/vexo_Pyrix.aex" \
    --pipl "$build/resources/pipl.bin" --dxbc kernels/bytecode/anchor_kernel.dxbc \
    kernels/bytecode/fire_kernel.dxbc || fail "the packed .aex fails the $check_name check"
done
"$here/check_guide.py" "$check/$name/user_guide.html" || fail "the guide is incomplete"

mv "dist/$name.zip.part" "dist/$name.zip"
echo "package: $root/dist/$name.zip ($(du -k "dist/$name.zip" | cut -f1) KiB)"
unzip -l "dist/$name.zip" | sed 's/^/  /'
