#!/usr/bin/env bash
# The main job: exports the built-in test sequence (150 frames of 1920x1080 at
# 30 fps: moving colour patterns over an alpha ramp, with a test tone) through
# the stand-in host into a HAP movie, build/velno_demo.mov unless an output is
# named (as the last argument, or OUTPUT=...), whose path hap-export prints.
# Builds the plug-in and hap-export first when they are out of date, and
# nothing else, in a build folder configured with any CMake generator.
# Extra arguments go to hap-export, e.g.
#   scripts/run.sh --param ADBEVideoCodec=3 --frames 60 short.mov
#   scripts/run.sh --help
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
if [[ -f $build_dir/CMakeCache.txt ]]; then
  # Configured already: only what is out of date is built, and shown. What
  # the build tools say when there is nothing to do says nothing new.
  cmake --build "$build_dir" --config Release --parallel "$(nproc)" --target hap-export |
    { grep -v -E -e '^\[0/[0-9]+\] Re-checking globbed directories\.\.\.$' -e '^ninja: no work to do\.$' \
        -e '^\[ *[0-9]+%\] Built target ' -e '^Consolidate compiler generated dependencies of target ' \
        -e '^g?make(\[[0-9]+\])?: (Entering|Leaving) directory ' || true; }
else
  TARGETS=hap-export scripts/setup.sh
fi

# hap-export's own reading of its arguments, as far as telling whether one of
# them names the output: the options that take a value, and "--" after which
# everything is a name.
output_named=false
value_options=" --plugin --param --input --size --rate --audio --start-timecode --frames "
args=("$@")
for ((i = 0; i < ${#args[@]}; ++i)); do
  arg=${args[i]}
  if [[ $arg == -- ]]; then
    ((i + 1 < ${#args[@]})) && output_named=true
    break
  elif [[ $arg != -* ]]; then
    output_named=true
  elif [[ $value_options == *" $arg "* ]]; then
    ((++i))
  fi
done
if ! $output_named; then args+=("${OUTPUT:-$build_dir/velno_demo.mov}"); fi

# A multi-configuration generator puts the program in a folder of its own.
program=$build_dir/host/hap-export
[[ -x $program ]] || program=$build_dir/host/Release/hap-export
exec "$program" "${args[@]}"
