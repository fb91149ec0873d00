#!/usr/bin/env bash
# Builds everything and runs every test; exits non-zero when a test fails.
# With TARGETS="a b" (see setup.sh), builds those and runs the tests they hold.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
scripts/setup.sh

log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
# A multi-configuration generator's tests are those of the configuration built.
config_name=Release
if [[ ${SANITIZE:-0} != 0 ]]; then config_name=Debug; fi
# A test program left unbuilt stands in the list as <program>_NOT_BUILT; a
# fuzz target left unbuilt keeps its test fuzz.<name>, whose program is
# <name>_fuzz.
only_built=()
if [[ -n ${TARGETS:-} ]]; then
  unbuilt='_NOT_BUILT$'
  for fuzz_test in $(ctest --test-dir "$build_dir" -C "$config_name" -N | grep -o 'fuzz\.[A-Za-z0-9_]*' || true); do
    if [[ " $(echo $TARGETS) " != *" ${fuzz_test#fuzz.}_fuzz "* ]]; then unbuilt+="|^$fuzz_test\$"; fi
  done
  only_built=(-E "$unbuilt")
fi
ctest --test-dir "$build_dir" -C "$config_name" --output-on-failure -j"$(nproc)" "${only_built[@]}" 2>&1 | tee "$log" || status=$?
# Repeat the summary last, where it cannot scroll away behind failure output.
summary=$(grep -E 'tests passed|No tests were found' "$log" | tail -n 1 || true)
echo "${summary:-ctest printed no summary}"
exit "$status"
