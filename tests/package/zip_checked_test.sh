#!/usr/bin/env bash
# zip_checked.sh on what must not ship: entries left in a failed run's ZIP.part, and a file in
# the folder that SHA256SUMS does not list. Usage: zip_checked_test.sh TOOLS_PACKAGE WORK_DIR
set -uo pipefail
tools="$1" work="$2/zip_checked"
rm -rf "$work" && mkdir -p "$work/stage/pkg" "$work/stale/pkg"
cd "$work"
echo guide > stage/pkg/guide.txt
(cd stage/pkg && sha256sum guide.txt > SHA256SUMS)
echo old > stale/pkg/stale.txt
(cd stale && zip -q "$work/out.zip.part" pkg/stale.txt)

status=0
"$tools/zip_checked.sh" "$work/stage/pkg" "$work/out.zip" "$work/unpacked1" || status=1
entries="$(unzip -Z1 out.zip 2>&1 | LC_ALL=C sort | tr '\n' ' ')"
echo "entries: $entries"
[[ "$entries" == "pkg/ pkg/SHA256SUMS pkg/guide.txt " ]] || status=1

echo extra > stage/pkg/extra.txt
if "$tools/zip_checked.sh" "$work/stage/pkg" "$work/out2.zip" "$work/unpacked2"; then
  echo "a file that SHA256SUMS does not list was shipped"
  status=1
fi
[[ ! -e out2.zip && ! -e out2.zip.part ]] || { echo "a refused zip was left"; status=1; }
exit $status
