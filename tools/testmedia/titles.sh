# Underlay pictures from an independent BMP writer: an odd width whose rows are padded to 4 bytes,
# and the same frame as raw top-down BGR rows to compare against.
make underlay_33x17.bmp -f lavfi -i testsrc=size=33x17:rate=1 -frames:v 1 -pix_fmt bgr24
make underlay_33x17.bgr -f lavfi -i testsrc=size=33x17:rate=1 -frames:v 1 -pix_fmt bgr24 -f rawvideo
