#!/usr/bin/env bash
# Builds the Debian package from a Release build and checks it as a distribution
# would: what it holds and depends on, lintian (no error, no warning), the desktop
# entry, the AppStream metainfo (validated, and composed with its icon), the file type
# the entry opens (xdg-mime), and an install into a clean Debian
# (scripts/check-clean-install.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build/package -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARNWELL_BUILD_TESTS=OFF \
    -DTARNWELL_BUILD_BENCHMARK=OFF > /dev/null
cmake --build build/package
rm -f build/package/*.deb
(cd build/package && cpack -G DEB > /dev/null)
deb=$(ls build/package/*.deb)
echo "Package: $deb"
id=invalid.tarnwell.Tarnwell

contents=$(dpkg-deb -c "$deb")
status=0
fail() { echo "package check: $*"; status=1; }
for file in usr/bin/tarnwell usr/share/applications/$id.desktop usr/share/metainfo/$id.metainfo.xml \
    usr/share/mime/packages/$id.xml \
    usr/share/icons/hicolor/scalable/apps/$id.svg usr/share/man/man1/tarnwell.1.gz \
    usr/share/doc/tarnwell/copyright usr/share/doc/tarnwell/changelog.gz; do
    grep -q " \./$file\$" <<< "$contents" || fail "missing: $file"
done
for size in 16 22 24 32 48 64 128 256; do
    grep -q "hicolor/${size}x$size/apps/$id.png\$" <<< "$contents" || fail "no ${size}px icon"
done
grep -q "Movrak" <<< "$contents" && fail "the stand-in converter is in the package"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
echo "Recommends: $(dpkg-deb -f "$deb" Recommends)"
for package in libqt6widgets6 libqt6gui6 libqt6core6 fonts-liberation2; do
    grep -q "$package" <<< "$depends" || fail "not depended on: $package"
done
grep -q "qt6-qpa-plugins" <<< "$depends" && fail "qt6-qpa-plugins holds no plugin we use"
dpkg-deb -f "$deb" Recommends | grep -q "qt6-wayland" || fail "qt6-wayland not recommended"

desktop-file-validate "packaging/$id.desktop" || fail "desktop entry"

# lintian: any error or warning fails; every info left is overridden in the package.
lintian --info --display-info --pedantic "$deb" | tee build/package/lintian.log
if grep -E '^[EWIP]: ' build/package/lintian.log > /dev/null; then
    fail "lintian has something to say"
fi

# AppStream: the metainfo validates, and a software centre's catalog built from the
# installed tree holds the component with its icon.
appstreamcli validate --pedantic --no-net "packaging/$id.metainfo.xml" | tee build/package/appstream.log
grep -E '^[EW]: ' build/package/appstream.log > /dev/null && fail "AppStream metainfo"
root=build/package/root
rm -rf "$root" build/package/catalog && mkdir -p "$root"
dpkg-deb -x "$deb" "$root"
appstreamcli compose --no-net --origin=tarnwell --result-root=build/package/catalog \
    --prefix=/usr "$root" > build/package/compose.log 2>&1 || { cat build/package/compose.log; fail "compose"; }
catalog=$(find build/package/catalog -name '*.xml.gz' | head -n 1)
if [ -z "$catalog" ] || ! zcat "$catalog" | grep -q "<id>$id</id>"; then
    cat build/package/compose.log; fail "the composed catalog lacks the component"
elif ! zcat "$catalog" | grep -q '<icon type="cached"'; then
    fail "the composed component has no icon"
fi

# The desktop, as a file manager sees it through xdg-mime with nothing but the
# installed tree: a .dpj file is of the type the entry opens, and the entry is the
# default for it.
mime_type=$(sed -n 's/^MimeType=\([^;]*\);$/\1/p' "packaging/$id.desktop")
xdg=$PWD/build/package/xdg
rm -rf "$xdg" && mkdir -p "$xdg/data" "$xdg/config"
in_installed_tree() {
    env -i PATH=/usr/bin:/bin HOME="$xdg" XDG_DATA_HOME="$xdg/data" XDG_DATA_DIRS="$PWD/$root/usr/share" \
        XDG_CONFIG_HOME="$xdg/config" XDG_CONFIG_DIRS="$xdg/config" "$@"
}
in_installed_tree update-mime-database "$PWD/$root/usr/share/mime"
in_installed_tree update-desktop-database "$PWD/$root/usr/share/applications"
echo "[Project]" > "$xdg/app.dpj"
file_type=$(in_installed_tree xdg-mime query filetype "$xdg/app.dpj")
echo "xdg-mime: app.dpj is $file_type, opened by $(in_installed_tree xdg-mime query default "$mime_type")"
[ -n "$mime_type" ] && [ "$file_type" = "$mime_type" ] || fail "a .dpj file is not of the entry's type ($mime_type)"
[ "$(in_installed_tree xdg-mime query default "$mime_type")" = "$id.desktop" ] \
    || fail "the entry is not the default for $mime_type"

# A clean Debian of this machine's release: installed, started until its window shows,
# removed and purged (piuparts; in a chroot, so as root).
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo scripts/check-clean-install.sh "$deb" || fail "the clean install"

[ $status -eq 0 ] && echo "Package: lintian-clean, AppStream valid and composed with its icon;" \
    ".dpj files open with it; installs, starts, removes and purges cleanly on a clean Debian."
exit $status
