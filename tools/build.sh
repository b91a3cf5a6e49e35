#!/usr/bin/env bash
# Configures and builds the three builds of the tree:
#   build/host   Linux, over the host adapters (the demo and most tests)
#   build/win64  x86_64 Windows programs and tests, run under Wine
#   build/win32  i686 Windows programs, the ones that ship (built and inspected)
# Usage: tools/build.sh [host|win64|win32 ...]   (default: all three)
set -eu
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=${QEL_JOBS:-$(nproc)}
builds=("$@")
[ ${#builds[@]} -gt 0 ] || builds=(host win64 win32)
for b in "${builds[@]}"; do
  case "$b" in
    host)  tc=() ;;
    win64) tc=(-DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-x86_64.cmake") ;;
    win32) tc=(-DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-i686.cmake") ;;
    *) echo "unknown build: $b" >&2; exit 2 ;;
  esac
  echo "== build $b"
  cmake -S "$here" -B "$here/build/$b" -DCMAKE_BUILD_TYPE=${QEL_BUILD_TYPE:-Release} "${tc[@]}" >/dev/null
  cmake --build "$here/build/$b" -j "$jobs"
done
