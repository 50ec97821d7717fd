#!/usr/bin/env bash
# Takes a picture of the window in the middle of an eight-channel download to
# simulated handsets and saves it as docs/screenshot-download.png (or the
# file given as the first argument).
#
# Installs nothing: it needs what scripts/deps.sh installs (Xvfb included).
# Builds the release programs when needed, makes sample images, writes a
# settings file and an image set into a temporary start directory, starts
# kelvane-sim there (its handsets appear as kvmodem-sim<k> in the port map,
# so Port Search finds them), and runs kelvane on a virtual screen with its
# automation options: Download pressed at once, the window grabbed after
# KELVANE_SHOT_AFTER_MS milliseconds (default 6000), every channel stopped.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$root/build/release
out=${1:-docs/screenshot-download.png}
after_ms=${KELVANE_SHOT_AFTER_MS:-6000}

start=$(mktemp -d "${TMPDIR:-/tmp}/kelvane-shot-XXXXXX")
sim_pid=

stop_simulator() {
    [ -n "$sim_pid" ] || return 0
    kill -INT "$sim_pid" 2>/dev/null || true
    for _ in $(seq 50); do
        kill -0 "$sim_pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
    sim_pid=
}

cleanup() {
    stop_simulator
    rm -rf "$start"
}
trap cleanup EXIT

# Build what is missing.
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
fi
cmake --build "$build" --target kelvane kelvane-cli kelvane-sim

# Sample images with trailers, as a station would have them.
cli=$build/cli/kelvane-cli
mkdir -p "$start/images"
"$cli" make-image "$start/images/modem.bin" --size 3M --address 1a0000 --kind MODEM --type bin
"$cli" make-image "$start/images/resource1.rc1" --size 1M --address 800000 --kind RSRC1 \
    --type rc1 --seed 2
"$cli" make-image "$start/images/resource2.rc2" --size 512K --address 900000 --kind RSRC2 \
    --type rc2 --seed 3

cat >"$start/Kelvane_3.ini" <<EOF
[VARKO]
AUTODETECT=1
DELAY=2
BAUDRATE=1382400
VARKOFILE=$start/station.vrk
EOF

cat >"$start/station.vrk" <<EOF
[VARKO]
MTY=0
CODECHECK=1
CODEKIND=MODEM
CODEFILE=$start/images/modem.bin
CODEADDRESS=1a0000
FONTCHECK=1
FONTKIND=RSRC1
FONTFILE=$start/images/resource1.rc1
FONTADDRESS=800000
DATACHECK=1
DATAKIND=RSRC2
DATAFILE=$start/images/resource2.rc2
DATAADDRESS=900000
EOF

# Eight handsets; each prints its line once its port is pinned.
"$build/sim/kelvane-sim" --channels 8 --dir "$start" --baud 1382400 \
    >"$start/sim.out" 2>"$start/sim.log" &
sim_pid=$!
for _ in $(seq 100); do
    [ "$(wc -l <"$start/sim.out")" -ge 8 ] && break
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.1
done
if [ "$(wc -l <"$start/sim.out")" -lt 8 ]; then
    echo "screenshot: the simulator did not come up" >&2
    cat "$start/sim.log" >&2
    exit 1
fi

(cd "$start" && timeout 120 xvfb-run -a -s "-screen 0 1280x1024x24" \
    "$build/ui/kelvane" --screenshot "$start/shot.png" --download --after-ms "$after_ms")

stop_simulator
mkdir -p "$(dirname "$out")"
cp "$start/shot.png" "$out"
echo "screenshot: $out"
