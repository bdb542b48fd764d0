#!/usr/bin/env bash
# Installs the build into a temporary DESTDIR and checks the installed tree:
# the programs, the example configuration where the client looks for it, the
# desktop entry, icon and metainfo (validated), the manual pages; then runs
# the installed client. Usage: test_install.sh BUILD_DIR SOURCE_DIR VERSION
set -euo pipefail
build=$1 source=$2 version=$3
id=com.velmora.TaviskAlerts
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
fail() { echo "test_install: $*" >&2; exit 1; }

DESTDIR="$root" cmake --install "$build" --prefix /usr >/dev/null
usr=$root/usr
for program in tavisk-alerts tavisk-alert-server; do
    [ -x "$usr/bin/$program" ] || fail "bin/$program missing"
    gzip -t "$usr/share/man/man1/$program.1.gz" || fail "manual page of $program missing or broken"
done
# The installed example is the demo's with the fake data form off.
sed 's/^debug=1$/debug=0/' "$source/examples/Braxo.ini" | cmp -s - "$usr/share/tavisk-alerts/Braxo.ini" \
    || fail "example configuration missing or not the demo's with debug=0"
[ -s "$usr/share/icons/hicolor/scalable/apps/$id.svg" ] || fail "scalable icon missing"
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
