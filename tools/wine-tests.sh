#!/usr/bin/env bash
# make windows-test: every cross-built core test program under Wine, one after the other, then the
# two tools: the test server must stop in order on Ctrl-C, the simulator must start and report
# that no gateway answered. Prints a summary in GoogleTest's words and the time it all took;
# exits non-zero when anything failed.
#
# tools/wine-tests.sh [BUILD_DIR]   (build-win by default; `make windows` fills it)
# WINE=/path/to/wine64 picks the Wine binary. No display is needed.
set -euo pipefail
build=$(cd "${1:-build-win}" && pwd)

source "$(dirname "$0")/wine-env.sh"
wine_env "$build" wine-tests

# Cases left out under Wine, as GoogleTest negative filters per program. Each needs a reason;
# none do today. Example:
#   [link_tests]="-LinkTest.Something" # Wine does not ...
declare -A excluded=()

started=$(date +%s%N)
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine-tests: making the Wine prefix in $WINEPREFIX (once, some seconds)"
    "$wine" wineboot --init >/dev/null 2>&1
fi

logs="$build/wine-test-logs"
mkdir -p "$logs"
total=0 passed=0 programs=0
failed_cases=() broken=()
while IFS= read -r exe; do
    name=$(basename "$exe" .exe)
    args=()
    [ -n "${excluded[$name]:-}" ] && args+=("--gtest_filter=${excluded[$name]}")
    log="$logs/$name.log"
    t0=$(date +%s%N)
    rc=0
    (cd "$(dirname "$exe")" && timeout 600 "$wine" "$exe" "${args[@]}") >"$log" 2>&1 || rc=$?
    ms=$(( ($(date +%s%N) - t0) / 1000000 ))
    ran=$(sed -n 's/^\[==========\] \([0-9]*\) tests\? from .* ran\..*/\1/p' "$log" | tail -n 1)
    ok=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\?\..*/\1/p' "$log" | tail -n 1)
    ran=${ran:-0} ok=${ok:-0}
    programs=$((programs + 1)) total=$((total + ran)) passed=$((passed + ok))
    mapfile -t bad < <(sed -n 's/^\[  FAILED  \] \([A-Za-z0-9_/.]*\) (.*/\1/p' "$log")
    failed_cases+=("${bad[@]/#/$name: }")
    if [ "$rc" -ne 0 ] || [ "$ran" -eq 0 ]; then
        [ "${#bad[@]}" -gt 0 ] || broken+=("$name (exit status $rc; see $log)")
        printf '[  FAILED  ] %-24s %4d tests, %4d passed (%d ms)\n' "$name" "$ran" "$ok" "$ms"
    else
        printf '[       OK ] %-24s %4d tests, %4d passed (%d ms)\n' "$name" "$ran" "$ok" "$ms"
    fi
done < <(find "$build/tests" -name '*_tests.exe' | sort)

# The tools. The test server on a free port: a Ctrl-C (Wine turns SIGINT into the console's
# CTRL_C_EVENT) must end it in order, with status 0 and its counts printed. Without the console
# handler Windows ends it at once with status 0xC000013A and no counts.
tools_failed=()
port_file="$logs/msgserver.port"
rm -f "$port_file"
"$wine" "$build/tools/msgserver.exe" --port 0 --port-file "$port_file" \
    >"$logs/msgserver.out" 2>"$logs/msgserver.err" &
server=$!
for _ in $(seq 100); do [ -s "$port_file" ] && break; sleep 0.1; done
if [ -s "$port_file" ]; then
    port=$(cat "$port_file")
    kill -INT "$server"
    rc=0
    wait "$server" || rc=$?
    if [ "$rc" -eq 0 ] && tr -d '\r' <"$logs/msgserver.err" | grep -qx 'data messages 0'; then
        echo "[       OK ] msgserver.exe listened on 127.0.0.1:$port and stopped in order on Ctrl-C"
    else
        tools_failed+=("msgserver.exe did not stop in order on Ctrl-C (status $rc)")
    fi
    # Nobody listens there now: every simulated tracker is refused, which is exit status 2.
    rc=0
    "$wine" "$build/tools/gt20sim.exe" --port "$port" --trackers 2 --count 1 --quiet \
        >"$logs/gt20sim.out" 2>"$logs/gt20sim.err" || rc=$?
    if [ "$rc" -eq 2 ]; then
        echo "[       OK ] gt20sim.exe ran and reported that no gateway answered"
    else
        tools_failed+=("gt20sim.exe without a gateway: status $rc, not 2")
    fi
else
    kill "$server" 2>/dev/null || true
    wait "$server" 2>/dev/null || true
    tools_failed+=("msgserver.exe never wrote its port")
fi

seconds=$(( ($(date +%s%N) - started) / 1000000000 ))
failed=$((total - passed))
echo "[==========] $total tests from $programs programs ran under Wine ($seconds s in all)."
echo "[  PASSED  ] $passed tests."
if [ "${#failed_cases[@]}" -gt 0 ]; then
    echo "[  FAILED  ] ${#failed_cases[@]} tests, listed below:"
    printf '[  FAILED  ] %s\n' "${failed_cases[@]}"
fi
for b in "${broken[@]}" "${tools_failed[@]}"; do echo "[  FAILED  ] $b"; done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "${#broken[@]}" -eq 0 ] && [ "${#tools_failed[@]}" -eq 0 ]
