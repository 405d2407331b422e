#!/usr/bin/env bash
# clang-tidy (.clang-tidy: the bugprone and performance checks) over the sources of the
# libraries below src/app and the command-line tool, with their headers; fails on any finding.
#   bash scripts/tidy.sh [REGEX...]   only the sources whose path matches one of the REGEXes
# It takes a few minutes on two cores: not a CI step. It configures build/tidy (file by file, no
# unity build, so that each source has its own compile command; nothing is compiled) and installs
# clang-tidy with apt-get when it is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

if ! command -v run-clang-tidy >/dev/null || ! command -v clang-tidy >/dev/null; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        clang-tidy >/dev/null
fi

cmake --preset release -B build/tidy -DTOLLWICK_UNITY_BUILD=OFF -DTOLLWICK_BUILD_APP=OFF \
    -DTOLLWICK_BUILD_BENCH=OFF -DTOLLWICK_BUILD_TESTS=OFF >/dev/null

if [ $# -eq 0 ]; then
    set -- '/src/(carddata|files|device|settings|cardsteps|issuance|jobs|cli)/'
fi
run-clang-tidy -quiet -p build/tidy -j "$(nproc)" "$@"
