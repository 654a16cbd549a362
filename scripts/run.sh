#!/usr/bin/env bash
# The main job: installs what is missing, builds, and runs the tool.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" --target mox
exec build/release/tools/mox/mox cpuid "$@"
