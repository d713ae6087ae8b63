#!/usr/bin/env bash
# Installs into a staging folder and builds the Debian package; checks the
# installed files and that the package declares its dependencies.
set -euo pipefail
build="$1"
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
DESTDIR="$stage" cmake --install "$build" --prefix /usr >/dev/null
for f in usr/bin/velmora usr/bin/velmora-cli usr/share/man/man1/velmora-cli.1.gz \
    usr/share/bash-completion/completions/velmora-cli \
    usr/share/applications/velmora.desktop usr/share/icons/hicolor/scalable/apps/velmora.svg; do
    [ -e "$stage/$f" ] || { echo "FAIL: $f not installed"; exit 1; }
done
grep -q '^Name=Velmora文件夹工具$' "$stage/usr/share/applications/velmora.desktop"
grep -q '^Categories=Utility;$' "$stage/usr/share/applications/velmora.desktop"
# The command line runs where no display is, and needs no widget library.
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$stage/usr/bin/velmora-cli" --version | grep -q '^velmora-cli '
if readelf -d "$stage/usr/bin/velmora-cli" | grep -q 'libQt6\(Widgets\|Gui\)'; then
    echo "FAIL: velmora-cli links a widget library"; exit 1
fi
zcat "$stage/usr/share/man/man1/velmora-cli.1.gz" | grep -q '^\.SH ENGLISH'
bash -n "$stage/usr/share/bash-completion/completions/velmora-cli"
command -v dpkg-deb >/dev/null || { echo "SKIP: dpkg-deb missing"; exit 77; }
(cd "$build" && cpack -G DEB -B "$stage/pkg" >/dev/null)
deb=$(ls "$stage"/pkg/*.deb | head -n 1)
info=$(dpkg-deb -I "$deb")
grep -E '^ (Package|Version|Depends):' <<< "$info"
grep -q '^ Depends:.*libqt6widgets6' <<< "$info" || { echo "FAIL: Qt dependency not declared"; exit 1; }
grep -q '^ Depends:.*zlib1g' <<< "$info" || { echo "FAIL: zlib dependency not declared"; exit 1; }
contents=$(dpkg-deb -c "$deb")
grep -q './usr/share/applications/velmora.desktop' <<< "$contents" || { echo "FAIL: menu entry not packaged"; exit 1; }
for f in ./usr/bin/velmora-cli ./usr/share/man/man1/velmora-cli.1.gz ./usr/share/bash-completion/completions/velmora-cli; do
    grep -q "$f" <<< "$contents" || { echo "FAIL: $f not packaged"; exit 1; }
done
echo PASS
