#!/usr/bin/env bash
# The main job: builds, then exports the built-in test sequence (moving colour
# patterns with an alpha ramp and a test tone) through the stand-in host into a
# real HAP movie. Extra arguments go to hap-export, e.g.
#   scripts/run.sh --param ADBEVideoCodec=3 --frames 60
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
scripts/setup.sh

out=${OUTPUT:-$build_dir/velno_demo.mov}
"$build_dir/host/hap-export" "$@" "$out"
echo "Movie: $(realpath "$out")"
