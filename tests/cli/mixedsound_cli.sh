#!/usr/bin/env bash
# Clips whose PCM sound differs from the first clip's are heard in the render, converted to the first
# clip's format (pitch, place and length as ffmpeg's own conversion has them), and the preview queues
# the same bytes; a clip with MP3 sound stays silent.
source "$(dirname "$0")/preamble.sh" "$@"

clip() {  # clip OUT SECONDS SOUND-ARGS...: 160x120 at 15 fps with a sine tone
  local out=$1 seconds=$2
  shift 2
  ffmpeg -nostdin -v error -f lavfi -i "testsrc=size=160x120:rate=15:duration=$seconds" "$@" -c:v mjpeg -q:v 5 "$out"
}
clip low.avi 2 -f lavfi -i sine=frequency=440:sample_rate=11025:duration=2 -c:a pcm_u8 -ac 1
clip high.avi 2 -f lavfi -i sine=frequency=1000:sample_rate=48000:duration=2 -c:a pcm_s16le -ac 2
clip mp3.avi 1 -f lavfi -i sine=frequency=1000:sample_rate=44100:duration=1 -c:a libmp3lame -ac 1
"$CLI" info mp3.avi | grep -qx '  Audio: None'

# check KIND RENDER.raw OTHER.raw PROJECT: the sound of the first clip's frames, then the second
# clip's tone, then the MP3 clip's silence, each as long as its frames (as `project` counts them).
# KIND u8 (11025 Hz mono) or s16 (48000 Hz stereo, both channels alike); OTHER.raw is ffmpeg's
# conversion of the second clip.
check() {
  set -- "$1" "$2" "$3" $("$CLI" project "$4" | sed -n 's/^F: .* //p')
  "${QUILLORY_TEST_PYTHON:-/usr/bin/python3}" - "$@" <<'EOF'
import sys, array
kind, render, other = sys.argv[1:4]
frames = [int(n) for n in sys.argv[4:]]
rate, code, mid = (11025, 'B', 128) if kind == 'u8' else (48000, 'h', 0)
def samples(path):
    a = array.array(code, open(path, 'rb').read())
    assert kind == 'u8' or a[::2] == a[1::2], path + ': the channels differ'
    return [v - mid for v in (a if kind == 'u8' else a[::2])]
got, want = samples(render), samples(other)
end = lambda n: int(66666 * rate * n / 1000000) - 1  # the sample that ends frame n of a clip
first, second, third = (end(n) for n in frames)
assert len(got) == first + second + third, (len(got), first + second + third)
tone = got[first:first + second]
peak = max(abs(v) for v in want)
worst = max(abs(a - b) for a, b in zip(tone, want))
assert worst <= max(2, peak // 10), ('differs from ffmpeg by', worst, 'of', peak)
crossings = lambda s: sum((a < 0) != (b < 0) for a, b in zip(s, s[1:]))
assert abs(crossings(tone) - crossings(want[:second])) <= 2, (crossings(tone), crossings(want[:second]))
assert not any(got[first + second:]), 'the MP3 clip is not silent'
EOF
}

# 11025 Hz 8-bit mono first: the 48 kHz stereo clip comes down to it.
cgp down.cgp "$work/low.avi" "$work/high.avi" "$work/mp3.avi"
"$CLI" render down.cgp down.avi --codec none >/dev/null 2>&1
ffmpeg -nostdin -v error -i down.avi -f u8 down.raw
ffmpeg -nostdin -v error -i high.avi -ar 11025 -ac 1 -f u8 high.raw
check u8 down.raw high.raw down.cgp
"$CLI" play down.cgp --wave down.wav >/dev/null
ffmpeg -nostdin -v error -i down.wav -f u8 downplay.raw
cmp downplay.raw down.raw

# 48 kHz 16-bit stereo first: the 11025 Hz mono clip goes up to it, in both channels alike.
cgp up.cgp "$work/high.avi" "$work/low.avi" "$work/mp3.avi"
"$CLI" render up.cgp up.avi --codec none >/dev/null 2>&1
ffmpeg -nostdin -v error -i up.avi -f s16le up.raw
ffmpeg -nostdin -v error -i low.avi -af 'aresample=48000,pan=stereo|c0=c0|c1=c0' -f s16le low.raw
check s16 up.raw low.raw up.cgp
"$CLI" play up.cgp --wave up.wav >/dev/null
ffmpeg -nostdin -v error -i up.wav -f s16le upplay.raw
cmp upplay.raw up.raw
echo ok
