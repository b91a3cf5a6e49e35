#!/usr/bin/env bash
# End to end: the host program qelcheck as the install batch would start it,
# over a registry file, a share folder and a temporary folder under a fresh
# root, with a stand-in installer that records how it was started and a
# helper process that holds the installer's mutex.
#   QEL_HOST_BUILD: the host build folder (default build/host)
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=${QEL_HOST_BUILD:-$here/build/host}
qelcheck=$build/check/qelcheck
installer=$build/tests/check/check_fake_installer
holder=$build/tests/check/check_mutex_holder
for f in "$qelcheck" "$installer" "$holder"; do
  [ -x "$f" ] || { echo "missing $f (build the host build first)"; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/qelcheck-e2e.XXXXXX")
holder_pid=""
cleanup() {
  if [ -n "$holder_pid" ]; then
    touch "$work/holder.stop"
    wait "$holder_pid" 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
check() {
  if eval "$2"; then echo "ok   $1"; else echo "FAIL $1"; failures=$((failures + 1)); fi
}

root=$work/root
reg=$work/registry.reg
mutexdir=$work/mutex
mkdir -p "$root/C/netlogon" "$root/C/Users/u/Temp" "$mutexdir"
cp "$installer" "$root/C/netlogon/QelSetup.exe"
printf '[DEFAULT]\r\nCENTERIP=10.20.30.40\r\n' >"$root/C/netlogon/SetupSet.ini"
log=$root/C/Users/u/Temp/QelCheck.log
record=$root/C/netlogon/QelSetup.started
package='\\DC1\NetLogon\QelSetup.exe'

run() {
  timeout 30 "$qelcheck" --root "$root" --registry "$reg" --temp 'C:\Users\u\Temp\' \
    --share '\\DC1\NetLogon=C:\netlogon' --mutex-dir "$mutexdir" "$@"
}
seed_registry() {
  { printf 'Windows Registry Editor Version 5.00\r\n\r\n'; [ $# -eq 0 ] || printf '%s\r\n' "$@"; } >"$reg"
}
wait_for_record() {
  for _ in $(seq 1 100); do [ -s "$record" ] && return 0; sleep 0.05; done
  return 1
}

# 1. Nothing installed: settings copied, center recorded, installer started.
seed_registry
run -- "$package"
rc=$?
check "fresh client: exit code 0" "[ $rc -eq 0 ]"
check "fresh client: installer started with the package path" \
  "wait_for_record && grep -qxF '$root/C/netlogon/QelSetup.exe' '$record'"
check "fresh client: SetupSet.ini copied to the work folder" \
  "cmp -s '$root/C/netlogon/SetupSet.ini' '$root/C/Users/u/Temp/QelSetup/SetupSet.ini'"
check "fresh client: CenterIP in the registry" "grep -qiF '\"CenterIP\"=\"10.20.30.40\"' '$reg'"
check "fresh client: log names the start" \
  "grep -qF 'QelCheck: Begin WinExec(\\\\DC1\\NetLogon\\QelSetup.exe)...' '$log'"
check "log head format" \
  "grep -qE '^\\[[0-9]+\\] [0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}:[0-9]{3} : \\[INF\\]QelCheck: REGWriteString' '$log'"

# 2. Installed: stops at "type".
rm -f "$record" "$log"
seed_registry '[HKEY_LOCAL_MACHINE\Software\Orvane\Qel]' '"type"=dword:00000031'
run -- "$package"
rc=$?
check "installed: exit code 0" "[ $rc -eq 0 ]"
check "installed: logged" "grep -qF 'QelCheck: Software\\Orvane\\Qel: Type=1, quit!' '$log'"
check "installed: nothing started" "sleep 0.3; [ ! -e '$record' ]"

# 3. Pending after a restart.
rm -f "$log"
seed_registry '[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\RunOnce]' '"QelSetup"="C:\\x.exe"'
run -- "$package"
rc=$?
check "RunOnce: exit code 0" "[ $rc -eq 0 ]"
check "RunOnce: logged" "grep -qF 'QelCheck: has QelSetup in RunOnce, quit!' '$log'"

# 4. The installer is running in another process (version 6.1: plain name).
rm -f "$log"
seed_registry
"$holder" "Orvane Setup" "$work/holder.ready" "$work/holder.stop" --mutex-dir "$mutexdir" --seconds 60 &
holder_pid=$!
for _ in $(seq 1 100); do [ -e "$work/holder.ready" ] && break; sleep 0.05; done
run -- "$package"
rc=$?
check "mutex held: exit code 0" "[ $rc -eq 0 ]"
check "mutex held: logged" "grep -qF 'QelCheck: Setup(Orvane Setup) is running, quit!' '$log'"
# On version 5 the checker looks for "Global\Orvane Setup" instead.
rm -f "$log" "$record"
run --version 5.2 -- "$package"
rc=$?
check "mutex held, version 5: exit code 0" "[ $rc -eq 0 ]"
check "mutex held, version 5: not seen, installer started" "wait_for_record && grep -qF 'Begin WinExec' '$log'"
touch "$work/holder.stop"
wait "$holder_pid"
holder_pid=""

# 5. Empty command line; and the log's size rule.
head -c 1048577 /dev/zero | tr '\0' x >"$log"
run
rc=$?
check "empty command line: exit code 0" "[ $rc -eq 0 ]"
check "empty command line: logged, over-size log started afresh" \
  "[ \$(wc -l <'$log') -eq 1 ] && grep -qF 'QelCheck: lpCmdLine = NULL' '$log'"

# 6. A command line longer than 259 characters is refused.
rm -f "$log" "$record"
run -- "\\\\DC1\\NetLogon\\$(printf 'a%.0s' $(seq 1 250)).exe"
rc=$?
check "over-long command line: exit code 0" "[ $rc -eq 0 ]"
check "over-long command line: refused" "grep -qF 'command line too long' '$log' && sleep 0.3 && [ ! -e '$record' ]"

if [ "$failures" -ne 0 ]; then
  echo "check_host: $failures failed"
  exit 1
fi
echo "check_host: all passed"
