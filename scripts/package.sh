#!/usr/bin/env bash
# Builds the Debian package build/package/tarvenix-can-monitor_<version>_amd64.deb
# with CPack (library dependencies from dpkg-shlibdeps) and runs lintian on it:
# any lintian error fails. With --check it also unpacks the package into a
# scratch folder and runs the unpacked programs' --help.
set -euo pipefail
cd "$(dirname "$0")/.."
check=0
[ "${1:-}" = "--check" ] && check=1
TCM_PACKAGE_TOOLS=1 scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2
rm -rf build/package
# CPack builds the whole tree first (its preinstall step), then installs, strips and packs.
(cd build && cpack -G DEB -B "$PWD/package" >/dev/null)
deb=$(ls build/package/tarvenix-can-monitor_*_amd64.deb)
echo "package: $deb"
dpkg-deb -f "$deb" Package Version Architecture Depends

# Errors fail; warnings and information are shown.
lintian --fail-on error --tag-display-limit 0 "$deb"

if [ "$check" = 1 ]; then
  scratch=$(mktemp -d)
  trap 'rm -rf "$scratch"' EXIT
  dpkg-deb -x "$deb" "$scratch"
  for p in "$scratch"/usr/bin/*; do
    env -u DISPLAY -u WAYLAND_DISPLAY "$p" --help >/dev/null
  done
  # Whole outputs are captured before grep looks at them: with pipefail, a
  # "grep -q" that exits at its first match would make the writer die of SIGPIPE.
  help=$("$scratch/usr/bin/tarvenix-can-dump" --help)
  grep -q -- "--port NAME" <<<"$help" || { echo "tarvenix-can-dump --help lacks --port" >&2; exit 1; }
  depends=$(dpkg-deb -f "$deb" Depends)
  grep -q "libqt6widgets6" <<<"$depends" || { echo "Depends lacks the Qt libraries" >&2; exit 1; }
  echo "package check passed: programs run from the unpacked package"
fi
