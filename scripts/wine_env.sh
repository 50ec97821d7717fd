# Shared by the scripts that run Kelvane's Windows programs under Wine
# (sourced, not run): a Wine prefix, wineserver and virtual screen of one run,
# and the simulator's handsets made COM ports of that prefix.

# A Wine prefix, wineserver and virtual screen of this run only; the
# wineserver's own chatter (it dumps its object table when a pseudo-terminal
# hangs up) goes to a file, not into the output. The caller stops them with
# stop_wine (trap stop_wine EXIT).
start_wine() {
    wine_tmp=$(mktemp -d "${TMPDIR:-/tmp}/kelvane-wine.XXXXXX")
    export WINEPREFIX=$wine_tmp/prefix
    mkdir -p "$WINEPREFIX"
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    # Windows go to a virtual screen on a free display.
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$wine_tmp/display" \
        >/dev/null 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 1 100); do
        [ -s "$wine_tmp/display" ] && break
        sleep 0.05
    done
    [ -s "$wine_tmp/display" ] || { echo "Xvfb did not start" >&2; exit 1; }
    export DISPLAY=:$(head -1 "$wine_tmp/display")
    wineserver -f -p 2>"$wine_tmp/wineserver.log" &
    wineserver_pid=$!
    # Creates the prefix (about 6 s) before any program runs.
    timeout 120 wine wineboot -i >/dev/null 2>&1
}

stop_wine() {
    [ -n "${wine_tmp:-}" ] || return 0
    wineserver -k >/dev/null 2>&1 || true
    # Bounded: the server ends once it was told to.
    for _ in $(seq 1 100); do
        kill -0 "$wineserver_pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -9 "$wineserver_pid" 2>/dev/null || true
    kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$wine_tmp"
    wine_tmp=
}

# The Windows name of a Linux path (Wine's drive Z: is the root).
winpath() { printf 'Z:%s' "${1//\//\\}"; }

# A COM number for handset 0 above those Wine's mount manager gives the
# machine's own serial ports (it keeps their dosdevices links, /dev/ttyS<n>
# as COM<n+1>, and would take back a link made over one of them).
wine_first_port() {
    local ttys
    ttys=$(find /dev -maxdepth 1 -name 'ttyS[0-9]*' | wc -l)
    echo $((ttys + 1 > 21 ? ttys + 1 : 21))
}

wine_serial_key='HKLM\HARDWARE\DEVICEMAP\SERIALCOMM'

# Makes the simulator's handsets ("COM<n> <device> <name>" lines in FILE)
# COM ports of the prefix: a dosdevices link each, and a registry entry in
# the serial-port map named after the handset, so a port search finds them.
wine_link_ports() {
    local com device name
    while read -r com device name; do
        ln -sfn "$device" "$WINEPREFIX/dosdevices/${com,,}"
        wine reg add "$wine_serial_key" /v "\\Device\\$name" /t REG_SZ /d "$com" /f \
            >/dev/null 2>&1
    done <"$1"
}

# Undoes wine_link_ports for the same FILE.
wine_unlink_ports() {
    local com device name
    while read -r com device name; do
        rm -f "$WINEPREFIX/dosdevices/${com,,}"
        wine reg delete "$wine_serial_key" /v "\\Device\\$name" /f >/dev/null 2>&1 || true
    done <"$1"
}

# start_handsets SIM FOLDER CHANNELS [OPTION...]: CHANNELS handsets of the
# Linux simulator SIM (its port map in FOLDER), handset k on
# COM<wine_first_port + k>, made COM ports of the prefix. The simulator's
# lines go to FOLDER/sim.lines and its log to FOLDER/sim.log; OPTIONs
# (--baud, --out, --fault, ...) go to the simulator. Sets sim_pid; false,
# with the log on standard error, when the handsets are not up within 10 s.
start_handsets() {
    local sim=$1 folder=$2 channels=$3
    shift 3
    mkdir -p "$folder"
    : >"$folder/sim.lines"  # there before the simulator's own redirection makes it
    "$sim" --channels "$channels" --first-port "$(wine_first_port)" --dir "$folder" "$@" \
        >"$folder/sim.lines" 2>"$folder/sim.log" &
    sim_pid=$!
    for _ in $(seq 1 200); do
        [ "$(wc -l <"$folder/sim.lines")" -ge "$channels" ] && break
        sleep 0.05
    done
    if [ "$(wc -l <"$folder/sim.lines")" -lt "$channels" ]; then
        echo "the simulator did not start" >&2
        cat "$folder/sim.log" >&2
        return 1
    fi
    wine_link_ports "$folder/sim.lines"
}

# stop_handsets FOLDER: the simulator stopped (SIGINT, SIGKILL after 5 s)
# and the COM ports of start_handsets FOLDER undone.
stop_handsets() {
    if [ -n "${sim_pid:-}" ]; then
        kill -INT "$sim_pid" 2>/dev/null || true
        for _ in $(seq 1 100); do
            kill -0 "$sim_pid" 2>/dev/null || break
            sleep 0.05
        done
        kill -9 "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
        sim_pid=
    fi
    [ ! -s "$1/sim.lines" ] || wine_unlink_ports "$1/sim.lines"
}
