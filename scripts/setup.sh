#!/usr/bin/env bash
# Installs the missing build dependencies, then configures and builds.
# Usage: scripts/setup.sh [extra cmake options]   (BUILD_DIR defaults to build)
# With SANITIZE=1: the checking build instead, with Clang, Debug at -O1,
# AddressSanitizer and UBSan, and the fuzz targets; no benchmarks.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}

packages=(cmake g++ ninja-build pkg-config libsnappy-dev libsquish-dev
          libgtest-dev libgmock-dev libbenchmark-dev)
config=(-DCMAKE_BUILD_TYPE=Release)
if [[ ${SANITIZE:-0} == 1 ]]; then
  packages+=(clang libclang-rt-dev)
  config=(-DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-g -O1" -DHAP_SANITIZE=ON
          -DHAP_BUILD_BENCH=OFF -DCMAKE_CXX_COMPILER=clang++)
fi
missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  sudo=()
  if [[ $(id -u) -ne 0 ]]; then
    command -v sudo >/dev/null || { echo "setup: need root or sudo to install ${missing[*]}" >&2; exit 1; }
    sudo=(sudo -n)
  fi
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update -q
  "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

cmake -S . -B "$build_dir" -G Ninja "${config[@]}" "$@"
cmake --build "$build_dir"
