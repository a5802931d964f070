#!/usr/bin/env bash
# make windows-system-test: the Windows programs against each other on loopback under Wine, and
# the backlog's files across the two builds, checked with the simulator's acknowledged log:
#   1. gt20sim.exe -> gpsbridge.exe --headless -> msgserver.exe: every acknowledged record
#      reaches the test server.
#   2. gpsbridge.exe keeps what it acknowledges in dd8 while no server answers and is stopped;
#      the Linux gpsbridge, started on that folder with a server up, sends every record of it.
#   3. The other way round: dd8 written by the Linux gateway, sent by gpsbridge.exe.
#   4. gpsbridge.exe --service under Wine's service control manager, created, started, stopped
#      and deleted with sc.exe, between gt20sim.exe and msgserver.exe: every acknowledged record
#      delivered, and an orderly end with status 0 on the stop request.
# Prints each step's result and time; exits non-zero when any failed. The scratch folder is kept
# when something failed.
#
# tools/wine-system-test.sh [WINDOWS_BUILD_DIR [LINUX_BUILD_DIR]]   (build-win and build)
# The Linux build needs gpsbridge, msgserver and delivery_check; WINE picks the Wine binary.
set -euo pipefail
win=$(cd "${1:-build-win}" && pwd)
linux=$(cd "${2:-build}" && pwd)

source "$(dirname "$0")/wine-env.sh"
wine_env "$win" wine-system-test
[ -f "$WINEPREFIX/system.reg" ] || "$wine" wineboot --init >/dev/null 2>&1

work=$(mktemp -d "${TMPDIR:-/tmp}/gpsbridge-wine.XXXXXX")
# The programs as a Windows user gets them: unpacked from the ZIP that make windows made.
zip=$(ls "$win"/gpsbridge-*-win64.zip 2>/dev/null | head -n 1)
[ -n "$zip" ] || { echo "wine-system-test: no ZIP in $win (make windows makes it)" >&2; exit 2; }
mkdir -p "$work/unpacked"
(cd "$work/unpacked" && cmake -E tar xf "$zip")
winexe() { find "$work/unpacked" -name "$1" -type f | head -n 1; }
gateway_exe=$(winexe gpsbridge.exe)
sim_exe=$(winexe gt20sim.exe)
server_exe=$(winexe msgserver.exe)
check="$linux/tests/system/delivery_check"
for f in "$gateway_exe" "$sim_exe" "$server_exe" "$linux/app/gpsbridge" "$linux/tools/msgserver" "$check"; do
    [ -n "$f" ] && { [ -x "$f" ] || [ -f "$f" ]; } || { echo "wine-system-test: a program is missing ($f)" >&2; exit 2; }
done
pids=()
failures=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    if [ "${#failures[@]}" -eq 0 ]; then rm -rf "$work"; else echo "scratch files kept in $work"; fi
}
trap cleanup EXIT

# Waits up to $2 seconds for the extended regular expression $3 in file $1 (carriage returns
# dropped); prints the first match.
await() {
    local file=$1 seconds=$2 pattern=$3
    for _ in $(seq $((seconds * 10))); do
        if [ -f "$file" ] && tr -d '\r' <"$file" | grep -Eo "$pattern" | head -n 1 | grep .; then
            return 0
        fi
        sleep 0.1
    done
    return 1
}

# start_server NAME PROGRAM...: a test server on a free port, output with arrival stamps in
# $work/NAME.out; sets PORT and PID.
start_server() {
    local name=$1; shift
    "$@" --port 0 --port-file "$work/$name.port" --stamp --quiet >"$work/$name.out" 2>"$work/$name.err" &
    PID=$!; pids+=("$PID")
    await "$work/$name.port" 20 '[0-9]+' >/dev/null || { echo "$name: no port"; return 1; }
    PORT=$(tr -d '\r\n' <"$work/$name.port")
}

# start_gateway DIR SERVER_PORT PROGRAM...: a headless gateway in DIR on a free tracker port, its
# link to SERVER_PORT; sets PORT and PID.
start_gateway() {
    local dir=$1 server=$2; shift 2
    mkdir -p "$dir"
    printf '[main]\r\nDefaultPort=0\r\n[ServerHost]\r\nPort=%s\r\n' "$server" >"$dir/gpsbridge.ini"
    (cd "$dir" && exec "$@" --headless) >"$dir/out.txt" 2>"$dir/err.txt" &
    PID=$!; pids+=("$PID")
    local line
    line=$(await "$dir/err.txt" 60 'listening on tracker port [0-9]+') ||
        { echo "gateway in $dir did not listen: $(tr -d '\r' <"$dir/err.txt" | tail -n 3)"; return 1; }
    PORT=${line##* }
}

# stop PID NAME: Ctrl-C (SIGINT; Wine makes it the console's CTRL_C_EVENT), then an orderly end
# with status 0 within 30 s.
stop() {
    local pid=$1 name=$2 rc=0
    kill -INT "$pid"
    for _ in $(seq 300); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    if kill -0 "$pid" 2>/dev/null; then echo "$name did not stop within 30 s"; return 1; fi
    wait "$pid" || rc=$?
    [ "$rc" -eq 0 ] || { echo "$name ended with status $rc"; return 1; }
}

# simulate NAME PORT PROGRAM...: simulated trackers against a gateway; their acknowledged records
# in $work/NAME.acked.
simulate() {
    local name=$1 port=$2; shift 2
    "$@" --port "$port" --trackers 4 --count 15 --records 3 --interval 0.02 --quiet \
        --acked "$work/$name.acked" >"$work/$name.sim.out" 2>"$work/$name.sim.err" ||
        { echo "$name: gt20sim ended with status $? ($(tail -n 2 "$work/$name.sim.err"))"; return 1; }
}

# step NAME FUNCTION ARGS...: runs a step (each of its commands returns on failure: set -e does
# not reach into a function whose status is tested) and reports it.
step() {
    local name=$1; shift
    local t0
    t0=$(date +%s)
    if "$@"; then
        printf '[       OK ] %s (%d s)\n' "$name" $(($(date +%s) - t0))
    else
        printf '[  FAILED  ] %s (%d s)\n' "$name" $(($(date +%s) - t0))
        failures+=("$name")
    fi
}

chain() {
    start_server chain "$wine" "$server_exe" || return 1
    local server=$PID sport=$PORT
    start_gateway "$work/chain" "$sport" "$wine" "$gateway_exe" || return 1
    local gateway=$PID gport=$PORT
    simulate chain "$gport" "$wine" "$sim_exe" || return 1
    "$check" --acked "$work/chain.acked" --received "$work/chain.out" --within 60 --at-least 180 ||
        return 1
    stop "$gateway" gpsbridge.exe || return 1
    stop "$server" msgserver.exe
}

# across NAME WRITER... -- SENDER...: the gateway WRITER keeps a backlog while no server answers
# (port 1 is refused on loopback) and is stopped; the gateway SENDER, on the same folder, sends it
# to a server.
across() {
    local name=$1; shift
    local writer=() sender=()
    while [ "$1" != "--" ]; do writer+=("$1"); shift; done
    shift; sender=("$@")
    local dir="$work/$name" gateway server
    start_gateway "$dir" 1 "${writer[@]}" || return 1
    gateway=$PID
    simulate "$name" "$PORT" "$wine" "$sim_exe" || return 1
    stop "$gateway" "the writing gateway" || return 1
    ls "$dir/dd8" | grep -q . || { echo "no backlog files in $dir/dd8"; return 1; }
    start_server "$name" "$linux/tools/msgserver" || return 1
    server=$PID
    start_gateway "$dir" "$PORT" "${sender[@]}" || return 1
    gateway=$PID
    "$check" --acked "$work/$name.acked" --received "$work/$name.out" --within 60 --at-least 180 ||
        return 1
    stop "$gateway" "the sending gateway" || return 1
    stop "$server" msgserver
}

# sc NAME ARGS...: Wine's sc.exe, its output kept in $dir/sc.txt.
sc() { "$wine" sc "$@" >>"$dir/sc.txt" 2>&1; }
service_state() { "$wine" sc query "$1" 2>/dev/null | tr -d '\r'; }

# The service between the Windows tools. msgserver.exe also keeps Wine's service manager up:
# Wine stops its services as soon as no program other than its own runs.
service() {
    local dir="$work/service" name="gpsbridge-test-$$" server exe_w dir_w line rc=0
    start_server service "$wine" "$server_exe" || return 1
    server=$PID
    mkdir -p "$dir"
    printf '[main]\r\nDefaultPort=0\r\n[ServerHost]\r\nPort=%s\r\n' "$PORT" >"$dir/gpsbridge.ini"
    exe_w=$("$wine" winepath -w "$gateway_exe" 2>/dev/null | tr -d '\r')
    dir_w=$("$wine" winepath -w "$dir" 2>/dev/null | tr -d '\r')
    sc create "$name" binPath= "\"$exe_w\" --service --workdir \"$dir_w\"" &&
        sc start "$name" || rc=1
    if [ "$rc" -eq 0 ] && line=$(await "$dir/log/service.log" 60 'listening on tracker port [0-9]+'); then
        simulate service "${line##* }" "$wine" "$sim_exe" &&
            "$check" --acked "$work/service.acked" --received "$work/service.out" --within 60 \
                --at-least 180 || rc=1
        sc stop "$name" || rc=1
        for _ in $(seq 300); do service_state "$name" | grep -q STOPPED && break; sleep 0.1; done
        service_state "$name" | grep -Eq 'WIN32_EXIT_CODE +: 0 ' ||
            { echo "not stopped with status 0: $(service_state "$name")"; rc=1; }
        await "$dir/log/service.log" 10 'stopped in order' >/dev/null ||
            { echo "no orderly stop in log/service.log"; rc=1; }
    else
        rc=1
    fi
    sc delete "$name" || true
    stop "$server" msgserver.exe || rc=1
    if [ "$rc" -ne 0 ]; then
        echo "sc.exe: $(tr -d '\r' <"$dir/sc.txt")"
        echo "service.log: $(tr -d '\r' <"$dir/log/service.log" 2>/dev/null | tail -n 5)"
        return 1
    fi
}

started=$(date +%s)
step "gt20sim.exe -> gpsbridge.exe -> msgserver.exe: every acknowledged record delivered" chain
step "dd8 from gpsbridge.exe sent by the Linux gpsbridge" \
    across win-to-linux "$wine" "$gateway_exe" -- "$linux/app/gpsbridge"
step "dd8 from the Linux gpsbridge sent by gpsbridge.exe" \
    across linux-to-win "$linux/app/gpsbridge" -- "$wine" "$gateway_exe"
step "gpsbridge.exe --service: sc.exe create, start; every record delivered; stop, delete" service
echo "wine-system-test: $(($(date +%s) - started)) s in all"
[ "${#failures[@]}" -eq 0 ]
