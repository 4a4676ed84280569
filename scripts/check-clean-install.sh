#!/usr/bin/env bash
# Installs the package into a clean Debian of this machine's release, as a user's
# system would take it: piuparts installs it with its dependencies, removes and purges
# it, and fails on anything left behind; while it is installed, the program is started
# there under Xvfb until its window shows. Needs root (chroot) and the network (the
# dependencies come from this machine's own apt sources).
#
#   scripts/check-clean-install.sh PACKAGE.deb
#
# The clean base system is made once with mmdebstrap and kept in build/clean (about
# 100 MB; made again when a week old); each run starts from a fresh copy of it.
set -euo pipefail
cd "$(dirname "$0")/.."
deb=$(realpath "$1")
clean=$PWD/build/clean
mkdir -p "$clean"
suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
base=$clean/$suite-minbase.tar.gz

if [ -z "$(find "$base" -mtime -7 2> /dev/null)" ]; then
    # Debian's own repositories as this machine's apt has them (the release, its
    # updates and security), and nothing else it may have added.
    mapfile -t sources < <(apt-get indextargets --format '$(TARGET_OF) $(REPO_URI) $(RELEASE) $(COMPONENT)' \
        | awk -v suite="$suite" '$1 == "deb" && ($3 == suite || index($3, suite "-") == 1) {
            print "deb " $2 " " $3 " " $4 }' | sort -u)
    echo "Clean install: making the base system ($suite, minbase) from: ${sources[*]}"
    rm -f "$base"
    mmdebstrap --quiet --variant=minbase "$suite" "$base.part.tar.gz" "${sources[@]}"
    mv "$base.part.tar.gz" "$base"
fi

# The program's window is looked for on an Xvfb of this machine. The chroot shares
# this machine's network namespace, and with it the X server's abstract socket, so
# the program reaches it without any file of the X server in the chroot.
shared=$clean/shared
scripts=$clean/scripts
rm -rf "$shared" "$scripts" "$clean/window" && mkdir -p "$shared" "$scripts"
rm -f "$clean/display"
Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3> "$clean/display" 2> "$clean/xvfb.log" &
xvfb=$!
watcher=$xvfb
# The watcher's children too: a timeout left waiting for a window would outlive us.
trap 'pkill -P "$watcher" || true; kill "$watcher" "$xvfb" 2> /dev/null || true' EXIT
for _ in $(seq 100); do
    [ -s "$clean/display" ] && break
    sleep 0.1
done
display=:$(head -n 1 "$clean/display")
class=$(sed -n 's/^StartupWMClass=//p' packaging/invalid.tarnwell.Tarnwell.desktop)
# Seen when a window of the desktop entry's X11 class is mapped: it is the program's,
# and the entry matches it. (Nothing here may hold a file in the shared folder open:
# piuparts takes that for a process left running in the clean system.)
# xdotool matches classes regardless of case; xprop tells the class as the window has it.
(export DISPLAY=$display
    window=$(timeout 600 xdotool search --sync --onlyvisible --class "^$class\$" | head -n 1)
    xprop -id "$window" WM_CLASS > "$clean/window" && touch "$shared/window-shown") &
watcher=$!

# Run by piuparts inside the clean system once the package is installed: starts the
# program with a project file, as a file manager would, and keeps it until its window
# has been seen; fails when the program ends first or no window shows in a minute.
cat > "$scripts/post_install_start_program" << EOF
#!/bin/sh
set -e
run=/tmp/tarnwell-start
mkdir -p \$run/home
chmod 700 \$run
cd \$run
touch app.dpj
HOME=\$run/home XDG_RUNTIME_DIR=\$run DISPLAY=$display tarnwell \$run/app.dpj > \$run/log 2>&1 &
program=\$!
waited=0
until [ -e $shared/window-shown ]; do
    if ! kill -0 \$program 2> /dev/null || [ \$waited -ge 600 ]; then
        echo "The installed program showed no window:"; cat \$run/log
        kill \$program 2> /dev/null || true
        exit 1
    fi
    waited=\$((waited + 1))
    sleep 0.1
done
echo "The installed program showed its window (class $class) within \$((waited / 10 + 1)) s."
rm $shared/window-shown
kill \$program
wait \$program || true
cd / && rm -rf \$run
EOF
chmod +x "$scripts/post_install_start_program"

echo "Clean install: piuparts on $(basename "$deb") in $suite"
rm -f "$clean/piuparts.log"
if ! piuparts --basetgz="$base" --distribution="$suite" --keep-sources-list --no-upgrade-test \
    --bindmount="$shared" --scriptsdir="$scripts" --log-file="$clean/piuparts.log" "$deb" > /dev/null 2>&1; then
    tail -n 60 "$clean/piuparts.log"
    echo "Clean install: piuparts failed (whole log: $clean/piuparts.log)"
    exit 1
fi
sed -E 's/^ *([0-9]+m[0-9.]+s [A-Z]+: )?//' "$clean/piuparts.log" | grep -E "^(The installed program|PASS:)" | uniq
# WM_CLASS(STRING) = "instance", "class"
window_class=$(sed -n 's/^WM_CLASS.* = ".*", "\(.*\)"$/\1/p' "$clean/window")
if [ "$window_class" != "$class" ]; then
    echo "Clean install: the window's X11 class is \"$window_class\", the desktop entry's StartupWMClass \"$class\""
    exit 1
fi
