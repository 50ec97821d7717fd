#!/usr/bin/env bash
# The line-rate ratio of kelvane-cli on Linux and of kelvane-cli.exe under
# Wine, in one run against the same simulator: 8 handsets paced at 1382400
# baud, a 4 MiB image each. The ratio is the image bytes per channel over the
# whole process's wall time (start, unlock, erase, close included), as a
# share of the line's 138240 bytes per second; the goal is 0.97 for both.
# Both keep their station records meanwhile (checked at the end).
# Run it through scripts/windows.sh bench (it provides the Wine prefix).
# Usage: windows_line_rate.sh KELVANE-CLI.EXE LINUX-KELVANE-CLI LINUX-KELVANE-SIM
set -euo pipefail
exe=$1
linux_cli=$2
sim=$3
: "${WINEPREFIX:?run through scripts/windows.sh bench}"
baud=1382400
channels=8

work=$(mktemp -d "${TMPDIR:-/tmp}/kelvane-bench.XXXXXX")
sim_pid=
cleanup() {
    if [ -n "$sim_pid" ]; then
        kill -INT "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
    rm -f "$WINEPREFIX"/dosdevices/com[0-9]*
}
trap cleanup EXIT

mkdir -p "$work/sim" "$work/win"
"$sim" --channels $channels --baud $baud --dir "$work/sim" >"$work/sim.lines" 2>"$work/sim.log" &
sim_pid=$!
for _ in $(seq 1 200); do
    [ "$(wc -l <"$work/sim.lines")" -ge $channels ] && break
    sleep 0.05
done
rm -f "$WINEPREFIX"/dosdevices/com[0-9]*
while read -r com device _; do
    ln -s "$device" "$WINEPREFIX/dosdevices/${com,,}"
done <"$work/sim.lines"

image=$work/image.bin
"$linux_cli" make-image "$image" --size 4M --address 20000 >/dev/null
size=$(stat -c %s "$image")
ports=$(seq -s, 1 $channels)

# run NAME COMMAND...: times one download of every channel.
run() {
    local name=$1 start end
    shift
    start=$(date +%s.%N)
    "$@" >"$work/$name.out" 2>&1 </dev/null || {
        echo "$name: the download failed" >&2
        tail -20 "$work/$name.out" >&2
        exit 1
    }
    end=$(date +%s.%N)
    awk -v n="$name" -v b="$size" -v s="$start" -v e="$end" -v r=$baud 'BEGIN {
        w = e - s; printf "%-8s %d channels, %d bytes each: %.2f s, line-rate ratio %.3f\n",
        n, '"$channels"', b, w, b / w / (r / 10) }'
}

run linux "$linux_cli" download --port "$ports" --image "8=$image@20000" --dir "$work/sim" \
    --delay 0 --baud $baud
run windows timeout 600 wine "$exe" download --port "$ports" \
    --image "8=Z:${image//\//\\}@20000" --dir "Z:${work//\//\\}\\win" --delay 0 --baud $baud

# Both kept their station records as they went (no server): one completed
# record per channel each.
linux_kept=$("$linux_cli" records --dir "$work/sim" --format json | grep -c '"result":"completed"')
windows_kept=$(timeout 120 wine "$exe" records --dir "Z:${work//\//\\}\\win" --format json |
    grep -c '"result":"completed"')
echo "records  linux $linux_kept, windows $windows_kept completed of $channels channels each"
[ "$linux_kept" -eq $channels ] && [ "$windows_kept" -eq $channels ]
