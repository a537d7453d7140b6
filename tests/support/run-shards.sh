#!/usr/bin/env bash
# run-shards.sh COUNT PROGRAM [ARGS...]: runs a test program as COUNT gtest
# shards side by side, each a process of its own, and fails when one fails. For
# programs whose tests mostly wait (on a simulated adapter's pace, on time-outs),
# so that their waits overlap instead of adding up.
set -u
count=$1
shift
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
pids=()
for ((i = 0; i < count; i++)); do
  GTEST_TOTAL_SHARDS=$count GTEST_SHARD_INDEX=$i "$@" >"$out/$i" 2>&1 &
  pids+=($!)
done
status=0
for ((i = 0; i < count; i++)); do
  wait "${pids[$i]}" || status=1
  cat "$out/$i"
done
exit $status
