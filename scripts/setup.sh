#!/usr/bin/env bash
# Installs what building and testing Tarnwell needs on Debian (12 or later), if it is
# missing. Usage: scripts/setup.sh [run|test|virtual-display]
set -euo pipefail

packages=(cmake ninja-build g++ qt6-base-dev qt6-base-dev-tools libgl-dev fonts-liberation2)
case "${1:-run}" in
    virtual-display) packages=(xvfb xauth) ;;
    test) packages+=(clang libclang-rt-dev desktop-file-utils dpkg-dev file lintian appstream
        appstream-compose) ;;
esac
# With a CJK font the log's tests prove that a line drawn in a fallback font takes its
# own height (without one they pass all the same).
if [ "${1:-run}" = test ]; then packages+=(fonts-wqy-microhei); fi

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
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
