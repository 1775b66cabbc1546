# Videos as phones and cameras make them, for conforming; sourced by tools/make_test_media.sh.
# Portrait, stored sideways with a 90-degree display rotation (set on a copy: ffmpeg drops it when
# encoding): upright it is 96x160 with a red square in its top-left corner; 48 kHz stereo AAC.
make import_sideways.mp4 -f lavfi \
  -i "color=c=0x808080:size=96x160:rate=30:duration=2,drawbox=x=0:y=0:w=24:h=24:color=red:t=fill,transpose=1" \
  -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=2" -ac 2 \
  -c:v libx264 -pix_fmt yuv420p -c:a aac -ar 48000
make import_portrait.mp4 -i import_sideways.mp4 -c copy -metadata:s:v:0 rotate=90
# Variable rate: a 30 fps source with runs of frames left out, time stamps kept.
make import_vfr.mkv -f lavfi -i "testsrc=size=128x96:rate=30:duration=3,select='not(between(mod(n\,10)\,3\,6))'" \
  -fps_mode vfr -c:v libx264 -pix_fmt yuv420p
make import_hevc.mov -f lavfi -i "testsrc=size=128x96:rate=25:duration=1" -c:v libx265 -pix_fmt yuv420p \
  -x265-params log-level=error
make import_vp9.webm -f lavfi -i "testsrc=size=128x96:rate=24:duration=1" \
  -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=1" -c:v libvpx-vp9 -c:a libopus
# Sound alone: no video stream.
make import_sound.m4a -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=1" -c:a aac
