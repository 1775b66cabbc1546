#!/usr/bin/env bash
# cpack -G DEB from the build: the package holds the programs, the mail provider, the help file, the
# desktop entry, the MIME type, the AppStream file and the icons, and its Depends (made by
# dpkg-shlibdeps) names the Debian package of every Qt, FFmpeg and curl library a packaged file links.
set -euo pipefail
BUILD=$(realpath "$1") ID=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$BUILD" && cpack -G DEB -B "$work" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; exit 1; }
deb=$(echo "$work"/quillory_*.deb)

dpkg-deb --contents "$deb" | awk '{print $NF}' >"$work/contents"
for f in bin/quillory bin/quillory-cli lib/quillory/libquillory-mapi.so share/quillory/Quillory.hlp "share/applications/$ID.desktop" \
  "share/mime/packages/$ID.xml" "share/metainfo/$ID.metainfo.xml" "share/icons/hicolor/16x16/apps/$ID.png" \
  "share/icons/hicolor/scalable/apps/$ID.svg" share/icons/hicolor/256x256/mimetypes/application-x-quillory-project.png; do
  grep -qxF "./usr/$f" "$work/contents" || { echo "not in the package: $f"; exit 1; }
done

depends=$(dpkg-deb --field "$deb" Depends)
dpkg-deb -x "$deb" "$work/root"
needed=$(find "$work/root" -type f \( -path '*/bin/*' -o -name '*.so*' \) -exec objdump -p {} + |
  awk '$1 == "NEEDED" {print $2}' | grep -E '^lib(Qt6|av|sw|curl)' | sort -u)
grep -q '^libQt6Widgets' <<<"$needed"
grep -q '^libavcodec' <<<"$needed"
for lib in $needed; do  # libQt6Widgets.so.6 comes with libqt6widgets6, libavcodec.so.59 with libavcodec59
  package=$(tr '[:upper:]' '[:lower:]' <<<"${lib/.so./}")
  grep -qE "(^|, )$package( |,|$)" <<<"$depends" || { echo "Depends lacks $package: $depends"; exit 1; }
done
