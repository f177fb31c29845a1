#!/usr/bin/env bash
# Installs every Debian package the project needs to build, run and test,
# then fetches the Debian source packages of the libraries the module builds
# into itself (scripts/fetch-sources.sh). Does nothing when everything is
# already present. Non-interactive; run as root (or through sudo when
# available).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

packages=(
  build-essential cmake ninja-build pkg-config git ccache
  dpkg-dev liblua5.4-dev libasound2-dev
  libfreetype-dev libpng-dev zlib1g-dev
  libx11-dev libgl1 libgl1-mesa-dri
  libfontconfig-dev fontconfig fonts-dejavu-core fonts-liberation
  libgtest-dev googletest libbenchmark-dev
  xvfb xauth zenity xdotool liblo-tools python3 sox locales tesseract-ocr strace
  clang libclang-rt-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

# A comma-decimal locale, so that tests can show number texts ignore it.
need_locale() { ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; }

if [ ${#missing[@]} -eq 0 ]; then
  if need_locale && [ "$(id -u)" -eq 0 ]; then localedef -i de_DE -c -f UTF-8 de_DE.UTF-8 || true; fi
  exec bash "$here/fetch-sources.sh"
fi

echo "setup: installing ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then SUDO="sudo"; else
    echo "setup: missing packages and not root: ${missing[*]}" >&2
    exit 1
  fi
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
if need_locale; then $SUDO localedef -i de_DE -c -f UTF-8 de_DE.UTF-8 || true; fi
exec bash "$here/fetch-sources.sh"
