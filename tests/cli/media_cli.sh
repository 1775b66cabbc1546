#!/usr/bin/env bash
# quillory-cli info and describe on the sample media: the acceptance clip (MJPEG, 150 frames at
# 15 fps, 22050 Hz 16-bit stereo), a WAVE and a BMP file, MP4 files, an AVI whose writer died, files
# that cannot be read and a file that is not an AVI file.
source "$(dirname "$0")/preamble.sh" "$@"
data=${QUILLORY_TEST_DATA:?}
clip=$data/media_accept_mjpeg.avi

"$CLI" info "$clip" >"$work/info.txt" 2>"$work/info.err"
[ "$(head -1 "$work/info.txt")" = "AVI file - $clip" ]
grep -qx '  Video: 320x240x24  (MJPG) 150 frames (0 drops)' "$work/info.txt"
grep -qx '  Video Rate: 15.00fps (15/1)' "$work/info.txt"
grep -qx '  [0-9]*\.[0-9] MB/Sec [0-9]*\.[0-9]:1' "$work/info.txt"
grep -qx '  Audio: 22050 Samples/Sec 16-Bit Stereo' "$work/info.txt"
[ "$(wc -l <"$work/info.txt")" -eq 5 ]
[ ! -s "$work/info.err" ]

size=$(stat -c %s "$clip")
"$CLI" describe "$clip" >"$work/describe.txt"
printf 'File Size: %s bytes\nVideo: 320x240x24  (MJPG) 150 frames 15.00fps\nAudio: 22050 Samples/Sec 16-Bit Stereo\n' "$size" |
  diff - "$work/describe.txt"

# ffmpeg's raw video is stored top-down; the report shows the height as for any file.
"$CLI" info "$data/media_bgr24_s16_15.avi" | grep -qx '  Video: 64x48x24 Uncompressed 30 frames (0 drops)'
"$CLI" info "$data/media_bgr24w30_u8_2997.avi" | grep -qx '  Video Rate: 29.97fps (30000/1001)'

"$CLI" info "$data/media_list_s16.wav" | diff <(printf 'WAVE file - %s\n  Audio: 22050 2 16\n' "$data/media_list_s16.wav") -
"$CLI" info "$data/media_pal8.bmp" >"$work/bmp.txt"
grep -qx '  Image: 30x20x8  Uncompressed' "$work/bmp.txt"
"$CLI" info "$data/media_bgr24.bmp" | grep -qx '  Image: 30x20x24  Uncompressed'

# An MP4 made by ffmpeg is reported through libavformat; cut short, it is no longer one.
mp4=$work/phone.mp4
ffmpeg -nostdin -v error -f lavfi -i testsrc=size=320x240:rate=25:duration=2 -f lavfi \
  -i sine=sample_rate=48000:duration=2 -c:v libx264 -pix_fmt yuv420p -c:a aac -ac 2 "$mp4"
"$CLI" info "$mp4" >"$work/mp4.txt"
grep -qx "MP4 file - $mp4" "$work/mp4.txt"
grep -qx '  Video: 320x240x24  (avc1) 50 frames' "$work/mp4.txt"
grep -qx '  Video Rate: 25.00fps (25/1)' "$work/mp4.txt"
grep -qx '  Audio: 48000 Samples/Sec AAC Stereo' "$work/mp4.txt"
"$CLI" describe "$mp4" | sed -n '2,4p' | diff <(printf 'Duration: 2.00 seconds\nVideo: 320x240x24  (avc1) 50 frames 25.00fps\nAudio: 48000 Samples/Sec AAC Stereo\n') -
head -c 3000 "$mp4" >"$work/cut.mp4"
[ "$("$CLI" info "$work/cut.mp4")" = "Image - $work/cut.mp4" ]

# A fragmented MP4 (the index in its fragments): its frames and duration as ffprobe finds them.
frag=$work/frag.mp4
ffmpeg -nostdin -v error -f lavfi -i testsrc=size=320x240:rate=25:duration=2 -f lavfi \
  -i sine=sample_rate=48000:duration=2 -c:v libx264 -pix_fmt yuv420p -c:a aac -ac 2 \
  -movflags frag_keyframe+empty_moov "$frag"
frames=$(ffprobe -v error -count_frames -select_streams v -show_entries stream=nb_read_frames -of csv=p=0 "$frag")
duration=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$frag")
"$CLI" describe "$frag" | sed -n '2,3p' |
  diff <(printf 'Duration: %s seconds\nVideo: 320x240x24  (avc1) %s frames 25.00fps\n' "${duration%????}" "$frames") -
"$CLI" info "$frag" | grep -qx "  Video: 320x240x24  (avc1) $frames frames"

# An AVI whose writer died before it brought its sizes up to date (a render cut short: the RIFF and
# movi sizes as at its start, no frame count, no idx1) is read from its chunks, as ffprobe reads it.
le32() { printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24)))"; }
cgp "$work/clip.cgp" "$clip"
"$CLI" render "$work/clip.cgp" "$work/whole.avi" --codec MJPG --copy >/dev/null 2>&1
movi=$(grep -obUa movi "$work/whole.avi" | head -1 | cut -d: -f1)
idx1=$(grep -obUa idx1 "$work/whole.avi" | tail -1 | cut -d: -f1)
dead=$work/dead.avi
head -c "$idx1" "$work/whole.avi" >"$dead"
le32 $((movi + 4 - 8)) | dd of="$dead" bs=1 seek=4 conv=notrunc status=none
le32 4 | dd of="$dead" bs=1 seek=$((movi - 4)) conv=notrunc status=none
le32 0 | dd of="$dead" bs=1 seek=48 conv=notrunc status=none
[ "$(packets "$dead")" -eq 150 ]
"$CLI" info "$dead" | grep -qx "  Video: 320x240x24  (MJPG) 150 frames (0 drops)"
"$CLI" describe "$dead" | sed -n 1p | grep -qx "File Size: $idx1 bytes"
cgp "$work/dead.cgp" "$dead"
"$CLI" project "$work/dead.cgp" | grep -qx "frames 150"

# A file that cannot be read: the reason, exit 1, nothing on standard output.
: >"$work/empty.avi"
for f in none empty; do
  expect 1 "$CLI" info "$work/$f.avi" >"$work/$f.out" 2>"$work/$f.err"
  [ ! -s "$work/$f.out" ]
done
grep -qx "Notify: couldn't open file <$work/none.avi>: No such file or directory" "$work/none.err"
grep -qx "Notify: file <$work/empty.avi> is empty" "$work/empty.err"

# Not an AVI file: the message with the path, exit status 1.
expect 1 "$CLI" describe "$data/media_pal8.bmp" >"$work/bad.txt" 2>"$work/bad.err"
[ ! -s "$work/bad.txt" ]
grep -qx "Notify: $data/media_pal8.bmp is not a valid AVI file" "$work/bad.err"

# A file that is none of the three is an image by name; info still exits 0.
echo hello >"$work/notes.txt"
[ "$("$CLI" info "$work/notes.txt")" = "Image - $work/notes.txt" ]
echo ok
