#!/usr/bin/env bash
# Kelvane for 64-bit Windows, cross-built with Debian's mingw-w64 and tested
# under Wine. Installs what is missing (apt-get), then:
#   scripts/windows.sh          builds and packs dist/kelvane-<version>-windows-x86_64.zip
#   scripts/windows.sh build    builds only (build/win, or $KELVANE_WIN_BUILD_DIR)
#   scripts/windows.sh test     builds, runs the unit tests under Wine and flashes the
#                               Linux simulator with kelvane-cli.exe through COM ports
#   scripts/windows.sh bench    line-rate ratio of the Windows and the Linux CLI
# The tests use the Linux kelvane-sim of $KELVANE_SIM (default: one built in
# build/dev) and a Wine prefix of their own under a temporary folder, with a
# wineserver started and stopped here.
set -euo pipefail
cd "$(dirname "$0")/.."
mode=${1:-zip}

packages=(cmake ninja-build googletest g++-mingw-w64-x86-64-posix wine64 wine)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo_cmd=()
    [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
    export DEBIAN_FRONTEND=noninteractive
    "${sudo_cmd[@]}" apt-get -o DPkg::Lock::Timeout=300 update -qq
    "${sudo_cmd[@]}" apt-get -o DPkg::Lock::Timeout=300 install -y -qq --no-install-recommends \
        "${missing[@]}"
fi

build=${KELVANE_WIN_BUILD_DIR:-build/win}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" >/dev/null
cmake --build "$build"

version=$(sed -n 's/^project(Kelvane VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

# A Wine prefix and wineserver of this run only; the wineserver's own
# chatter (it dumps its object table when a pseudo-terminal hangs up) goes to
# a file, not into the test output.
start_wine() {
    wine_tmp=$(mktemp -d "${TMPDIR:-/tmp}/kelvane-wine.XXXXXX")
    export WINEPREFIX=$wine_tmp/prefix
    mkdir -p "$WINEPREFIX"
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    unset DISPLAY
    wineserver -f -p 2>"$wine_tmp/wineserver.log" &
    wineserver_pid=$!
    trap stop_wine EXIT
    # Creates the prefix (about 6 s) before any test runs.
    timeout 120 wine wineboot -i >/dev/null 2>&1
}

stop_wine() {
    wineserver -k >/dev/null 2>&1 || true
    # Bounded: the server ends once it was told to.
    for _ in $(seq 1 100); do
        kill -0 "$wineserver_pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -9 "$wineserver_pid" 2>/dev/null || true
    rm -rf "$wine_tmp"
}

linux_sim() {
    if [ -n "${KELVANE_SIM:-}" ]; then
        echo "$KELVANE_SIM"
        return
    fi
    cmake -S . -B build/dev -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build build/dev --target kelvane-sim kelvane-cli >/dev/null
    echo "$PWD/build/dev/sim/kelvane-sim"
}

case "$mode" in
    build) ;;
    zip)
        stage=$(mktemp -d)
        name=kelvane-$version-windows-x86_64
        mkdir -p "$stage/$name" dist
        cp "$build/cli/kelvane-cli.exe" "$stage/$name/"
        x86_64-w64-mingw32-strip "$stage/$name/kelvane-cli.exe"
        sed 's/$/\r/' packaging/windows-readme.txt >"$stage/$name/README.txt"
        rm -f "dist/$name.zip"
        (cd "$stage" && cmake -E tar cf "$OLDPWD/dist/$name.zip" --format=zip "$name")
        rm -rf "$stage"
        echo "dist/$name.zip"
        ;;
    test)
        sim=$(linux_sim)
        start_wine
        ctest --test-dir "$build" --output-on-failure
        bash tests/windows/cli_under_wine.sh "$build/cli/kelvane-cli.exe" "$sim"
        ;;
    bench)
        sim=$(linux_sim)
        start_wine
        bash bench/windows_line_rate.sh "$build/cli/kelvane-cli.exe" \
            "$(dirname "$sim")/../cli/kelvane-cli" "$sim"
        ;;
    *)
        echo "usage: scripts/windows.sh [build|zip|test|bench]" >&2
        exit 2
        ;;
esac
