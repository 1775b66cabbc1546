#!/usr/bin/env bash
# quillory-cli import: phone and camera files conformed into AVI clips, as a first clip, like another
# clip, as a part, into the clips folder (a second import reuses the clip); failures leave no file.
set -euo pipefail
CLI=$1
data=${QUILLORY_TEST_DATA:?}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QUILLORY_REGISTRY="$work/cfg/registry.reg"

"$CLI" import "$data/import_portrait.mp4" "$work/first.avi" >"$work/first.txt" 2>"$work/first.err"
[ "$(tail -1 "$work/first.txt")" = "imported 60 frames 96x160 at 30 fps, sound 48000 Hz 16-bit 2 ch" ]
grep -qx 'import: frame 60 of 60' "$work/first.err"
"$CLI" info "$work/first.avi" | grep -qx '  Video: 96x160x24  (MJPG) 60 frames (0 drops)'

"$CLI" import "$data/import_vp9.webm" "$work/like.avi" --like "$work/first.avi" >"$work/like.txt" 2>/dev/null
[ "$(tail -1 "$work/like.txt")" = "imported 30 frames 96x160 at 30 fps, sound 48000 Hz 16-bit 2 ch" ]

printf 'Corvane Project 00\r\nF0: %s\r\n' "$data/proj_sound.avi" >"$work/like.cgp"
"$CLI" import "$data/import_portrait.mp4" "$work/project.avi" --like "$work/like.cgp" 2>/dev/null | tail -1 |
  grep -qx 'imported 30 frames 160x120 at 15 fps, sound 8000 Hz 16-bit 1 ch'

"$CLI" import "$data/import_vfr.mkv" "$work/part.avi" --size 64x48 --fps 15 --audio 11025,8,1 --start 1 \
  --seconds 1 >"$work/part.txt" 2>/dev/null
[ "$(tail -1 "$work/part.txt")" = "imported 15 frames 64x48 at 15 fps, sound 11025 Hz 8-bit 1 ch" ]
"$CLI" import "$data/import_hevc.mov" "$work/mute.avi" --audio none | tail -1 | grep -qx 'imported 25 frames 128x96 at 25 fps, sound none'

# The clips folder in the videos folder: named after the source, made once.
export XDG_VIDEOS_DIR="$work/videos"
clips="$work/videos/Quillory/Clips"
"$CLI" import "$data/import_hevc.mov" >"$work/clip1.txt" 2>/dev/null
[ "$(head -1 "$work/clip1.txt")" = "clip $clips/import_hevc.avi" ]
"$CLI" import "$data/import_hevc.mov" >"$work/clip2.txt" 2>"$work/clip2.err"
[ "$(head -1 "$work/clip2.txt")" = "reused $clips/import_hevc.avi" ]
[ ! -s "$work/clip2.err" ]
"$CLI" import "$data/import_hevc.mov" --fps 10 >"$work/clip3.txt" 2>/dev/null
[ "$(head -1 "$work/clip3.txt")" = "clip $clips/import_hevc (2).avi" ]

# A project naming such files: each converted into the clips folder (the first as a first clip,
# the next to its format) as the project is read, and used again by the next command.
printf 'Corvane Project 00\r\nF0: %s\r\nF0: %s\r\n' "$data/import_hevc.mov" "$data/import_vp9.webm" >"$work/phone.cgp"
"$CLI" project "$work/phone.cgp" >"$work/phone.txt" 2>"$work/phone.err"
grep -qx "reused $clips/import_hevc.avi" "$work/phone.err"
grep -qx "clip $clips/import_vp9.avi" "$work/phone.err"
grep -qx "F: $clips/import_vp9.avi [0-9]*" "$work/phone.txt"
"$CLI" render "$work/phone.cgp" "$work/phone.avi" >/dev/null 2>"$work/render.err"
[ "$(grep -c '^reused ' "$work/render.err")" -eq 2 ]

# Failures: a message naming the file, exit 1, no file.
head -c 20000 "$data/import_portrait.mp4" >"$work/cut.mp4"
set +e
"$CLI" import "$work/cut.mp4" "$work/cut.avi" >/dev/null 2>"$work/cut.err"
rc_cut=$?
"$CLI" import "$data/import_sound.m4a" "$work/sound.avi" >/dev/null 2>"$work/sound.err"
rc_sound=$?
"$CLI" import "$data/import_hevc.mov" "$work/bad.avi" --size 7x5 >/dev/null 2>&1
rc_bad=$?
"$CLI" import >/dev/null 2>&1
rc_none=$?
set -e
[ $rc_cut -eq 1 ] && [ $rc_sound -eq 1 ] && [ $rc_bad -eq 2 ] && [ $rc_none -eq 2 ]
grep -q "^Notify: Couldn't convert <$work/cut.mp4>: " "$work/cut.err"
grep -qx "Notify: Couldn't convert <$data/import_sound.m4a>: it has no video stream" "$work/sound.err"
[ ! -e "$work/cut.avi" ] && [ ! -e "$work/sound.avi" ] && [ ! -e "$work/bad.avi" ]
# info and describe of these files: container, codecs, the size shown when turned, rate, sound.
"$CLI" info "$data/import_vp9.webm" >"$work/vp9.txt"
printf 'Video file - %s\n  Container: matroska,webm\n  Video: 128x96  (vp9)\n  Video Rate: 24.00fps\n' \
  "$data/import_vp9.webm" | diff - <(head -4 "$work/vp9.txt")
grep -qx '  Audio: 48000 Samples/Sec OPUS Mono' "$work/vp9.txt"
"$CLI" describe "$data/import_vfr.mkv" | grep -qx 'Video: 128x96  (h264) 30.00fps'
"$CLI" info "$data/import_portrait.mp4" | grep -qx '  Shown: 96x160 (turned 270 degrees)'
"$CLI" describe "$data/import_portrait.mp4" | grep -qx 'Shown: 96x160 (turned 270 degrees)'
echo ok
