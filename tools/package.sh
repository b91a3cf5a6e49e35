#!/usr/bin/env bash
# Makes the release packages from the builds (tools/build.sh makes them):
#   host   build/host/qelscript_<version>_amd64.deb      the Linux programs
#   win32  build/win32/QelScript-<version>-win32.zip     the shipped Windows programs
#   win64  build/win64/QelScript-<version>-win64.zip     their x86_64 twins, for Wine
# Usage: tools/package.sh [host|win32|win64 ...]   (default: all three)
# Prints the path of each package made.
set -eu
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
builds=("$@")
[ ${#builds[@]} -gt 0 ] || builds=(host win32 win64)
for b in "${builds[@]}"; do
  case "$b" in
    host) generator=DEB pattern='qelscript_*.deb' ;;
    win32 | win64) generator=ZIP pattern="QelScript-*-$b.zip" ;;
    *) echo "package: unknown build: $b" >&2; exit 2 ;;
  esac
  dir=$here/build/$b
  [ -f "$dir/CMakeCache.txt" ] || { echo "package: no $b build (tools/build.sh $b)" >&2; exit 1; }
  # The programs as they are now, then the package.
  cmake --build "$dir" -j "${QEL_JOBS:-$(nproc)}" >/dev/null
  rm -f "$dir"/$pattern
  (cd "$dir" && cpack -G "$generator" >"$dir/cpack.log" 2>&1) || { cat "$dir/cpack.log" >&2; exit 1; }
  ls "$dir"/$pattern
done
