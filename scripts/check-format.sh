#!/usr/bin/env bash
# Fails when a C++ file differs from what clang-format makes of it with the
# project's .clang-format. Reformat with:
#   git ls-files '*.cpp' '*.h' | xargs clang-format -i
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror
echo "Formatting matches .clang-format."
