#!/usr/bin/env bash
# Installs into a staging folder and builds the Debian package; checks the
# installed files, that the package declares its dependencies, and that
# Debian's and the software centres' own checkers accept what we ship.
set -euo pipefail
build="$1"
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
DESTDIR="$stage" cmake --install "$build" --prefix /usr >/dev/null
desktop="$stage/usr/share/applications/velmora.desktop"
metainfo="$stage/usr/share/metainfo/org.example.velmora.metainfo.xml"
for f in usr/bin/velmora usr/bin/velmora-cli usr/share/man/man1/velmora-cli.1.gz usr/share/man/man1/velmora.1.gz \
    usr/share/doc/velmora/copyright usr/share/doc/velmora/changelog.gz usr/share/metainfo/org.example.velmora.metainfo.xml \
    usr/share/bash-completion/completions/velmora-cli \
    usr/share/applications/velmora.desktop usr/share/icons/hicolor/scalable/apps/velmora.svg; do
    [ -e "$stage/$f" ] || { echo "FAIL: $f not installed"; exit 1; }
done
grep -q '^Name=Velmora文件夹工具$' "$stage/usr/share/applications/velmora.desktop"
grep -q '^Categories=Utility;$' "$desktop"
# File managers offer it under "Open with" for folders and archives.
grep -q '^Exec=velmora %f$' "$desktop"
grep -q '^MimeType=inode/directory;application/zip;$' "$desktop"
# The command line runs where no display is, and needs no widget library.
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$stage/usr/bin/velmora-cli" --version | grep -q '^velmora-cli '
if readelf -d "$stage/usr/bin/velmora-cli" | grep -q 'libQt6\(Widgets\|Gui\)'; then
    echo "FAIL: velmora-cli links a widget library"; exit 1
fi
for page in velmora velmora-cli; do
    zcat "$stage/usr/share/man/man1/$page.1.gz" | grep -q '^\.SH ENGLISH'
done
for tool in desktop-file-validate appstreamcli lintian; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
desktop-file-validate "$desktop"
appstreamcli validate --no-net "$metainfo"
bash -n "$stage/usr/share/bash-completion/completions/velmora-cli"
command -v dpkg-deb >/dev/null || { echo "SKIP: dpkg-deb missing"; exit 77; }
(cd "$build" && cpack -G DEB -B "$stage/pkg" >/dev/null)
deb=$(ls "$stage"/pkg/*.deb | head -n 1)
info=$(dpkg-deb -I "$deb")
grep -E '^ (Package|Version|Depends):' <<< "$info"
grep -q '^ Depends:.*libqt6widgets6' <<< "$info" || { echo "FAIL: Qt dependency not declared"; exit 1; }
grep -q '^ Depends:.*zlib1g' <<< "$info" || { echo "FAIL: zlib dependency not declared"; exit 1; }
grep -q '^ Depends:.*libdeflate0' <<< "$info" || { echo "FAIL: libdeflate dependency not declared"; exit 1; }
grep -q '^ Depends:.*qt6-wayland' <<< "$info" || { echo "FAIL: the Wayland platform plugin not declared"; exit 1; }
contents=$(dpkg-deb -c "$deb")
grep -q './usr/share/applications/velmora.desktop' <<< "$contents" || { echo "FAIL: menu entry not packaged"; exit 1; }
for f in ./usr/bin/velmora-cli ./usr/share/man/man1/velmora-cli.1.gz ./usr/share/bash-completion/completions/velmora-cli; do
    grep -q "$f" <<< "$contents" || { echo "FAIL: $f not packaged"; exit 1; }
done
# Errors and warnings fail; informational tags don't.
if ! tags=$(lintian --fail-on error,warning "$deb" 2>&1); then
    echo "$tags"; echo "FAIL: lintian"; exit 1
fi
echo PASS
