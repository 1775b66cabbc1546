# Clips for the storyboard tests: a 100-frame clip for "Fit All", a delta-coded clip (a key frame
# every 10 frames) to count decodes, and a second scene of the same size and rate with sound.
make studio_100.avi -f lavfi -i testsrc=size=160x120:rate=25 -frames:v 100 -c:v mjpeg -q:v 8
make studio_gop10.avi -f lavfi -i testsrc=size=160x120:rate=15 -frames:v 40 -c:v mpeg4 -g 10 -bf 0 -q:v 6
make studio_scene.avi -f lavfi -i mandelbrot=size=160x120:rate=15 -f lavfi \
  -i sine=frequency=440:sample_rate=11025:duration=2 -t 2 -c:v mjpeg -q:v 6 -c:a pcm_u8 -ac 1
make studio_bars.avi -f lavfi -i smptebars=size=160x120:rate=15 -f lavfi \
  -i sine=frequency=660:sample_rate=11025:duration=2 -t 2 -c:v mjpeg -q:v 6 -c:a pcm_u8 -ac 1
