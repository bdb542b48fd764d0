#!/usr/bin/env bash
# Soak run: the real client (tools/soak, offscreen, the eight windows of
# examples/Braxo.ini) against the reference alert server streaming at a high
# rate and dropping every connection at random moments, for a bounded time.
#
#   tools/run-soak.sh                      # 10 minutes, then a bounded-lists phase
#   SOAK_SECONDS=60 tools/run-soak.sh      # a short run
#
# Settings (environment): SOAK_SECONDS (600) length of the main phase;
# SOAK_BOUNDED_SECONDS (180) length of a second phase without the Ferrik and
# Dravel windows, 0 to skip it; SOAK_RATE (500) alerts per second per
# category; SOAK_DROP_MS (5000) and SOAK_DROP_JITTER_MS (4000) the random
# drops; SOAK_SEED (7); SOAK_BUILD (build-soak, Release); SOAK_REPORT (the
# report file, default $SOAK_BUILD/soak-report.txt).
#
# Accounting of alerts.
# - The server writes one count line per closed TCP connection: the alerts
#   queued for it per category ("sent") and those whose last byte had not been
#   handed to the operating system when the connection closed ("unwritten":
#   their write was cut by the drop). A drop (--drop-how now) stops queueing at
#   once and then lets the socket flush, so unwritten is normally 0.
# - The harness counts, per conversation, the alerts the main connection
#   delivered to the windows (counted after every window has handled them).
# - Connections are paired in order: the k-th connection the server accepted
#   is the k-th conversation of the client that reached the server (the client
#   holds one connection at a time). Unequal numbers are a failure.
# - Per connection and category: expected = sent - unwritten. Received less
#   than expected is LOST; received more than sent is a failure as well
#   (duplicated or misrouted). Unwritten alerts are reported as in flight,
#   never as lost; nothing else is excused: an alert the server handed to the
#   system before the close but that the client did not deliver is lost.
# - The end of a phase is clean: the server is told to answer logins with
#   STOP ("refuse") and to send STOP to the logged-in connection ("stop"); the
#   STOP frame follows every alert of that connection, and the harness ends
#   when it has handled it, so nothing is in flight at the end.
# - Windows: a Ferrik or Dravel window holds one row per alert, so its rows
#   must equal the alerts delivered; strike, symbol and simple-list windows
#   must hold min(delivered, 1000).
# - Reconnection delay: from the moment the client sees a connection close to
#   the moment the next conversation's session is working (status "Connected!",
#   or, when the status text was already "Connected!", the first answered
#   burst, which carries the login and first-ping answers). Over 1000 ms fails.
# - Memory: VmRSS sampled every second. Growth is judged on the bounded-lists
#   phase (Ferrik and Dravel rows are never dropped, by design): the mean of
#   the last quarter against the mean of the third quarter, and the slope of a
#   line fitted to the second half.
#
# Exit status: 0 when nothing was lost and every reconnection took at most
# 1 s; 1 otherwise; 2 when the run itself could not be carried out.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${SOAK_BUILD:-$ROOT/build-soak}
SOAK_SECONDS=${SOAK_SECONDS:-600}
SOAK_BOUNDED_SECONDS=${SOAK_BOUNDED_SECONDS:-180}
SOAK_RATE=${SOAK_RATE:-500}
SOAK_DROP_MS=${SOAK_DROP_MS:-5000}
SOAK_DROP_JITTER_MS=${SOAK_DROP_JITTER_MS:-4000}
SOAK_SEED=${SOAK_SEED:-7}
SOAK_REPORT=${SOAK_REPORT:-$BUILD/soak-report.txt}

cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAVISK_BENCH=ON -DTAVISK_TESTS=OFF >/dev/null
cmake --build "$BUILD" -j2 --target tavisk-soak tavisk-alert-server >/dev/null

WORK=$(mktemp -d)
SERVER_PID=
HARNESS_PID=
cleanup() {
    [[ -n $HARNESS_PID ]] && kill "$HARNESS_PID" 2>/dev/null || true
    [[ -n $SERVER_PID ]] && kill "$SERVER_PID" 2>/dev/null || true
    exec 3>&- 2>/dev/null || true
}
trap cleanup EXIT

# run_phase NAME SECONDS SKIPPED_CATEGORIES
run_phase() {
    local name=$1 seconds=$2 skipped=$3
    local dir=$WORK/$name
    mkdir -p "$dir"
    mkfifo "$dir/control"
    "$BUILD/tavisk-alert-server" --port 0 --rate "$SOAK_RATE" --seed "$SOAK_SEED" \
        --drop-every-ms "$SOAK_DROP_MS" --drop-jitter-ms "$SOAK_DROP_JITTER_MS" \
        <"$dir/control" >"$dir/server.out" 2>"$dir/server.log" &
    SERVER_PID=$!
    exec 3>"$dir/control"
    local port=
    for _ in $(seq 100); do
        port=$(sed -n 's/^listening on \([0-9]*\)$/\1/p' "$dir/server.out")
        [[ -n $port ]] && break
        sleep 0.1
    done
    [[ -n $port ]] || { echo "server did not start" >&2; exit 2; }
    sed "s/^address=.*/address=127.0.0.1:$port/" "$ROOT/examples/Braxo.ini" >"$dir/Braxo.ini"
    (cd "$dir" && HOME="$dir" XDG_CONFIG_HOME="$dir/config" exec "$BUILD/tavisk-soak" --out "$dir/harness.json" \
        --max-seconds $((seconds + 120)) --skip-categories "$skipped" >"$dir/harness.out" 2>"$dir/harness.err") &
    HARNESS_PID=$!
    sleep "$seconds"
    echo "refuse end of soak" >&3
    echo "stop end of soak" >&3
    wait "$HARNESS_PID" || { echo "harness failed, see $dir/harness.err" >&2; exit 2; }
    HARNESS_PID=
    # The server logs the last connection's counts once it has seen it close.
    for _ in $(seq 50); do
        [[ $(grep -c ': alerts sent ' "$dir/server.log") -ge $(grep -c ': connection from ' "$dir/server.log") ]] && break
        sleep 0.1
    done
    echo quit >&3
    exec 3>&-
    wait "$SERVER_PID" || true
    SERVER_PID=
}

run_phase main "$SOAK_SECONDS" ""
PHASES=(main)
if [[ $SOAK_BOUNDED_SECONDS -gt 0 ]]; then
    run_phase bounded "$SOAK_BOUNDED_SECONDS" "ferrik,dravel"
    PHASES+=(bounded)
fi

mkdir -p "$(dirname "$SOAK_REPORT")"
set +e
python3 "$ROOT/tools/soak/soak_report.py" --rate "$SOAK_RATE" --drop-ms "$SOAK_DROP_MS" \
    --drop-jitter-ms "$SOAK_DROP_JITTER_MS" "${PHASES[@]/#/$WORK/}" | tee "$SOAK_REPORT"
status=${PIPESTATUS[0]}
set -e
echo "report: $SOAK_REPORT (raw data in $WORK)"
exit "$status"
