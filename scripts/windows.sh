#!/usr/bin/env bash
# Kelvane for 64-bit Windows, cross-built with Debian's mingw-w64 and tested
# under Wine. Installs what is missing (apt-get), then:
#   scripts/windows.sh          builds and packs dist/kelvane-<version>-windows-x86_64.zip
#                               and the installer dist/kelvane-<version>-windows-x86_64.msi
#   scripts/windows.sh build    builds only (build/win, or $KELVANE_WIN_BUILD_DIR)
#   scripts/windows.sh test     builds, runs the unit tests under Wine on a virtual
#                               screen, flashes the Linux simulator with kelvane-cli.exe
#                               through COM ports, checks its station records and their
#                               forwarding to a PostgreSQL server, and opens the window
#                               (kelvane.exe's dialog) to download to it
#   scripts/windows.sh bench    line-rate ratio of the Windows and the Linux CLI
#   scripts/windows.sh window-bench
#                               an 8-channel download of the demo's image set in the
#                               Qt and in the Win32 window, and the Win32 window's
#                               start time
# The tests use the Linux kelvane-sim of $KELVANE_SIM (default: one built in
# build/dev) and a Wine prefix of their own under a temporary folder, with a
# wineserver started and stopped here.
set -euo pipefail
cd "$(dirname "$0")/.."
mode=${1:-zip}

packages=(cmake ninja-build googletest g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64
    wine xvfb wixl postgresql jq)
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
# The station records' SQLite and libpq for the target, built once into $build/deps.
deps=$(bash scripts/windows_deps.sh "$build")
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" -DKELVANE_WIN_DEPS="$deps" >/dev/null
cmake --build "$build"

version=$(sed -n 's/^project(Kelvane VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

# shellcheck source=scripts/wine_env.sh
source scripts/wine_env.sh

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
        for program in ui/kelvane.exe cli/kelvane-cli.exe; do
            cp "$build/$program" "$stage/$name/"
            x86_64-w64-mingw32-strip "$stage/$name/$(basename "$program")"
        done
        sed 's/$/\r/' packaging/windows-readme.txt >"$stage/$name/README.txt"
        rm -f "dist/$name.zip" "dist/$name.msi"
        (cd "$stage" && cmake -E tar cf "$OLDPWD/dist/$name.zip" --format=zip "$name")
        bash packaging/windows_msi.sh "$stage/$name" "$version" "dist/$name.msi"
        rm -rf "$stage"
        echo "dist/$name.zip"
        echo "dist/$name.msi"
        ;;
    test)
        sim=$(linux_sim)
        start_wine
        trap stop_wine EXIT
        ctest --test-dir "$build" --output-on-failure
        bash tests/windows/cli_under_wine.sh "$build/cli/kelvane-cli.exe" "$sim"
        bash tests/windows/records_under_wine.sh "$build/cli/kelvane-cli.exe" "$sim"
        KELVANE_WINDOW_EXE=$build/ui/kelvane.exe bash tests/windows/window_under_wine.sh \
            "$build/tests/ui/win32/ui_win32_dialog_tests.exe" "$sim"
        bash tests/windows/msi_under_wine.sh "$build" "$version"
        ;;
    bench)
        sim=$(linux_sim)
        start_wine
        trap stop_wine EXIT
        bash bench/windows_line_rate.sh "$build/cli/kelvane-cli.exe" \
            "$(dirname "$sim")/../cli/kelvane-cli" "$sim"
        ;;
    window-bench)
        sim=$(linux_sim)
        cmake --build "$(dirname "$sim")/.." --target kelvane >/dev/null
        start_wine
        trap stop_wine EXIT
        bash bench/window_download_time.sh "$(dirname "$sim")/../ui/kelvane" \
            "$(realpath "$build")/ui/kelvane.exe" "$(dirname "$sim")/../cli/kelvane-cli" "$sim"
        ;;
    *)
        echo "usage: scripts/windows.sh [build|zip|test|bench|window-bench]" >&2
        exit 2
        ;;
esac
