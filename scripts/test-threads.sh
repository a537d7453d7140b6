#!/usr/bin/env bash
# Builds the multi-threaded engine tests with ThreadSanitizer into ./build-tsan
# and runs them; any data race the sanitizer reports fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
tests=(test_platform_sync test_views_engine test_transmit_stress test_periodic_send test_seeed_engine test_stats)
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTCM_SANITIZE=thread -DTCM_WITH_GUI=OFF -DTCM_WITH_BENCH=OFF
for t in "${tests[@]}"; do
  cmake --build build-tsan -j2 --target "$t"
done
cd build-tsan
export TSAN_OPTIONS="halt_on_error=1 exitcode=66"
ctest --output-on-failure --timeout 600 -R "^($(IFS='|'; echo "${tests[*]}"))\$"
