#!/usr/bin/env bash
# The Windows dialog under Wine against the Linux handset simulator: eight
# simulated handsets become COM1..COM8 through $WINEPREFIX/dosdevices links
# and the registry's serial-port map, sample images are made with the Linux
# kelvane-cli, and the dialog test program opens the dialog and downloads.
# Needs WINEPREFIX with a running wineserver and DISPLAY on a virtual screen
# (scripts/windows.sh test provides all three).
# Usage: [KELVANE_WINDOW_EXE=KELVANE.EXE] window_under_wine.sh UI_WIN32_DIALOG_TESTS.EXE
#        LINUX-KELVANE-SIM [LINUX-KELVANE-CLI [GTEST-OPTIONS...]]
set -euo pipefail
exe=$1
sim=$2
linux_cli=${3:-$(dirname "$sim")/../cli/kelvane-cli}
: "${WINEPREFIX:?run through scripts/windows.sh test}"
: "${DISPLAY:?run through scripts/windows.sh test}"

# shellcheck source=scripts/wine_env.sh
source "$(dirname "$0")/../../scripts/wine_env.sh"

work=$(mktemp -d "${TMPDIR:-/tmp}/kelvane-wine-window.XXXXXX")
cleanup() {
    stop_handsets "$work/sim"
    stop_handsets "$work/swap"
    rm -rf "$work"
}
trap cleanup EXIT

# The images' folder is named in several scripts and with spaces.
images="$work/images é Кириллица 中文"
mkdir -p "$images" "$work/out"
"$linux_cli" make-image "$images/modem.bin" --size 256K --address 1a0000 --kind MODEM \
    --type bin >/dev/null
"$linux_cli" make-image "$images/resource1.rc1" --size 96K --address 800000 --kind RSRC1 \
    --type rc1 --seed 2 >/dev/null
"$linux_cli" make-image "$images/resource2.rc2" --size 64K --address 900000 --kind RSRC2 \
    --type rc2 --seed 3 >/dev/null

# Eight handsets paced like the line at 1382400 baud.
start_handsets "$sim" "$work/sim" 8 --baud 1382400 --out "$work/out"

status=0
KELVANE_TEST_IMAGES=$(winpath "$images") KELVANE_TEST_DUMPS=$(winpath "$work/out") \
    KELVANE_TEST_FIRST_PORT=$(wine_first_port) timeout 300 wine "$exe" "${@:4}" || status=$?
if [ $status -ne 0 ]; then
    echo "FAILED: the Windows dialog under Wine (exit $status); simulator log:" >&2
    tail -20 "$work/sim/sim.log" >&2
    exit $status
fi

# Station mode: three channels of two handsets each that come and go, the
# second handset of channel 1 faulty; each leaves its dump under its serial.
stop_handsets "$work/sim"
start_handsets "$sim" "$work/swap" 3 --swap --handsets 2 --swap-ms 300 \
    --fault ch1:h2:mute-unlock --out "$work/swap-out"
KELVANE_TEST_SWAP=2 KELVANE_TEST_LINKS=$(winpath "$work/swap") \
    KELVANE_TEST_IMAGES=$(winpath "$images") KELVANE_TEST_DUMPS=$(winpath "$work/swap-out") \
    KELVANE_TEST_FIRST_PORT=$(wine_first_port) timeout 300 wine "$exe" --gtest_filter=*.StationMode* ||
    status=$?
if [ $status -ne 0 ]; then
    echo "FAILED: station mode in the Windows dialog under Wine (exit $status); simulator log:" >&2
    tail -20 "$work/swap/sim.log" >&2
fi

# kelvane.exe ($KELVANE_WINDOW_EXE) started from a station folder named in
# several scripts takes a file name in them from its command line: it saves
# its picture there and its settings name the image set of that folder.
if [ -n "${KELVANE_WINDOW_EXE:-}" ]; then
    window=$(realpath "$KELVANE_WINDOW_EXE")
    station="$work/station é Кириллица 中文"
    shot="$station/окно 中文 é.bmp"
    mkdir -p "$station"
    (cd "$station" && timeout 120 wine "$window" --screenshot "$(winpath "$shot")" --after-ms 0) \
        >"$work/window.out" 2>&1 || echo "kelvane.exe: exit $?" >>"$work/window.out"
    if [ "$(head -c 2 "$shot" 2>/dev/null)" != BM ] ||
        ! grep -qF "VARKOFILE=$(winpath "$station")\\default_3.vrk" "$station/Kelvane_3.ini"; then
        echo "FAILED: kelvane.exe in '$station':" >&2
        cat "$work/window.out" "$station/Kelvane_3.ini" >&2
        status=1
    fi
fi
exit $status
