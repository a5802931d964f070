#!/usr/bin/env bash
# make demo: the test message server, the gateway and a few simulated trackers in a scratch
# directory, all on loopback. Every line a program writes comes to the terminal behind its name
# (and is kept in the scratch directory): the gateway's link events and notes, the position
# messages the server receives, the simulator's summary. Ctrl-C stops all three in order and
# ends the demo with status 0.
# DEMO_WINDOW=1 shows the gateway's window instead, when there is a display: its link events
# are then in the window's event list.
set -euo pipefail
build=${1:-build}
bin=$(cd "$build" && pwd)
program() { find "$bin" -type f -name "$1" -perm -u+x | head -n 1; }
gateway=$(program gpsbridge)
server=$(program msgserver)
simulator=$(program gt20sim)
for p in "$gateway" "$server" "$simulator"; do
    [ -n "$p" ] || { echo "demo: build gpsbridge, msgserver and gt20sim in $build first" >&2; exit 1; }
done
work=$(mktemp -d /tmp/gpsbridge-demo.XXXXXX)
tracker_port=${DEMO_TRACKER_PORT:-21000}
server_port=${DEMO_SERVER_PORT:-12543}

cat > "$work/gpsbridge.ini" <<INI
[main]
DefaultPort=$tracker_port
[ServerHost]
Address=127.0.0.1
Port=$server_port
INI

# label TAG FILE: copies its input to FILE and to the terminal, each line behind TAG. It ignores
# SIGINT, so that a Ctrl-C meant for the programs does not cut off their last lines; it ends
# when its program does.
label() {
    trap '' INT
    tee -a "$1" | sed -u "s/^/$2 /"
}

# start NAME COMMAND...: runs the command in the background, its standard output and error
# labelled with NAME and kept in $work/NAME.log.
pids=()
start() {
    local name=$1
    shift
    "$@" > >(label "$work/$name.log" "$(printf '%-9s |' "$name")") 2>&1 &
    pids+=($!)
}

# Ctrl-C reaches every program at once; the demo then waits for each, trackers first, so that
# the gateway stops in order and the server prints its counts. A stop from elsewhere (SIGTERM
# to this script alone) is passed on in the same order.
stop() {
    local status=$1 i
    trap '' INT TERM
    echo "demo: stopping (files kept in $work)" >&2
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill -TERM "${pids[i]}" 2>/dev/null || true
        wait "${pids[i]}" 2>/dev/null || true
    done
    sleep 0.2 # the labels print the programs' last lines
    exit "$status"
}
trap 'stop 0' INT TERM

echo "demo: working directory $work; Ctrl-C stops it" >&2
start msgserver "$server" --port "$server_port"
headless=--headless
[ "${DEMO_WINDOW:-0}" = 1 ] && headless=
start gpsbridge "$gateway" $headless --workdir "$work"
# The gateway calibrates its clock for a second before it listens.
for _ in $(seq 1 50); do
    (exec 3<>"/dev/tcp/127.0.0.1/$tracker_port") 2>/dev/null && break
    sleep 0.1
done
start gt20sim "$simulator" --port "$tracker_port" --trackers 3 --records 2 --interval 1 \
    --duration 3600 --quiet

# Runs until Ctrl-C, or until one of the programs ends by itself (a port already taken, say).
status=0
wait -n "${pids[@]}" || status=$?
echo "demo: a program ended by itself (status $status); stopping the others" >&2
stop 1
