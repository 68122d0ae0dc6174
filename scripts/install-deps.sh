#!/usr/bin/env bash
# Installs the Debian 12 packages that building and testing Quirnel need,
# when they are missing. Run as root (or with sudo available).
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config python3
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libsqlite3-dev sqlite3
  libpff-dev pff-tools pst-utils
  libicu-dev
  libgmime-3.0-dev libical-dev
  dovecot-imapd openssl libetpan-dev libgnutls28-dev libsasl2-modules nettle-dev
  golang-github-jhillyerd-enmime-dev libpython3.11-testsuite
  qt6-base-dev qt6-base-dev-tools qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools
  qt6-translations-l10n
  libgl-dev libxkbcommon-dev
  xvfb xauth
  clang libclang-rt-14-dev
  mingw-w64-common
  desktop-file-utils appstream
  parallel python3-yaml
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
