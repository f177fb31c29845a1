#!/usr/bin/env bash
# Fetches the Debian source packages of the libraries that the module builds
# into itself, so that a host which carries its own copy of one of them (its
# own Lua, say) can never bind our calls to it. The build finds them in
# CORVANE_SOURCE_CACHE (default: /var/cache/corvane as root, else
# ${XDG_CACHE_HOME:-~/.cache}/corvane), one folder per package:
#   sources/<package>            -> the unpacked source, Debian's patches applied
#   sources/<package>_<version>/ the folder that link points to
#
# The machine's apt configuration is left alone: apt is pointed, for this one
# download, at a private sources file (the machine's own Debian archive with
# Types: deb-src) and private lists and cache folders under the cache folder.
# apt checks the .dsc against the archive's signed index; dpkg-source checks
# every file of the package against the .dsc's SHA-256 sums before unpacking.
#
# Cheap when everything is there: no network, no apt. Safe to run from several
# builds at once (one holds a lock while it fetches).
set -euo pipefail

# The source packages, and the file each must contain to count as unpacked.
packages=(lua5.1 oscpack rtmidi ftgl libepoxy)
declare -A probe=(
  [lua5.1]=src/lapi.c
  [oscpack]=osc/OscTypes.cpp
  [rtmidi]=RtMidi.cpp
  [ftgl]=src/FTGL/ftgl.h
  [libepoxy]=src/dispatch_common.c
)
# Packages whose Debian patches touch only their build system and documents
# (FTGL's enable the docs and replace freetype-config; libepoxy's Debian part
# is its packaging), none of the code the module compiles: where the archive
# cannot hand out the Debian part, the upstream tarball alone is used, checked
# against the .dsc all the same.
declare -A upstream_will_do=([ftgl]=1 [libepoxy]=1)

if [ -n "${CORVANE_SOURCE_CACHE:-}" ]; then
  cache=$CORVANE_SOURCE_CACHE
elif [ "$(id -u)" -eq 0 ]; then
  cache=/var/cache/corvane
else
  cache=${XDG_CACHE_HOME:-$HOME/.cache}/corvane
fi

have() { [ -f "$cache/sources/$1/${probe[$1]}" ] && [ -f "$cache/sources/$1/.corvane-verified" ]; }
missing_packages() {
  local p
  for p in "${packages[@]}"; do have "$p" || echo "$p"; done
}

[ -z "$(missing_packages)" ] && exit 0

fail() { echo "fetch-sources: $*" >&2; exit 1; }
mkdir -p "$cache/sources" || fail "cannot create $cache"
exec {lockfd}>"$cache/.lock"
flock "$lockfd"
mapfile -t missing < <(missing_packages) # again: another run may have fetched them meanwhile
[ ${#missing[@]} -eq 0 ] && exit 0
command -v dpkg-source >/dev/null || fail "dpkg-source is missing (package dpkg-dev)"

# The private apt folders and the sources file: every Debian suite of this
# release that the machine's own sources name, as source entries.
apt_dir=$cache/apt
mkdir -p "$apt_dir/etc/sources.list.d" "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
: >"$apt_dir/etc/sources.list"
codename=$( (. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}") || true)
mapfile -t entries < <(apt-get indextargets --no-release-info \
  --format '$(TARGET_OF) $(REPO_URI) $(RELEASE) $(COMPONENT)' | awk '$1 == "deb"' | sort -u)
keyring=/usr/share/keyrings/debian-archive-keyring.gpg
sources_file=$apt_dir/etc/sources.list.d/corvane.sources
: >"$sources_file"
written=0
for entry in "${entries[@]}"; do
  read -r _ uri suite component <<<"$entry"
  if [ -n "$codename" ] && ! [[ $suite =~ ^$codename(-updates|-security)?$ ]]; then continue; fi
  {
    echo "Types: deb-src"
    echo "URIs: $uri"
    echo "Suites: $suite"
    echo "Components: $component"
    [ -f "$keyring" ] && echo "Signed-By: $keyring"
    echo
  } >>"$sources_file"
  written=$((written + 1))
done
[ "$written" -gt 0 ] || fail "the machine's apt sources name no Debian archive for ${codename:-this release}"

apt_private=(
  -o "Dir::Etc::SourceList=$apt_dir/etc/sources.list"
  -o "Dir::Etc::SourceParts=$apt_dir/etc/sources.list.d"
  -o "Dir::State::Lists=$apt_dir/lists"
  -o "Dir::Cache=$apt_dir/cache"
  -o "Dir::Cache::pkgcache=" -o "Dir::Cache::srcpkgcache="
)
echo "fetch-sources: reading the source index of the machine's archive"
apt-get -q "${apt_private[@]}" update >"$apt_dir/update.log" 2>&1 ||
  { cat "$apt_dir/update.log" >&2; fail "apt could not read the archive's source index"; }

for package in "${missing[@]}"; do
  work=$(mktemp -d "$cache/fetch-$package.XXXXXX")
  # apt downloads as its own unprivileged user when it runs as root.
  if [ "$(id -u)" -eq 0 ] && id _apt >/dev/null 2>&1; then chown _apt "$work"; fi
  echo "fetch-sources: fetching the $package source package"
  downloaded=1
  (cd "$work" && apt-get -q "${apt_private[@]}" source --download-only "$package") >"$work/download.log" 2>&1 ||
    downloaded=0
  dsc=$(find "$work" -maxdepth 1 -name "${package}_*.dsc" | head -n 1)
  if [ "$downloaded" -eq 0 ] && { [ -z "$dsc" ] || [ -z "${upstream_will_do[$package]:-}" ]; }; then
    cat "$work/download.log" >&2; rm -rf "$work"; fail "apt could not fetch the $package source package"
  fi
  [ -n "$dsc" ] || { rm -rf "$work"; fail "no .dsc for $package"; }
  version=$(sed -n 's/^Version: //p' "$dsc" | head -n 1)
  if [ "$downloaded" -eq 0 ]; then
    # The .dsc came (apt checked it against the signed index); its SHA-256
    # sum vouches for the upstream tarball.
    orig=$(sed -n '/^Checksums-Sha256:/,/^[^ ]/s/^ \([0-9a-f]\{64\}\) [0-9]* \(.*\.orig\.tar\.[a-z0-9]*\)$/\1  \2/p' "$dsc" | head -n 1)
    if [ -z "$orig" ] || ! (cd "$work" && echo "$orig" | sha256sum --check --status); then
      cat "$work/download.log" >&2; rm -rf "$work"
      fail "the $package upstream tarball is missing or failed its checksum check"
    fi
    echo "fetch-sources: $package: the archive has no Debian part; using the checked upstream tarball"
    mkdir "$work/tree"
    tar -xf "$work/${orig#*  }" -C "$work/tree" --strip-components=1 ||
      { rm -rf "$work"; fail "the $package upstream tarball would not unpack"; }
  # dpkg-source refuses a file whose size or SHA-256 differs from the .dsc,
  # then applies Debian's patches.
  elif ! dpkg-source --require-strong-checksums -x "$dsc" "$work/tree" >"$work/unpack.log" 2>&1; then
    cat "$work/unpack.log" >&2
    rm -rf "$work"
    fail "the $package source package failed its checksum check or would not unpack"
  fi
  [ -f "$work/tree/${probe[$package]}" ] || { rm -rf "$work"; fail "$package has no ${probe[$package]}"; }
  touch "$work/tree/.corvane-verified"
  target=$cache/sources/${package}_$version
  rm -rf "$target"
  mv "$work/tree" "$target"
  ln -sfn "${package}_$version" "$cache/sources/$package"
  rm -rf "$work"
  echo "fetch-sources: $package $version ready in $target"
done
