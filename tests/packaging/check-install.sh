#!/usr/bin/env bash
# Stages `cmake --install` of a build folder into a temporary DESTDIR and checks
# what a desktop and a packager read: the .desktop file and the AppStream
# metainfo validate, every installed program has a manual page that man
# renders (with its exit status and examples) and answers --help, and the icon
# files exist at their sizes; the window without a display says so in one line,
# and the headless programs end in order on SIGHUP.
set -euo pipefail
build=${1:?usage: check-install.sh BUILD_DIR}
stage=$(mktemp -d)
sim="" dump=""
trap 'kill $sim $dump 2>/dev/null || true; rm -rf "$stage"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
for tool in desktop-file-validate appstreamcli man; do
  command -v "$tool" >/dev/null || fail "$tool is missing: run TCM_TEST_TOOLS=1 scripts/setup.sh"
done

DESTDIR="$stage" cmake --install "$build" --prefix /usr >/dev/null
root="$stage/usr"

desktop=$(ls "$root"/share/applications/*.desktop)
metainfo=$(ls "$root"/share/metainfo/*.metainfo.xml)
desktop-file-validate "$desktop" || fail "desktop-file-validate $desktop"
appstreamcli validate --no-net "$metainfo" >"$stage/as.out" 2>&1 ||
  fail "appstreamcli validate $metainfo: $(cat "$stage/as.out")"
grep -q "^Categories=Development;Electronics;$" "$desktop" || fail "categories of $desktop"
grep -q "<launchable type=\"desktop-id\">$(basename "$desktop")</launchable>" "$metainfo" ||
  fail "the metainfo does not launch $(basename "$desktop")"
icon=$(sed -n 's/^Icon=//p' "$desktop")
exe=$(sed -n 's/^Exec=//p' "$desktop")
[ -x "$root/bin/$exe" ] || fail "Exec=$exe is not installed"

programs=$(ls "$root/bin")
[ -n "$programs" ] || fail "no program installed"
for p in $programs; do
  page="$root/share/man/man1/$p.1.gz"
  [ -f "$page" ] || fail "$p has no manual page"
  # man's sandbox for its filters changes nothing of the page but a third of its time.
  text=$(MAN_DISABLE_SECCOMP=1 MANWIDTH=80 man -l "$page" 2>"$stage/man.err") || fail "man -l $page"
  [ -s "$stage/man.err" ] && fail "man -l $page warns: $(cat "$stage/man.err")"
  for section in NAME SYNOPSIS OPTIONS "EXIT STATUS" EXAMPLES; do
    grep -q "^$section\$" <<<"$text" || fail "the manual page of $p has no $section"
  done
  grep -q -- "--help" <<<"$text" || fail "the manual page of $p does not list --help"
  # The installed program answers --help without a display or a terminal.
  env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/bin/$p" --help </dev/null >/dev/null ||
    fail "$p --help"
done

# Without a display the window says so in one line instead of Qt's abort.
if env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/bin/tarvenix-can-monitor" \
     >"$stage/win.out" 2>"$stage/win.err"; then
  fail "the window started without a display"
fi
[ "$(wc -l <"$stage/win.err")" = 1 ] && grep -q "no display" "$stage/win.err" ||
  fail "the window without a display said: $(cat "$stage/win.err")"

# The installed headless programs end in order on SIGHUP (a closed terminal).
"$root/bin/tarvenix-seeed-sim" --fps 100 --quiet >"$stage/sim.out" &
sim=$!
for _ in $(seq 500); do [ -s "$stage/sim.out" ] && break; sleep 0.01; done
port=$(head -n 1 "$stage/sim.out")
"$root/bin/tarvenix-can-dump" --port "$port" >"$stage/dump.out" 2>"$stage/dump.err" &
dump=$!
for _ in $(seq 500); do [ -s "$stage/dump.out" ] && break; sleep 0.01; done
kill -HUP "$dump"
rc=0; wait "$dump" || rc=$?
dump=""
[ "$rc" = 0 ] && grep -q "^frames in: [1-9]" "$stage/dump.err" ||
  fail "tarvenix-can-dump after SIGHUP: exit $rc, $(cat "$stage/dump.err")"
kill -HUP "$sim"
rc=0; wait "$sim" || rc=$?
sim=""
[ "$rc" = 0 ] || fail "tarvenix-seeed-sim after SIGHUP: exit $rc"

# PNG sizes from their headers: width and height are bytes 16..23, big-endian.
for size in 16 22 24 32 48 64 128 256; do
  png="$root/share/icons/hicolor/${size}x${size}/apps/$icon.png"
  [ -f "$png" ] || fail "$png is missing"
  [ "$(od -An -tx1 -N8 "$png" | tr -d ' \n')" = 89504e470d0a1a0a ] || fail "$png is no PNG file"
  got=$(od -An -tu4 --endian=big -j16 -N8 "$png" | awk '{print $1 "x" $2}')
  [ "$got" = "${size}x${size}" ] || fail "$png is $got"
done
[ -f "$root/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "the scalable icon is missing"
echo "install check passed: $(echo $programs)"
