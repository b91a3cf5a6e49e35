#!/usr/bin/env bash
# Makes a fresh Wine prefix for the tests: initialised, crash dialog off (a
# crash under Xvfb would otherwise wait forever).
set -eu
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX=${QEL_WINEPREFIX:-${WINEPREFIX:-$here/build/wineprefix}}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
rm -rf "$WINEPREFIX"
mkdir -p "$(dirname "$WINEPREFIX")"
timeout 180 xvfb-run -a wineboot --init >/dev/null 2>&1
timeout 60 wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
timeout 60 wineserver -w || true
echo "wine prefix ready: $WINEPREFIX"
