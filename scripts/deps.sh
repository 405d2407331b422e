#!/usr/bin/env bash
# Installs the Debian packages Tollwick builds and tests with, when any is missing.
#   bash scripts/deps.sh [PACKAGE...]   also these packages (scripts/package.sh adds its tools)
set -euo pipefail

packages=(
    cmake ninja-build g++ clang pkg-config
    libhidapi-dev libsimpleini-dev libcli11-dev nlohmann-json3-dev libsodium-dev libsqlite3-dev
    python3
    libgtest-dev libgmock-dev libbenchmark-dev libclang-rt-14-dev
    qt6-base-dev qt6-svg-dev fonts-wqy-zenhei xvfb xauth
    "$@"
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
