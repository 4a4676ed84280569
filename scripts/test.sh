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

# Once more as users get it, optimised and without sanitizers: AddressSanitizer's heap
# keeps what is freed, so the memory that the program gives back is checked here.
cmake -S . -B build/optimized -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DTARNWELL_WARNINGS_AS_ERRORS=ON -DTARNWELL_BUILD_BENCHMARK=OFF > /dev/null
cmake --build build/optimized
ctest --test-dir build/optimized --output-on-failure

# The settings reader's fuzzer, where clang is at hand: a bounded run (60 seconds
# unless FUZZ_SECONDS says otherwise) that fails on any crash or sanitizer report.
if command -v clang++ > /dev/null; then
    cmake -S fuzz -B build/fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ > /dev/null
    cmake --build build/fuzz
    rm -rf build/fuzz/corpus && cp -r fuzz/corpus build/fuzz/corpus
    build/fuzz/settings_fuzzer -max_total_time="${FUZZ_SECONDS:-60}" -print_final_stats=1 \
        build/fuzz/corpus 2> build/fuzz/fuzz.log || { tail -n 50 build/fuzz/fuzz.log; exit 1; }
    grep -E '^(stat::number_of_executed_units|Done)' build/fuzz/fuzz.log || true
    echo "Fuzzer: no crash in ${FUZZ_SECONDS:-60} seconds."
else
    echo "clang++ not found: the settings fuzzer was not run."
fi

scripts/check-package.sh

# Windows: Qt for Windows built once from Debian's source (kept outside the tree), the
# program, its tests and its installer cross-built with mingw-w64; the tests run under
# Wine, offscreen; the installer is installed, started and uninstalled in a fresh
# Wine prefix.
qt_windows=$(scripts/windows-qt.sh)
cmake -S . -B build/windows -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARNWELL_WARNINGS_AS_ERRORS=ON \
    -DCMAKE_TOOLCHAIN_FILE="$qt_windows/lib/cmake/Qt6/qt.toolchain.cmake" \
    -DQT_CHAINLOAD_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DCMAKE_CROSSCOMPILING_EMULATOR="$PWD/scripts/wine-run.sh" > /dev/null
cmake --build build/windows
WINEPREFIX=$PWD/build/wine TARNWELL_QT_WINDOWS=$qt_windows \
    ctest --test-dir build/windows --output-on-failure
(cd build/windows && cpack > /dev/null)
scripts/check-windows-install.sh build/windows/tarnwell-*-win64.exe
