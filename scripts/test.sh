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
# A test program left unbuilt stands in the list as <program>_NOT_BUILT.
only_built=()
if [[ -n ${TARGETS:-} ]]; then only_built=(-E '_NOT_BUILT$'); fi
# A multi-configuration generator's tests are those of the configuration built.
config_name=Release
if [[ ${SANITIZE:-0} != 0 ]]; then config_name=Debug; fi
ctest --test-dir "$build_dir" -C "$config_name" --output-on-failure -j"$(nproc)" "${only_built[@]}" 2>&1 | tee "$log" || status=$?
# Repeat the summary last, where it cannot scroll away behind failure output.
summary=$(grep -E 'tests passed|No tests were found' "$log" | tail -n 1 || true)
echo "${summary:-ctest printed no summary}"
exit "$status"
