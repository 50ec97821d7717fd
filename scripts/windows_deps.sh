#!/usr/bin/env bash
# The target's SQLite and libpq for the Windows build of the station records:
# static libraries cross-built with the posix mingw-w64 compilers from
# Debian's own source packages sqlite3 and postgresql-15 (apt-get source).
#   scripts/windows_deps.sh BUILD
# leaves BUILD/deps/sqlite3-<version>/ and BUILD/deps/postgresql-15-<version>/,
# each with include/, lib/ and a stamp naming what it was built from; a folder
# whose stamp matches is kept, so only the first run builds. Tells on standard
# error which versions it uses and prints the two folders (a CMake list, the
# value of KELVANE_WIN_DEPS) on standard output.
set -euo pipefail
cd "$(dirname "$0")/.."
[ $# -eq 1 ] || {
    echo "usage: scripts/windows_deps.sh BUILD" >&2
    exit 2
}
deps=$(realpath -m "$1")/deps
host=x86_64-w64-mingw32
recipe=3 # raised whenever the way a library is built changes

as_root() {
    if [ "$(id -u)" -ne 0 ]; then sudo "$@"; else "$@"; fi
}

# Source entries beside the machine's binary ones, so apt-get source works
# (from debian.sources, else from the one-line sources.list).
source_entries() {
    [ -n "$(apt-cache showsrc --only-source sqlite3 2>/dev/null)" ] && return
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
        sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
            as_root tee /etc/apt/sources.list.d/kelvane-src.sources >/dev/null
    else
        sed -n 's/^deb /deb-src /p' /etc/apt/sources.list |
            as_root tee /etc/apt/sources.list.d/kelvane-src.list >/dev/null
    fi
    as_root apt-get -o DPkg::Lock::Timeout=300 update -qq
}

# The newest version of PACKAGE's source the sources offer.
newest_source() {
    source_entries
    apt-cache showsrc --only-source "$1" | sed -n 's/^Version: //p' | sort -V | tail -1
}

# The build tools, installed when missing.
build_tools() {
    local missing=()
    for p in dpkg-dev make gcc tcl perl; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return
    as_root apt-get -o DPkg::Lock::Timeout=300 update -qq
    as_root apt-get -o DPkg::Lock::Timeout=300 install -y -qq --no-install-recommends \
        "${missing[@]}" >&2
}

# Unpacks PACKAGE=VERSION (Debian's patches applied) into FOLDER/source;
# false, with apt's reason, when the mirror does not have it.
fetch() {
    local package=$1 version=$2 folder=$3
    rm -rf "$folder"
    mkdir -p "$folder"
    (cd "$folder" && apt-get source -qq "$package=$version" >fetch.log 2>&1) || {
        grep '^E:' "$folder/fetch.log" >&2
        return 1
    }
    mv "$folder/$(cd "$folder" && ls -d "$package"-*/)" "$folder/source"
}

# Runs a build step with its output in LOG, shown only when it fails.
step() {
    local log=$1
    shift
    "$@" >"$log" 2>&1 || {
        tail -n 20 "$log" | cut -c1-400 >&2
        echo "failed: $* (log: $log)" >&2
        exit 1
    }
}

# SQLite with the compile options of Debian's own build: the amalgamation
# made by the build machine's tools, compiled for the target.
build_sqlite() {
    local source=$1 prefix=$2 work=$1/../build cflags
    cflags=$(sed -n '/^export CFLAGS += /,/^$/p' "$source/debian/rules" |
        sed 's/^export CFLAGS += //; s/\\$//' | tr -s ' \t\n' ' ')
    [[ $cflags == *SQLITE_THREADSAFE=1* ]] || { echo "cannot read SQLite's options" >&2; exit 1; }
    mkdir -p "$work" "$prefix/include" "$prefix/lib"
    step "$work/configure.log" env -C "$work" "$source/configure" --disable-tcl --disable-readline
    step "$work/make.log" make -C "$work" -j"$(nproc)" sqlite3.c sqlite3.h
    # shellcheck disable=SC2086 # one flag a word
    step "$work/compile.log" $host-gcc-posix $cflags -c "$work/sqlite3.c" -o "$work/sqlite3.o"
    step "$work/ar.log" $host-ar rcs "$prefix/lib/libsqlite3.a" "$work/sqlite3.o"
    cp "$work/sqlite3.h" "$source/src/sqlite3ext.h" "$prefix/include/"
}

# libpq, the client library alone, with the src/port and src/common
# libraries it builds on; no server. libpq's own rules make a DLL for
# Windows (its libpq.a is the import library), so the archive of its objects
# is made here.
build_libpq() {
    local source=$1 prefix=$2 work=$1/../build objects
    mkdir -p "$work" "$prefix/include" "$prefix/lib"
    step "$work/configure.log" env -C "$work" "$source/configure" --host=$host \
        CC=$host-gcc-posix --without-readline --without-zlib --without-icu --without-openssl \
        --without-ldap --without-gssapi --disable-nls
    # The headers made from lists (error codes, ...) come first.
    step "$work/headers.log" make -C "$work/src/backend" generated-headers
    step "$work/port.log" make -C "$work/src/port" -j"$(nproc)" libpgport_shlib.a
    step "$work/common.log" make -C "$work/src/common" -j"$(nproc)" libpgcommon_shlib.a
    # Its objects without the DLL's version resource.
    # shellcheck disable=SC2016 # make expands it
    objects=$(make -s -C "$work/src/interfaces/libpq" \
        --eval 'kelvane-objects: ; @echo $(filter-out $(WIN32RES),$(OBJS))' kelvane-objects)
    # shellcheck disable=SC2086 # one object a word
    step "$work/libpq.log" make -C "$work/src/interfaces/libpq" -j"$(nproc)" $objects
    # libpq's own small pthread stand-in would clash with the winpthreads of
    # the posix compilers: its names become libpq's own.
    $host-nm --defined-only "$work/src/interfaces/libpq/pthread-win32.o" |
        awk '$2 == "T" { print $3, "kelvane_pq_" $3 }' >"$work/pthread.syms"
    mkdir -p "$work/libpq-objects"
    for o in $objects; do
        $host-objcopy --redefine-syms="$work/pthread.syms" "$work/src/interfaces/libpq/$o" \
            "$work/libpq-objects/$o"
    done
    # shellcheck disable=SC2086
    step "$work/ar.log" env -C "$work/libpq-objects" $host-ar rcs "$prefix/lib/libpq.a" $objects
    cp "$source/src/interfaces/libpq/libpq-fe.h" "$source/src/include/postgres_ext.h" \
        "$work/src/include/pg_config_ext.h" "$prefix/include/"
    cp "$work/src/port/libpgport_shlib.a" "$work/src/common/libpgcommon_shlib.a" "$prefix/lib/"
}

# dependency PACKAGE BINARY BUILDER: the folder of PACKAGE, built unless one
# with a matching stamp is there. The version is the one of BINARY installed
# here (the Linux build's own library), else the newest the sources offer.
dependency() {
    local package=$1 binary=$2 builder=$3 version prefix start versions=()
    version=$(dpkg-query -W -f='${Status} ${Version}' "$binary" 2>/dev/null |
        sed -n 's/^install ok installed //p')
    [ -z "$version" ] || versions+=("$version")
    if [ -z "$version" ] || [ "$(cat "$deps/$package-$version/stamp" 2>/dev/null)" != \
        "$package $version recipe $recipe" ]; then
        versions+=("$(newest_source "$package")")
    fi
    for version in "${versions[@]}"; do
        prefix=$deps/$package-$version
        if [ "$(cat "$prefix/stamp" 2>/dev/null)" = "$package $version recipe $recipe" ]; then
            echo "$package $version (Debian source): kept in $prefix" >&2
            echo "$prefix"
            return
        fi
    done
    build_tools
    for version in "${versions[@]}"; do
        if [ -z "$version" ] || ! fetch "$package" "$version" "$deps/work-$package"; then
            continue
        fi
        start=$(date +%s)
        prefix=$deps/$package-$version
        rm -rf "$prefix"
        "$builder" "$deps/work-$package/source" "$prefix"
        echo "$package $version recipe $recipe" >"$prefix/stamp"
        rm -rf "$deps/work-$package"
        echo "$package $version (Debian source): built in $(($(date +%s) - start)) s," \
            "in $prefix" >&2
        echo "$prefix"
        return
    done
    echo "no source of $package to build (${versions[*]})" >&2
    exit 1
}

sqlite=$(dependency sqlite3 libsqlite3-0 build_sqlite)
libpq=$(dependency postgresql-15 libpq5 build_libpq)
echo "$sqlite;$libpq"
