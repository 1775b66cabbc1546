#!/usr/bin/env bash
# quillory-cli project and playmap on project files naming clips made by ffmpeg.
source "$(dirname "$0")/preamble.sh" "$@"

printf 'Corvane Project 00\r\nF0: %s\r\nF0: %s\r\n;F0: %s\r\nR0: 2,3,1\r\nR0: 5,5,8\r\nR0: 1,4,2\r\nT0: 1,0\r\nT1: Hello\\World\r\nT2: Arial\r\nT3: 0,-24,700,0,1,180,65535\r\nR0: 7,9,4\r\nU0: /pics/back.bmp\r\nU1: 1,2,3,4,5,6\r\nU1: 7,8,9,10,11,12\r\n' \
  "$DATA/proj_a.avi" "$DATA/proj_b.avi" "$DATA/proj_wide.avi" >demo.cgp

"$CLI" project demo.cgp >project.txt
cat >expected.txt <<END
F: $DATA/proj_a.avi 10
F: $DATA/proj_b.avi 6
R: 2 3 1
R: 5 5 8
R: 1 4 2 Hello
R: 7 9 4 /pics/back.bmp 2
frames 16
rate 15
duration 1133
END
diff -u expected.txt project.txt

# Frames 2-3 inactive and 5 dropped: position 3 shows frame 4 again.
"$CLI" playmap demo.cgp >playmap.txt
[ "$(head -4 playmap.txt)" = "$(printf '1 1 02\n2 4 02\n3 4 08\n4 6 00')" ]
[ "$(sed -n 5p playmap.txt)" = "5 7 04" ]
[ "$(tail -1 playmap.txt)" = "positions 14" ]
[ "$(wc -l <playmap.txt)" -eq 15 ]

# Damaged and missing files: a message, exit status 1, no crash.
head -c 5000 /dev/urandom >garbage.cgp
expect 1 "$CLI" project garbage.cgp >/dev/null 2>garbage.err
expect 1 "$CLI" playmap missing.cgp >/dev/null 2>missing.err
grep -q '^Notify: Illegal Project File <garbage.cgp> <' garbage.err
grep -qx 'Notify: Couldn'"'"'t open specified project file <missing.cgp>' missing.err
echo ok
