#!/usr/bin/env bash
# The main job in one command: installs what is missing, builds kelvane-cli
# and kelvane-sim, makes sample images with trailers, starts eight simulated
# handsets paced like a 1382400-baud line, flashes all eight in parallel from
# an image-set file, and checks every handset's flash against the images.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD

bash scripts/deps.sh

# The README's release build folder: configured with the project's options
# (a folder configured before keeps its own), and only the two programs
# built, so the README's later build of the whole folder still has the tests
# and benchmarks.
build=${KELVANE_DEMO_BUILD:-build/release}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target kelvane-cli kelvane-sim
cli=$top/$build/cli/kelvane-cli
simulator=$top/$build/sim/kelvane-sim

work=$(mktemp -d /tmp/kelvane-demo.XXXXXX)
sim_pid=""
cleanup() {
    if [ -n "$sim_pid" ]; then
        kill -INT "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
cd "$work"

echo "== sample images in $work"
"$cli" make-image modem.bin --size 2M --address 1a0000 --kind DEMO_MODEM --type bin --seed 1
"$cli" make-image rsrc1.rc1 --size 600K --address 800000 --kind DEMO_RSRC1 --type rc1 --seed 2
"$cli" make-image rsrc2.rc2 --size 300K --address a00000 --kind DEMO_RSRC2 --type rc2 --seed 3
"$cli" trailer modem.bin rsrc1.rc1 rsrc2.rc2

# The image set ticks the three rows and leaves the addresses to the trailers;
# the settings give the eight channels COM1..COM8.
cat > demo.vrk <<VRK
[VARKO]
MTY=0
CODECHECK=1
CODEFILE=$work/modem.bin
FONTCHECK=1
FONTFILE=$work/rsrc1.rc1
DATACHECK=1
DATAFILE=$work/rsrc2.rc2
VRK
{
    echo "[VARKO]"
    echo "AUTODETECT=0"
    for ch in 0 1 2 3 4 5 6 7; do echo "CH${ch}_PORT=$((ch + 1))"; done
    echo "DELAY=2"
    echo "BAUDRATE=1382400"
    echo "VARKOFILE=$work/demo.vrk"
} > Kelvane_3.ini

echo "== eight simulated handsets at 1382400 baud"
mkdir dumps
"$simulator" --channels 8 --baud 1382400 --dir "$work" --out "$work/dumps" \
    > sim.out 2> sim.log &
sim_pid=$!
for _ in $(seq 100); do
    [ "$(wc -l < sim.out)" -ge 8 ] && break
    kill -0 "$sim_pid" 2>/dev/null || { cat sim.log; exit 1; }
    sleep 0.1
done
cat sim.out

echo "== kelvane-cli download --set demo.vrk"
status=0
"$cli" download --set demo.vrk --dir "$work" || status=$?

echo "== kelvane-cli records (the station's record of every channel)"
"$cli" records --dir "$work"

# What each handset should hold: every image at its address, padded with
# 0xFF to whole 16 KiB blocks, in address order.
pad() {
    local size blocks
    size=$(stat -c %s "$1")
    blocks=$(( (size + 16383) / 16384 ))
    cat "$1"
    head -c $(( blocks * 16384 - size )) /dev/zero | tr '\0' '\377'
}
{ pad modem.bin; pad rsrc1.rc1; pad rsrc2.rc2; } > expected.bin

echo "== verdict"
for _ in $(seq 50); do
    [ "$(ls dumps/*.bin 2>/dev/null | wc -l)" -ge 8 ] && break
    sleep 0.1
done
failed=0
for k in 0 1 2 3 4 5 6 7; do
    if [ -f "dumps/ch$k.bin" ] && cmp -s expected.bin "dumps/ch$k.bin" \
        && [ "$(wc -l < "dumps/ch$k.idx")" -eq 3 ]; then
        echo "CH$k COM$((k + 1)): flash holds the three images byte for byte"
    else
        echo "CH$k COM$((k + 1)): FLASH DIFFERS from the images"
        failed=1
    fi
done
[ "$status" -eq 0 ] && [ "$failed" -eq 0 ] && echo "demo: all 8 handsets flashed" && exit 0
echo "demo: failed (kelvane-cli exit $status)"
exit 1
