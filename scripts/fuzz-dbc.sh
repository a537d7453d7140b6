#!/usr/bin/env bash
# Fuzzes the DBC reader and decoder with libFuzzer and AddressSanitizer for
# SECONDS (default 180), starting from the test files. Needs clang and
# libclang-rt-14-dev. Findings (crash-*, leak-*, timeout-*) land in build-fuzz/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-180}"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTCM_FUZZ=ON \
  -DTCM_WITH_GUI=OFF -DTCM_WITH_BENCH=OFF > /dev/null
cmake --build build-fuzz --target fuzz_dbc -j2
mkdir -p build-fuzz/dbc-corpus
cp tests/signals/data/*.dbc build-fuzz/dbc-corpus/
cd build-fuzz
./tests/signals/fuzz_dbc -max_total_time="$seconds" -max_len=65536 -timeout=10 -print_final_stats=1 \
  -dict=../tests/signals/dbc.dict dbc-corpus
