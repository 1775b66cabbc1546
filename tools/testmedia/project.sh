# Clips for the project tests: two of one size and rate, one wider, one at 14.99 frames a second,
# one with PCM sound, one whose sound stops half way through its pictures.
make proj_a.avi -f lavfi -i testsrc=size=160x120:rate=15 -frames:v 10 -c:v mjpeg -q:v 8
make proj_b.avi -f lavfi -i testsrc2=size=160x120:rate=15 -frames:v 6 -c:v mjpeg -q:v 8
make proj_wide.avi -f lavfi -i testsrc=size=176x120:rate=15 -frames:v 5 -c:v mjpeg -q:v 8
make proj_1499.avi -f lavfi -i testsrc=size=160x120:rate=14.99 -frames:v 5 -c:v mjpeg -q:v 8
make proj_sound.avi -f lavfi -i testsrc=size=160x120:rate=15:duration=1 -f lavfi \
  -i sine=frequency=440:sample_rate=8000:duration=1:samples_per_frame=800 -c:v mjpeg -q:v 8 -c:a pcm_s16le -ac 1
make proj_shortsound.avi -f lavfi -i testsrc=size=160x120:rate=15:duration=2 -f lavfi \
  -i sine=frequency=440:sample_rate=8000:duration=1 -c:v mjpeg -q:v 8 -c:a pcm_s16le -ac 1
