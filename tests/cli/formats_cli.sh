#!/usr/bin/env bash
# quillory-cli on sound formats of other writers (six-channel PCM, ADPCM), on named pipes given as
# clips and pictures, and on overlays that must show in `frame`: a near-black title, an underlay
# keyed by its colour ranges.
source "$(dirname "$0")/preamble.sh" "$@"

# The pixels of a 24-bit picture as "B G R" lines.
pixels() { ffmpeg -nostdin -v error -i "$1" -f rawvideo -pix_fmt bgr24 - | od -An -v -tu1 -w3 | awk '{print $1, $2, $3}'; }

# Six channels: the sound is read, reported and rendered.
"$CLI" info "$DATA/formats_pcm6.avi" >pcm6.txt
grep -qx '  Video: 64x48x24  (MJPG) 15 frames (0 drops)' pcm6.txt
grep -qx '  Audio: 8000 Samples/Sec 16-Bit 6 Channels' pcm6.txt
cgp pcm6.cgp "$DATA/formats_pcm6.avi"
"$CLI" render pcm6.cgp pcm6.avi --codec none >/dev/null 2>pcm6.err
lacks '^Notify:' pcm6.err
[ "$(probe pcm6.avi a:0 channels) $(probe pcm6.avi a:0 sample_rate)" = "6 8000" ]
decodes_clean pcm6.avi

# ADPCM: the picture as ever, no sound.
"$CLI" info "$DATA/formats_adpcm.avi" >adpcm.txt
grep -qx '  Video: 64x48x24  (MJPG) 15 frames (0 drops)' adpcm.txt
grep -qx '  Audio: None' adpcm.txt
cgp adpcm.cgp "$DATA/formats_adpcm.avi"
"$CLI" render adpcm.cgp adpcm.avi --codec none >/dev/null 2>&1
[ "$(probe adpcm.avi a 'codec_type')" = "" ]

# Named pipes are not media: the ordinary messages, never a wait.
mkfifo pipe.avi pipe.bmp
expect 1 timeout 10 "$CLI" info pipe.avi >pipe.txt 2>pipe.err
[ ! -s pipe.txt ]
grep -qx "Notify: couldn't open file <pipe.avi>: it is not a regular file" pipe.err
cgp pipe.cgp "$work/pipe.avi"
expect 0 timeout 10 "$CLI" project pipe.cgp >/dev/null 2>pipe.err
grep -qx "Notify: Failed to open file <$work/pipe.avi>" pipe.err

# A title in RGB(1, 1, 1) on a light clip shows (its bytes of 1 drawn as 2); an underlay whose
# ranges take in every colour fills the frame with its picture (a solid brown). A named pipe as a
# second underlay's picture is no picture and never a wait.
printf 'Corvane Project 00\nF0: %s\nR0: 1,15,2\nT0: 0,0\nT1: HELLO\nT2: Arial\nT3: 0,-40,700,0,1,0,65793\nR0: 3,4,4\nU0: %s\nU1: 0,100,-100,100,-100,100\nR0: 3,3,4\nU0: %s\nU1: 0,100,-100,100,-100,100\n' \
  "$DATA/formats_light.avi" "$DATA/render_under.bmp" "$work/pipe.bmp" >overlay.cgp
"$CLI" frame overlay.cgp 1 titled.bmp
[ "$(pixels titled.bmp | grep -cx '2 2 2')" -gt 100 ]
timeout 10 "$CLI" frame overlay.cgp 4 under.bmp
brown=$(pixels "$DATA/render_under.bmp" | sort -u)
[ "$(pixels under.bmp | grep -cx "$brown")" -gt 18000 ]  # of 19200; the soft edge spares a few
echo ok
