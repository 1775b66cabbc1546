# Codec samples: short clips made by ffmpeg's own encoders, and ffmpeg's own decode of each as
# top-down bgr24 frames, which the decoder tests compare against.
src=(-f lavfi -i "testsrc=size=160x120:rate=10:duration=1")
odd=(-f lavfi -i "testsrc=size=162x122:rate=10:duration=1")
make codec_mjpeg.avi "${odd[@]}" -c:v mjpeg -q:v 3 -pix_fmt yuvj420p
make codec_msvideo1.avi "${src[@]}" -c:v msvideo1 -pix_fmt rgb555le
make codec_cinepak.avi "${src[@]}" -c:v cinepak -g 5
make codec_mpeg4.avi "${src[@]}" -c:v mpeg4 -bf 0 -g 5 -q:v 4
encoders=$(ffmpeg -hide_banner -encoders 2>/dev/null || true)
if [[ $encoders == *libx264* ]]; then
  make codec_h264.avi "${src[@]}" -c:v libx264 -bf 0 -g 5 -pix_fmt yuv420p -preset veryfast
fi
for clip in codec_mjpeg codec_msvideo1 codec_cinepak codec_mpeg4 codec_h264; do
  [ -e "$clip.avi" ] || continue
  make "$clip.bgr" -i "$clip.avi" -f rawvideo -pix_fmt bgr24
done
