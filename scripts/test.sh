#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds the release preset, runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
bash scripts/build.sh release
ctest --preset release -j2
