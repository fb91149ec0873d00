#!/usr/bin/env bash
# The main job: exports the built-in test sequence (150 frames of 1920x1080 at
# 30 fps: moving colour patterns over an alpha ramp, with a test tone) through
# the stand-in host into a HAP movie, build/velno_demo.mov (OUTPUT=... to
# change it), whose path hap-export prints. Builds the plug-in and hap-export
# first when they are out of date, and nothing else.
# Extra arguments go to hap-export, e.g.
#   scripts/run.sh --param ADBEVideoCodec=3 --frames 60
#   scripts/run.sh --help
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
if [[ -f $build_dir/build.ninja ]]; then
  # Configured already: only what is out of date is built, and shown. The
  # check of the source folders runs every time and says nothing new.
  cmake --build "$build_dir" --target hap-export |
    { grep -v -e '^\[0/[0-9]*\] Re-checking globbed directories\.\.\.$' -e '^ninja: no work to do\.$' || true; }
else
  TARGETS=hap-export scripts/setup.sh
fi

exec "$build_dir/host/hap-export" "$@" "${OUTPUT:-$build_dir/velno_demo.mov}"
