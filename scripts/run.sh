#!/usr/bin/env bash
# The main job: exports the built-in test sequence (150 frames of 1920x1080 at
# 30 fps: moving colour patterns over an alpha ramp, with a test tone) through
# the stand-in host into a HAP movie, build/velno_demo.mov (OUTPUT=... to
# change it). Builds the plug-in and hap-export first, and nothing else.
# Extra arguments go to hap-export, e.g.
#   scripts/run.sh --param ADBEVideoCodec=3 --frames 60
#   scripts/run.sh --help
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
TARGETS=hap-export scripts/setup.sh

out=${OUTPUT:-$build_dir/velno_demo.mov}
# A new movie is a new file at the path: --help, --summary, --list-params and
# a failed export leave the path as it was.
before=$(stat -L -c %d:%i "$out" 2>/dev/null || true)
status=0
"$build_dir/host/hap-export" "$@" "$out" || status=$?
after=$(stat -L -c %d:%i "$out" 2>/dev/null || true)
if [[ -n $after && $after != "$before" ]]; then echo "Movie: $(realpath "$out")"; fi
exit "$status"
