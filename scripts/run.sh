#!/usr/bin/env bash
# The main job: installs what is missing, builds the release preset and runs
# `mox demo` on the sample installation in examples/ (extra arguments go to
# the demo, e.g. --out DIR).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" --target mox
exec build/release/tools/mox/mox demo "$@"
