#!/usr/bin/env bash
# Installs the build into a temporary DESTDIR and checks the installed tree:
# the programs, the example configuration where the client looks for it, the
# desktop entry, icon and metainfo (validated), the manual pages; then runs
# the installed client.
# With "readme" it walks the README's first run instead: the installed server
# started without arguments, the installed client with the installed example
# as the user's configuration, a login typed into the main window, and
# alerts of every configured category received. It runs in a network
# namespace of its own where it can, so that the server's fixed port is free;
# elsewhere a taken port skips it (exit 77).
# Usage: test_install.sh BUILD_DIR SOURCE_DIR VERSION [readme]
set -euo pipefail
build=$1 source=$2 version=$3 mode=${4:-tree}
if [ "$mode" = readme ] && [ -z "${TAVISK_OWN_NETWORK:-}" ] && command -v ip >/dev/null &&
    unshare --net true 2>/dev/null; then
    exec unshare --net env TAVISK_OWN_NETWORK=1 bash -c 'ip link set lo up && exec "$0" "$@"' "$0" "$@"
fi
id=com.velmora.TaviskAlerts
root=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$root"
}
trap cleanup EXIT
fail() { echo "test_install: $*" >&2; exit 1; }

DESTDIR="$root" cmake --install "$build" --prefix /usr >/dev/null
usr=$root/usr

# The client logs in as a user would: it types into the main window, found by
# its title, the example's followed by the version.
log_in() {
    local win="" _
    for _ in $(seq 200); do
        win=$(xdotool search --name "^Tavisk Alerts $version\$" 2>/dev/null | head -n1 || true)
        [ -n "$win" ] && break
        sleep 0.1
    done
    [ -n "$win" ] || return 1
    sleep 1
    xdotool windowfocus --sync "$win" 2>/dev/null || xdotool windowfocus "$win"
    # The user name has the focus at start; Tab moves to the password; Enter presses Login.
    xdotool type --delay 20 newuser; xdotool key Tab; xdotool type --delay 20 anything; xdotool key Return
}

# The categories of the alerts recorded so far, one a line, sorted.
categories_received() { gzip -dc "$recording" 2>/dev/null | cut -f2 | sort -u; }

readme_path() {
    "$usr/bin/tavisk-alert-server" >"$root/server.out" 2>"$root/server.log" &
    pids+=($!)
    local _
    for _ in $(seq 100); do
        grep -q "listening on" "$root/server.out" && break
        kill -0 "${pids[0]}" 2>/dev/null || break
        sleep 0.1
    done
    if ! grep -q "listening on" "$root/server.out"; then
        if grep -qi "address already in use\|address is already in use" "$root/server.log"; then
            echo "test_install: skipped the README's first run: port 9339 is taken on this machine" \
                 "(and no network namespace of its own: unshare --net is not allowed here)"
            exit 77
        fi
        fail "the server did not start: $(cat "$root/server.log")"
    fi
    grep -qx "listening on 9339" "$root/server.out" || fail "the server without --port: $(head -n1 "$root/server.out")"

    # The first run's "Create Configuration From Example" copies the example here.
    local home=$root/home
    mkdir -p "$home/config/Velmora" && mkdir -m 700 "$home/runtime"
    cp "$usr/share/tavisk-alerts/Braxo.ini" "$home/config/Velmora/Braxo.ini"
    wanted=$(sed -n 's/^subscription=//p' "$usr/share/tavisk-alerts/Braxo.ini" | sort -u)
    recording=$root/alerts.tsv.gz
    export wanted recording version
    # xvfb-run is a POSIX shell script, which drops exported functions: they
    # go along in the script's text. The client runs on a session bus of its
    # own and owns its name there.
    (cd "$home" && HOME=$home XDG_CONFIG_HOME=$home/config XDG_RUNTIME_DIR=$home/runtime QT_QPA_PLATFORM=xcb \
        dbus-run-session -- xvfb-run -a -s "-screen 0 1600x1000x24" bash -c "$(declare -f log_in categories_received)"'
            "$1" --record "$recording" & client=$!
            log_in || { kill $client; exit 1; }
            gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
                --method org.freedesktop.DBus.GetNameOwner com.velmora.TaviskAlerts >/dev/null \
                || { echo "the client does not own com.velmora.TaviskAlerts on its session bus" >&2; kill $client; exit 1; }
            for _ in $(seq 600); do [ "$(categories_received)" = "$wanted" ] && break; sleep 0.1; done
            kill $client; wait $client || true' _ "$usr/bin/tavisk-alerts") 2>"$root/client.log" \
        || fail "the client's main window did not appear: $(tail -n5 "$root/client.log")"
    [ -n "$wanted" ] && [ "$(categories_received)" = "$wanted" ] \
        || fail "alerts received of: $(echo $(categories_received)); the example subscribes to: $(echo $wanted)"
    echo "test_install: the README's first run logged in and received alerts of every category"
}
if [ "$mode" = readme ]; then
    readme_path
    exit 0
fi
for program in tavisk-alerts tavisk-alert-server; do
    [ -x "$usr/bin/$program" ] || fail "bin/$program missing"
    gzip -t "$usr/share/man/man1/$program.1.gz" || fail "manual page of $program missing or broken"
done
# The installed example is the demo's with the fake data form off.
sed 's/^debug=1$/debug=0/' "$source/examples/Braxo.ini" | cmp -s - "$usr/share/tavisk-alerts/Braxo.ini" \
    || fail "example configuration missing or not the demo's with debug=0"
[ -s "$usr/share/icons/hicolor/scalable/apps/$id.svg" ] || fail "scalable icon missing"
cmp -s "$source/data/com.velmora.TaviskAlerts1.xml" "$usr/share/dbus-1/interfaces/com.velmora.TaviskAlerts1.xml" \
    || fail "D-Bus interface missing"
desktop="$usr/share/applications/$id.desktop"
grep -qx "Icon=$id" "$desktop" && grep -qx "Exec=tavisk-alerts" "$desktop" || fail "desktop entry missing or wrong"
desktop-file-validate "$desktop" || fail "desktop entry not valid"
appstreamcli validate --no-net "$usr/share/metainfo/$id.metainfo.xml" >/dev/null || fail "metainfo not valid"

shown=$("$usr/bin/tavisk-alerts" --version)
[ "$shown" = "Tavisk Alerts $version" ] || fail "--version printed '$shown'"
# A configuration named on the command line that cannot be read is an error,
# not an empty configuration.
status=0
error=$("$usr/bin/tavisk-alerts" --config "$root/missing.ini" 2>&1 >/dev/null) || status=$?
[ "$status" = 2 ] && [[ $error == *"$root/missing.ini does not exist"* ]] || fail "--config of a missing file: $status '$error'"
# A recording that cannot be replayed ends the client before it needs a
# display: without one, Qt would abort as soon as a window were made.
status=0
error=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb \
        "$usr/bin/tavisk-alerts" --replay "$root/missing.tsv.gz" 2>&1 >/dev/null) || status=$?
[ "$status" = 1 ] && [[ $error == "Cannot replay: "*"$root/missing.tsv.gz"* ]] || fail "--replay of a missing file: $status '$error'"

# The manual pages list the options --help lists, no more and no fewer.
help_options() { sed -n 's/^ *\(-[a-zA-Z], \)\{0,1\}\(--[a-z][a-z-]*\).*/\2/p' | sort -u; }
man_options() { zcat "$1" | sed -n '/^\.SH OPTIONS/,/^\.SH /p' | sed 's/\\-/-/g' | grep -o -- '--[a-z][a-z-]*' | sort -u; }
for program in tavisk-alerts tavisk-alert-server; do
    listed=$("$usr/bin/$program" --help | help_options)
    documented=$(man_options "$usr/share/man/man1/$program.1.gz")
    [ -n "$listed" ] && [ "$listed" = "$documented" ] ||
        fail "$program: --help and its manual page differ: $(diff <(echo "$listed") <(echo "$documented") | grep '^[<>]' | tr '\n' ' ')"
done
echo "test_install: installed tree complete and valid"
