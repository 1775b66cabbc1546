#!/usr/bin/env bash
# cmake --install into a prefix of its own: every file in its place, the desktop entry and the
# AppStream file pass their validators, projects are typed with and without their extension, and
# the installed companion, run from another folder, takes the installed help file.
set -euo pipefail
BUILD=$1 PREFIX=$2 ID=$3
rm -rf "$PREFIX"
cmake --install "$BUILD" --prefix "$PREFIX" >/dev/null
PREFIX=$(realpath "$PREFIX")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$PREFIX"

[ -x bin/quillory ]
[ -x bin/quillory-cli ]
[ -s share/quillory/Quillory.hlp ]
ls lib*/quillory/libquillory-mapi.so >/dev/null
for kind in "apps/$ID" mimetypes/application-x-quillory-project; do
  grep -q '<svg' "share/icons/hicolor/scalable/$kind.svg"
  for size in 16 32 48 64 128 256; do
    file -b "share/icons/hicolor/${size}x$size/$kind.png" | grep -q "PNG image data, $size x $size"
  done
done
desktop-file-validate "share/applications/$ID.desktop"
appstreamcli validate --no-net "share/metainfo/$ID.metainfo.xml" >"$work/as.txt" || { cat "$work/as.txt"; exit 1; }

update-mime-database share/mime
typeof() {
  XDG_DATA_HOME="$work/none" XDG_DATA_DIRS="$PREFIX/share:/usr/share" gio info -a standard::content-type "$1" |
    sed -n 's/^ *standard::content-type: //p'
}
printf 'Corvane Project 00\nF0: clip.avi\n' | tee "$work/trip.cgp" >"$work/trip"
printf 'Corvane notes\n' >"$work/notes"
[ "$(typeof "$work/trip.cgp")" = application/x-quillory-project ]
[ "$(typeof "$work/trip")" = application/x-quillory-project ]
[ "$(typeof "$work/notes")" = text/plain ]

cd "$work"
export QUILLORY_REGISTRY="$work/registry.reg"
"$PREFIX/bin/quillory-cli" settings --save >/dev/null 2>&1
"$PREFIX/bin/quillory-cli" settings >settings.txt 2>settings.err
grep -qx "HelpFile=$PREFIX/share/quillory/Quillory.hlp" settings.txt
if grep -q 'Default Location For Help File' settings.err; then exit 1; fi

# The installed companion finds the installed mail provider (which then fails to reach the server).
ffmpeg -nostdin -v error -f lavfi -i testsrc=size=32x24:rate=5 -frames:v 2 -c:v mjpeg clip.avi
if "$PREFIX/bin/quillory-cli" mail clip.avi --to a@example.org --from b@example.org --smtp smtp://127.0.0.1:1 2>mail.err; then
  exit 1
fi
grep -q '^Mail: The mail was not sent' mail.err
