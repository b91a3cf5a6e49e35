#!/usr/bin/env bash
# Runs one Windows program of the x86_64 build under Wine, in the prefix that
# tools/wine-prefix.sh prepared (QEL_WINEPREFIX, default build/wineprefix).
# Every run has a time limit: a hung program must not hang the tests.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX=${QEL_WINEPREFIX:-${WINEPREFIX:-$here/build/wineprefix}}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  "$here/tools/wine-prefix.sh" >&2 || exit 1
fi
exec timeout --kill-after=10 "${QEL_WINE_TIMEOUT:-600}" wine "$@"
