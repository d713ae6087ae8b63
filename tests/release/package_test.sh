#!/usr/bin/env bash
# Installs into a staging folder and builds the Debian package; checks the
# installed files and that the package declares its dependencies.
set -euo pipefail
build="$1"
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
DESTDIR="$stage" cmake --install "$build" --prefix /usr >/dev/null
for f in usr/bin/velmora usr/share/applications/velmora.desktop usr/share/icons/hicolor/scalable/apps/velmora.svg; do
    [ -e "$stage/$f" ] || { echo "FAIL: $f not installed"; exit 1; }
done
grep -q '^Name=Velmora文件夹工具$' "$stage/usr/share/applications/velmora.desktop"
grep -q '^Categories=Utility;$' "$stage/usr/share/applications/velmora.desktop"
command -v dpkg-deb >/dev/null || { echo "SKIP: dpkg-deb missing"; exit 77; }
(cd "$build" && cpack -G DEB -B "$stage/pkg" >/dev/null)
deb=$(ls "$stage"/pkg/*.deb | head -n 1)
info=$(dpkg-deb -I "$deb")
grep -E '^ (Package|Version|Depends):' <<< "$info"
grep -q '^ Depends:.*libqt6widgets6' <<< "$info" || { echo "FAIL: Qt dependency not declared"; exit 1; }
grep -q '^ Depends:.*zlib1g' <<< "$info" || { echo "FAIL: zlib dependency not declared"; exit 1; }
contents=$(dpkg-deb -c "$deb")
grep -q './usr/share/applications/velmora.desktop' <<< "$contents" || { echo "FAIL: menu entry not packaged"; exit 1; }
echo PASS
