#!/usr/bin/env bash
# The installed program as assistive technology sees it: on a private X server and a private session
# bus with its own accessibility bus, a screen reader's library (pyatspi) reads the storyboard's
# toolbar buttons and cells by name, and the VCR panel reached with the keyboard alone.
set -euo pipefail
PREFIX=$(realpath "$1") CHECK=$(realpath "$2")
PYTHON=${QUILLORY_TEST_PYTHON:-/usr/bin/python3}
work=$(mktemp -d)
mkdir -m 700 "$work/config" "$work/run"
trap 'kill ${app:-} ${launcher:-} ${bus:-} ${xvfb:-} 2>/dev/null || true; wait; rm -rf "$work"' EXIT
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb=$!
dbus-daemon --session --nofork --print-address=3 3>"$work/bus" 2>"$work/bus.log" &
bus=$!
for _ in $(seq 100); do [ -s "$work/display" ] && [ -s "$work/bus" ] && break; sleep 0.1; done
# The accessibility bus's socket goes under the private runtime folder, away from any other session's.
export DISPLAY=:$(cat "$work/display") DBUS_SESSION_BUS_ADDRESS=$(head -1 "$work/bus") XDG_RUNTIME_DIR="$work/run"
/usr/libexec/at-spi-bus-launcher --launch-immediately 2>>"$work/bus.log" &
launcher=$!

cd "$work"
ffmpeg -nostdin -v error -f lavfi -i testsrc=size=160x120:rate=15 -frames:v 45 -c:v mjpeg clip.avi
env -u WAYLAND_DISPLAY -u QUILLORY_REGISTRY -u QUILLORY_WININI QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 \
  XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" QUILLORY_MESSAGES=console \
  "$PREFIX/bin/quillory" clip.avi 2>err &
app=$!
timeout 60 "$PYTHON" "$CHECK" || { cat err; exit 1; }
