#!/usr/bin/env bash
# Fuzzes each recording reader of the format table with libFuzzer, AddressSanitizer
# and UBSan for SECONDS each (default 180), starting from recordings our own
# writers make. Needs clang and libclang-rt-14-dev. Findings (crash-*,
# leak-*, timeout-*, oom-*) land in build-fuzz/record-<format>/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-180}"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTCM_FUZZ=ON \
  -DTCM_WITH_GUI=OFF -DTCM_WITH_BENCH=OFF > /dev/null
cmake --build build-fuzz -j2 --target fuzz_record
cd build-fuzz
fuzzer="$PWD/tests/record/fuzz_record"
mapfile -t formats < <(TCM_FUZZ_LIST=1 "$fuzzer")
for format in "${formats[@]}"; do
  export TCM_FUZZ_FORMAT="$format"
  dir="record-$format"
  mkdir -p "$dir/corpus"
  TCM_FUZZ_SEED_DIR="$dir/corpus" "$fuzzer" -runs=0 "$dir/corpus" > /dev/null 2>&1
  echo "== $format: $seconds s"
  (cd "$dir" && "$fuzzer" -max_total_time="$seconds" -max_len=200000 -timeout=10 -rss_limit_mb=512 \
    -print_final_stats=1 corpus 2>&1 | grep -E "^(stat::|INFO: Seed|==[0-9]+==ERROR|SUMMARY|Done)" || true)
  ls "$dir" | grep -E "^(crash|leak|timeout|oom)-" || echo "no findings"
done
