#!/usr/bin/env bash
# quillory-cli gifdump on GIF files that ImageMagick writes: a still GIF89a with a global table, a
# looping animation whose second frame has a local table, a comment, an interlaced image, GIF87a,
# a cut file, and bad inputs and outputs.
source "$(dirname "$0")/preamble.sh" "$@"

convert -size 4x2 xc:red -fill blue -draw 'point 0,0' still.gif
convert -delay 20 -loop 0 -size 8x8 xc:red xc:blue anim.gif
convert -size 8x8 xc:green -set comment 'hello gif' comment.gif
convert -size 8x8 xc:red -interlace GIF interlaced.gif
convert -size 4x2 xc:red GIF87:old.gif

# has FILE LINE...: each LINE is a whole line of FILE.
has() {
  local file=$1
  shift
  for line in "$@"; do
    grep -qxF -- "$line" "$file" || fail "$file lacks: $line"
  done
}
# The walk ends on the trailer, exactly at the end of the file.
ends_at_trailer() {
  [ "$(tail -1 "${1%.*}.txt")" = "****** Trailer 3b - pos=$(stat -c %s "$1")" ]
}

"$CLI" gifdump still.gif 2>err
[ "$(cat err)" = "$(printf 'Notify: <still.gif>\ndumped to:\n<still.txt>')" ]
head -3 still.txt | diff - <(printf 'dump gif <still.gif>\n<GIF89a>\nLogical Screen Descriptor\n')
has still.txt '  Size: 4x2' '    Global Color Table: 2 colors' 'Global Color Table with 2 colors' \
  '  0: ff,00,00' '  1: 00,00,ff' 'Image Descriptor...' '  Offset: 0,0' '  Size:   4x2'
[ "$(tail -2 still.txt | head -1)" = '  BlockSize 0' ]
ends_at_trailer still.gif

"$CLI" gifdump anim.gif 2>/dev/null
has anim.txt 'Application Extension...' '    App Ident: <NETSCAPE>' '    App Auth: 32 2e 30' \
  '    Infinite Looping (count == 0)' '  Delaytime: 20 (1/100 sec)' '    Local Color Table with 2 colors' \
  'Local Color Table with 2 colors'
[ "$(grep -c '^Image Descriptor\.\.\.$' anim.txt)" -eq 2 ]
ends_at_trailer anim.gif

for f in comment interlaced old; do
  "$CLI" gifdump $f.gif 2>/dev/null
  ends_at_trailer $f.gif
done
grep -A2 -x 'Comment Extension...' comment.txt | diff - <(printf 'Comment Extension...\n  BlockSize 9\n    <hello gif>\n')
has interlaced.txt '    Interlaced'
[ "$(sed -n 2p old.txt)" = '<GIF87a>' ]

# A cut file ends with the abort line.
head -c $(($(stat -c %s anim.gif) - 20)) anim.gif >cut.gif
"$CLI" gifdump cut.gif cut-dump.txt 2>/dev/null
[ "$(tail -1 cut-dump.txt)" = 'Unrecognized Data Block 00 - Abort' ]

# Bad input leaves an existing output as it was and exits 1; so does an output the user protected.
echo kept >kept.txt
cp kept.txt kept.before
for bad in missing.gif kept.before; do
  expect 1 "$CLI" gifdump $bad kept.txt 2>bad.err
  lacks 'dumped to' bad.err
done
grep -qx 'Notify: Illegal file' bad.err
chmod a-w kept.txt
expect 1 "$CLI" gifdump still.gif kept.txt 2>/dev/null
cmp kept.txt kept.before
# A name too short to lose three characters gets ".txt" added.
cp still.gif ab
"$CLI" gifdump ab 2>/dev/null
ends_at_trailer ab
[ ! -e txt ]
[ -s ab.txt ]
echo ok
