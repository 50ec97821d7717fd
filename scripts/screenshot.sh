#!/usr/bin/env bash
# Takes pictures of the window for docs/:
#   download   the window in the middle of an eight-channel download to
#              simulated handsets (docs/screenshot-download.png);
#   image-set  the window after a whole image set was chosen: the boot chain
#              of the second modem platform, Modem, Rsrc1, Rsrc2 and
#              FactoryFS with their addresses and CRCs
#              (docs/screenshot-image-set.png);
#   full-path  the same with the Modem row's full path shown while its path
#              edit has the focus (docs/screenshot-full-path.png);
#   windows    the Windows window (kelvane.exe) under Wine in the middle of
#              the same eight-channel download
#              (docs/screenshot-windows-download.png); needs what
#              scripts/windows.sh installs, and python3;
#   station    the window in station mode in the middle of a line of
#              handsets that come and go, some of them faulty
#              (docs/screenshot-station.png);
#   windows-station
#              the same in the Windows window under Wine
#              (docs/screenshot-windows-station.png).
# Usage: scripts/screenshot.sh [download] [image-set] [full-path] [windows]
#        [station] [windows-station]
# (all six when none is named). KELVANE_SHOT_DIR changes the folder the
# pictures go to, KELVANE_BUILD_DIR the build folder (build/release).
#
# Installs nothing: it needs what scripts/deps.sh installs (Xvfb included).
# Builds the release programs when needed, makes sample images with
# kelvane-cli, writes a settings file and an image set into a temporary
# start directory and runs kelvane on a virtual screen with its automation
# options. For the download picture kelvane-sim runs there too (its
# handsets appear as kvmodem-sim<k> in the port map, so Port Search finds
# them); Download is pressed at once, the window grabbed after
# KELVANE_SHOT_AFTER_MS milliseconds (default 6000), every channel stopped.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${KELVANE_BUILD_DIR:-$root/build/release}
out_dir=${KELVANE_SHOT_DIR:-docs}
after_ms=${KELVANE_SHOT_AFTER_MS:-6000}
shots=("$@")
[ ${#shots[@]} -gt 0 ] || shots=(download image-set full-path windows station windows-station)
for shot in "${shots[@]}"; do
    case $shot in
        download | image-set | full-path | windows | station | windows-station) ;;
        *)
            echo "screenshot: unknown picture '$shot' (download, image-set, full-path, windows," \
                "station, windows-station)" >&2
            exit 2
            ;;
    esac
done

start=$(mktemp -d "${TMPDIR:-/tmp}/kelvane-shot-XXXXXX")
sim_pid=

# start_simulator [OPTION...]: eight handsets in $start, 1382400 baud, with
# the OPTIONs; each prints its line once its port is pinned. Sets sim_pid.
start_simulator() {
    "$build/sim/kelvane-sim" --channels 8 --dir "$start" --baud 1382400 "$@" \
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
}

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

# shellcheck source=scripts/wine_env.sh
source scripts/wine_env.sh

cleanup() {
    stop_simulator
    stop_wine
    rm -rf "$start"
}
trap cleanup EXIT

# Build what is missing.
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
fi
targets=(kelvane-cli kelvane-sim)
case " ${shots[*]} " in
    *" download "* | *" image-set "* | *" full-path "* | *" station "*) targets+=(kelvane) ;;
esac
cmake --build "$build" --target "${targets[@]}"

# Sample images with trailers, as a station would have them in one folder:
# the Modem and resource images, a factory file system, and the boot chain
# of the second modem platform with its USB boot image.
cli=$build/cli/kelvane-cli
images=$start/station/line-3/release-2026-05
mkdir -p "$images"
"$cli" make-image "$images/modem.bin" --size 3M --address 1a0000 --kind MODEM --type bin
"$cli" make-image "$images/resource1.rc1" --size 1M --address 800000 --kind RSRC1 \
    --type rc1 --seed 2
"$cli" make-image "$images/resource2.rc2" --size 512K --address 900000 --kind RSRC2 \
    --type rc2 --seed 3
"$cli" make-image "$images/factory.ffs" --size 768K --address a00000 --kind FACTFS \
    --type ffs --seed 4
seed=10
for chain in pbl:0 qcsblhd_cfgdata:8000 mibib1:10000 mibib2:18000 qcsbl:20000 \
    oemsbl:60000; do
    "$cli" make-image "$images/${chain%%:*}.mbn" --size 24K --address "${chain##*:}" \
        --kind BOOT2 --type mbn --seed $((seed++))
done
"$cli" make-image "$images/secdload.usb" --size 48K --address 100000 --kind USB \
    --type usb --seed $((seed++))
# A smaller Modem image for the station line, so that handsets come and go
# within the picture's wait.
"$cli" make-image "$images/line-modem.bin" --size 384K --address 1a0000 --kind MODEM \
    --type bin --seed $((seed++))

# Runs kelvane in the start directory with the given automation options.
run_kelvane() {
    (cd "$start" && timeout 120 xvfb-run -a -s "-screen 0 1280x1024x24" \
        "$build/ui/kelvane" --screenshot "$start/shot.png" "$@")
}

save_shot() {
    mkdir -p "$out_dir"
    cp "$start/shot.png" "$out_dir/$1"
    echo "screenshot: $out_dir/$1"
}

shot_download() {
    cat >"$start/Kelvane_3.ini" <<EOF2
[VARKO]
AUTODETECT=1
DELAY=2
BAUDRATE=1382400
VARKOFILE=$start/station.vrk
EOF2
    cat >"$start/station.vrk" <<EOF2
[VARKO]
MTY=0
CODECHECK=1
CODEKIND=MODEM
CODEFILE=$images/modem.bin
CODEADDRESS=1a0000
FONTCHECK=1
FONTKIND=RSRC1
FONTFILE=$images/resource1.rc1
FONTADDRESS=800000
DATACHECK=1
DATAKIND=RSRC2
DATAFILE=$images/resource2.rc2
DATAADDRESS=900000
EOF2
    start_simulator
    run_kelvane --download --after-ms "$after_ms"
    stop_simulator
    rm -f "$start/Kelvane_ports.ini"
    save_shot screenshot-download.png
}

# The images are chosen in the window itself, as an operator would: every
# row's button answered from the images folder, the boot folder from the
# browser, the CRC option on.
shot_choice() {
    cat >"$start/Kelvane_3.ini" <<EOF2
[VARKO]
AUTODETECT=0
VARKOFILE=$start/empty.vrk
EOF2
    printf '[VARKO]\n' >"$start/empty.vrk"
    local choose=(--crc --choose "$images" --after-ms 1500)
    case $1 in
        image-set) run_kelvane "${choose[@]}" && save_shot screenshot-image-set.png ;;
        full-path) run_kelvane "${choose[@]}" --full-path modem &&
            save_shot screenshot-full-path.png ;;
    esac
}

# The same download in the Windows window: kelvane.exe under Wine, its
# handsets on COM ports of the Wine prefix, Wine drawing the window's frame
# itself (there is no window manager on the virtual screen).
shot_windows() {
    bash scripts/windows.sh build
    start_wine
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1
    start_handsets "$build/sim/kelvane-sim" "$start/winsim" 8 --baud 1382400 || exit 1
    local station=$start/windows
    mkdir -p "$station"
    printf '[VARKO]\r\nAUTODETECT=1\r\nDELAY=2\r\nBAUDRATE=1382400\r\nVARKOFILE=%s\r\n' \
        "$(winpath "$station/station.vrk")" >"$station/Kelvane_3.ini"
    {
        printf '[VARKO]\r\nMTY=0\r\n'
        printf 'CODECHECK=1\r\nCODEKIND=MODEM\r\nCODEFILE=%s\r\nCODEADDRESS=1a0000\r\n' \
            "$(winpath "$images/modem.bin")"
        printf 'FONTCHECK=1\r\nFONTKIND=RSRC1\r\nFONTFILE=%s\r\nFONTADDRESS=800000\r\n' \
            "$(winpath "$images/resource1.rc1")"
        printf 'DATACHECK=1\r\nDATAKIND=RSRC2\r\nDATAFILE=%s\r\nDATAADDRESS=900000\r\n' \
            "$(winpath "$images/resource2.rc2")"
    } >"$station/station.vrk"
    (cd "$station" && timeout 120 wine "$root/build/win/ui/kelvane.exe" --download \
        --screenshot "$(winpath "$start/shot.bmp")" --after-ms "$after_ms")
    stop_handsets "$start/winsim"
    stop_wine
    mkdir -p "$out_dir"
    python3 scripts/bmp_to_png.py "$start/shot.bmp" "$out_dir/screenshot-windows-download.png"
    echo "screenshot: $out_dir/screenshot-windows-download.png"
}

# The station line: eight channels of handsets that come and go
# (KELVANE_SHOT_SWAP_MS apart, default 4000): the second handset on CH1 and
# the third on CH5 never answer their unlock, the second on CH3 has its cable
# pulled in the middle of its flash, CH0, CH2 and CH6 erase slowly. A flashed
# handset stays KELVANE_SHOT_LEAVE_MS (default 3000) before it is taken away,
# so its bar shows green for a while. The picture is taken
# KELVANE_SHOT_STATION_MS (default 14000) after the start: the second round
# has just passed on the quick channels (green), is still flashing on the slow
# ones, CH1's second handset has failed (red) and CH3 waits for its third.
station_faults=(--fault ch1:h2:mute-unlock --fault ch5:h3:mute-unlock
    --fault ch3:h2:hangup=150000 --fault ch0:slow-erase=700 --fault ch2:slow-erase=300
    --fault ch6:slow-erase=450)
station_swap_ms=${KELVANE_SHOT_SWAP_MS:-4000}
station_leave_ms=${KELVANE_SHOT_LEAVE_MS:-3000}
station_shot_ms=${KELVANE_SHOT_STATION_MS:-14000}

# The station's settings and image set (the Modem row only) in folder;
# paths as path_of gives them.
write_station_files() {
    local folder=$1 path_of=$2 eol=$3
    printf '[VARKO]%sAUTODETECT=1%sDELAY=2%sBAUDRATE=1382400%sVARKOFILE=%s%s' \
        "$eol" "$eol" "$eol" "$eol" "$($path_of "$folder/station.vrk")" "$eol" \
        >"$folder/Kelvane_3.ini"
    printf '[VARKO]%sMTY=0%sCODECHECK=1%sCODEKIND=MODEM%sCODEFILE=%s%sCODEADDRESS=1a0000%s' \
        "$eol" "$eol" "$eol" "$eol" "$($path_of "$images/line-modem.bin")" "$eol" "$eol" \
        >"$folder/station.vrk"
}
same_path() { printf '%s' "$1"; }

shot_station() {
    write_station_files "$start" same_path $'\n'
    start_simulator --swap --swap-ms "$station_swap_ms" --leave-ms "$station_leave_ms" \
        "${station_faults[@]}"
    run_kelvane --station --after-ms "$station_shot_ms"
    stop_simulator
    rm -f "$start/Kelvane_ports.ini"
    save_shot screenshot-station.png
}

# The same line in the Windows window: each slot's port names its handset's
# link in the port map, which the station watches for arrivals.
shot_windows_station() {
    bash scripts/windows.sh build
    start_wine
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1
    local line=$start/winline station=$start/windows-station
    start_handsets "$build/sim/kelvane-sim" "$line" 8 --baud 1382400 --swap \
        --swap-ms "$station_swap_ms" --leave-ms "$station_leave_ms" "${station_faults[@]}" || exit 1
    mkdir -p "$station"
    write_station_files "$station" winpath $'\r\n'
    {
        printf '[PORTS]\r\n'
        for k in $(seq 0 7); do
            printf 'COM%d=%s\r\n' $(($(wine_first_port) + k)) "$(winpath "$line/kvmodem-sim$k.tty")"
        done
    } >"$station/Kelvane_ports.ini"
    (cd "$station" && timeout 120 wine "$root/build/win/ui/kelvane.exe" --station \
        --screenshot "$(winpath "$start/shot.bmp")" --after-ms "$station_shot_ms")
    stop_handsets "$line"
    stop_wine
    mkdir -p "$out_dir"
    python3 scripts/bmp_to_png.py "$start/shot.bmp" "$out_dir/screenshot-windows-station.png"
    echo "screenshot: $out_dir/screenshot-windows-station.png"
}

for shot in "${shots[@]}"; do
    case $shot in
        download) shot_download ;;
        windows) shot_windows ;;
        station) shot_station ;;
        windows-station) shot_windows_station ;;
        *) shot_choice "$shot" ;;
    esac
done
