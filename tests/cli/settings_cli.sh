#!/usr/bin/env bash
# quillory-cli settings: a first run prints the initial record and saves it; the next run reads it back.
source "$(dirname "$0")/preamble.sh" "$@"
export QUILLORY_REGISTRY="$work/cfg/registry.reg"

"$CLI" settings --save >first.txt 2>first.err
grep -qx 'Arate=0' first.txt
grep -qx 'cellW=80' first.txt
grep -qx 'HelpFile=' first.txt
grep -qx 'previewRate=250' first.txt
[ "$(head -1 first.txt)" = "LogFileName=" ]
[ "$(tail -1 first.txt)" = "SendAs=MP4" ]
[ "$(wc -l <first.txt)" -eq 42 ]
grep -qx 'CapCompress=1' first.txt
grep -q '"HelpFile"="\*"' cfg/registry.reg

"$CLI" settings >second.txt 2>second.err
grep -qx 'Arate=0' second.txt
grep -qx 'cellW=80' second.txt
grep -qx 'SSdisable=1' second.txt
grep -qx "HelpFile=$work/Quillory.hlp" second.txt
grep -q '^Notify: Default Location For Help File$' second.err

# A stored angle of 725 goes back as 5.
sed -i 's/"angJogPlay"="0"/"angJogPlay"="725"/' cfg/registry.reg
"$CLI" settings --save >/dev/null 2>&1
grep -q '"angJogPlay"="5"' cfg/registry.reg

# A disk that fails to rename the new file into place: the old one stays as it was (the save would
# have changed it), and the reason is given.
sed -i 's/"angJogPlay"="5"/"angJogPlay"="725"/' cfg/registry.reg
sum=$(md5sum <cfg/registry.reg)
QUILLORY_DISK_FAULT=rename:EIO expect 1 "$CLI" settings --save >/dev/null 2>failed.err
grep -qx "settings: could not write $work/cfg/registry.reg: Input/output error" failed.err
[ "$(md5sum <cfg/registry.reg)" = "$sum" ]

# Garbage in the file: no crash, defaults, and the damaged file is kept aside on the next save.
head -c 3000 /dev/urandom >cfg/registry.reg
"$CLI" settings --save >third.txt 2>/dev/null
grep -qx 'cellW=80' third.txt
ls cfg/registry.reg.damaged-* >/dev/null
echo ok
