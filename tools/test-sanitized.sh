#!/usr/bin/env bash
# The whole host test suite once more, built with AddressSanitizer and
# UndefinedBehaviorSanitizer (build/asan). Any report ends its test program
# with an error, so the suite fails.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=${QEL_JOBS:-$(nproc)}
build="$here/build/asan"
launcher=()
if command -v ccache >/dev/null 2>&1; then
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(dirname "$here")} CCACHE_NOHASHDIR=1
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQEL_SANITIZE=ON "${launcher[@]}" >/dev/null || exit 1
cmake --build "$build" -j "$jobs" || exit 1
export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=0:detect_stack_use_after_return=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
ctest --test-dir "$build" --output-on-failure -j "$jobs"
