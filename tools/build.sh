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
# ccache, when the machine has it, lets several checkouts of the tree share
# their compiles: paths are taken relative to the folder above the checkout.
launcher=()
if command -v ccache >/dev/null 2>&1; then
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(dirname "$here")} CCACHE_NOHASHDIR=1
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
[ ${#builds[@]} -gt 0 ] || builds=(host win64 win32)
for b in "${builds[@]}"; do
  case "$b" in
    host)  tc=() ;;
    win64) tc=(-DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-x86_64.cmake") ;;
    win32) tc=(-DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-i686.cmake") ;;
    *) echo "unknown build: $b" >&2; exit 2 ;;
  esac
  echo "== build $b"
  cmake -S "$here" -B "$here/build/$b" -DCMAKE_BUILD_TYPE=${QEL_BUILD_TYPE:-Release} "${tc[@]}" "${launcher[@]}" >/dev/null
  cmake --build "$here/build/$b" -j "$jobs"
done
