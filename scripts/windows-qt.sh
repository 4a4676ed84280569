#!/usr/bin/env bash
# Builds Qt for 64-bit Windows from Debian's own qt6-base source, once, with Debian's
# mingw-w64, and prints the folder it is installed in. The result is kept outside the
# work tree (TARNWELL_CACHE, by default ~/.cache/tarnwell) and reused by every later
# build on the machine; about 40 minutes at -j2 the first time, nothing after.
#
# The version is the machine's own Qt's: the cross build runs the host's moc, rcc and
# uic, which must match it.
set -euo pipefail
cd "$(dirname "$0")/.."
toolchain=$PWD/cmake/mingw-w64-x86_64.cmake

version=$(dpkg-query -W -f='${Version}' qt6-base-dev-tools)
upstream=${version%%+*}
upstream=${upstream%%-*}
cache=${TARNWELL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tarnwell}
# Options that configure and build in one piece from Debian's repacked source: it has
# no src/3rdparty/wintab (so no tablet events), and with OpenGL off the Windows plugin
# must not ask for dynamic GL either. The libraries Windows lacks are Qt's bundled ones.
options=(-DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON -DQT_BUILD_EXAMPLES=OFF
    -DQT_BUILD_TESTS=OFF -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_dbus=OFF
    -DFEATURE_opengl=OFF -DFEATURE_printsupport=OFF -DFEATURE_xml=OFF -DFEATURE_icu=OFF
    -DFEATURE_vulkan=OFF -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF
    -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_freetype=OFF -DFEATURE_system_jpeg=OFF
    -DFEATURE_system_png=OFF -DFEATURE_system_doubleconversion=OFF
    -DFEATURE_tabletevent=OFF -DFEATURE_dynamicgl=OFF)
# The prefix is named after what went into it, so that a change of version, options or
# toolchain builds afresh beside the old one instead of reusing it.
key=$( (echo "$version"; printf '%s\n' "${options[@]}"; cat "$toolchain") | sha256sum | cut -c1-12)
prefix=$cache/qt-$upstream-mingw-$key
if [ -e "$prefix/.complete" ]; then
    echo "$prefix"
    exit 0
fi

work=$cache/work-$key
rm -rf "$work" "$prefix"
mkdir -p "$work/lists/partial"
trap 'echo "Qt for Windows: failed; logs in $work" >&2' ERR
{
    # The source comes from the deb-src side of Debian's repositories as this machine's
    # apt has them, through a private apt state: the machine's own configuration stays
    # as it is.
    apt-get indextargets --format '$(TARGET_OF) $(REPO_URI) $(RELEASE) $(COMPONENT)' \
        | awk '$1 == "deb" { print "deb-src " $2 " " $3 " " $4 }' | sort -u > "$work/sources.list"
    apt_options=(-o Dir::Etc::SourceList="$work/sources.list" -o Dir::Etc::SourceParts=/dev/null
        -o Dir::State::Lists="$work/lists" -o Dir::Cache::archives="$work"
        -o APT::Sandbox::User=root)
    apt-get -qq "${apt_options[@]}" update
    (cd "$work" && apt-get -qq "${apt_options[@]}" source --download-only "qt6-base=$version")
    tar -xf "$work"/qt6-base_*.orig.tar.* -C "$work"
    source=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'qtbase*' | head -n 1)
    echo "Qt for Windows: configuring $(basename "$source") ($version)"
    cmake -S "$source" -B "$work/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
        -DCMAKE_INSTALL_PREFIX="$prefix" "${options[@]}" > "$work/configure.log"
    echo "Qt for Windows: building (about 40 minutes at -j2, once; log: $work/build.log)"
    cmake --build "$work/build" --parallel "${TARNWELL_JOBS:-2}" > "$work/build.log"
    cmake --install "$work/build" > /dev/null
} >&2
trap - ERR
touch "$prefix/.complete"
rm -rf "$work"
echo "$prefix"
