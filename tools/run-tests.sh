#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer and
# runs the whole test suite through CTest.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh asan
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$PWD/tests/lsan.supp}"
export QT_QPA_PLATFORM=offscreen
cd build-asan
ctest --output-on-failure -j "$(nproc)" "$@"
