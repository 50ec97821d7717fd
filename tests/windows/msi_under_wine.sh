#!/usr/bin/env bash
# The Windows installer under Wine: an older version installed, the current
# one installed over it, both programs run from the installed folder, then
# uninstalled. Checks that the upgrade leaves one copy and one uninstall
# entry, that the Start-menu entry comes and goes, that nothing of the
# program is left after the uninstall, and that a station folder is never
# touched. Needs WINEPREFIX with a running wineserver (scripts/windows.sh
# test provides both).
# Usage: msi_under_wine.sh WINDOWS-BUILD-DIR VERSION
set -euo pipefail
build=$1
version=$2
: "${WINEPREFIX:?run through scripts/windows.sh test}"
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=scripts/wine_env.sh
source "$here/../../scripts/wine_env.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/kelvane-msi.XXXXXX")
trap 'rm -rf "$work"' EXIT

failures=0
check() {  # check DESCRIPTION COMMAND...: passes when COMMAND succeeds
    local what=$1
    shift
    if "$@"; then echo "ok: $what"; else echo "FAILED: $what" >&2; failures=$((failures + 1)); fi
}

mkdir -p "$work/stage"
cp "$build/ui/kelvane.exe" "$build/cli/kelvane-cli.exe" "$work/stage/"
sed 's/$/\r/' "$here/../../packaging/windows-readme.txt" >"$work/stage/README.txt"
bash "$here/../../packaging/windows_msi.sh" "$work/stage" 0.9.1 "$work/old.msi"
bash "$here/../../packaging/windows_msi.sh" "$work/stage" "$version" "$work/new.msi"

installed="$WINEPREFIX/drive_c/Program Files/Kelvane"
menu_entry() { find "$WINEPREFIX/drive_c" -path '*Start Menu/Programs/Kelvane/Kelvane.lnk' | head -1; }
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
# The DisplayVersion of every uninstall entry named Kelvane, one per line.
entries() {
    local key
    wine reg query "$uninstall_key" 2>/dev/null | tr -d '\r' | grep -i '^HKEY' | while read -r key; do
        wine reg query "$key" 2>/dev/null | tr -d '\r' | grep -q 'DisplayName.*REG_SZ.*Kelvane$' || continue
        wine reg query "$key" /v DisplayVersion 2>/dev/null | tr -d '\r' | awk '/DisplayVersion/ {print $3}'
    done
}
msi() { timeout 120 wine msiexec "$@" /qn >/dev/null 2>&1; }

# A station folder with settings, a port map, an image set and a records file.
station="$WINEPREFIX/drive_c/station"
mkdir -p "$station"
printf '[SETTINGS]\r\nBAUDRATE=921600\r\n' >"$station/Kelvane_3.ini"
printf '[PORTS]\r\nCOM21=/dev/null\r\n' >"$station/Kelvane_ports.ini"
printf '[SET]\r\nMODEM=C:\\images\\modem.bin\r\n' >"$station/line.vrk"
head -c 4096 /dev/urandom >"$station/Kelvane_records.db"
station_sums() { (cd "$station" && find . -type f -print0 | sort -z | xargs -0 sha256sum); }
before=$(station_sums)

check "the older version installs" msi /i "$(winpath "$work/old.msi")"
check "its uninstall entry says 0.9.1" test "$(entries)" = "0.9.1"
check "the current version installs over it" msi /i "$(winpath "$work/new.msi")"
check "one uninstall entry is left, of $version" test "$(entries)" = "$version.0"
check "one copy of the programs, the README beside them" \
    test "$(find "$WINEPREFIX/drive_c" -iname kelvane-cli.exe | wc -l)" = 1 -a -f "$installed/README.txt"
check "the installed programs are the built ones" \
    cmp -s "$installed/kelvane-cli.exe" "$build/cli/kelvane-cli.exe"
check "a Start-menu entry for the window" test -n "$(menu_entry)"
for program in kelvane-cli.exe kelvane.exe; do
    out=$(cd "$station" && timeout 60 wine "C:\\Program Files\\Kelvane\\$program" --version 2>&1 | tr -d '\r')
    check "$program --version from the installed folder ($out)" \
        grep -q "^kelvane.* $version" <<<"$out"
done
check "the current version uninstalls" msi /x "$(winpath "$work/new.msi")"
check "no uninstall entry is left" test -z "$(entries)"
check "nothing of the program is left" test ! -e "$installed" -a -z "$(menu_entry)"
check "the station folder is unchanged" test "$(station_sums)" = "$before"

[ "$failures" -eq 0 ] || { echo "$failures installer checks failed" >&2; exit 1; }
echo "installer: all checks passed"
