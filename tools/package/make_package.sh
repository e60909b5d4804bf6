#!/usr/bin/env bash
# The release: dist/vexo_Pyrix-<version>-win64.zip, dist/vexo_Pyrix-<version>-win64.msi and
# dist/SHA256SUMS of both (make package).
#
# Builds the Windows plug-in and runs its checks (the PE checks and the Wine tests, ctest
# --preset windows); any failure stops here and leaves nothing in dist/. Then stages the very
# .aex those checks passed, signed (tools/package/sign.sh: the certificate comes from the
# environment; without one the release says it is unsigned), with the user guide,
# LICENSE.txt, THIRD_PARTY_NOTICES.txt and SHA256SUMS (stage_release.sh); packs the zip,
# unpacks it again and checks what came out; builds the installer from those very files and
# checks it holds them (make_msi.py), and signs it.
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
rm -f dist/vexo_Pyrix-*-win64.zip dist/vexo_Pyrix-*-win64.msi dist/SHA256SUMS \
  dist/vexo_Pyrix-*-win64.*.part dist/SHA256SUMS.part
trap 'rm -f dist/vexo_Pyrix-*-win64.*.part dist/SHA256SUMS.part' EXIT
# A certificate that cannot sign stops the release now, not after the checks.
"$here/sign.sh" signer >/dev/null || fail "the signing certificate is unusable; no package"

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
mkdir -p "$build/package"
"$here/stage_release.sh" "$build" "$stage" | tee "$build/package/stage.log"
signed_by="$(tail -n 1 "$build/package/stage.log")"

# What a user gets: packed, unpacked and checked as such; dist/ receives it only then.
check="$build/package/unpacked"
"$here/zip_checked.sh" "$stage" "$build/package/$name.zip" "$check"
packed="$check/$name/vexo_Pyrix.aex"
if [[ "$signed_by" != UNSIGNED ]]; then
  # Signed: without its signature, the very bytes that were tested.
  osslsigncode remove-signature -in "$packed" -out "$build/package/unsigned.aex" >/dev/null ||
    fail "the packed .aex has no signature to take off"
  packed="$build/package/unsigned.aex"
fi
[[ "$(sha256sum "$packed" | cut -d' ' -f1)" == "$tested_sum" ]] ||
  fail "the packed .aex is not the one that was tested"
for check_name in exports imports pipl dialog kernels version; do
  "$python" tools/windows/pe_check.py "$check_name" "$check/$name/vexo_Pyrix.aex" \
    --pipl "$build/resources/pipl.bin" --dxbc kernels/bytecode/anchor_kernel.dxbc \
    kernels/bytecode/fire_kernel.dxbc || fail "the packed .aex fails the $check_name check"
done
if [[ "$signed_by" == UNSIGNED ]]; then
  guide_states=(--unsigned)
else
  guide_states=(--signed-by "${signed_by#signed by }")
fi
"$here/check_guide.py" "$check/$name/user_guide.html" "${guide_states[@]}" ||
  fail "the guide is incomplete"

# The installer, made from the unpacked zip: it holds the zip's files, byte for byte (make_msi
# opens it again and compares).
msi="$build/package/$name.msi"
grep -qx "ProductVersion=$version" "$build/resources/product.txt" ||
  fail "$build/resources/product.txt is stale: it does not give version $version"
"$here/make_msi.py" --stage "$check/$name" --product "$build/resources/product.txt" --out "$msi"
if [[ "$signed_by" != UNSIGNED ]]; then
  "$here/sign.sh" sign "$msi"
  "$here/make_msi.py" --stage "$check/$name" --check "$msi"
fi

for file in "$name.zip" "$name.msi"; do
  cp "$build/package/$file" "dist/$file.part"
done
(cd dist && sha256sum "$name.zip.part" "$name.msi.part" | sed 's/\.part$//' >SHA256SUMS.part)
for file in "$name.zip" "$name.msi" SHA256SUMS; do
  mv "dist/$file.part" "dist/$file"
done
echo "package:   $root/dist/$name.zip ($(du -k "dist/$name.zip" | cut -f1) KiB)"
unzip -l "dist/$name.zip" | sed 's/^/  /'
echo "installer: $root/dist/$name.msi ($(du -k "dist/$name.msi" | cut -f1) KiB)"
echo "checksums: $root/dist/SHA256SUMS"
if [[ "$signed_by" == UNSIGNED ]]; then
  echo "UNSIGNED: neither the plug-in nor the installer is signed (no PYRIX_SIGN_CERT and" \
    "PYRIX_SIGN_KEY, nor PYRIX_SIGN_PKCS12); the guide says so."
else
  echo "signed:    the plug-in and the installer, $signed_by"
fi
