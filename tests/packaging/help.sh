#!/usr/bin/env bash
# The installed program, started from another folder on a fresh account and a private X server,
# finds the installed help file: the toolbar's help button opens the help window at context 1.
set -euo pipefail
PREFIX=$(realpath "$1")
work=$(mktemp -d)
mkdir -m 700 "$work/config" "$work/run"
trap 'kill ${app:-} ${xvfb:-} 2>/dev/null || true; wait; rm -rf "$work"' EXIT
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "Xvfb did not start within 10 s" >&2; exit 1; }
export DISPLAY=:$(cat "$work/display")

cd "$work"
env -u WAYLAND_DISPLAY -u QUILLORY_REGISTRY -u QUILLORY_WININI QT_QPA_PLATFORM=xcb XDG_CONFIG_HOME="$work/config" \
  XDG_RUNTIME_DIR="$work/run" QUILLORY_MESSAGES=console QUILLORY_LOG="$work/log" "$PREFIX/bin/quillory" 2>err &
app=$!
# The storyboard is up once a window of that name wider than the splash shows.
storyboard=
for _ in $(seq 200); do
  for w in $(xdotool search --onlyvisible --name '^Quillory$' 2>/dev/null); do
    eval "$(xdotool getwindowgeometry --shell "$w")"
    if [ "$WIDTH" -ge 500 ]; then storyboard=$w; fi
  done
  [ -n "$storyboard" ] && break
  sleep 0.1
done
[ -n "$storyboard" ] || { echo "no storyboard within 20 s" >&2; cat err; exit 1; }
# The help button sits at the right end of the toolbar, 594, 35 from the window's corner.
xdotool mousemove --window "$storyboard" 594 35 click 1
timeout 10 xdotool search --sync --onlyvisible --name '^Quillory Help$' >/dev/null || { cat err; exit 1; }
grep -qxF "WinHelpA: $PREFIX/share/quillory/Quillory.hlp#context-1" log
if grep -q 'Cannot open the help file\|Default Location For Help File' err; then cat err; exit 1; fi

xdotool windowfocus --sync "$storyboard" key Escape
timeout 10 tail --pid="$app" -f /dev/null || { echo "the program did not end within 10 s of Escape" >&2; exit 1; }
