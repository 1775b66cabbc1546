#!/usr/bin/env bash
# quillory-cli play: the loops' last line, the sound the forward loop queues (compared with ffmpeg's
# decode of the clip, of an MP4 file, and with the render of a project), a sound file that cannot be
# written, and a file that cannot be played.
source "$(dirname "$0")/preamble.sh" "$@"

ffmpeg -nostdin -v error -f lavfi -i testsrc=size=160x120:rate=15:duration=4 \
  -f lavfi -i sine=frequency=440:sample_rate=11025:duration=4 -c:v mjpeg -q:v 5 -c:a pcm_u8 -ac 1 clip.avi
ffmpeg -nostdin -v error -i clip.avi -f u8 -ac 1 clip.raw

# The sound from position 16 on (one second in) is the clip's from its 11025th byte.
"$CLI" play clip.avi --seconds 1.5 --start 16 --wave out.wav >play.out
grep -Eqx 'frames [0-9]+ skipped [0-9]+ cpu [0-9]+\.[0-9]{2} wall [0-9]+\.[0-9]{2}' play.out
[ "$(ffprobe -v error -show_entries stream=sample_rate,channels -of csv=p=0 out.wav)" = "11025,1" ]
ffmpeg -nostdin -v error -i out.wav -f u8 out.raw
size=$(stat -c %s out.raw)
[ "$size" -ge 11025 ]
cmp -n "$size" out.raw <(tail -c +11026 clip.raw)

# The sound file is written whole or not at all: into a full disk, or over a file the user
# protected, the message names it, the exit status is 1 and the file there keeps its bytes.
sum=$(md5sum <out.wav)
QUILLORY_DISK_FAULT=write:ENOSPC:5000 expect 1 "$CLI" play clip.avi --seconds 1.5 --wave out.wav >/dev/null 2>full.err
chmod a-w out.wav
expect 1 "$CLI" play clip.avi --seconds 0.5 --wave out.wav >/dev/null 2>kept.err
chmod u+w out.wav
grep -qx "Notify: Couldn't write out.wav" full.err
grep -qx 'No space left on device' full.err
grep -qx "Notify: Couldn't write out.wav" kept.err
grep -qx 'Permission denied' kept.err
[ "$(md5sum <out.wav)" = "$sum" ]
[ -z "$(ls -A | grep -v '\.\(avi\|raw\|wav\|out\|err\)$')" ]

# A project with an inactive range sounds as its render does.
cgp p.cgp "$work/clip.avi"
echo 'R0: 10,24,1' >>p.cgp
"$CLI" render p.cgp r.avi --codec none >/dev/null 2>&1
ffmpeg -nostdin -v error -i r.avi -f u8 -ac 1 r.raw
"$CLI" play p.cgp --seconds 1 --wave p.wav >/dev/null
ffmpeg -nostdin -v error -i p.wav -f u8 p.raw
size=$(stat -c %s p.raw)
[ "$size" -ge 11025 ]
cmp -n "$size" p.raw r.raw

# One pass (the default) sounds once, as long as the pictures: the sound queued ahead never takes in
# the opening again before the picture starts over.
"$CLI" play clip.avi --wave pass.wav >/dev/null
ffmpeg -nostdin -v error -i pass.wav -f u8 pass.raw
cmp pass.raw clip.raw
"$CLI" play p.cgp --wave ppass.wav >/dev/null
ffmpeg -nostdin -v error -i ppass.wav -f u8 ppass.raw
cmp ppass.raw r.raw

# Past the end the sound starts again from the opening, as the picture does.
"$CLI" play clip.avi --seconds 4.5 --wave again.wav >/dev/null
ffmpeg -nostdin -v error -i again.wav -f u8 again.raw
whole=$(stat -c %s clip.raw)
size=$(stat -c %s again.raw)
[ "$size" -gt "$whole" ]
cmp -n "$whole" again.raw clip.raw
cmp -n $((size - whole)) <(tail -c +$((whole + 1)) again.raw) clip.raw

# Every mode ends with the line; a range pass draws the range's positions.
for m in reverse range pingpong; do
  "$CLI" play clip.avi --mode $m --range 11 20 --seconds 0.5 | grep -Eq '^frames [0-9]+ skipped'
done

# An MP4 file (H.264 with B-frames, AAC) plays as an AVI file does: the sound it queues from the
# start is the file's as ffmpeg decodes it.
ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=160x120:rate=15:duration=3 \
  -f lavfi -i sine=frequency=440:sample_rate=44100:duration=3 -c:v libx264 -bf 2 -pix_fmt yuv420p -c:a aac clip.mp4
ffmpeg -nostdin -v error -i clip.mp4 -f s16le mp4.raw
"$CLI" play clip.mp4 --wave mp4.wav >mp4.out
grep -Eqx 'frames [0-9]+ skipped [0-9]+ cpu [0-9]+\.[0-9]{2} wall [0-9]+\.[0-9]{2}' mp4.out
[ "$(ffprobe -v error -show_entries stream=sample_rate,channels -of csv=p=0 mp4.wav)" = "44100,1" ]
ffmpeg -nostdin -v error -i mp4.wav -f s16le mp4w.raw
size=$(stat -c %s mp4w.raw)
[ "$size" -ge 88200 ]
[ "$size" -le "$(stat -c %s mp4.raw)" ] || size=$(stat -c %s mp4.raw)
cmp -n "$size" mp4w.raw mp4.raw
"$CLI" play clip.mp4 --mode reverse --seconds 0.5 | grep -Eq '^frames [0-9]+ skipped'

# A file that cannot be played: the message, exit 1.
printf 'not a clip' >bad.avi
expect 1 "$CLI" play bad.avi >bad.out 2>bad.err
grep -qx 'Notify: Invalid AVI File' bad.err
[ ! -s bad.out ]
echo ok
