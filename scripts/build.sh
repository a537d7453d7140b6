#!/usr/bin/env bash
# Sets up a fresh machine and builds into ./build with two jobs: everything
# (program, tools, tests, benchmarks), or only the targets named as arguments.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
# TCM_WERROR=1 (the test command sets it) makes every warning an error; the
# build folder keeps that choice, so switching commands rebuilds nothing.
werror=()
[ "${TCM_WERROR:-0}" = 1 ] && werror=(-DTCM_WERROR=ON)
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo "${werror[@]}"
if [ $# -gt 0 ]; then
  for target in "$@"; do
    cmake --build build -j2 --target "$target"
  done
else
  cmake --build build -j2
fi
