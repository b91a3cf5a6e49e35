#!/usr/bin/env bash
# The whole test job: builds all three builds, runs the host tests, runs the
# Windows tests under Wine, then the end-to-end scripts in tests/e2e.
set -eu
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$here"
tools/build.sh host win64 win32

echo "== host tests"
ctest --test-dir build/host --output-on-failure -j "$(nproc)"

echo "== Windows tests under Wine"
export QEL_WINEPREFIX="$here/build/wineprefix"
tools/wine-prefix.sh
ctest --test-dir build/win64 --output-on-failure

status=0
for script in tests/e2e/*.sh; do
  [ -e "$script" ] || continue
  echo "== $script"
  if ! timeout 1200 bash "$script"; then
    echo "FAILED: $script"
    status=1
  fi
done
WINEPREFIX="$QEL_WINEPREFIX" wineserver -k 2>/dev/null || true
exit $status
