#!/usr/bin/env bash
# The station records of kelvane-cli.exe under Wine: a download to the Linux
# simulator writes them, 'records' shows them in each of its formats, and
# they reach a throwaway PostgreSQL server of this machine over TCP on
# 127.0.0.1 once each, also when that server is stopped and started again
# while a session runs. Needs WINEPREFIX with a running wineserver
# (scripts/windows.sh test provides both) and PostgreSQL's server programs.
# Usage: records_under_wine.sh KELVANE-CLI.EXE LINUX-KELVANE-SIM
set -euo pipefail
exe=$1
sim=$2
: "${WINEPREFIX:?run through scripts/windows.sh test}"
# shellcheck source=scripts/wine_env.sh
source "$(dirname "$0")/../../scripts/wine_env.sh"

work=$(mktemp -d "${TMPDIR:-/tmp}/kelvane-wine-records.XXXXXX")
pg=$(mktemp -d "${TMPDIR:-/tmp}/kelvane-wine-pg.XXXXXX") # the server's, not root's
pg_bin=$(find /usr/lib/postgresql -path '*/bin/initdb' 2>/dev/null | sort -V | tail -1 | xargs -r dirname)
[ -n "$pg_bin" ] || { echo "no PostgreSQL server programs (package postgresql)" >&2; exit 1; }
sim_pid=
cleanup() {
    stop_handsets "$work/sim"
    pg_tool pg_ctl -D data -m immediate -w -t 30 stop >/dev/null 2>&1 || true
    rm -rf "$work" "$pg"
}
trap cleanup EXIT
failures=0
fail() {
    echo "FAILED: $*" >&2
    failures=$((failures + 1))
}

# A server program in the server's folder, as nobody when run as root (the
# server refuses root); pg_ctl waits at most its -t.
pg_tool() {
    local run=()
    [ "$(id -u)" -ne 0 ] || run=(runuser -u nobody --)
    (cd "$pg" && "${run[@]}" "$pg_bin/$1" "${@:2}")
}
[ "$(id -u)" -ne 0 ] || chown nobody "$pg"
pg_tool initdb -D data -U kelvane --auth=trust -E UTF8 --no-sync >"$work/initdb.log" 2>&1 ||
    { cat "$work/initdb.log" >&2; exit 1; }
# A free port: another one when the server cannot listen on it.
for _ in 1 2 3 4 5; do
    port=$((20000 + RANDOM % 40000))
    printf "listen_addresses = '127.0.0.1'\nport = %d\nunix_socket_directories = ''\nfsync = off\n" \
        "$port" >>"$pg/data/postgresql.conf"
    pg_tool pg_ctl -D data -l server.log -w -t 30 start >/dev/null 2>&1 && break
    port=
done
[ -n "$port" ] || { cat "$pg/server.log" >&2; exit 1; }
url=postgresql://kelvane@127.0.0.1:$port/postgres
server() { psql "$url" -Atc "$1"; }

# Runs kelvane-cli.exe with the station's folder; its output lands in $work/cli.txt.
cli() {
    local status=0
    timeout 300 wine "$exe" "$@" >"$work/cli.out" 2>&1 </dev/null || status=$?
    tr -d '\r' <"$work/cli.out" >"$work/cli.txt"
    return $status
}
# The station's folder and an image named in other scripts.
station="$work/station é Кириллица 中文"
mkdir -p "$station"
printf '[RECORDS]\r\nSTATION=wine-bench\r\nPOSTGRESQL_URL=%s?connect_timeout=5\r\n' "$url" \
    >"$station/Kelvane_3.ini"
dir=$(winpath "$station")
p0=$(wine_first_port)
cli make-image "$(winpath "$station/small é.bin")" --size 20K --address 20000
cli make-image "$(winpath "$work/big.bin")" --size 2M --address 20000

# The records of the station as "id result images", and the same of the server.
local_records() {
    cli records --dir "$dir" --format json && jq -r '"\(.id) \(.result) \(.images | length)"' \
        "$work/cli.txt" | sort
}
server_records() {
    server "SELECT id || ' ' || result || ' ' || jsonb_array_length(images) FROM kelvane_records
            WHERE station = 'wine-bench' ORDER BY 1"
}

# A download of two handsets: two completed records, shown in every format.
start_handsets "$sim" "$work/sim" 2 --baud 460800 || exit 1
cli download --port "$p0,$((p0 + 1))" --image "Modem=$(winpath "$station/small é.bin")" \
    --dir "$dir" --delay 0 --baud 460800 || fail "download: $(tail -5 "$work/cli.txt")"
stop_handsets "$work/sim"
[ -s "$station/Kelvane_records.db" ] || fail "no Kelvane_records.db in '$station'"
# shows FORMAT HEADING PATTERN: 'records' in FORMAT is the heading and two lines of PATTERN.
shows() {
    if ! { cli records --dir "$dir" --format "$1" && [ "$(head -1 "$work/cli.txt")" = "$2" ] &&
        [ "$(grep -c "$3" "$work/cli.txt")" -eq 2 ] && [ "$(wc -l <"$work/cli.txt")" -eq 3 ]; }; then
        fail "$1: $(cat "$work/cli.txt")"
    fi
}
shows table "$(printf '%-19s  %-12s  %-2s  %-5s  %-11s  %-16s  %-20s  %-7s  %-3s  %s' \
    'CHANNEL START (UTC)' STATION CH PORT RESULT 'USB SERIAL' IMAGES MODE TRY 'LAST TEXT')" \
    ' wine-bench .* completed .* Modem '
shows csv "id,station,session_start,channel_start,channel_end,channel,com_port,device,$(
    )usb_location,usb_serial,image_set,images,result,last_text,version,mode,attempt" \
    ',wine-bench,.*,completed,'
cli records --dir "$dir" --format json || fail "records json"
[ "$(jq -r --arg path "$(winpath "$station/small é.bin")" 'select(.station == "wine-bench" and
    .result == "completed" and .images[0].path == $path and .channel_end != null) | .id' \
    "$work/cli.txt" | wc -l)" -eq 2 ] ||
    fail "json: $(cat "$work/cli.txt")"
cli records --dir "$dir" --summary --format json || fail "summary"
jq -e '.passed == 2' "$work/cli.txt" >/dev/null || fail "summary: $(cat "$work/cli.txt")"
[ "$(server_records)" = "$(local_records)" ] || fail "not on the server: $(server_records)"

# The server stops and starts again while a session runs; Ctrl-C ends it.
start_handsets "$sim" "$work/sim" 2 --baud 115200 || exit 1
timeout 300 wine "$exe" download --port "$p0,$((p0 + 1))" --image "Modem=$(winpath "$work/big.bin")" \
    --dir "$dir" --delay 0 --baud 115200 >"$work/cli.out" 2>&1 </dev/null &
cli_pid=$!
for _ in $(seq 1 600); do
    grep -q "Erase Flash" "$work/cli.out" && break
    sleep 0.05
done
pg_tool pg_ctl -D data -m fast -w -t 30 stop >/dev/null || fail "server stop"
pg_tool pg_ctl -D data -l server.log -w -t 30 start >/dev/null || fail "server start"
kill -0 "$cli_pid" 2>/dev/null || fail "the session ended before the server was back"
kill -INT "$cli_pid" 2>/dev/null || true
status=0
wait "$cli_pid" || status=$?
[ $status -eq 1 ] || fail "Ctrl-C: exit $status: $(tr -d '\r' <"$work/cli.out" | tail -5)"
stop_handsets "$work/sim"
[ "$(local_records | grep -c ' stopped 1$')" -eq 2 ] || fail "session records: $(local_records)"
[ "$(server_records)" = "$(local_records)" ] ||
    fail "after the restart the server holds: $(server_records) (station: $(local_records))"

[ $failures -eq 0 ] || exit 1
echo "kelvane-cli.exe records under Wine: every check passed"
