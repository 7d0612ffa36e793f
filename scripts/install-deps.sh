#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when they are missing.
# As root it installs them with apt-get; otherwise it prints the command to run.
set -euo pipefail

PACKAGES=(
    g++
    cmake
    ninja-build
    git
    pkg-config
    libfmt-dev
    libspdlog-dev
    nlohmann-json3-dev
    libssl-dev
    libpng-dev
    zlib1g-dev
    libboost-dev
    libboost-regex-dev
    libboost-filesystem-dev
    libboost-locale-dev
    libgtest-dev
    libgmock-dev
    libbenchmark-dev
)

missing=()
for pkg in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$pkg")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages: ${missing[*]}" >&2
    echo "Install them with: sudo apt-get install -y --no-install-recommends ${missing[*]}" >&2
    exit 1
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
if ! apt-get install -y --no-install-recommends "${missing[@]}"; then
    apt-get update
    apt-get install -y --no-install-recommends "${missing[@]}"
fi
