# Small clips, sounds, pictures and a GIF made by ffmpeg for the fuzz seeds; sourced by
# tools/make_test_media.sh. Tiny on purpose (a few frames of 32x24): libFuzzer mutates whole
# inputs, so small seeds run fast.
pic="testsrc=size=32x24:rate=5:duration=0.4"
tone() { echo "sine=frequency=440:sample_rate=$1:duration=0.4"; }

make mjpeg_u8.avi -f lavfi -i "$pic" -f lavfi -i "$(tone 8000)" -c:v mjpeg -q:v 12 -c:a pcm_u8 -ac 1
make bgr24_s16.avi -f lavfi -i "$pic" -f lavfi -i "$(tone 4000)" -c:v rawvideo -pix_fmt bgr24 \
  -c:a pcm_s16le -ac 2
make pal8.avi -f lavfi -i "$pic" -c:v rawvideo -pix_fmt pal8
make msvideo1.avi -f lavfi -i "$pic" -c:v msvideo1 -pix_fmt rgb555le
make cinepak.avi -f lavfi -i "$pic" -c:v cinepak
make ffv1.avi -f lavfi -i "$pic" -c:v ffv1
make mpeg4.avi -f lavfi -i "$pic" -c:v mpeg4 -vtag FMP4 -g 3
make six_channels.avi -f lavfi -i "$pic" -f lavfi -i "$(tone 8000)" -c:v rawvideo -pix_fmt bgr24 \
  -c:a pcm_s16le -ac 6 -ar 2000
make adpcm.avi -f lavfi -i "$pic" -f lavfi -i "$(tone 8000)" -c:v mjpeg -c:a adpcm_ms -ac 1
make list_s16.wav -f lavfi -i "$(tone 8000)" -c:a pcm_s16le -ac 2
make u8.wav -f lavfi -i "$(tone 8000)" -c:a pcm_u8 -ac 1 -bitexact
make bgr24.bmp -f lavfi -i "testsrc=size=13x7:rate=1:duration=1" -frames:v 1 -pix_fmt bgr24
make pal8.bmp -f lavfi -i "testsrc=size=13x7:rate=1:duration=1" -frames:v 1 -pix_fmt pal8
make rgb555.bmp -f lavfi -i "testsrc=size=13x7:rate=1:duration=1" -frames:v 1 -pix_fmt rgb555le
make h264_aac.mp4 -f lavfi -i "$pic" -f lavfi -i "$(tone 8000)" -c:v libx264 -bf 2 -g 3 -pix_fmt yuv420p \
  -c:a aac -ac 1 -movflags +faststart
make mpeg4.mp4 -f lavfi -i "$pic" -c:v mpeg4 -g 2
make two_frames.gif -f lavfi -i "testsrc=size=16x12:rate=2:duration=1" -loop 0
# Other containers and codecs phones and cameras write, for the importer.
make vp9_opus.webm -f lavfi -i "$pic" -f lavfi -i "$(tone 48000)" -c:v libvpx-vp9 -c:a libopus -ac 1
make h264_vfr.mkv -f lavfi -i "testsrc=size=32x24:rate=10:duration=0.6,select='not(eq(mod(n\,3)\,1))'" \
  -fps_mode vfr -c:v libx264 -pix_fmt yuv420p
make mpeg4.3gp -f lavfi -i "testsrc=size=176x144:rate=5:duration=0.4" -c:v mpeg4 -an
make mpeg2.ts -f lavfi -i "$pic" -f lavfi -i "$(tone 48000)" -c:v mpeg2video -c:a mp2
