#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer + UBSan) and runs
# each for a bounded time or number of executions.
#   tools/run-fuzz.sh                                 every target, FUZZ_SECONDS each (default 60)
#   FUZZ_RUNS=10000000 tools/run-fuzz.sh fuzz_p64     one target, 10 million runs
#                                                     (at most FUZZ_MAX_SECONDS, default 1800)
#   FUZZ_JOBS=1                                       build with one compiler (default: nproc)
#   FUZZ_NO_BUILD=1                                   skip the build (a second run alongside a first)
# A target's own libFuzzer flags go in fuzz/<target>.options (one a line).
# Corpora live in fuzz-corpus/<target> (seeded from fuzz/seeds/<target> and
# kept between runs); crashes and each run's log go to fuzz-crashes/. Every
# run appends one line to fuzz-crashes/results.md: target, executions,
# seconds, executions per second, peak RSS, result, command.
set -euo pipefail
# Everything runs from main, so editing this file during a run is harmless.
main() {
    cd "$(dirname "$0")/.."
    root=$PWD
    packages=(clang libclang-rt-14-dev cmake ninja-build qt6-base-dev qt6-multimedia-dev zlib1g-dev libgl-dev)
    missing=()
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    if [ "${#missing[@]}" -gt 0 ]; then
        if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi
        export DEBIAN_FRONTEND=noninteractive
        "${sudo[@]}" apt-get update -qq && "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
    fi
    targets=("$@")
    if [ "${#targets[@]}" -eq 0 ]; then
        for f in fuzz/fuzz_*.cpp; do targets+=("$(basename "$f" .cpp)"); done
    fi
    if [ -z "${FUZZ_NO_BUILD:-}" ]; then
        if [ ! -f fuzz-build/build.ninja ]; then
            CC=clang CXX=clang++ cmake -S . -B fuzz-build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
                -DTAVISK_FUZZ=ON -DTAVISK_TESTS=OFF >/dev/null
        fi
        cmake --build fuzz-build -j "${FUZZ_JOBS:-$(nproc)}" --target "${targets[@]}"
    fi
    mkdir -p fuzz-crashes
    export ASAN_OPTIONS="detect_leaks=1:allocator_may_return_null=1"
    export LSAN_OPTIONS="suppressions=$root/fuzz/lsan.supp"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
    export QT_QPA_PLATFORM=offscreen
    failed=0
    for t in "${targets[@]}"; do
        corpus="fuzz-corpus/$t"
        mkdir -p "$corpus"
        [ -d "fuzz/seeds/$t" ] && cp -n fuzz/seeds/"$t"/* "$corpus"/ 2>/dev/null || true
        limit=(-max_total_time="${FUZZ_SECONDS:-60}")
        [ -n "${FUZZ_RUNS:-}" ] && limit=(-runs="$FUZZ_RUNS" -max_total_time="${FUZZ_MAX_SECONDS:-1800}")
        # A target may carry its own libFuzzer flags in fuzz/<target>.options, one a line.
        extra=()
        [ -f "fuzz/$t.options" ] && mapfile -t extra < <(grep -v '^#' "fuzz/$t.options" | grep .)
        command=("fuzz-build/fuzz/$t" "${limit[@]}" -timeout=10 -rss_limit_mb=4096 -print_final_stats=1
                 "${extra[@]}" -artifact_prefix="$root/fuzz-crashes/$t-" "$corpus")
        echo "== $t: ${command[*]}"
        log="fuzz-crashes/$t.log"
        start=$(date +%s)
        status=0
        "${command[@]}" >"$log" 2>&1 || status=$?
        seconds=$(( $(date +%s) - start ))
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
        rss=$(sed -n 's/^stat::peak_rss_mb: *//p' "$log" | tail -1)
        rate=$(( ${runs:-0} / (seconds > 0 ? seconds : 1) ))
        if [ "$status" -eq 0 ] && ! grep -q "ERROR: \|fuzz check failed\|deadly signal\|runtime error:" "$log"; then
            result=clean
        else
            result="FAILED ($(grep -m1 -o "ERROR: [A-Za-z]*: [a-z -]*\|fuzz check failed: .*\|deadly signal\|runtime error: .*" "$log" || echo "exit $status"))"
            failed=1
        fi
        # A target that turns libFuzzer's leak check off during the run gets a
        # leak check afterwards: its whole corpus once, and LeakSanitizer at the
        # end finds whatever any of the inputs left unreachable.
        if [ "$result" = clean ] && printf '%s\n' "${extra[@]}" | grep -qx -- "-detect_leaks=0"; then
            leaks=("fuzz-build/fuzz/$t" -runs=0 -detect_leaks=0 -rss_limit_mb=4096 "$corpus")
            echo "== $t: leak check: ${leaks[*]}"
            if ! "${leaks[@]}" >"fuzz-crashes/$t-leaks.log" 2>&1 || grep -q "ERROR: " "fuzz-crashes/$t-leaks.log"; then
                result="FAILED (leak check, see fuzz-crashes/$t-leaks.log)"
                failed=1
            else
                result="clean (leak check of $(ls "$corpus" | wc -l) inputs clean)"
            fi
        fi
        line="| $t | ${runs:-0} | $seconds | $rate | ${rss:-?} MB | $result | \`${command[*]}\` |"
        echo "$line" | tee -a fuzz-crashes/results.md
        grep -E "^(==[0-9]+==ERROR|SUMMARY|fuzz check failed)" "$log" | head -5 || true
    done
    [ "$failed" -eq 0 ] && echo "fuzz: all targets ran clean" || { echo "fuzz: failures (see fuzz-crashes/)"; exit 1; }
}

main "$@"
exit
