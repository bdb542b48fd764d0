#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer + UBSan) and runs
# each for a bounded time or number of executions.
#   tools/run-fuzz.sh                 every target, FUZZ_SECONDS each (default 60)
#   FUZZ_RUNS=10000000 tools/run-fuzz.sh fuzz_url_decode   one target, 10 million runs
# Corpora live in fuzz-corpus/<target> (seeded from fuzz/seeds/<target> and
# kept between runs); crashes are written to fuzz-crashes/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
packages=(clang libclang-rt-14-dev)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
    if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi
    "${sudo[@]}" apt-get update -qq && "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
tools/setup.sh release >/dev/null   # the Qt and zlib packages
if [ ! -f fuzz-build/build.ninja ]; then
    CC=clang CXX=clang++ cmake -S . -B fuzz-build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DTAVISK_FUZZ=ON -DTAVISK_TESTS=OFF >/dev/null
fi
targets=("$@")
if [ "${#targets[@]}" -eq 0 ]; then
    for f in fuzz/fuzz_*.cpp; do targets+=("$(basename "$f" .cpp)"); done
fi
cmake --build fuzz-build -j "$(nproc)" --target "${targets[@]}"
mkdir -p fuzz-crashes
export ASAN_OPTIONS="detect_leaks=1:allocator_may_return_null=1"
export QT_QPA_PLATFORM=offscreen
for t in "${targets[@]}"; do
    corpus="fuzz-corpus/$t"
    mkdir -p "$corpus"
    [ -d "fuzz/seeds/$t" ] && cp -n fuzz/seeds/"$t"/* "$corpus"/ 2>/dev/null || true
    limit=(-max_total_time="${FUZZ_SECONDS:-60}")
    [ -n "${FUZZ_RUNS:-}" ] && limit=(-runs="$FUZZ_RUNS" -max_total_time="${FUZZ_MAX_SECONDS:-1800}")
    echo "== $t"
    "fuzz-build/fuzz/$t" "${limit[@]}" -timeout=10 -rss_limit_mb=4096 -print_final_stats=1 \
        -artifact_prefix="$root/fuzz-crashes/$t-" "$corpus" 2>&1 | tee "fuzz-crashes/$t.log" | \
        grep -E "^(#[0-9]+ *DONE|stat::number_of_executed_units|stat::peak_rss_mb|==[0-9]+==ERROR|SUMMARY)" || true
    grep -q "ERROR\|SUMMARY: .*Sanitizer\|deadly signal" "fuzz-crashes/$t.log" && { echo "$t: FAILED (see fuzz-crashes/$t.log)"; exit 1; }
done
echo "fuzz: all targets ran clean"
