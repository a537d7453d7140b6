#!/usr/bin/env bash
# Checks the formatting, builds everything with warnings as errors and runs the
# whole test suite, then the multi-threaded engine tests once more under
# ThreadSanitizer, then checks the lock rules with clang, then builds the .deb
# and checks it (lintian, programs run from the unpacked package); exits
# non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
export TCM_TEST_TOOLS=1 TCM_WERROR=1
scripts/check-format.sh
scripts/build.sh
(cd build && ctest --output-on-failure -j2 --timeout 600)
scripts/test-threads.sh
scripts/check-lock-rules.sh
scripts/package.sh --check
