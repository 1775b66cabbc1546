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

files=(bin/quillory bin/quillory-cli share/quillory/Quillory.hlp "share/applications/$ID.desktop"
       "share/mime/packages/$ID.xml" "share/metainfo/$ID.metainfo.xml")
for kind in "apps/$ID" mimetypes/application-x-quillory-project; do
  for size in 16 32 48 64 128 256; do
    icon=share/icons/hicolor/${size}x$size/$kind.png
    file -b "$icon" | grep -q "PNG image data, $size x $size" || { echo "not a $size px PNG: $icon"; exit 1; }
  done
  files+=("share/icons/hicolor/scalable/$kind.svg")
done
for f in "${files[@]}"; do [ -s "$f" ] || { echo "missing: $f"; exit 1; }; done
[ -x bin/quillory ] && [ -x bin/quillory-cli ]

desktop-file-validate "share/applications/$ID.desktop"
appstreamcli validate --no-net "share/metainfo/$ID.metainfo.xml" >"$work/appstream.txt" ||
  { cat "$work/appstream.txt"; exit 1; }

# The MIME type, by name and by the first line.
update-mime-database share/mime
typeof() {
  XDG_DATA_HOME="$work/none" XDG_DATA_DIRS="$PREFIX/share:/usr/share" \
    gio info -a standard::content-type "$1" | sed -n 's/^ *standard::content-type: //p'
}
printf 'Corvane Project 00\nF0: clip.avi\n' >"$work/trip.cgp"
cp "$work/trip.cgp" "$work/trip"
printf 'Corvane notes\n' >"$work/notes"
[ "$(typeof "$work/trip.cgp")" = application/x-quillory-project ]
[ "$(typeof "$work/trip")" = application/x-quillory-project ]
[ "$(typeof "$work/notes")" = text/plain ]

# Settings derived outside the data folder name the installed help file, without a notice.
cd "$work"
export QUILLORY_REGISTRY="$work/registry.reg"
"$PREFIX/bin/quillory-cli" settings --save >/dev/null 2>&1
"$PREFIX/bin/quillory-cli" settings >settings.txt 2>settings.err
grep -qx "HelpFile=$PREFIX/share/quillory/Quillory.hlp" settings.txt
! grep -q 'Default Location For Help File' settings.err
