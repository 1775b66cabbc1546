#!/usr/bin/env bash
# quillory-cli capture with the test-pattern driver: uncompressed and Motion JPEG files read back by
# ffprobe, by `info` and as a project clip; a capture killed mid-way and a file whose idx1 was cut
# off still read; a full disk, a protected file and a size that does not fit; a driver that is not
# there.
source "$(dirname "$0")/preamble.sh" "$@"

# The frames of a file as the program's own reader (the AVI list) counts them.
clip_frames() {
  cgp "$1.cgp" "$work/$1"
  "$CLI" project "$1.cgp" | sed -n 's/^frames //p'
}

"$CLI" capture --seconds 2 --fps 15 --size 320x240 --audio 11025,8,1 --compress none --file take.avi --size-mb 10 >out.txt 2>err.txt
[ "$(stat -c %s take.avi)" = 10485750 ]
[[ "$(tail -n1 out.txt)" =~ ^FINAL:\ [0-9,]+\ BYTES,\ ([0-9]+)\ FRAMES,\ 0\ DROPS\ -\ 2\.[0-9]\ SECS$ ]]
n=${BASH_REMATCH[1]}
((n >= 29 && n <= 31))
grep -Eq '^[0-9]+ FRAMES, 0 DROPS, [0-9,]+ BYTES  \([0-9]+%\)$' err.txt
[ "$(packets take.avi)" = "$n" ]
[ "$(probe take.avi v:0 width)x$(probe take.avi v:0 height)" = 320x240 ]
[ "$(probe take.avi a:0 sample_rate) $(probe take.avi a:0 channels)" = "11025 1" ]
# Two seconds of sound, give or take a frame (735 samples).
samples=$(ffmpeg -nostdin -v error -i take.avi -map 0:a -f u8 - | wc -c)
((samples >= 22050 - 735 && samples <= 22050 + 735))
"$CLI" info take.avi >info.txt
grep -q "Video: 320x240x24 Uncompressed $n frames (0 drops)" info.txt
grep -q 'Audio: 11025 Samples/Sec 8-Bit Mono' info.txt
[ "$(clip_frames take.avi)" = "$n" ]

# Motion JPEG (the default) at 1280x720 with 48 kHz 16-bit stereo: codec, size, frames and sound
# length as ffprobe and the clip reader see them, every frame decoding.
"$CLI" capture --seconds 2 --fps 30 --size 1280x720 --audio 48000,16,2 --compress mjpg:80 --file hd.avi >hd.out 2>/dev/null
[[ "$(tail -n1 hd.out)" =~ ^FINAL:\ ([0-9,]+)\ BYTES,\ ([0-9]+)\ FRAMES,\ ([0-9]+)\ DROPS\ -\ 2\.[0-9]\ SECS$ ]]
hd=${BASH_REMATCH[2]}
((hd >= 59 && hd <= 61))
[ "$(packets hd.avi)" = $((hd - BASH_REMATCH[3])) ]
[ "$(probe hd.avi v:0 codec_name) $(probe hd.avi v:0 width)x$(probe hd.avi v:0 height)" = "mjpeg 1280x720" ]
[ "$(probe hd.avi a:0 sample_rate) $(probe hd.avi a:0 channels)" = "48000 2" ]
samples=$(ffmpeg -nostdin -v error -i hd.avi -map 0:a -f s16le - | wc -c)
((samples >= (96000 - 1600) * 4 && samples <= (96000 + 1600) * 4))
decodes_clean hd.avi
# Far smaller than the 24-bit frames (2,764,800 bytes each).
((${BASH_REMATCH[1]//,/} < hd * 2764800 / 4))
[ "$(clip_frames hd.avi)" = "$hd" ]

# Killed three seconds into a capture, uncompressed and compressed: at least two seconds of it read
# back, and the compressed frames decode cleanly.
for compress in none mjpg; do
  "$CLI" capture --seconds 30 --fps 15 --size 640x480 --audio 11025,8,1 --compress $compress --file crash.avi --size-mb 80 >/dev/null 2>crash.err &
  pid=$!
  wait_for 5 "the first running line" grep -q FRAMES crash.err
  sleep 3
  kill -9 $pid
  wait $pid || true
  (($(packets crash.avi) >= 30))
  (($(clip_frames crash.avi) >= 30))
  decodes_clean crash.avi
  rm crash.avi crash.err
done

# An idx1 cut off after ten entries: the reader finds every frame in movi.
at=$(grep -obUa idx1 take.avi | tail -n1 | cut -d: -f1)
head -c $((at + 8 + 160)) take.avi >cut.avi
[ "$(clip_frames cut.avi)" = "$n" ]

# A full disk: the final line counts the frames the file holds, as ffprobe and the clip reader do.
QUILLORY_DISK_FAULT=write:ENOSPC:800000 "$CLI" capture --seconds 3 --fps 15 --size 160x120 --audio none \
  --compress none --file full.avi --size-mb 5 >full.out 2>full.err
[[ "$(tail -n1 full.out)" =~ ^FINAL:\ ([0-9,]+)\ BYTES,\ ([0-9]+)\ FRAMES,\ 0\ DROPS ]]
n=${BASH_REMATCH[2]}
[ "$(packets full.avi)" = "$n" ]
[ "$(clip_frames full.avi)" = "$n" ]
[ "${BASH_REMATCH[1]//,/}" = $((n * 57600)) ]
grep -qx "Notify: Error writing the capture file <$work/full.avi>" full.err

# A file the user protected is never written, not even by root; nor is it allocated.
printf 'mine' >mine.avi
chmod a-w mine.avi
for size in "" "--size-mb 2"; do
  expect 1 "$CLI" capture --seconds 1 --file mine.avi $size >mine.out 2>mine.err
  grep -qx "Notify: Cannot open the capture file <$work/mine.avi>" mine.err
  [ "$(cat mine.avi)" = mine ]
  [ ! -s mine.out ]
done

# A size the disk has no room for (a 1 MB file system) leaves no file behind and one there before as
# it was.
if unshare -rm true 2>/dev/null; then
  mkdir small
  unshare -rm bash -c 'set -e; mount -t tmpfs -o size=1M none small; printf old >small/old.avi
    for f in new old; do if "$1" capture --seconds 1 --file small/$f.avi --size-mb 5 2>/dev/null; then exit 1; fi; done
    [ ! -e small/new.avi ]; [ "$(cat small/old.avi)" = old ]' - "$CLI" || fail "a capture file too large for its disk"
else
  echo "no user namespaces: the size check on a small file system is not run" >&2
fi

# Cut in the middle of its frames: info and describe report the frames the clip reader finds.
head -c 500000 take.avi >half.avi
m=$(clip_frames half.avi)
((m >= 1 && m < n))
"$CLI" info half.avi | grep -qx "  Video: 320x240x24 Uncompressed $m frames (0 drops)"
"$CLI" describe half.avi | grep -qx "Video: 320x240x24 Uncompressed $m frames 15.00fps"

# No driver at that index, and arguments that make no capture.
expect 1 "$CLI" capture --seconds 1 --driver 9 --file none.avi >none.out 2>none.err
expect 2 "$CLI" capture --fps 15 >/dev/null 2>usage.err
expect 2 "$CLI" capture --seconds 1 --audio 11025,12,1 >/dev/null 2>/dev/null
grep -qx "Notify: Capture couldn't open" none.err
[ ! -s none.out ]
[ ! -e none.avi ]
grep -q '^usage: quillory-cli capture --seconds S' usage.err
echo ok
