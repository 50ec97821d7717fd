#!/usr/bin/env bash
# Builds Kelvane's Windows installer with wixl (Debian's msitools).
# Usage: windows_msi.sh STAGE VERSION OUT.msi
#   STAGE    a folder with kelvane.exe, kelvane-cli.exe and README.txt
#   VERSION  the product version, x.y or x.y.z (an installer of a higher
#            version replaces one of a lower)
set -euo pipefail
stage=$(realpath "$1")
version=$2
out=$(realpath -m "$3")
here=$(cd "$(dirname "$0")" && pwd)
[[ $version =~ ^[0-9]+\.[0-9]+(\.[0-9]+)?$ ]] || { echo "bad version: $version" >&2; exit 2; }
[[ $version =~ \..*\. ]] || version=$version.0
for f in kelvane.exe kelvane-cli.exe README.txt; do
    [ -f "$stage/$f" ] || { echo "missing in $stage: $f" >&2; exit 2; }
done
# wixl takes source files by names relative to the folder it runs in.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$stage"/kelvane.exe "$stage"/kelvane-cli.exe "$stage"/README.txt "$work/"
cp "$here/../ui/win32/kelvane.ico" "$here/kelvane.wxs" "$work/"
(cd "$work" && wixl -a x64 -D Version="$version" -D Bin=. -D Icon=kelvane.ico \
    -o kelvane.msi kelvane.wxs)
mv "$work/kelvane.msi" "$out"
