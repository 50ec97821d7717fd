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

# shellcheck source=scripts/wine_env.sh
source "$(dirname "$0")/../../scripts/wine_env.sh"

work=$(mktemp -d "${TMPDIR:-/tmp}/kelvane-wine-window.XXXXXX")
sim_pid=
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
    [ ! -s "$work/sim.lines" ] || wine_unlink_ports "$work/sim.lines"
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/images" "$work/sim" "$work/out"
"$linux_cli" make-image "$work/images/modem.bin" --size 256K --address 1a0000 --kind MODEM \
    --type bin >/dev/null
"$linux_cli" make-image "$work/images/resource1.rc1" --size 96K --address 800000 --kind RSRC1 \
    --type rc1 --seed 2 >/dev/null
"$linux_cli" make-image "$work/images/resource2.rc2" --size 64K --address 900000 --kind RSRC2 \
    --type rc2 --seed 3 >/dev/null

# Eight handsets paced like the line at 1382400 baud, on COM numbers Wine
# leaves to them.
first_port=$(wine_first_port)
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
wine_link_ports "$work/sim.lines"

status=0
KELVANE_TEST_IMAGES=$(winpath "$work/images") KELVANE_TEST_DUMPS=$(winpath "$work/out") \
    KELVANE_TEST_FIRST_PORT=$first_port timeout 300 wine "$exe" "${@:4}" || status=$?
if [ $status -ne 0 ]; then
    echo "FAILED: the Windows dialog under Wine (exit $status); simulator log:" >&2
    tail -20 "$work/sim.log" >&2
fi
exit $status
