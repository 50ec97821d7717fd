#!/usr/bin/env bash
# The Windows dialog under Wine against the Linux handset simulator: eight
# simulated handsets become COM1..COM8 through $WINEPREFIX/dosdevices links
# and the registry's serial-port map, sample images are made with the Linux
# kelvane-cli, and the dialog test program opens the dialog and downloads.
# Needs WINEPREFIX with a running wineserver and DISPLAY on a virtual screen
# (scripts/windows.sh test provides all three).
# Usage: window_under_wine.sh UI_WIN32_DIALOG_TESTS.EXE LINUX-KELVANE-SIM [LINUX-KELVANE-CLI
#        [GTEST-OPTIONS...]]
set -euo pipefail
exe=$1
sim=$2
linux_cli=${3:-$(dirname "$sim")/../cli/kelvane-cli}
: "${WINEPREFIX:?run through scripts/windows.sh test}"
: "${DISPLAY:?run through scripts/windows.sh test}"

work=$(mktemp -d "${TMPDIR:-/tmp}/kelvane-wine-window.XXXXXX")
sim_pid=
key='HKLM\HARDWARE\DEVICEMAP\SERIALCOMM'
cleanup() {
    if [ -n "$sim_pid" ]; then
        kill -INT "$sim_pid" 2>/dev/null || true
        for _ in $(seq 1 100); do
            kill -0 "$sim_pid" 2>/dev/null || break
            sleep 0.05
        done
        kill -9 "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    for k in 0 1 2 3 4 5 6 7; do
        wine reg delete "$key" /v "\\Device\\kvmodem-sim$k" /f >/dev/null 2>&1 || true
    done
    rm -f "$WINEPREFIX"/dosdevices/com[0-9]*
    rm -rf "$work"
}
trap cleanup EXIT

winpath() { printf 'Z:%s' "${1//\//\\}"; }

mkdir -p "$work/images" "$work/sim" "$work/out"
"$linux_cli" make-image "$work/images/modem.bin" --size 256K --address 1a0000 --kind MODEM \
    --type bin >/dev/null
"$linux_cli" make-image "$work/images/resource1.rc1" --size 96K --address 800000 --kind RSRC1 \
    --type rc1 --seed 2 >/dev/null
"$linux_cli" make-image "$work/images/resource2.rc2" --size 64K --address 900000 --kind RSRC2 \
    --type rc2 --seed 3 >/dev/null

# Eight handsets paced like the line at 1382400 baud, on COM numbers above
# those Wine's mount manager gives the machine's own serial ports (it keeps
# their dosdevices links, /dev/ttyS<n> as COM<n+1>).
ttys=$(find /dev -maxdepth 1 -name 'ttyS[0-9]*' | wc -l)
first_port=$((ttys + 1 > 21 ? ttys + 1 : 21))
"$sim" --channels 8 --first-port $first_port --baud 1382400 --dir "$work/sim" --out "$work/out" \
    >"$work/sim.lines" 2>"$work/sim.log" &
sim_pid=$!
for _ in $(seq 1 200); do
    [ "$(wc -l <"$work/sim.lines")" -ge 8 ] && break
    sleep 0.05
done
if [ "$(wc -l <"$work/sim.lines")" -lt 8 ]; then
    echo "the simulator did not start" >&2
    cat "$work/sim.log" >&2
    exit 1
fi
rm -f "$WINEPREFIX"/dosdevices/com[0-9]*
k=0
while read -r com device _; do
    ln -s "$device" "$WINEPREFIX/dosdevices/${com,,}"
    wine reg add "$key" /v "\\Device\\kvmodem-sim$k" /t REG_SZ /d "$com" /f >/dev/null 2>&1
    k=$((k + 1))
done <"$work/sim.lines"

status=0
KELVANE_TEST_IMAGES=$(winpath "$work/images") KELVANE_TEST_DUMPS=$(winpath "$work/out") \
    KELVANE_TEST_FIRST_PORT=$first_port timeout 300 wine "$exe" "${@:4}" || status=$?
if [ $status -ne 0 ]; then
    echo "FAILED: the Windows dialog under Wine (exit $status); simulator log:" >&2
    tail -20 "$work/sim.log" >&2
    [ -z "${KELVANE_KEEP_SIM_LOG:-}" ] || cp "$work/sim.log" "$KELVANE_KEEP_SIM_LOG"
fi
exit $status
