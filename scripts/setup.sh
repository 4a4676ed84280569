#!/usr/bin/env bash
# Installs what building and testing Tarnwell needs on Debian (12 or later), if it is
# missing. Usage: scripts/setup.sh [run|test]
set -euo pipefail

packages=(cmake ninja-build g++ qt6-base-dev qt6-base-dev-tools libgl-dev fonts-liberation2)
if [ "${1:-run}" = test ]; then
    # The fuzzer (clang), the package check (lintian, AppStream, the desktop entry and
    # xdg-mime, a clean install with mmdebstrap and piuparts, the program started under
    # Xvfb), the accessibility-stack test (a session bus, the AT-SPI registry), a CJK
    # font, with which the log's tests prove that a line drawn in a fallback font takes
    # its own height (without one they pass all the same), and DejaVu Math TeX Gyre, a
    # font with Greek letters that does not claim Greek.
    packages+=(clang libclang-rt-dev desktop-file-utils dpkg-dev file lintian appstream
        appstream-compose xdg-utils shared-mime-info libfile-mimeinfo-perl mmdebstrap piuparts
        xvfb xauth xdotool x11-utils gpg dbus at-spi2-core python3-pyatspi fonts-wqy-microhei
        fonts-dejavu-extra)
    # The Windows build and its tests: the cross compiler, Qt's source unpacked, Wine to
    # run the tests and the installer, NSIS to make it, zip for the portable archive, and
    # stress-ng to prove the tests do not depend on an idle machine.
    packages+=(g++-mingw-w64-x86-64-posix xz-utils wine64 nsis zip stress-ng)
fi

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' \
        || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
# Another apt or dpkg (a desktop's own updater) may hold the package locks: wait for
# them for up to ten minutes rather than fail. apt's own lock timeout covers dpkg's lock
# only; the package lists' lock (apt-get update) is waited for here.
update_package_lists() {
    local errors attempt
    for attempt in $(seq 120); do
        if errors=$(LC_ALL=C $sudo apt-get update -qq 2>&1 > /dev/null); then
            [ -z "$errors" ] || echo "$errors" >&2
            return 0
        fi
        grep -q "Could not get lock" <<< "$errors" || break
        [ "$attempt" -gt 1 ] || echo "Waiting for another apt or dpkg to release the package lists..."
        sleep 5
    done
    echo "$errors" >&2
    return 1
}
update_package_lists
$sudo apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}"
