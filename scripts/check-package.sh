#!/usr/bin/env bash
# Builds the Debian package from a Release build and checks what it holds: the
# program, its icon and its desktop entry, and its declared dependencies.
set -euo pipefail
cd "$(dirname "$0")/.."

if ! command -v dpkg-deb > /dev/null || ! command -v dpkg-shlibdeps > /dev/null; then
    echo "dpkg-deb or dpkg-shlibdeps not found: the package was not built or checked."
    exit 0
fi

cmake -S . -B build/package -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARNWELL_BUILD_TESTS=OFF \
    -DTARNWELL_BUILD_BENCHMARK=OFF > /dev/null
cmake --build build/package
rm -f build/package/*.deb
(cd build/package && cpack -G DEB > /dev/null)
deb=$(ls build/package/*.deb)
echo "Package: $deb"
dpkg-deb -c "$deb"

contents=$(dpkg-deb -c "$deb")
status=0
for file in ./usr/bin/tarnwell ./usr/share/icons/hicolor/32x32/apps/tarnwell.png \
    ./usr/share/applications/tarnwell.desktop; do
    if ! grep -q " $file\$" <<< "$contents"; then
        echo "missing from the package: $file"
        status=1
    fi
done
if grep -q "Movrak" <<< "$contents"; then
    echo "the stand-in converter is in the package, but is not installed by default"
    status=1
fi
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for package in libqt6widgets6 libqt6gui6 libqt6core6 qt6-qpa-plugins; do
    grep -q "$package" <<< "$depends" || { echo "not declared: $package"; status=1; }
done
desktop-file-validate src/app/tarnwell.desktop || status=1
[ $status -eq 0 ] && echo "Package: program, icon and desktop entry present."
exit $status
