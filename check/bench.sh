#!/usr/bin/env bash
# QelCheck's figures: the size and the imported DLLs of the Windows programs,
# and the time from start to exit of the "already installed" path (stops at
# the value "type") and of a full run (settings copied, center recorded,
# installer started), as the median of many runs: the host program directly,
# the x86_64 program under Wine with a persistent wineserver.
#
#   check/bench.sh [RUNS]        (default 200 host runs, RUNS/5 Wine runs)
#   QEL_BUILD_ROOT   folder of the host, win64 and win32 builds (default build)
#   QEL_WINEPREFIX   the Wine prefix (default build/wineprefix; made if missing)
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
builds=${QEL_BUILD_ROOT:-$here/build}
runs=${1:-200}
wine_runs=$((runs / 5))
[ "$wine_runs" -ge 5 ] || wine_runs=5

median_ms() {  # reads nanosecond figures, prints the median in milliseconds
  sort -n | awk '{ v[NR] = $1 } END { if (NR == 0) { print "n/a"; exit }
    m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2; printf "%.2f ms (%d runs)", m / 1e6, NR }'
}
time_runs() {  # time_runs N command...: one nanosecond figure per run
  local n=$1
  shift
  for _ in $(seq 1 "$n"); do
    local t0 t1
    t0=$(date +%s%N)
    "$@" >/dev/null 2>&1
    t1=$(date +%s%N)
    echo $((t1 - t0))
  done
}

echo "== Load: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
echo "== Size and imports"
for arch in win32 win64; do
  exe=$builds/$arch/check/QelCheck.exe
  if [ -f "$exe" ]; then
    objdump=i686-w64-mingw32-objdump
    [ "$arch" = win64 ] && objdump=x86_64-w64-mingw32-objdump
    size=$(stat -c %s "$exe")
    echo "$arch QelCheck.exe: $size bytes ($((size / 1024)) KiB; limit for the shipped i686 one: 65536)"
    echo "  imports: $($objdump -p "$exe" | awk '/DLL Name:/ { printf "%s ", $3 }')"
  else
    echo "$arch QelCheck.exe: not built ($exe)"
  fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/qelcheck-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

echo "== Host program"
qelcheck=$builds/host/check/qelcheck
installer=$builds/host/tests/check/check_fake_installer
if [ -x "$qelcheck" ] && [ -x "$installer" ]; then
  root=$work/root
  mkdir -p "$root/C/netlogon" "$root/C/TEMP" "$work/mutex"
  cp "$installer" "$root/C/netlogon/QelSetup.exe"
  printf '[DEFAULT]\r\nCENTERIP=10.0.0.1\r\n' >"$root/C/netlogon/SetupSet.ini"
  host_run() {
    "$qelcheck" --root "$root" --registry "$1" --share '\\DC1\NetLogon=C:\netlogon' --mutex-dir "$work/mutex" \
      -- '\\DC1\NetLogon\QelSetup.exe'
  }
  printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Qel]\r\n"type"="1"\r\n' \
    >"$work/installed.reg"
  printf 'Windows Registry Editor Version 5.00\r\n\r\n' >"$work/fresh.reg"
  # What starting any program costs on this machine now, for comparison.
  echo "baseline /bin/true: $(time_runs "$runs" /bin/true | median_ms)"
  echo "already installed: $(time_runs "$runs" host_run "$work/installed.reg" | median_ms)"
  echo "full run:          $(time_runs "$runs" host_run "$work/fresh.reg" | median_ms)"
else
  echo "not built ($qelcheck)"
fi

echo "== x86_64 program under Wine (persistent wineserver)"
exe=$builds/win64/check/QelCheck.exe
winstaller=$builds/win64/tests/check/check_fake_installer.exe
if [ -f "$exe" ] && [ -f "$winstaller" ] && command -v wine >/dev/null; then
  export WINEPREFIX=${QEL_WINEPREFIX:-$builds/wineprefix}
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  [ -f "$WINEPREFIX/system.reg" ] || QEL_WINEPREFIX=$WINEPREFIX "$here/tools/wine-prefix.sh" >/dev/null
  # No output streams of ours for the server, or the caller would wait for it.
  started_server=0
  if wineserver -p 60 </dev/null >/dev/null 2>&1; then started_server=1; fi
  share=$WINEPREFIX/drive_c/qelbench
  mkdir -p "$share"
  cp "$winstaller" "$share/QelSetup.exe"
  printf '[DEFAULT]\r\nCENTERIP=10.0.0.1\r\n' >"$share/SetupSet.ini"
  wine_run() { timeout 60 wine "$exe" 'C:\qelbench\QelSetup.exe'; }
  timeout 60 wine reg add 'HKLM\Software\Orvane\Qel' /v type /t REG_SZ /d 1 /f >/dev/null 2>&1
  wine_run >/dev/null 2>&1  # warm the server and the caches
  # A program that does nothing but record its start, for comparison.
  echo "baseline (stand-in installer): $(time_runs "$wine_runs" timeout 60 wine "$share/QelSetup.exe" | median_ms)"
  echo "already installed: $(time_runs "$wine_runs" wine_run | median_ms)"
  timeout 60 wine reg delete 'HKLM\Software\Orvane\Qel' /f >/dev/null 2>&1
  echo "full run:          $(time_runs "$wine_runs" wine_run | median_ms)"
  timeout 60 wine reg delete 'HKLM\Software\Orvane\Qel' /f >/dev/null 2>&1
  sleep 1  # let the last started installers end
  rm -rf "$share"
  [ "$started_server" -eq 0 ] || wineserver -k 2>/dev/null
else
  echo "not built ($exe) or no wine"
fi
