#!/usr/bin/env bash
# Fetches the HLSL -> DXBC compiler (vkd3d-compiler from Debian's unstable suite) into a private
# folder and leaves a wrapper at DIR/bin/vkd3d-compiler. The system's packages and apt sources
# are not touched: the private folder has its own sources list, package lists and cache, the
# packages are unpacked with dpkg-deb -x, and the compiler runs through the unpacked (newer) libc's
# own dynamic loader.
#
# Usage: tools/dxbc/fetch_compiler.sh DIR
# Exit status 0 when DIR/bin/vkd3d-compiler works, 2 when the compiler cannot be fetched.
set -euo pipefail

dir="${1:?usage: fetch_compiler.sh DIR}"
mkdir -p "$dir"
dir="$(cd "$dir" && pwd)"
wrapper="$dir/bin/vkd3d-compiler"

if [[ -x "$wrapper" ]] && "$wrapper" --version >/dev/null 2>&1; then
  exit 0
fi

# The mirror is the machine's own: the first Debian archive (not the security one) in its sources.
mirror=""
shopt -s nullglob
for file in /etc/apt/sources.list.d/*.sources; do
  uri="$(awk 'tolower($1) == "uris:" { for (i = 2; i <= NF; i++) print $i }' "$file" |
         grep -v -- '-security' | head -n 1 || true)"
  if [[ -n "$uri" ]]; then mirror="$uri"; break; fi
done
if [[ -z "$mirror" ]]; then
  for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [[ -f "$file" ]] || continue
    uri="$(awk '$1 == "deb" { for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\//) { print $i; break } }' \
           "$file" | grep -v -- '-security' | head -n 1 || true)"
    if [[ -n "$uri" ]]; then mirror="$uri"; break; fi
  done
fi
if [[ -z "$mirror" ]]; then
  echo "fetch_compiler: no Debian mirror found in the apt sources" >&2
  exit 2
fi

apt_root="$dir/apt"
mkdir -p "$apt_root/lists/partial" "$apt_root/archives/partial" "$apt_root/sources.list.d" \
         "$apt_root/preferences.d" "$dir/debs"
keyring=/usr/share/keyrings/debian-archive-keyring.gpg
echo "deb [signed-by=$keyring] $mirror unstable main" > "$apt_root/sources.list"
: > "$apt_root/status"

apt_options=(
  -o "Dir::Etc::SourceList=$apt_root/sources.list"
  -o "Dir::Etc::SourceParts=$apt_root/sources.list.d"
  -o "Dir::Etc::PreferencesParts=$apt_root/preferences.d"
  -o "Dir::State::Lists=$apt_root/lists"
  -o "Dir::State::status=$apt_root/status"
  -o "Dir::Cache=$apt_root/cache"
  -o "Dir::Cache::Archives=$apt_root/archives"
  -o "APT::Sandbox::User=root"
  -o "Debug::NoLocking=1"
  -o "Acquire::Retries=2"
)

if ! apt-get -qq "${apt_options[@]}" update >"$dir/fetch.log" 2>&1; then
  echo "fetch_compiler: apt-get update of the private unstable list failed (see $dir/fetch.log)" >&2
  exit 2
fi
packages=(vkd3d-compiler libvkd3d-shader1 libc6)
if ! (cd "$dir/debs" && rm -f ./*.deb &&
      apt-get -qq "${apt_options[@]}" download "${packages[@]}") >>"$dir/fetch.log" 2>&1; then
  echo "fetch_compiler: download of ${packages[*]} failed (see $dir/fetch.log)" >&2
  exit 2
fi

rm -rf "$dir/root"
mkdir -p "$dir/root"
for deb in "$dir"/debs/*.deb; do
  dpkg-deb -x "$deb" "$dir/root"
done

loader="$(find "$dir/root" -name 'ld-linux-x86-64.so.2' | head -n 1)"
if [[ -z "$loader" ]]; then
  echo "fetch_compiler: the unpacked libc has no dynamic loader" >&2
  exit 2
fi
mkdir -p "$dir/bin"
cat > "$wrapper" <<WRAPPER
#!/bin/sh
root="$dir/root"
exec "$loader" --library-path "\$root/usr/lib/x86_64-linux-gnu:\$root/lib/x86_64-linux-gnu" \\
  "\$root/usr/bin/vkd3d-compiler" "\$@"
WRAPPER
chmod +x "$wrapper"

# Record the package versions next to the compiler.
for deb in "$dir"/debs/*.deb; do
  echo "$(dpkg-deb -f "$deb" Package) $(dpkg-deb -f "$deb" Version)"
done > "$dir/versions.txt"

if ! "$wrapper" --version >/dev/null 2>&1; then
  echo "fetch_compiler: the fetched compiler does not run" >&2
  exit 2
fi
