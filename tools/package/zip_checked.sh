#!/usr/bin/env bash
# Packs the folder STAGE into ZIP (STAGE's name is the zip's one top folder), unpacks it again
# and checks what came out: exactly the files that STAGE/SHA256SUMS lists, each matching. The
# zip is written from nothing as ZIP.part and renamed only once checked: zip adds to an
# existing archive, so a failed run's part would otherwise ship its entries with this one's.
# Usage: tools/package/zip_checked.sh STAGE ZIP UNPACK_DIR
set -euo pipefail
stage="$1" zip_file="$2" unpacked="$3"
name="$(basename "$stage")"
part="$zip_file.part"
fail() {
  echo "zip_checked: $*" >&2
  exit 1
}
rm -rf "$zip_file" "$part" "$unpacked"
trap 'rm -f "$part"' EXIT

(cd "$(dirname "$stage")" && TZ=UTC zip -qrX "$part" "$name")
mkdir -p "$unpacked"
unzip -q "$part" -d "$unpacked"
[[ "$(ls -A "$unpacked")" == "$name" ]] || fail "the zip holds more than $name/"
listed="$(sed 's/^[0-9a-f]*  //' "$unpacked/$name/SHA256SUMS" | LC_ALL=C sort)"
found="$(cd "$unpacked/$name" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' |
  LC_ALL=C sort)"
[[ "$listed" == "$found" ]] ||
  fail "the files differ from SHA256SUMS: $(diff <(echo "$listed") <(echo "$found") | grep '^[<>]' | tr '\n' ' ')"
(cd "$unpacked/$name" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match"
mv "$part" "$zip_file"
