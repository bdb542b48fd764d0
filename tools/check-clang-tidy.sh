#!/usr/bin/env bash
# Static analysis of src/ and tools/ with clang-tidy: every unit of theirs in
# the build's compile database, one clang-tidy per core, the checks of
# .clang-tidy at the top of the tree (which says why each is there). Any
# finding, in a unit or in a header of src/ or tools/, fails the run. The
# tests (also the server's, in tools/alertserver/tests) and the code Qt's moc
# writes are not checked.
#   tools/check-clang-tidy.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir="$(cd "$1" && pwd)"
build_dir="$2"
database="$build_dir/compile_commands.json"
tidy="${CLANG_TIDY:-clang-tidy}"

if ! command -v "$tidy" >/dev/null; then
    echo "check-clang-tidy: $tidy not found (tools/setup.sh asan installs it)" >&2
    exit 1
fi
if [ ! -f "$database" ]; then
    echo "check-clang-tidy: no $database (the build writes it)" >&2
    exit 1
fi

# CMake writes one "file" line per unit.
mapfile -t units < <(sed -n 's/^ *"file": "\(.*\)",\{0,1\}$/\1/p' "$database" |
                     grep -E "^$source_dir/(src|tools)/" | grep -v "^$source_dir/tools/alertserver/tests/" | sort -u)
if [ "${#units[@]}" -eq 0 ]; then
    echo "check-clang-tidy: no unit of $source_dir/src or tools in $database" >&2
    exit 1
fi

root_pattern=$(printf '%s' "$source_dir" | sed 's/[][\.*^$()+?{}|]/\\&/g')
echo "check-clang-tidy: ${#units[@]} units on $(nproc) cores"
printf '%s\0' "${units[@]}" |
    xargs -0 -n 1 -P "$(nproc)" "$tidy" -p "$build_dir" --quiet --warnings-as-errors='*' \
          --header-filter="^$root_pattern/(src|tools)/"
