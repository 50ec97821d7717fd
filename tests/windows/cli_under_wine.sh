#!/usr/bin/env bash
# kelvane-cli.exe under Wine against the Linux handset simulator: each
# simulated handset's pseudo-terminal becomes a COM port through the link
# $WINEPREFIX/dosdevices/com<n> and an entry in the registry's serial-port
# map (scripts/wine_env.sh). Needs WINEPREFIX with a running wineserver
# (scripts/windows.sh test provides both).
# Usage: cli_under_wine.sh KELVANE-CLI.EXE LINUX-KELVANE-SIM [LINUX-KELVANE-CLI]
set -euo pipefail
exe=$(realpath "$1")
sim=$2
linux_cli=${3:-$(dirname "$sim")/../cli/kelvane-cli}
: "${WINEPREFIX:?run through scripts/windows.sh test}"

work=$(mktemp -d "${TMPDIR:-/tmp}/kelvane-wine-e2e.XXXXXX")
sim_pid=
cleanup() {
    stop_sim
    rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() {
    echo "FAILED: $*" >&2
    failures=$((failures + 1))
}
pass() { echo "ok: $*"; }

# Handset k is COM<p0 + k>, above the COM numbers Wine's mount manager keeps
# for the machine's own serial ports.
# shellcheck source=scripts/wine_env.sh
source "$(dirname "$0")/../../scripts/wine_env.sh"
p0=$(wine_first_port)
com() { echo $((p0 + $1)); }

# start_sim CHANNELS BAUD [--fault RULE ...]: handsets on COM<p0>..COM<p0 + n - 1>.
start_sim() {
    local channels=$1 baud=$2
    shift 2
    rm -rf "$work/sim" "$work/out"
    mkdir -p "$work/out"
    start_handsets "$sim" "$work/sim" "$channels" --baud "$baud" --out "$work/out" "$@" || exit 1
}

stop_sim() { stop_handsets "$work/sim"; }

# Waits (bounded) until handset k's dump is there.
wait_dump() {
    for _ in $(seq 1 200); do
        [ -s "$work/out/ch$1.idx" ] && return 0
        sleep 0.05
    done
    return 1
}

# True when handset k holds the image byte for byte: its flash range starts
# with the image, and the rest of the erased range is still erased (0xFF).
holds_image() {
    local dump=$work/out/ch$1.bin size
    wait_dump "$1" || return 1
    size=$(stat -c %s "$image")
    [ "$(stat -c %s "$dump")" -ge "$size" ] || return 1
    cmp -s -n "$size" "$image" "$dump" || return 1
    [ "$(tail -c +$((size + 1)) "$dump" | tr -d '\377' | wc -c)" -eq 0 ]
}

# Runs kelvane-cli.exe; its output (both streams) lands in $work/cli.out.
cli() {
    local status=0
    timeout 300 wine "$exe" "$@" >"$work/cli.out" 2>&1 </dev/null || status=$?
    tr -d '\r' <"$work/cli.out" >"$work/cli.txt"
    return $status
}

mkdir -p "$work/cli"
image=$work/image.bin
cli make-image "$(winpath "$image")" --size 256K --address 20000 ||
    fail "make-image: $(cat "$work/cli.txt")"
ports=$(seq -s, "$p0" "$(com 7)")

# Eight channels at 1382400 baud, paced like the line: every byte arrives.
start_sim 8 1382400
status=0
cli download --port $ports --image "8=$(winpath "$image")@20000" --dir "$(winpath "$work/cli")" \
    --delay 0 --baud 1382400 || status=$?
[ $status -eq 0 ] || fail "8 channels: exit $status: $(tail -20 "$work/cli.txt")"
for k in 0 1 2 3 4 5 6 7; do
    grep -q "CH$k COM$(com $k) OK" "$work/cli.txt" || fail "8 channels: CH$k not OK"
    if holds_image $k; then :; else
        fail "8 channels: handset $k does not hold the image byte for byte"
    fi
done
stop_sim
[ $failures -eq 0 ] && pass "8 channels at 1382400 baud, byte-exact"

# A hang-up on one channel fails that channel only.
before=$failures
start_sim 8 1382400 --fault ch3:hangup=40000
status=0
cli download --port $ports --image "8=$(winpath "$image")@20000" --dir "$(winpath "$work/cli")" \
    --delay 0 --baud 1382400 || status=$?
[ $status -eq 1 ] || fail "hang-up: exit $status, not 1"
grep -q "CH3 COM$(com 3) FAILED" "$work/cli.txt" || fail "hang-up: CH3 did not fail"
for k in 0 1 2 4 5 6 7; do
    grep -q "CH$k COM$(com $k) OK" "$work/cli.txt" || fail "hang-up: CH$k not OK"
    if holds_image $k; then :; else
        fail "hang-up: handset $k does not hold the image byte for byte"
    fi
done
stop_sim
[ $failures -eq $before ] && pass "a hang-up on CH3 fails CH3 only"

# download --auto takes the handset ports of the registry's serial-port map
# (start_sim enters the handsets there, as Wine lists only the ports it found
# at start) and leaves a port of another name alone.
before=$failures
start_sim 2 0
wine reg add "$wine_serial_key" /v '\Device\Serial7' /t REG_SZ /d "COM$(com 8)" /f \
    >/dev/null 2>&1
status=0
cli download --auto --image "8=$(winpath "$image")@20000" --dir "$(winpath "$work/cli")" \
    --delay 0 --baud 115200 || status=$?
[ $status -eq 0 ] || fail "--auto: exit $status: $(tail -20 "$work/cli.txt")"
grep -q "CH0 COM$(com 0) OK" "$work/cli.txt" || fail "--auto: COM$(com 0) not flashed"
grep -q "CH1 COM$(com 1) OK" "$work/cli.txt" || fail "--auto: COM$(com 1) not flashed"
grep -q "COM$(com 8)" "$work/cli.txt" &&
    fail "--auto: took COM$(com 8), which is no handset port"
cli ports || true
grep -q "kvmodem-sim1.*handset" "$work/cli.txt" || fail "ports: COM$(com 1) not listed as a handset"
stop_sim
[ $failures -eq $before ] && pass "download --auto finds the handset ports in the registry"

# A port another program left at a speed outside Wine's table (the Linux
# kelvane-cli sets 1382400 through termios2): Wine cannot read its state,
# and kelvane-cli.exe sets the line up all the same.
before=$failures
start_sim 1 0
"$linux_cli" download --port "$p0" --image "8=$image@20000" --dir "$work/sim" --delay 0 \
    --baud 1382400 >"$work/linux.out" 2>&1 || fail "Linux kelvane-cli: $(tail -5 "$work/linux.out")"
status=0
cli download --port "$p0" --image "8=$(winpath "$image")@20000" --dir "$(winpath "$work/cli")" \
    --delay 0 --baud 1382400 || status=$?
[ $status -eq 0 ] || fail "after Linux: exit $status: $(tail -5 "$work/cli.txt")"
grep -q "CH0 COM$(com 0) OK" "$work/cli.txt" ||
    fail "after Linux: COM$(com 0) not flashed"
stop_sim
[ $failures -eq $before ] && pass "a port left at a speed Wine cannot read back is set up"

# Ctrl-C stops every channel and exits 1.
before=$failures
start_sim 2 115200
big=$work/big.bin
cli make-image "$(winpath "$big")" --size 2M --address 20000 || fail "make-image 2M"
timeout 300 wine "$exe" download --port "$p0,$(com 1)" --image "8=$(winpath "$big")@20000" \
    --dir "$(winpath "$work/cli")" >"$work/cli.out" 2>&1 </dev/null &
cli_pid=$!
for _ in $(seq 1 600); do
    grep -q "Erase Flash" "$work/cli.out" 2>/dev/null && break
    sleep 0.05
done
kill -INT "$cli_pid" 2>/dev/null || true
status=0
wait "$cli_pid" || status=$?
tr -d '\r' <"$work/cli.out" >"$work/cli.txt"
[ $status -eq 1 ] || fail "Ctrl-C: exit $status, not 1: $(tail -5 "$work/cli.txt")"
grep -q "interrupted: every channel stopped" "$work/cli.txt" || fail "Ctrl-C: no stop message"
grep -q "CH0 COM$(com 0) FAILED" "$work/cli.txt" || fail "Ctrl-C: CH0 not stopped"
grep -q "CH1 COM$(com 1) FAILED" "$work/cli.txt" || fail "Ctrl-C: CH1 not stopped"
stop_sim
[ $failures -eq $before ] && pass "Ctrl-C stops every channel and exits 1"

# Folders named in other scripts and with spaces: an image set in a station
# folder names an image in an images folder, and kelvane-cli.exe flashes from
# it byte for byte and shows its paths as they are (UTF-8).
before=$failures
images="$work/images é Кириллица 中文"
station="$work/station é Кириллица 中文"
mkdir -p "$images" "$station"
image="$images/modem é.bin"
cli make-image "$(winpath "$image")" --size 64K --address 1a0000 --kind MODEM ||
    fail "make-image into '$images': $(cat "$work/cli.txt")"
printf '[VARKO]\r\nMTY=0\r\nCODECHECK=1\r\nCODEKIND=MODEM\r\nCODEFILE=%s\r\nCODEADDRESS=1a0000\r\n' \
    "$(winpath "$image")" >"$station/set é.vrk"
start_sim 2 0
status=0
cli download --set "$(winpath "$station/set é.vrk")" --port "$p0,$(com 1)" \
    --dir "$(winpath "$station")" --delay 0 --baud 115200 || status=$?
[ $status -eq 0 ] || fail "named folders: exit $status: $(tail -5 "$work/cli.txt")"
for k in 0 1; do
    holds_image $k || fail "named folders: handset $k does not hold '$image' byte for byte"
done
stop_sim
status=0
(cd "$station" && cli set show "$(winpath "$station/set é.vrk")") || status=$?
[ $status -eq 0 ] || fail "set show: exit $status: $(cat "$work/cli.txt")"
grep -qF "$(winpath "$image")" "$work/cli.txt" ||
    fail "set show does not name '$(winpath "$image")': $(cat "$work/cli.txt")"
cli trailer "$(winpath "$image")" || fail "trailer: $(cat "$work/cli.txt")"
grep -qF "$(winpath "$image"): address 1a0000, kind \"MODEM\"" "$work/cli.txt" ||
    fail "trailer: $(cat "$work/cli.txt")"
[ $failures -eq $before ] && pass "image and station folders named in other scripts"

[ $failures -eq 0 ] || {
    echo "$failures check(s) failed; last kelvane-cli output:" >&2
    cat "$work/cli.txt" >&2
    exit 1
}
echo "kelvane-cli.exe under Wine: every check passed"
