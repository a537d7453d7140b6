#!/usr/bin/env bash
# Builds every test program that starts threads (CTest label "threads": the
# engine's, the window's, the headless monitor's, the simulator's and the
# bridges') with ThreadSanitizer into ./build-tsan and runs them. The programs
# of ours that a test starts as child processes come from the same build, so
# they run sanitized too. Any data race reported by a test program or by a
# program it started fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/setup.sh
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTCM_SANITIZE=thread -DTCM_WITH_GUI=ON -DTCM_WITH_BENCH=OFF
cd build-tsan
mapfile -t tests < <(ctest -N -L '^threads$' | sed -n 's/^ *Test *#[0-9]*: //p')
if [ ${#tests[@]} -eq 0 ]; then
  echo "no test carries the label threads" >&2
  exit 1
fi
# Each test target depends on the programs it starts; nothing else is built.
cmake --build . -j2 --target "${tests[@]}"

# Reports go to files, one per process, so that a race in a child process is
# seen even where its test only looks at the child's output or exit status. The
# folder is open to everyone: some tests run our programs as user nobody.
reports=$(mktemp -d)
trap 'rm -rf "$reports"' EXIT
chmod 1777 "$reports"
# The suppressions go there too: a clone in a private folder (mktemp -d) is
# not readable by nobody, and a sanitizer that cannot read them stops the program.
install -m 644 "$root/scripts/tsan-qt.supp" "$reports/tsan-qt.supp"
# Qt's libraries are not built with the sanitizer: what they do inside is not
# seen, and the allocations and copies they make through the sanitizer's
# interceptors are left out (ignore_noninstrumented_modules), as is the one
# hand-over through Qt's event queue that scripts/tsan-qt.supp describes.
# A program goes on after a report, so that one run shows every race it meets,
# and exits with status 66 at its end.
export TSAN_OPTIONS="halt_on_error=0 exitcode=66 second_deadlock_stack=1 ignore_noninstrumented_modules=1 \
suppressions=$reports/tsan-qt.supp log_path=$reports/tsan"
status=0
# One test at a time: sanitized programs run several times slower, and tests of
# timing-bound exchanges (a bridge's client and its adapter) need the cores.
ctest --output-on-failure --timeout 600 -L '^threads$' || status=$?
if compgen -G "$reports/tsan.*" > /dev/null; then
  cat "$reports"/tsan.*
  echo "ThreadSanitizer reported the races above" >&2
  status=1
fi
[ $status -eq 0 ] && echo "No data race in: ${tests[*]}"
exit $status
