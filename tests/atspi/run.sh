#!/bin/sh
# Runs conversion.py (a conversion through AT-SPI alone) in a session bus of its own,
# which starts the AT-SPI bus when asked for it, with a runtime folder of its own, and
# bounds its time: the display, the buses and the wizard all go when it ends. Xvfb,
# dbus-run-session and python3 with pyatspi come from scripts/setup.sh test.
# Usage: run.sh <tarnwell program> <folder of the stand-in converter>
set -eu
XDG_RUNTIME_DIR=$(mktemp -d) && export XDG_RUNTIME_DIR
trap 'rm -rf "$XDG_RUNTIME_DIR"' EXIT
timeout -k 10 240 dbus-run-session -- /usr/bin/python3 "$(dirname "$0")/conversion.py" "$@"
