#!/usr/bin/env bash
# The main job: builds, then runs the texture engine benchmark.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
scripts/setup.sh

bench="$build_dir/bench/texture_bench"
if [[ ! -x $bench ]]; then
  echo "run: $bench has not been built (no bench/texture_bench.cpp yet); nothing to run."
  exit 0
fi
exec "$bench" "$@"
