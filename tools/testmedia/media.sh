# Sample media of the media files subsystem (RIFF/AVI reader, AVI list, reports), sourced by
# tools/make_test_media.sh. Small on purpose: a few dozen frames of small pictures each.
# Names: media_<video>_<audio>_<rate>.avi; the tests read the figures back with ffprobe.

src() { echo "testsrc=size=$1:rate=$2:duration=$3"; }
tone() { echo "sine=frequency=440:sample_rate=$1:duration=$2"; }

# Uncompressed 24-bit (ffmpeg stores the rows top-down: negative height) with 16-bit stereo.
make media_bgr24_s16_15.avi -f lavfi -i "$(src 64x48 15 2)" -f lavfi -i "$(tone 22050 2)" \
  -c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le -ac 2
# A width that is not a multiple of 4 (rows padded to 4 bytes), NTSC rate, 8-bit mono audio.
make media_bgr24w30_u8_2997.avi -f lavfi -i "$(src 30x20 30000/1001 1)" -f lavfi -i "$(tone 11025 1)" \
  -c:v rawvideo -pix_fmt bgr24 -c:a pcm_u8 -ac 1
# 8-bit with a palette in the format.
make media_pal8_15.avi -f lavfi -i "$(src 64x48 15 1)" -c:v rawvideo -pix_fmt pal8
make media_mjpeg_u8_2997.avi -f lavfi -i "$(src 64x48 30000/1001 1)" -f lavfi -i "$(tone 8000 1)" \
  -c:v mjpeg -q:v 8 -c:a pcm_u8 -ac 1
make media_msvideo1_15.avi -f lavfi -i "$(src 64x48 15 2)" -c:v msvideo1 -pix_fmt rgb555le
make media_cinepak_s16_15.avi -f lavfi -i "$(src 64x48 15 1)" -f lavfi -i "$(tone 22050 1)" \
  -c:v cinepak -c:a pcm_s16le -ac 2
# The acceptance clip: MJPEG, 150 frames at 15 fps, 22050 Hz 16-bit stereo.
make media_accept_mjpeg.avi -f lavfi -i "$(src 320x240 15 10)" -f lavfi -i "$(tone 22050 10)" \
  -c:v mjpeg -q:v 10 -c:a pcm_s16le -ac 2

# WAVE: ffmpeg puts a LIST INFO chunk before "data".
make media_list_s16.wav -f lavfi -i "$(tone 22050 0.5)" -ac 2 -c:a pcm_s16le

# BMP with the 40-byte header, 24-bit and 8-bit (the other headers are crafted by the tests).
make media_bgr24.bmp -f lavfi -i "$(src 30x20 1 1)" -frames:v 1 -pix_fmt bgr24
make media_pal8.bmp -f lavfi -i "$(src 30x20 1 1)" -frames:v 1 -pix_fmt pal8
