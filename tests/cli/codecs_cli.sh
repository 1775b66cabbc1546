#!/usr/bin/env bash
# quillory-cli codecs: one line per compressor with its FOURCC, quality support and description.
source "$(dirname "$0")/preamble.sh" "$@"
out=$("$CLI" codecs)
echo "$out"
grep -qx 'MJPG quality Motion JPEG' <<<"$out"
grep -qx 'FFV1 - FFV1 lossless' <<<"$out"
grep -q '^FMP4 quality ' <<<"$out"
grep -qx 'MSVC - Microsoft Video 1' <<<"$out"
grep -qx 'cvid quality Cinepak' <<<"$out"
# H.264 is listed exactly when the linked libavcodec has libx264.
encoders=$(ffmpeg -hide_banner -encoders 2>/dev/null || true)
if [[ $encoders == *" libx264 "* ]]; then
  grep -q '^H264 quality ' <<<"$out"
fi
# Every line has the three fields.
if grep -vE '^.{4} (quality|-) .+$' <<<"$out"; then fail "a line without the three fields"; fi
[ "$(head -1 <<<"$out" | cut -c1-4)" = "MJPG" ]
expect 2 "$CLI" codecs extra 2>/dev/null
echo ok
