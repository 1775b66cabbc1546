# Clips with the sound formats other AVI writers store, and a plain light clip for overlay checks;
# sourced by tools/make_test_media.sh.
# Six channels of PCM: ffmpeg stores the extensible wave format (40 bytes) for more than two.
make formats_pcm6.avi -f lavfi -i "testsrc=size=64x48:rate=15:duration=1" \
  -f lavfi -i "sine=frequency=440:sample_rate=8000:duration=1" \
  -filter_complex "[1]pan=5.1|c0=c0|c1=c0|c2=c0|c3=c0|c4=c0|c5=c0[a]" -map 0:v -map "[a]" \
  -c:v mjpeg -q:v 8 -c:a pcm_s16le
# Microsoft ADPCM: a 50-byte wave format the program cannot play.
make formats_adpcm.avi -f lavfi -i "testsrc=size=64x48:rate=15:duration=1" \
  -f lavfi -i "sine=frequency=440:sample_rate=22050:duration=1" -c:v mjpeg -q:v 8 -c:a adpcm_ms -ac 1
# Light grey, uncompressed: titles in near-black must show on it.
make formats_light.avi -f lavfi -i "color=c=0xD0D0D0:size=160x120:rate=15:duration=1" -c:v rawvideo -pix_fmt bgr24
