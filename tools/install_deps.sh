#!/usr/bin/env bash
# Installs the Debian packages that a part of the build needs, if any is missing.
# Usage: tools/install_deps.sh GROUP...   (groups are the files in tools/deps/)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
missing=()
for group in "$@"; do
  while read -r pkg; do
    [[ -z "$pkg" || "$pkg" == \#* ]] && continue
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$pkg")
    fi
  done < "$here/deps/$group.txt"
done
if [[ ${#missing[@]} -eq 0 ]]; then exit 0; fi
if [[ $(id -u) -ne 0 ]]; then
  echo "missing packages: ${missing[*]}" >&2
  echo "install them with: sudo apt-get install ${missing[*]}" >&2
  exit 1
fi
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
