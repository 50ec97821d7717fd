#!/usr/bin/env bash
# The Debian package as a user gets it.
#   package_test.sh build BUILD VERSION     builds it with scripts/package.sh in
#                                           BUILD (its lintian, desktop entry and
#                                           manual page checks included)
#   package_test.sh unpacked BUILD VERSION  unpacks it into a temporary root and
#                                           runs the programs from there
#   package_test.sh install BUILD VERSION   installs it with apt-get, runs it
#                                           from /usr/bin and purges it again;
#                                           root only (exit 77: skipped)
set -euo pipefail
mode=$1
build=$2
version=$3
source_dir=$(cd "$(dirname "$0")/../.." && pwd)

fail() {
    echo "package test: $*" >&2
    exit 1
}

the_package() {
    local debs=("$build"/kelvane_*.deb)
    [ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "no single package in $build"
    readlink -f "${debs[0]}"
}

# "NAME VERSION" or "NAME VERSION (commit ...)" from PROGRAM --version.
check_version() {
    local program=$1 name line
    name=$(basename "$program")
    line=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" --version) ||
        fail "$program --version failed"
    [[ $line == "$name $version" || $line == "$name $version (commit "*")" ]] ||
        fail "$program --version says '$line'"
    echo "$line"
}

build_package() {
    KELVANE_PACKAGE_BUILD=$build bash "$source_dir/scripts/package.sh"
}

check_unpacked() {
    local deb
    deb=$(the_package)
    # root and station stay global: the EXIT trap removes them.
    root=$(mktemp -d "${TMPDIR:-/tmp}/kelvane-root.XXXXXX")
    trap 'rm -rf "$root"' EXIT
    dpkg-deb -x "$deb" "$root"
    for program in kelvane kelvane-cli kelvane-sim; do
        [ -x "$root/usr/bin/$program" ] || fail "no /usr/bin/$program"
        check_version "$root/usr/bin/$program"
        [ -s "$root/usr/share/man/man1/$program.1.gz" ] || fail "no manual page $program(1)"
    done
    for file in usr/share/applications/kelvane.desktop \
        usr/share/icons/hicolor/scalable/apps/kelvane.svg \
        usr/share/bash-completion/completions/kelvane-cli \
        usr/share/doc/kelvane/copyright usr/share/doc/kelvane/changelog.gz; do
        [ -s "$root/$file" ] || fail "no /$file"
    done
    # The installed rule is the one the program prints.
    cmp <("$root/usr/bin/kelvane-cli" udev-rule) "$root/usr/lib/udev/rules.d/70-kelvane.rules" ||
        fail "the udev rule differs from 'kelvane-cli udev-rule'"
    station=$root/station
    mkdir "$station"
    (cd "$station" && "$root/usr/bin/kelvane-cli" ports) || fail "kelvane-cli ports failed"
    # Dependencies read from the binaries, not an empty list.
    local depends
    depends=$(dpkg-deb -f "$deb" Depends)
    for lib in libc6 libstdc++6 libudev1 libqt6widgets6; do
        [[ $depends == *"$lib "* || $depends == *"$lib," || $depends == *"$lib" ]] ||
            fail "Depends lacks $lib: $depends"
    done
}

check_install() {
    if [ "$(id -u)" -ne 0 ]; then
        echo "skipped: installing the package needs root"
        exit 77
    fi
    if dpkg-query -W -f='${Status}' kelvane 2>/dev/null | grep -q "ok installed"; then
        echo "skipped: kelvane is installed on this machine already; it is left as it is"
        exit 77
    fi
    local deb
    deb=$(the_package)
    station=$(mktemp -d "${TMPDIR:-/tmp}/kelvane-station.XXXXXX")
    trap 'apt-get -o DPkg::Lock::Timeout=300 purge -y -qq kelvane >/dev/null 2>&1 || true;
          rm -rf "$station"' EXIT
    export DEBIAN_FRONTEND=noninteractive
    apt-get -o DPkg::Lock::Timeout=300 install -y -qq --no-install-recommends "$deb"
    check_version /usr/bin/kelvane-cli
    [ -f /usr/lib/udev/rules.d/70-kelvane.rules ] || fail "no udev rule installed"
    printf '[VARKO]\nCH0_PORT=3\n' >"$station/Kelvane_3.ini"
    (cd "$station" && /usr/bin/kelvane-cli ports >/dev/null) || fail "kelvane-cli ports failed"
    apt-get -o DPkg::Lock::Timeout=300 purge -y -qq kelvane
    for file in /usr/bin/kelvane /usr/bin/kelvane-cli /usr/bin/kelvane-sim \
        /usr/lib/udev/rules.d/70-kelvane.rules; do
        [ ! -e "$file" ] || fail "$file is still there after purging"
    done
    # The user's station folder is left as it was.
    [ "$(cat "$station/Kelvane_3.ini")" = "$(printf '[VARKO]\nCH0_PORT=3')" ] ||
        fail "the station folder changed"
    echo "installed, run and purged"
}

case $mode in
    build) build_package ;;
    unpacked) check_unpacked ;;
    install) check_install ;;
    *) fail "unknown mode '$mode'" ;;
esac
