#!/usr/bin/env bash
# The test command: installs what is missing, configures, builds and runs
# every test of the CI build (warnings are errors).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs=$(nproc)
cmake --preset ci
cmake --build --preset ci -j "$jobs"
ctest --preset ci -j "$jobs"
