#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when they are missing.
# As root it installs them with apt-get; otherwise it prints the command to run.
#   scripts/install-deps.sh [fuzz] [bench]
# "fuzz" adds clang and its fuzzer runtime (fuzz/), "bench" the peers that bench/run
# measures against (pandas on Debian's python3, pigz).
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
    libdeflate-dev
)
for group in "$@"; do
    case "$group" in
        fuzz) PACKAGES+=(clang libclang-rt-14-dev) ;;
        bench) PACKAGES+=(python3 python3-pandas pigz) ;;
        *) echo "install-deps.sh: unknown group '$group' (fuzz, bench)" >&2; exit 2 ;;
    esac
done

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
