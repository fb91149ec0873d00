#!/usr/bin/env bash
# Builds everything and runs every test; exits non-zero when a test fails.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
scripts/setup.sh

log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
ctest --test-dir "$build_dir" --output-on-failure -j"$(nproc)" 2>&1 | tee "$log" || status=$?
# Repeat the summary last, where it cannot scroll away behind failure output.
summary=$(grep -E 'tests passed|No tests were found' "$log" | tail -n 1 || true)
echo "${summary:-ctest printed no summary}"
exit "$status"
