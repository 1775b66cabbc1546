#!/usr/bin/env bash
# Makes the sample clips to try the studio with, with ffmpeg, into the folder given (default
# samples/): three scenes of one size and rate with sound, so they go into one project, and a
# project that strings them together with a title, an inactive range and a few dropped frames.
# Files already there are kept.
set -euo pipefail
out=${1:-samples}
mkdir -p "$out"
out=$(cd "$out" && pwd)

# clip NAME VIDEO-SOURCE TONE-FREQUENCY: 320x240 at 15 fps, MJPEG, 8-bit mono sound at 11025 Hz.
clip() {
  local name=$1 video=$2 freq=$3
  [ -s "$out/$name" ] && return 0
  ffmpeg -nostdin -v error -y -f lavfi -i "$video" -f lavfi -i "sine=frequency=$freq:sample_rate=11025:duration=4" \
    -t 4 -c:v mjpeg -q:v 4 -pix_fmt yuvj420p -c:a pcm_u8 -ac 1 -shortest "$out/$name.tmp.avi"
  mv "$out/$name.tmp.avi" "$out/$name"
}
clip bars.avi "smptebars=size=320x240:rate=15" 440
clip pattern.avi "testsrc2=size=320x240:rate=15" 660
clip mandelbrot.avi "mandelbrot=size=320x240:rate=15" 330

if [ ! -s "$out/sample.cgp" ]; then
  {
    echo "Corvane Project 00"
    echo "F0: $out/bars.avi"
    echo "F0: $out/pattern.avi"
    echo "F0: $out/mandelbrot.avi"
    echo "R0: 1,45,2"
    echo "T0: 2,0"
    echo "T1: Greetings from Quillory"
    echo "T2: Liberation Sans"
    echo "T3: 0,-24,700,0,0,180,65535"
    echo "R0: 61,90,1"
    echo "R0: 121,126,8"
  } >"$out/sample.cgp.tmp"
  mv "$out/sample.cgp.tmp" "$out/sample.cgp"
fi
