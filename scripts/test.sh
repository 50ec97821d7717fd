#!/usr/bin/env bash
# The test command: installs what is missing, configures and builds with
# AddressSanitizer and UndefinedBehaviorSanitizer, and runs every test; then
# the same for the Windows build under Wine (scripts/windows.sh test).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh package

build=${KELVANE_BUILD_DIR:-build/test}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKELVANE_SANITIZE=ON
cmake --build "$build"

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/scripts/lsan.supp:print_suppressions=0}
ctest --test-dir "$build" --output-on-failure -j2 "$@"

# The Windows build: its unit tests and kelvane-cli.exe against this build's
# simulator, under Wine (KELVANE_WINDOWS=0 leaves it out).
if [ "${KELVANE_WINDOWS:-1}" != 0 ]; then
    KELVANE_SIM="$(cd "$build" && pwd)/sim/kelvane-sim" bash scripts/windows.sh test
fi
