#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds the release preset, runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
bash scripts/build.sh release
# Most tests wait on the virtual reader or a child process rather than compute: run three per
# core.
ctest --preset release -j "$(( $(nproc) * 3 ))"
