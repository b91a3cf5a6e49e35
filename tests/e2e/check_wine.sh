#!/usr/bin/env bash
# End to end under Wine: the real x86_64 QelCheck.exe of the win64 build,
# started as the install batch starts it, against the prefix's registry, its
# temporary folder and its named mutexes. A stand-in installer records how it
# was started; a helper program holds the installer's mutex.
#   QEL_WIN64_BUILD: the win64 build folder (default build/win64)
#   QEL_WINEPREFIX:  the Wine prefix (default build/wineprefix; made if missing)
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=${QEL_WIN64_BUILD:-$here/build/win64}
qelcheck=$build/check/QelCheck.exe
installer=$build/tests/check/check_fake_installer.exe
holder=$build/tests/check/check_mutex_holder.exe
for f in "$qelcheck" "$installer" "$holder"; do
  [ -f "$f" ] || { echo "missing $f (build the win64 build first)"; exit 1; }
done

export WINEPREFIX=${QEL_WINEPREFIX:-$here/build/wineprefix}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  QEL_WINEPREFIX=$WINEPREFIX "$here/tools/wine-prefix.sh" || exit 1
fi

w() { timeout --kill-after=10 60 wine "$@"; }
reg_quiet() { w reg "$@" >/dev/null 2>&1; }

share_win='C:\qelcheck-e2e'
started_server=0
share=$WINEPREFIX/drive_c/qelcheck-e2e
package="$share_win\\QelSetup.exe"
record=$share/QelSetup.started
holder_pid=""

cleanup() {
  if [ -n "$holder_pid" ]; then
    touch "$share/holder.stop"
    wait "$holder_pid" 2>/dev/null
  fi
  reg_quiet delete 'HKLM\Software\Orvane\Qel' /f
  reg_quiet delete 'HKLM\Software\Microsoft\Windows\CurrentVersion\RunOnce' /v QelSetup /f
  reg_quiet delete 'HKLM\Software\Microsoft\Windows\CurrentVersion\RunOnce' /v Qel /f
  reg_quiet delete 'HKCU\Software\Wine\AppDefaults\QelCheck.exe' /f
  rm -rf "$share"
}
finish() {
  cleanup
  # Only a server this script started; it must not outlive the script
  # holding its output open.
  [ "$started_server" -eq 0 ] || wineserver -k 2>/dev/null
}
trap finish EXIT

# A persistent server keeps the many short runs fast. It gets no output
# streams of ours, or whoever reads them would wait for it. (It answers 2
# when one is running already.)
if wineserver -p 60 </dev/null >/dev/null 2>&1; then started_server=1; fi

temp_win=$(w cmd /c echo %TEMP% 2>/dev/null | tr -d '\r')
temp=$(w winepath -u "$temp_win" 2>/dev/null | tr -d '\r')
[ -n "$temp" ] && [ -d "$temp" ] || { echo "cannot find the prefix's temporary folder ($temp_win)"; exit 1; }
log=$temp/QelCheck.log
echo "temporary folder: $temp_win -> $temp"

failures=0
check() {
  if eval "$2"; then echo "ok   $1"; else echo "FAIL $1"; failures=$((failures + 1)); fi
}
fresh() {  # a client on which the product was never installed
  cleanup
  mkdir -p "$share"
  cp "$installer" "$share/QelSetup.exe"
  printf '[DEFAULT]\r\nCENTERIP=10.20.30.40\r\n' >"$share/SetupSet.ini"
  rm -rf "$log" "$temp/QelSetup"
}
run() { w "$qelcheck" "$@"; }
wait_for_record() {
  for _ in $(seq 1 200); do [ -s "$record" ] && return 0; sleep 0.05; done
  return 1
}
hold() {  # hold NAME [--deny]: a process holding the mutex until release
  rm -f "$share/holder.ready" "$share/holder.stop"
  w "$holder" "$1" "$share_win\\holder.ready" "$share_win\\holder.stop" --seconds 50 "${@:2}" &
  holder_pid=$!
  for _ in $(seq 1 200); do [ -e "$share/holder.ready" ] && return 0; sleep 0.05; done
  return 1
}
release() {
  touch "$share/holder.stop"
  wait "$holder_pid" 2>/dev/null
  holder_pid=""
}

# 1. Nothing installed: settings copied, center recorded, installer started.
fresh
run "$package"
rc=$?
check "fresh client: exit code 0" "[ $rc -eq 0 ]"
check "fresh client: installer started with the package path" \
  "wait_for_record && grep -qxF '$package' <(tr -d '\r' <'$record')"
check "fresh client: SetupSet.ini copied to the work folder" "cmp -s '$share/SetupSet.ini' '$temp/QelSetup/SetupSet.ini'"
check "fresh client: CenterIP in the registry" \
  "w reg query 'HKLM\\Software\\Orvane\\Qel' /v CenterIP 2>/dev/null | grep -q 'REG_SZ *10.20.30.40'"
check "fresh client: log lines" \
  "grep -qE '^\\[[0-9]+\\] [0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}:[0-9]{3} : \\[INF\\]QelCheck: REGWriteString\\(HKEY_LOCAL_MACHINE, Software\\\\Orvane\\\\Qel, CenterIP=10.20.30.40\\)' '$log' &&
   grep -qF 'QelCheck: Begin WinExec($package)...' '$log'"

# 2. A left-over hidden, read-only copy of the package gets normal attributes.
fresh
mkdir -p "$temp/QelSetup"
echo old >"$temp/QelSetup/QelSetup.exe"
w cmd /c attrib +h +r "$(w winepath -w "$temp/QelSetup/QelSetup.exe" 2>/dev/null | tr -d '\r')" >/dev/null 2>&1
run "$package"
rc=$?
check "left-over copy: exit code 0" "[ $rc -eq 0 ]"
check "left-over copy: attributes set to normal" "grep -qF 'QelCheck: SetFileAttributes' '$log'"

# 3. Installed ("type" of any data type) and pending after a restart.
for value in "/t REG_SZ /d 1" "/t REG_DWORD /d 49" "/t REG_BINARY /d 4142"; do
  fresh
  # shellcheck disable=SC2086
  reg_quiet add 'HKLM\Software\Orvane\Qel' /v type $value /f
  run "$package"
  rc=$?
  check "installed ($value): exit code 0" "[ $rc -eq 0 ]"
  check "installed ($value): stops at type" "grep -qF 'QelCheck: Software\\Orvane\\Qel: Type=' '$log' && sleep 0.3 && [ ! -e '$record' ]"
done
fresh
reg_quiet add 'HKLM\Software\Microsoft\Windows\CurrentVersion\RunOnce' /v Qel /d 'C:\x.exe' /f
reg_quiet add 'HKLM\Software\Microsoft\Windows\CurrentVersion\RunOnce' /v QelSetup /d 'C:\y.exe' /f
run "$package"
rc=$?
check "RunOnce: exit code 0" "[ $rc -eq 0 ]"
check "RunOnce: QelSetup is tested first" "grep -qF 'QelCheck: has QelSetup in RunOnce, quit!' '$log'"
reg_quiet delete 'HKLM\Software\Microsoft\Windows\CurrentVersion\RunOnce' /v QelSetup /f
rm -f "$log"
run "$package"
check "RunOnce: then Qel" "grep -qF 'QelCheck: has Qel in RunOnce, quit!' '$log' && [ ! -e '$record' ]"

# 4. The installer's mutex, held by another process.
fresh
check "mutex: holder ready" "hold 'Orvane Setup'"
run "$package"
rc=$?
check "mutex held (6.1): exit code 0" "[ $rc -eq 0 ]"
check "mutex held (6.1): running" "grep -qF 'QelCheck: Setup(Orvane Setup) is running, quit!' '$log'"
# Version 5 (for QelCheck.exe alone) looks for "Global\Orvane Setup" only.
reg_quiet add 'HKCU\Software\Wine\AppDefaults\QelCheck.exe' /v Version /d winxp64 /f
rm -f "$log"
run "$package"
check "mutex held, version 5.2: plain name not seen, installer started" \
  "wait_for_record && grep -qF 'Begin WinExec' '$log'"
release
fresh
reg_quiet add 'HKCU\Software\Wine\AppDefaults\QelCheck.exe' /v Version /d winxp64 /f
check "mutex: holder of the global name ready" "hold 'Global\\Orvane Setup'"
run "$package"
check "global mutex held, version 5.2: running" "grep -qF 'is running, quit!' '$log' && [ ! -e '$record' ]"
release
reg_quiet delete 'HKCU\Software\Wine\AppDefaults\QelCheck.exe' /f
# Another user's mutex: it exists but cannot be opened.
fresh
check "mutex: denying holder ready" "hold 'Orvane Setup' --deny"
run "$package"
rc=$?
check "mutex denied: exit code 0" "[ $rc -eq 0 ]"
check "mutex denied: counts as running" "grep -qF 'is running, quit!' '$log' && [ ! -e '$record' ]"
release

# 5. No "\" in the command line: no settings, the command is still started.
fresh
run QelSetup.exe
rc=$?
check "no backslash: exit code 0" "[ $rc -eq 0 ]"
check "no backslash: no settings, start logged" \
  "! grep -q CopyFile '$log' && ! grep -q REGWriteString '$log' && grep -qF 'QelCheck: Begin WinExec(QelSetup.exe)...' '$log'"

# 6. Empty command line, the log's size rule, an over-long command line.
fresh
head -c 1048576 /dev/zero | tr '\0' x >"$log"
run
rc=$?
check "empty command line: exit code 0" "[ $rc -eq 0 ]"
check "log of exactly 1 MB kept" "[ \$(stat -c %s '$log') -gt 1048576 ] && tail -c 200 '$log' | grep -qF 'QelCheck: lpCmdLine = NULL'"
head -c 1048577 /dev/zero | tr '\0' x >"$log"
run
check "log of 1 MB + 1 started afresh" "[ \$(wc -l <'$log') -eq 1 ] && grep -qF 'QelCheck: lpCmdLine = NULL' '$log'"
rm -f "$log"
run "$share_win\\$(printf 'a%.0s' $(seq 1 250)).exe"
rc=$?
check "over-long command line: exit code 0" "[ $rc -eq 0 ]"
check "over-long command line: refused" "grep -qF 'command line too long' '$log' && sleep 0.3 && [ ! -e '$record' ]"

if [ "$failures" -ne 0 ]; then
  echo "check_wine: $failures failed"
  exit 1
fi
echo "check_wine: all passed"
