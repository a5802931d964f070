#!/usr/bin/env bash
# make powercut-check: power cuts simulated from outside the gateway. The gateway runs with the
# sync recorder preloaded (tools/powercut/SyncRecorder.cpp), which notes, as every successful
# fsync or fdatasync of something in dd8/ began, the file's size (and a small file's content) or the
# directory's entries. No server answers and simulated trackers send about 1 000 records a
# second; at a random moment the gateway is killed (SIGKILL). Then the files are put back to
# what their last flushes made durable:
#   - a data file is cut back to its size at its last flush (the index: its content then);
#   - a file never flushed in this round keeps the size it had when the round began;
#   - a file created in this round and never flushed is removed, unless the directory's last
#     flush listed it (then it is left empty).
# After every cut the gateway starts again on the cut files and the next round begins. After
# the last cut a test server comes up, and every record a tracker saw acknowledged in any round
# must reach it.
#
# tools/powercut-check.sh [BUILD_DIR [CUTS [SEED]]]   (build, 5, the time)
# Exit status 0 when nothing acknowledged was lost, 1 when something was, 2 when it could not run.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
cuts=${2:-5}
seed=${3:-$(date +%s)}
RANDOM=$seed
gateway="$build/app/gpsbridge"
sim="$build/tools/gt20sim"
server="$build/tools/msgserver"
check="$build/tests/system/delivery_check"
recorder="$build/tools/libsync_recorder.so"
for f in "$gateway" "$sim" "$server" "$check" "$recorder"; do
    [ -f "$f" ] || { echo "powercut-check: $f is missing (build it first)" >&2; exit 2; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/gpsbridge-powercut.XXXXXX")
store="$work/dd8"
pids=()
ok=0
cleanup() {
    {
        for p in "${pids[@]}"; do kill -9 "$p" || true; done
        wait || true
    } 2>/dev/null
    if [ "$ok" -eq 1 ]; then rm -rf "$work"; else echo "powercut-check: files kept in $work" >&2; fi
}
trap cleanup EXIT
echo "powercut-check: $cuts cuts, seed $seed (the third argument draws the same moments again)"

# await FILE SECONDS REGEX: waits for REGEX in FILE; prints the first match.
await() {
    for _ in $(seq $(($2 * 10))); do
        if [ -f "$1" ] && grep -Eo "$3" "$1" | head -n 1 | grep .; then return 0; fi
        sleep 0.1
    done
    return 1
}

# start_gateway SERVER_PORT [PRELOAD]: a headless gateway in $work; sets PORT and GATEWAY.
start_gateway() {
    printf '[main]\nDefaultPort=0\n[ServerHost]\nAddress=127.0.0.1\nPort=%s\n' "$1" >"$work/gpsbridge.ini"
    : >"$work/gateway.err"
    (cd "$work" && exec env ${2:+LD_PRELOAD="$2"} SYNC_RECORD_DIR="$store" \
        SYNC_RECORD_LOG="$work/syncs.log" "$gateway" --headless) >>"$work/gateway.out" \
        2>>"$work/gateway.err" &
    GATEWAY=$!
    pids+=("$GATEWAY")
    local line
    line=$(await "$work/gateway.err" 60 'listening on tracker port [0-9]+') ||
        { echo "powercut-check: the gateway did not listen: $(tail -n 3 "$work/gateway.err")" >&2; exit 2; }
    PORT=${line##* }
}

# cut_to PATH SIZE: cuts PATH back to SIZE when it is longer. A file that shrank since then
# keeps what it has: what it lost cannot be brought back, and records it gave up were taken.
cut_to() { [ "$(stat -c %s "$1")" -le "$2" ] || truncate -s "$2" "$1"; }

# cut_back: puts dd8/ back to what the flushes recorded in syncs.log made durable; the sizes at
# the round's start are in $work/start.sizes ("name size" lines).
cut_back() {
    declare -A synced=() content=() start=() listed=()
    local kind name bytes hex rest
    while read -r name bytes; do start[$name]=$bytes; done <"$work/start.sizes"
    while read -r kind name bytes hex rest; do
        if [ "$kind" = F ]; then
            synced[$name]=$bytes
            content[$name]=${hex:-}
        elif [ "$kind" = D ]; then
            listed=()
            for n in $bytes $hex $rest; do listed[$n]=1; done
        fi
    done < <(cat "$work/syncs.log" 2>/dev/null)
    for path in "$store"/*; do
        [ -f "$path" ] || continue
        name=${path##*/}
        if [ -n "${synced[$name]:-}" ]; then
            if [ -n "${content[$name]}" ] || [ "${synced[$name]}" -eq 0 ]; then
                printf "$(sed 's/../\\x&/g' <<<"${content[$name]}")" >"$path"
            else
                cut_to "$path" "${synced[$name]}"
            fi
        elif [ -n "${start[$name]:-}" ]; then
            cut_to "$path" "${start[$name]}"
        elif [ -n "${listed[$name]:-}" ]; then
            truncate -s 0 "$path"
        else
            rm -f "$path"
        fi
    done
}

record_sizes() {
    : >"$work/start.sizes"
    for path in "$store"/*; do
        [ -f "$path" ] && echo "${path##*/} $(stat -c %s "$path")" >>"$work/start.sizes"
    done
    return 0
}

mkdir -p "$store"
for round in $(seq 1 "$cuts"); do
    record_sizes
    : >"$work/syncs.log"
    # Port 1 refuses on loopback: no server answers, everything waits in dd8/.
    start_gateway 1 "$recorder"
    "$sim" --port "$PORT" --trackers 10 --records 10 --interval 0.1 --duration 60 --quiet \
        --imei-base $((356307042440000 + round * 100)) --seed "$seed" \
        --acked "$work/acked" >/dev/null 2>&1 &
    simulator=$!
    pids+=("$simulator")
    sleep "$((2 + RANDOM % 5)).$((RANDOM % 1000))"
    kill -9 "$GATEWAY"
    wait "$GATEWAY" 2>/dev/null || true
    kill -9 "$simulator" 2>/dev/null || true
    wait "$simulator" 2>/dev/null || true
    cut_back
    echo "cut $round: $(wc -l <"$work/acked") records acknowledged so far;" \
        "$(grep -c . "$work/syncs.log") flushes recorded; dd8 holds $(ls "$store" | wc -l) files"
done

"$server" --port 0 --port-file "$work/server.port" --stamp --quiet >"$work/received" \
    2>"$work/server.err" &
pids+=($!)
server_port=$(await "$work/server.port" 20 '[0-9]+') ||
    { echo "powercut-check: the test server did not start" >&2; exit 2; }
start_gateway "$server_port"
acked=$(wc -l <"$work/acked")
if "$check" --acked "$work/acked" --received "$work/received" --within 120 --at-least 1000; then
    echo "powercut-check: $cuts cuts, $acked acknowledged records, 0 lost"
    ok=1
else
    echo "powercut-check: acknowledged records were lost (seed $seed)" >&2
    exit 1
fi
