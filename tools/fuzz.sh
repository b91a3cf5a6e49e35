#!/usr/bin/env bash
# Builds the fuzz targets of tests/fuzz with clang's libFuzzer, under
# AddressSanitizer and UndefinedBehaviorSanitizer, and runs each one for
# QEL_FUZZ_SECONDS (default 60) from its seed corpus, QEL_JOBS at a time.
# A crash, a sanitizer report or a failed property fails the script; the
# input is left in build/fuzz/findings/<target>/ (put it into the target's
# corpus folder once the fault is mended, as a regression case).
# Usage: tools/fuzz.sh [target ...]   (default: every target)
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
seconds=${QEL_FUZZ_SECONDS:-60}
jobs=${QEL_JOBS:-$(nproc)}
build="$here/build/fuzz"
targets=("$@")
[ ${#targets[@]} -gt 0 ] ||
  targets=(fuzz_domain fuzz_registry fuzz_wrapper fuzz_checker fuzz_probe_reply fuzz_ldap_filter)

launcher=()
if command -v ccache >/dev/null 2>&1; then
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(dirname "$here")} CCACHE_NOHASHDIR=1
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_COMPILER=clang-14 \
  -DCMAKE_CXX_COMPILER=clang++-14 -DQEL_FUZZ=ON "${launcher[@]}" >/dev/null || exit 1
cmake --build "$build" -j "$jobs" --target "${targets[@]}" || exit 1

run() {
  local target=$1
  local work="$build/work/$target" findings="$build/findings/$target"
  rm -rf "$work" "$findings"
  mkdir -p "$work" "$findings"
  # New inputs go to the work folder; the seeds in the tree are only read.
  if "$build/tests/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=8192 \
      -artifact_prefix="$findings/" -print_final_stats=1 \
      "$work" "$here/tests/fuzz/corpus/$target" > "$build/$target.log" 2>&1; then
    echo "$target: $(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "$build/$target.log" | grep -o '[0-9]*$') runs, no finding"
    return 0
  fi
  echo "FAILED: $target (log $build/$target.log, input in $findings)"
  tail -n 40 "$build/$target.log"
  return 1
}

failed=0
running=0
pids=()
for target in "${targets[@]}"; do
  run "$target" &
  pids+=($!)
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait "${pids[0]}" || failed=1
    pids=("${pids[@]:1}")
    running=$((running - 1))
  fi
done
for pid in "${pids[@]}"; do
  wait "$pid" || failed=1
done
exit $failed
