#!/usr/bin/env bash
# Installs from Debian's packages whatever the build, the tests and the benchmarks need
# (with the argument "package": also what scripts/package.sh needs).
# Does nothing (and asks no registry) when everything is already there.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build ccache pkg-config git python3
  clang libclang-rt-14-dev
  qt6-base-dev qt6-base-dev-tools libqscintilla2-qt6-dev libgl-dev qt6-translations-l10n
  libcurl4-openssl-dev zlib1g-dev libpcre2-dev
  libgtest-dev libgmock-dev libbenchmark-dev libcpp-httplib-dev libssl-dev
  openssl xvfb xauth fonts-wqy-microhei
  libcli11-dev libsqlite3-dev
  rapidjson-dev nlohmann-json3-dev
)
# Only for building and checking the Debian package: install-deps.sh package
if [ "${1:-}" = package ]; then
  PACKAGES+=(help2man librsvg2-bin dpkg-dev lintian desktop-file-utils appstream)
fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}" >&2
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
