#!/usr/bin/env bash
# Sets up a fresh machine and builds everything (program, tools, tests, benchmarks)
# into ./build with two jobs.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j2
