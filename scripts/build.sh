#!/usr/bin/env bash
# Sets up a fresh machine and builds into ./build with two jobs: everything
# (program, tools, tests, benchmarks), or only the targets named as arguments.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
if [ $# -gt 0 ]; then
  for target in "$@"; do
    cmake --build build -j2 --target "$target"
  done
else
  cmake --build build -j2
fi
