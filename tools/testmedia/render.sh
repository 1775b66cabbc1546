# Sample media of the render tests and of `quillory-cli render` / `frame`, sourced by
# tools/make_test_media.sh. Each clip carries a saturated blue box (the underlay key) on ffmpeg's
# test pattern; the sound runs a little longer than the pictures so every frame has its audio.
boxed() { echo "testsrc=size=$1:rate=$2:duration=$3,drawbox=x=$4:y=$5:w=$6:h=$7:color=0x0000FF:t=fill"; }

# Motion JPEG at 15 frames a second with 11025 Hz 8-bit mono sound.
make render_mjpeg_u8.avi -f lavfi -i "$(boxed 160x120 15 2 100 20 40 30)" \
  -f lavfi -i "sine=frequency=440:sample_rate=11025:duration=2.5" \
  -c:v mjpeg -q:v 3 -pix_fmt yuvj420p -c:a pcm_u8 -ac 1 -shortest -t 2.2
# Uncompressed 24-bit rows stored top-down, 90 pixels wide (rows padded to 4 bytes), 16-bit stereo.
make render_bgr24_s16.avi -f lavfi -i "$(boxed 90x60 15 1.4 50 8 24 16)" \
  -f lavfi -i "sine=frequency=330:sample_rate=22050:duration=2" \
  -c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le -ac 2 -t 1.4
# Microsoft Video 1 with delta frames (a key frame every 10), no sound.
make render_msvideo1.avi -f lavfi -i "$(boxed 160x120 15 2 100 20 40 30)" \
  -c:v msvideo1 -pix_fmt rgb555le -keyint_min 9
# ffmpeg's own decode of the Video 1 clip, bottom row last, to compare decoded frames against.
make render_msvideo1.bgr -i render_msvideo1.avi -f rawvideo -pix_fmt bgr24
# The underlay picture: a solid brown found nowhere in the test pattern.
make render_under.bmp -f lavfi -i "color=c=0x804020:size=32x24:rate=1" -frames:v 1 -pix_fmt bgr24
# A minute of Motion JPEG at 320 x 240, 15 frames a second, with 11025 Hz 8-bit sound: the clip the
# render fits to sizes.
make render_minute.avi -f lavfi -i "testsrc=size=320x240:rate=15:duration=60" \
  -f lavfi -i "sine=frequency=440:sample_rate=11025:duration=60" \
  -c:v mjpeg -q:v 3 -pix_fmt yuvj420p -c:a pcm_u8 -ac 1 -shortest
# Two more scenes of the minute clip's size and rate, for projects of several clips: colour bars that
# hardly change and a Mandelbrot zoom that changes everywhere (the MP4 size prediction's projects).
make render_bars.avi -f lavfi -i "smptebars=size=320x240:rate=15:duration=8" \
  -f lavfi -i "sine=frequency=330:sample_rate=11025:duration=8" \
  -c:v mjpeg -q:v 3 -pix_fmt yuvj420p -c:a pcm_u8 -ac 1 -shortest
make render_zoom.avi -f lavfi -i "mandelbrot=size=320x240:rate=15" \
  -f lavfi -i "sine=frequency=550:sample_rate=11025:duration=8" \
  -c:v mjpeg -q:v 3 -pix_fmt yuvj420p -c:a pcm_u8 -ac 1 -t 8
