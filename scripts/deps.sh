#!/usr/bin/env bash
# Installs what Kelvane needs to build, test and run on Debian 12, when it is
# missing; with "package" also what builds and checks the Debian package
# (scripts/package.sh). Needs root or sudo only when something is missing.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    libgtest-dev libgmock-dev libbenchmark-dev
    qt6-base-dev libgl1-mesa-dev libudev-dev
    libsqlite3-dev libpq-dev postgresql
    xvfb xauth
)
if [ "${1:-}" = package ]; then
    packages+=(dpkg-dev fakeroot file help2man lintian desktop-file-utils man-db)
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
