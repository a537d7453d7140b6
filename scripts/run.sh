#!/usr/bin/env bash
# Sets up a fresh machine, builds the program and starts the window. When no USB
# serial adapter is plugged in, it first starts the simulated adapter with live
# bus traffic and puts its port into the settings file, so that pressing OPEN
# shows frames at once.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh tarvenix-can-monitor tarvenix-seeed-sim

bin=build/bin
ini="$bin/TarvenixCanMonitor.ini"

# Sets Port in the [Seeed] section of the settings file, keeping everything else.
set_port() {
  local port="$1" tmp
  tmp=$(mktemp)
  [ -f "$ini" ] || : > "$ini"
  awk -v port="$port" '
    BEGIN { done = 0; inside = 0 }
    /^\[/ {
      if (inside && !done) { print "Port=" port; done = 1 }
      inside = (tolower($0) ~ /^\[seeed\]/)
    }
    inside && tolower($0) ~ /^[ \t]*port[ \t]*=/ { if (!done) print "Port=" port; done = 1; next }
    { print }
    END {
      if (inside && !done) { print "Port=" port; done = 1 }
      if (!done) { print "[Seeed]"; print "Port=" port }
    }' "$ini" > "$tmp"
  mv "$tmp" "$ini"
}

if ! compgen -G "/dev/ttyUSB*" > /dev/null && ! compgen -G "/dev/ttyACM*" > /dev/null; then
  simout=$(mktemp)
  "$bin/tarvenix-seeed-sim" --fps 200 --ids 16 --mixed --remote-share 0.01 --quiet > "$simout" &
  sim=$!
  trap 'kill "$sim" 2>/dev/null; rm -f "$simout"' EXIT
  for _ in $(seq 50); do
    port=$(head -n 1 "$simout")
    [ -n "$port" ] && break
    sleep 0.1
  done
  echo "No USB adapter found: using the simulated adapter on $port"
  set_port "$port"
fi

"$bin/tarvenix-can-monitor"
