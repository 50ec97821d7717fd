#!/usr/bin/env bash
# Soak: eight simulated handsets flashed again and again for a while (default
# 600 s) by one long-lived kelvane-cli; the resident memory of both processes
# is sampled every 30 s so a leak shows as growth.
#   bash scripts/soak.sh [SECONDS] [BAUD]      (BAUD 0 = unpaced, the default)
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
seconds=${1:-600}
baud=${2:-0}

build=${KELVANE_SOAK_BUILD:-build/release}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target kelvane-cli kelvane-sim >/dev/null
cli=$top/$build/cli/kelvane-cli
simulator=$top/$build/sim/kelvane-sim

work=$(mktemp -d /tmp/kelvane-soak.XXXXXX)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill -INT "$p" 2>/dev/null || true; done
    for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
cd "$work"
"$cli" make-image modem.bin --size 1M --address 100000 --type bin
"$cli" make-image rsrc.rc1 --size 256K --address 400000 --type rc1 --seed 2
"$simulator" --channels 8 --baud "$baud" --dir "$work" --out "$work" > sim.out 2> sim.log &
pids+=($!)
sim_pid=$!
for _ in $(seq 100); do [ "$(wc -l < sim.out)" -ge 8 ] && break; sleep 0.1; done

"$cli" download --port 1,2,3,4,5,6,7,8 --image Modem=modem.bin --image Rsrc1=rsrc.rc1 \
    --baud 1382400 --repeat 1000000 --dir "$work" > cli.log 2>&1 &
pids+=($!)
cli_pid=$!

rss() { awk '/VmRSS/ {print $2}' "/proc/$1/status" 2>/dev/null || echo gone; }
echo "seconds rounds host_rss_kib sim_rss_kib"
start=$(date +%s)
while :; do
    now=$(( $(date +%s) - start ))
    rounds=$(grep -c '^round ' cli.log || true)
    echo "$now $rounds $(rss "$cli_pid") $(rss "$sim_pid")"
    [ "$now" -ge "$seconds" ] && break
    kill -0 "$cli_pid" 2>/dev/null || { echo "kelvane-cli ended early"; tail -20 cli.log; exit 1; }
    sleep 30
done
failed=$(grep -c ' FAILED$' cli.log || true)
echo "rounds started: $(grep -c '^round ' cli.log), channel failures: $failed"
if [ "$failed" -ne 0 ]; then
    cp cli.log sim.log /tmp/ 2>/dev/null || true
    echo "logs kept in /tmp/cli.log and /tmp/sim.log"
    grep -E 'ERR|FAILED' cli.log | sort | uniq -c | sort -rn | head -20
fi
[ "$failed" -eq 0 ]
