#!/usr/bin/env bash
# quillory-cli render and frame on a project over clips made by ffmpeg, read back by ffprobe and
# ffmpeg; the refusals end with a message and leave no file; a render killed, stopped by the disk
# or racing another never costs the file that was there.
source "$(dirname "$0")/preamble.sh" "$@"

# 30 frames: 5-8 inactive, 12-14 dropped, a title over 3-20, an underlay over 16-25.
printf 'Corvane Project 00\nF0: %s\nR0: 5,8,1\nR0: 12,14,8\nR0: 3,20,2\nT0: 1,1\nT1: HELLO\nT2: Arial\nT3: 0,-20,700,0,1,150,255\nR0: 16,25,4\nU0: %s\n' \
  "$DATA/render_mjpeg_u8.avi" "$DATA/render_under.bmp" >demo.cgp

"$CLI" render demo.cgp out.avi --codec MJPG --quality 90 >render.out 2>render.err
[ "$(cat render.out)" = "Record to AVI file complete - size = $(stat -c %s out.avi) bytes" ]
grep -qx 'render: frame 30 of 30' render.err
lacks '^Notify:' render.err
[ "$(probe out.avi v:0 codec_tag_string)" = MJPG ]
[ "$(probe out.avi v:0 width)x$(probe out.avi v:0 height)" = 160x120 ]
[ "$(probe out.avi v:0 nb_frames)" = 26 ]
[ "$(probe out.avi a:0 sample_rate)" = 11025 ]
decodes_clean out.avi

# --threads 1 writes the same file; --fit-mb fits the size; --no-copy re-encodes the untouched frames.
"$CLI" render demo.cgp one.avi --codec MJPG --quality 90 --threads 1 >/dev/null 2>&1
cmp out.avi one.avi
"$CLI" render demo.cgp fit.avi --codec MJPG --fit-mb 1 --no-copy >/dev/null 2>&1
[ "$(stat -c %s fit.avi)" -le 1000000 ]
[ "$(stat -c %s fit.avi)" -ne "$(stat -c %s out.avi)" ]
# An MP4 of the same frames: H.264 and AAC, the index first, a clean decode; --codec does not apply.
"$CLI" render demo.cgp out.mp4 --quality 90 >mp4.out 2>/dev/null
[ "$(cat mp4.out)" = "Record to MP4 file complete - size = $(stat -c %s out.mp4) bytes" ]
[ "$(probe out.mp4 v:0 codec_name) $(probe out.mp4 v:0 nb_frames) $(probe out.mp4 a:0 codec_name)" = "h264 26 aac" ]
ffprobe -v trace out.mp4 2>&1 | grep -o "type:'\(moov\|mdat\)'" | head -2 | tr '\n' ' ' | grep -qx "type:'moov' type:'mdat' "
decodes_clean out.mp4
expect 2 "$CLI" render demo.cgp x.mp4 --codec MJPG >/dev/null 2>codec_mp4.err
grep -q 'an MP4 file takes only a quality' codec_mp4.err

# `frame` composes what the render writes: frame 18 (titled and underlaid) is the 11th picture of
# the uncompressed render (frames 1-4, 9-11 and 15-18 carry pictures up to it).
"$CLI" render demo.cgp plain.avi --codec none >/dev/null 2>&1
[ "$(probe plain.avi v:0 codec_name)" = rawvideo ]
"$CLI" frame demo.cgp 18 f18.bmp
[ "$(probe f18.bmp v:0 width)x$(probe f18.bmp v:0 height) $(probe f18.bmp v:0 pix_fmt)" = "160x120 bgr24" ]
ffmpeg -nostdin -v error -i f18.bmp -f rawvideo -pix_fmt bgr24 f18.raw
ffmpeg -nostdin -v error -i plain.avi -vf 'select=eq(n\,10)' -fps_mode passthrough -frames:v 1 \
  -f rawvideo -pix_fmt bgr24 plain10.raw
cmp f18.raw plain10.raw

# Refusals: a message, an exit status, no output file.
perl -0777 -pe 's/MSVC/ZZZZ/gi' "$DATA/render_msvideo1.avi" >nodecoder.avi
cgp nodecoder.cgp "$work/nodecoder.avi"
expect 1 "$CLI" render missing.cgp x.avi >/dev/null 2>missing.err
expect 1 "$CLI" render demo.cgp x.avi --codec QQQQ >/dev/null 2>codec.err
expect 2 "$CLI" render demo.cgp x.avi --quality 101 >/dev/null 2>quality.err
expect 2 "$CLI" render demo.cgp x.avi --threads 0 >/dev/null 2>threads.err
expect 2 "$CLI" render demo.cgp x.avi --fit-mb 2001 >/dev/null 2>fit.err
expect 1 "$CLI" frame demo.cgp 31 x.bmp >/dev/null 2>range.err
expect 1 "$CLI" render nodecoder.cgp x.avi --codec none >nodecoder.out 2>nodecoder.err
grep -q 'threads are a number from 1 to 64' threads.err
grep -q 'size is a number of megabytes from 1 to 2000' fit.err
grep -qx "Notify: Couldn't open specified project file <missing.cgp>" missing.err
grep -q '^No compressor QQQQ for these frames; available: none MJPG' codec.err
grep -q 'quality is a number from 0 to 100' quality.err
grep -q '^frame: no frame 31 in a project of 30 frames' range.err
grep -qx 'Notify: ICLocate failed' nodecoder.err
[ ! -s nodecoder.out ]
[ ! -e x.avi ]
[ ! -e x.bmp ]
[ ! -e x.mp4 ]

# A picture the user protected is not replaced, even by root.
cp f18.bmp kept.bmp
chmod a-w kept.bmp
sum=$(md5sum <kept.bmp)
expect 1 "$CLI" frame demo.cgp 3 kept.bmp >/dev/null 2>kept.err
grep -q '^frame: could not write kept.bmp: Permission denied' kept.err
[ "$(md5sum <kept.bmp)" = "$sum" ]

# A failing disk (played by QUILLORY_DISK_FAULT): the picture there is kept byte for byte and no
# temporary file is left; a render keeps the frames before the failure as a file ffmpeg reads
# whole, or leaves none.
sum=$(md5sum <f18.bmp)
QUILLORY_DISK_FAULT=write:ENOSPC:4096 expect 1 "$CLI" frame demo.cgp 3 f18.bmp 2>full.err
QUILLORY_DISK_FAULT=rename:EIO expect 1 "$CLI" frame demo.cgp 3 f18.bmp 2>rename.err
QUILLORY_DISK_FAULT=write:ENOSPC:30000:once expect 1 "$CLI" render demo.cgp short.avi --codec MJPG >/dev/null 2>short.err
QUILLORY_DISK_FAULT=sync:EIO expect 1 "$CLI" render demo.cgp gone.avi --codec MJPG >/dev/null 2>gone.err
grep -qx 'frame: could not write f18.bmp: No space left on device' full.err
grep -qx 'frame: could not write f18.bmp: Input/output error' rename.err
[ "$(md5sum <f18.bmp)" = "$sum" ]
[ -z "$(ls f18.bmp.* 2>/dev/null)" ]
grep -qx "Notify: Couldn't write short.avi" short.err
grep -qx 'No space left on device' short.err
kept=$(sed -n 's/^The file holds the \([0-9]*\) frames written before that$/\1/p' short.err)
((kept > 0 && kept < 26))
[ "$(probe short.avi v:0 nb_frames)" = "$kept" ]
decodes_clean short.avi
grep -qx 'No file was made' gone.err
[ ! -e gone.avi ]
# A render stopped by the disk never replaces a file that was there.
sum=$(md5sum <out.avi)
QUILLORY_DISK_FAULT=write:ENOSPC:30000:once expect 1 "$CLI" render demo.cgp out.avi --codec MJPG >/dev/null 2>over.err
grep -q '^The render stopped after frame [0-9]*$' over.err
grep -qx 'out.avi was left as it was' over.err
[ "$(md5sum <out.avi)" = "$sum" ]
[ -z "$(ls -A | grep -v '\.\(avi\|mp4\|bmp\|raw\|cgp\|err\|out\)$')" ]

# Nothing to render (every frame inactive or dropped): a message and no file, AVI and MP4 alike.
printf 'Corvane Project 00\nF0: %s\nR0: 1,10,1\nR0: 11,30,8\n' "$DATA/render_mjpeg_u8.avi" >nothing.cgp
for out in nothing.avi nothing.mp4; do
  expect 1 "$CLI" render nothing.cgp $out >nothing.out 2>nothing.err
  [ ! -e $out ]
  [ ! -s nothing.out ]
  grep -qx 'Notify: There is nothing to render: every frame of the project is dropped or inactive' nothing.err
done

# An output that is one of the project's own files (by name, through a link, or the project file)
# is refused before anything is written, by render and by frame alike.
mkdir own
cp "$DATA/render_mjpeg_u8.avi" own/clip.avi
ln -s clip.avi own/link.avi
cgp own/p.cgp "$work/own/clip.avi"
sums=$(md5sum own/clip.avi own/p.cgp)
for out in own/clip.avi own/link.avi own/p.cgp; do
  expect 1 "$CLI" render own/p.cgp $out --codec MJPG >own.out 2>own.err
  expect 1 "$CLI" frame own/p.cgp 1 $out 2>frame.err
  [ ! -s own.out ]
  case $out in
    *p.cgp) why="it is the project file" ;;
    *) why="it is $work/own/clip.avi, a clip of this project" ;;
  esac
  grep -qxF "Notify: Can't render to $out: $why" own.err
  grep -qxF "frame: could not write $out: $why" frame.err
done
[ "$(md5sum own/clip.avi own/p.cgp)" = "$sums" ]
[ "$(ls -A own | tr '\n' ' ')" = "clip.avi link.avi p.cgp " ]

# A render killed part way (kill -9) leaves the old file byte for byte and nothing beside it.
{ echo 'Corvane Project 00'; for _ in 1 2 3 4 5 6 7 8; do echo "F0: $DATA/render_minute.avi"; done; } >long.cgp
mkdir killed
cp out.avi killed/victim.avi
sum=$(md5sum <killed/victim.avi)
"$CLI" render long.cgp killed/victim.avi --codec MJPG --no-copy --threads 1 >kill.out 2>kill.err &
pid=$!
two_frames() { [ "$(grep -c '^render: frame' kill.err)" -ge 2 ]; }
wait_for 60 "the render's second frame" two_frames
kill -9 $pid
{ wait $pid; } 2>/dev/null || true
[ ! -s kill.out ]
[ "$(md5sum <killed/victim.avi)" = "$sum" ]
[ "$(ls -A killed)" = victim.avi ]

# Two renders to one name at once (the larger file finishing first): each reports its own whole file,
# and the one there is whole, one of the two.
cgp minute.cgp "$DATA/render_minute.avi"
cgp two.cgp "$DATA/render_minute.avi" "$DATA/render_minute.avi"
mkdir both
"$CLI" render minute.cgp both/same.avi --codec MJPG --quality 95 --no-copy --threads 1 >900.out 2>/dev/null &
big=$!
"$CLI" render two.cgp both/same.avi --codec MJPG --quality 0 --no-copy --threads 1 >1800.out 2>/dev/null &
small=$!
wait $big
wait $small
frames=$(probe both/same.avi v:0 nb_frames)
[ "$(cat $frames.out)" = "Record to AVI file complete - size = $(stat -c %s both/same.avi) bytes" ]
[ "$(cat 900.out 1800.out | sort -u | wc -l)" -eq 2 ]
decodes_clean both/same.avi
[ "$(ls -A both)" = same.avi ]

# 150 clips under a limit of 64 open files: every clip loads and every frame is rendered. A clip
# that cannot be opened is named with the reason, and the render refuses the project.
mkdir many
printf 'Corvane Project 00\n' >many.cgp
for i in $(seq 1 150); do
  ln -s "$DATA/render_mjpeg_u8.avi" "many/c$i.avi"
  printf 'F0: %s\n' "$work/many/c$i.avi" >>many.cgp
done
prlimit --nofile=64:64 "$CLI" render many.cgp many.avi --codec MJPG >many.out 2>many.err
lacks '^Notify:' many.err
[ "$(cat many.out)" = "Record to AVI file complete - size = $(stat -c %s many.avi) bytes" ]
[ "$(probe many.avi v:0 nb_frames)" = 4500 ]
decodes_clean many.avi
sed "3s|c2.avi|gone.avi|" many.cgp >gap.cgp
expect 1 prlimit --nofile=64:64 "$CLI" render gap.cgp gap.avi --codec MJPG >/dev/null 2>gap.err
[ "$(head -2 gap.err)" = "Notify: Failed to open file <$work/many/gone.avi>
No such file or directory" ]
grep -qx 'render: 1 of the files of gap.cgp could not be opened' gap.err
[ ! -e gap.avi ]
echo ok
