#!/usr/bin/env bash
# The whole test job: builds all three builds, runs the host tests, runs the
# Windows tests under Wine (inside a virtual X display, since some of them
# make windows), then the end-to-end scripts in tests/e2e. Every stage runs
# even when an earlier one failed; the exit status says whether all passed.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$here"

failed=()
stage() {
  local name=$1
  shift
  echo "== $name"
  if ! "$@"; then
    echo "FAILED: $name"
    failed+=("$name")
  fi
}

if ! tools/build.sh host win64 win32; then
  echo "FAILED: build"
  exit 1
fi

# The shipped i686 programs must load on Windows 2000, XP and Server 2003.
stage "legacy imports" tools/check-legacy-imports.sh

stage "host tests" ctest --test-dir build/host --output-on-failure -j "$(nproc)"
stage "fuzzing" tools/fuzz.sh
stage "host tests under ASan+UBSan" tools/test-sanitized.sh

export QEL_WINEPREFIX="$here/build/wineprefix"
stage "wine prefix" tools/wine-prefix.sh
stage "Windows tests under Wine" \
  xvfb-run -a -s "-screen 0 1024x768x24" ctest --test-dir build/win64 --output-on-failure

for script in tests/e2e/*.sh; do
  [ -e "$script" ] || continue
  stage "$script" timeout 1200 bash "$script"
done
WINEPREFIX="$QEL_WINEPREFIX" wineserver -k 2>/dev/null || true

if [ ${#failed[@]} -gt 0 ]; then
  echo "test-all: failed stages: ${failed[*]}"
  exit 1
fi
echo "test-all: every stage passed"
