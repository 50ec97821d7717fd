#!/usr/bin/env bash
# How long an eight-channel download of the demo's image set takes in each
# window: the Qt window (kelvane) on Linux and the Win32 window (kelvane.exe)
# under Wine, one after the other against the same simulator (8 handsets
# paced at 1382400 baud, DELAY=2; modem 2 MiB, rsrc1 600 KiB, rsrc2 300 KiB).
# Each window presses Download itself (--download) and reports the time from
# the press to the end of the session; the line-rate ratio is the image bytes
# per channel over that time, as a share of the line's 138240 bytes per
# second. It also reports when the Win32 window was up after its process
# started. Run it through scripts/windows.sh window-bench (it provides the
# Wine prefix and the virtual screen).
# Usage: window_download_time.sh LINUX-KELVANE KELVANE.EXE LINUX-KELVANE-CLI LINUX-KELVANE-SIM
set -euo pipefail
qt_window=$1
exe=$2
linux_cli=$3
sim=$4
runs=${KELVANE_BENCH_RUNS:-3}
: "${WINEPREFIX:?run through scripts/windows.sh window-bench}"
: "${DISPLAY:?run through scripts/windows.sh window-bench}"
# shellcheck source=scripts/wine_env.sh
source "$(dirname "$0")/../scripts/wine_env.sh"

work=$(mktemp -d "${TMPDIR:-/tmp}/kelvane-window-bench.XXXXXX")
cleanup() {
    stop_handsets "$work/linux"
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/images" "$work/linux" "$work/windows"
"$linux_cli" make-image "$work/images/modem.bin" --size 2M --address 1a0000 --kind DEMO_MODEM \
    --type bin --seed 1 >/dev/null
"$linux_cli" make-image "$work/images/rsrc1.rc1" --size 600K --address 800000 \
    --kind DEMO_RSRC1 --type rc1 --seed 2 >/dev/null
"$linux_cli" make-image "$work/images/rsrc2.rc2" --size 300K --address a00000 \
    --kind DEMO_RSRC2 --type rc2 --seed 3 >/dev/null
bytes=$(cat "$work"/images/* | wc -c)

# The handsets are pinned in the Linux station's port map (the Qt window's
# port search) and made COM ports of the Wine prefix (the Win32 window's).
start_handsets "$sim" "$work/linux" 8 --baud 1382400

# station FOLDER PATH-FORM: settings and image set, paths as the system writes them.
station() {
    local folder=$1 form=$2 end=$3
    path() { if [ "$form" = windows ]; then winpath "$1"; else printf '%s' "$1"; fi; }
    printf '[VARKO]%sAUTODETECT=1%sDELAY=2%sBAUDRATE=1382400%sVARKOFILE=%s%s' "$end" "$end" \
        "$end" "$end" "$(path "$folder/demo.vrk")" "$end" >"$folder/Kelvane_3.ini"
    {
        printf '[VARKO]%sMTY=0%s' "$end" "$end"
        printf 'CODECHECK=1%sCODEFILE=%s%sCODEADDRESS=1a0000%s' "$end" \
            "$(path "$work/images/modem.bin")" "$end" "$end"
        printf 'FONTCHECK=1%sFONTFILE=%s%sFONTADDRESS=800000%s' "$end" \
            "$(path "$work/images/rsrc1.rc1")" "$end" "$end"
        printf 'DATACHECK=1%sDATAFILE=%s%sDATAADDRESS=a00000%s' "$end" \
            "$(path "$work/images/rsrc2.rc2")" "$end" "$end"
    } >"$folder/demo.vrk"
}

# report NAME OUTPUT-FILE: the download time the window printed.
report() {
    local seconds
    seconds=$(sed -n 's/^kelvane: the download took \([0-9.]*\) s.*/\1/p' "$2" | tr -d '\r')
    if [ -z "$seconds" ] || [ "$(grep -c "Download Completed!!" "$2")" -ne 8 ]; then
        echo "$1: the download did not complete" >&2
        tail -20 "$2" >&2
        exit 1
    fi
    awk -v n="$1" -v b="$bytes" -v s="$seconds" 'BEGIN {
        printf "%-26s 8 channels, %d bytes each: %.2f s, line-rate ratio %.3f\n",
        n, b, s, b / s / 138240 }'
}

for run in $(seq 1 "$runs"); do
    station "$work/linux" linux $'\n'
    (cd "$work/linux" && QT_QPA_PLATFORM=xcb timeout 300 "$qt_window" --download) \
        >"$work/qt.out" 2>&1 </dev/null || true
    report "Qt window (Linux) #$run" "$work/qt.out"
    station "$work/windows" windows $'\r\n'
    (cd "$work/windows" && timeout 300 wine "$exe" --download) >"$work/win.out" 2>&1 \
        </dev/null || true
    report "Win32 window (Wine) #$run" "$work/win.out"
    grep -h "the window was up" "$work/win.out" | tr -d '\r' || true
done
