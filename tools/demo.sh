#!/usr/bin/env bash
# make demo: the test message server, the gateway and a few simulated trackers in a scratch
# directory. Received position messages scroll by; Ctrl-C stops all three.
set -euo pipefail
build=${1:-build}
bin=$(cd "$build" && pwd)
program() { find "$bin" -type f -name "$1" -perm -u+x | head -n 1; }
gateway=$(program gpsbridge)
server=$(program msgserver)
simulator=$(program gt20sim)
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

pids=()
stop() {
    trap - INT TERM EXIT
    echo
    echo "demo: stopping (files kept in $work)" >&2
    for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
}
trap stop INT TERM EXIT

echo "demo: working directory $work" >&2
"$server" --port "$server_port" &
pids+=($!)
(cd "$work" && exec "$gateway") > "$work/gateway.out" 2> "$work/gateway.err" &
pids+=($!)
# The gateway calibrates its clock for a second before it listens.
for _ in $(seq 1 50); do
    (exec 3<>"/dev/tcp/127.0.0.1/$tracker_port") 2>/dev/null && break
    sleep 0.1
done
"$simulator" --port "$tracker_port" --trackers 3 --records 2 --interval 1 \
    --duration 3600 --quiet > "$work/gt20sim.out" &
pids+=($!)
wait "${pids[0]}"
