#!/usr/bin/env bash
# Installs the Debian packages that building and testing need. Does nothing when
# they are all present; uses sudo when not run as root.
set -euo pipefail

packages=(g++ make cmake libgtest-dev libgmock-dev libbenchmark-dev qt6-base-dev qt6-serialport-dev libgl-dev zlib1g-dev help2man)
if [ "${TCM_GUI_TOOLS:-0}" = 1 ]; then
  packages+=(xvfb xauth)
fi
# The real readers and clients that the tests check the program against.
if [ "${TCM_TEST_TOOLS:-0}" = 1 ]; then
  packages+=(can-utils tshark python3-can python3-canmatrix clang clang-format)
  # The install and package checks: validators, man, the package tools and
  # setpriv (util-linux) to run the window as an unprivileged user.
  packages+=(desktop-file-utils appstream man-db util-linux)
  TCM_PACKAGE_TOOLS=1
fi
# scripts/package.sh: CPack's dpkg-shlibdeps needs dpkg-dev and file.
if [ "${TCM_PACKAGE_TOOLS:-0}" = 1 ]; then
  packages+=(dpkg-dev file lintian)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update
$sudo apt-get install -y --no-install-recommends "${missing[@]}"
