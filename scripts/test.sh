#!/usr/bin/env bash
# Builds Tarnwell and its tests with AddressSanitizer and UndefinedBehaviorSanitizer,
# warnings as errors, and runs the tests offscreen.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh test
cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTARNWELL_SANITIZE=ON \
    -DTARNWELL_WARNINGS_AS_ERRORS=ON > /dev/null
cmake --build build/test
ctest --test-dir build/test --output-on-failure
