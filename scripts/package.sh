#!/usr/bin/env bash
# Builds a release of the three programs and the Debian package
# kelvane_<version>_<arch>.deb with CPack, then checks it as Debian does:
# lintian with no errors, desktop-file-validate on the desktop entry and
# man --warnings on the manual pages, all on the files as the package holds
# them. Installs what is missing first.
#   bash scripts/package.sh          # the package lands in build/package/
# KELVANE_PACKAGE_BUILD changes the build folder.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh package

build=${KELVANE_PACKAGE_BUILD:-build/package}
if [ ! -f "$build/CMakeCache.txt" ]; then
    # Debian's compiler and linker flags, hardening included; CMake reads
    # them from the environment when the build folder is made.
    export DEB_BUILD_MAINT_OPTIONS=hardening=+all
    eval "$(dpkg-buildflags --export=sh)"
    export CXXFLAGS="$CPPFLAGS $CXXFLAGS"
fi
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKELVANE_PACKAGE=ON \
    -DKELVANE_TESTS=OFF -DKELVANE_BENCH=OFF >/dev/null
cmake --build "$build"
rm -f "$build"/kelvane_*.deb
cpack --config "$build/CPackConfig.cmake" -B "$build" >/dev/null
debs=("$build"/kelvane_*.deb)
deb=${debs[0]}

echo "== lintian"
lintian --fail-on error "$deb"

root=$build/package-root
rm -rf "$root"
dpkg-deb -x "$deb" "$root"

echo "== desktop-file-validate"
desktop-file-validate "$root/usr/share/applications/kelvane.desktop"

echo "== man --warnings"
warnings=0
for page in "$root"/usr/share/man/man1/*.1.gz; do
    out=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
    if [ -n "$out" ]; then
        echo "$page:"
        echo "$out"
        warnings=1
    fi
done
[ "$warnings" -eq 0 ] || exit 1

echo "package: $deb"
