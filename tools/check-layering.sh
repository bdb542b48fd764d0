#!/usr/bin/env bash
# Keeps the layers of src/ honest (docs/architecture.md): no include points
# upward, and nothing below the widgets includes a Qt GUI, Widgets or
# Multimedia header. The compiler cannot see this: every layer includes from
# the same src/ root, and a header that only widget code includes would
# compile wherever it sits.
#   tools/check-layering.sh [SOURCE_DIR [QT_HEADERS ["WIDGET UNITS"]]]
# SOURCE_DIR is the checkout (default: the one holding this script);
# QT_HEADERS is Qt's include root, holding QtCore/, QtGui/ ... (default: what
# qmake6 reports); WIDGET UNITS names the units of src/Shared and src/Zembra
# that the widget library builds (default: read from the tavisk_gui lists of
# their CMakeLists.txt, as the CTest test reads them from the build).
set -euo pipefail
root="${1:-$(cd "$(dirname "$0")/.." && pwd)}"
src="$root/src"
qt="${2:-$(qmake6 -query QT_INSTALL_HEADERS)}"
[ -d "$qt/QtCore" ] || { echo "check-layering: no Qt headers in '$qt'" >&2; exit 2; }

# The stems of the sources a folder's CMakeLists.txt adds to tavisk_gui.
widget_units_of() {
    sed -n '/target_sources(tavisk_gui/,/)/p' "$1/CMakeLists.txt" |
        grep -o '[A-Za-z0-9_]*\.cpp' | sed 's/\.cpp$//'
}
if [ $# -ge 3 ]; then
    read -r -a widget_units <<< "$3"
else
    mapfile -t widget_units < <(widget_units_of "$src/Shared"; widget_units_of "$src/Zembra")
fi
[ "${#widget_units[@]}" -gt 0 ] || { echo "check-layering: no widget units found" >&2; exit 2; }

# The layer of a file under src/.
layer_of() {
    local path="$1" stem
    case "$path" in
        base/*) echo base ;;
        platform/core/*) echo platform-core ;;
        platform/gui/*) echo platform-gui ;;
        Shared/* | Zembra/*)
            stem=$(basename "${path%.*}")
            for unit in "${widget_units[@]}"; do
                if [ "$unit" = "$stem" ]; then echo widgets; return; fi
            done
            echo session ;;
        grids/*) echo grids ;;
        shell/*) echo shell ;;
        *) echo unknown ;;
    esac
}

# What each layer may include, itself among them.
declare -A may_include=(
    [base]="base"
    [platform-core]="base platform-core"
    [session]="base platform-core session"
    [platform-gui]="base platform-core platform-gui"
    [grids]="base platform-core session platform-gui grids"
    [widgets]="base platform-core session platform-gui grids widgets"
    [shell]="base platform-core session platform-gui grids widgets shell"
)
# The layers that run under a QCoreApplication.
declare -A widget_free=([base]=1 [platform-core]=1 [session]=1)

failures=0
fail() {
    echo "$1"
    failures=$((failures + 1))
}

while IFS= read -r file; do
    path="${file#"$src"/}"
    from=$(layer_of "$path")
    if [ "$from" = unknown ]; then
        fail "$path: in no layer (add its folder to tools/check-layering.sh and docs/architecture.md)"
        continue
    fi
    while IFS= read -r included; do
        [ -f "$src/$included" ] || continue
        to=$(layer_of "$included")
        case " ${may_include[$from]} " in
            *" $to "*) ;;
            *) fail "$path ($from) includes $included ($to)" ;;
        esac
    done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
    if [ -n "${widget_free[$from]:-}" ]; then
        while IFS= read -r header; do
            for module in QtGui QtWidgets QtMultimedia; do
                if [ -e "$qt/$module/${header#"$module"/}" ]; then
                    fail "$path ($from) includes <$header> of $module"
                fi
            done
        done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*<\(Q[^>]*\)>.*/\1/p' "$file")
    fi
done < <(find "$src" -name '*.h' -o -name '*.cpp' | sort)

if [ "$failures" -gt 0 ]; then
    echo "$failures include(s) break the layering"
    exit 1
fi
echo "layering holds"
