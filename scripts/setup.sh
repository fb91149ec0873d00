#!/usr/bin/env bash
# Installs the missing build dependencies, then configures and builds.
# Usage: scripts/setup.sh [extra cmake options]   (BUILD_DIR defaults to build)
# With SANITIZE=1: the checking build instead, with Clang, Debug at -O1,
# AddressSanitizer and UBSan, and the fuzz targets; no benchmarks.
# With SANITIZE=thread: the thread-checking build, the same with
# ThreadSanitizer and no fuzz targets.
# With TARGETS="a b": only those targets and what they need are built.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}

packages=(cmake g++ ninja-build pkg-config libsnappy-dev libsquish-dev
          libgtest-dev libgmock-dev libbenchmark-dev strace)
config=(-DCMAKE_BUILD_TYPE=Release)
config_name=Release  # what a multi-configuration generator builds
case ${SANITIZE:-0} in
  0) ;;
  1) sanitizer=(-DHAP_SANITIZE=ON) ;;
  thread) sanitizer=(-DHAP_SANITIZE_THREAD=ON) ;;
  *) echo "setup: SANITIZE must be 1 or thread" >&2; exit 1 ;;
esac
if [[ ${SANITIZE:-0} != 0 ]]; then
  packages+=(clang libclang-rt-dev)
  config_name=Debug
  config=(-DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-g -O1" "${sanitizer[@]}"
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

# A build folder keeps the generator it was configured with, whichever that
# was; a new one gets Ninja unless CMAKE_GENERATOR names another.
generator=()
if [[ ! -f $build_dir/CMakeCache.txt && -z ${CMAKE_GENERATOR:-} ]]; then generator=(-G Ninja); fi
cmake -S . -B "$build_dir" "${generator[@]}" "${config[@]}" "$@"
targets=()
for t in ${TARGETS:-}; do targets+=(--target "$t"); done
cmake --build "$build_dir" --config "${config_name}" --parallel "$(nproc)" "${targets[@]}"
