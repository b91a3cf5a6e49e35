#!/usr/bin/env bash
# The Windows build's production path under Wine against the stand-in
# netapi32.dll and ActiveDS.dll gives the same result as the host's
# qel-deploy over the domain store: a whole add run and a whole remove run
# over the same selection leave the same domain file, the same account
# listing and the same NETLOGON files (the install batch names the
# controller, which is this Wine computer on one side and DC1 on the other).
#
# Builds: QEL_WIN64_BUILD (default build/win64), QEL_HOST_BUILD (default
# build/host). Wine prefix: QEL_WINEPREFIX (default build/wineprefix).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
win64=${QEL_WIN64_BUILD:-$here/build/win64}
host=${QEL_HOST_BUILD:-$here/build/host}
runner="$win64/tests/standins/standin-deploy.exe"
deploy="$host/tools/deploy-cli/qel-deploy"
for f in "$runner" "$win64/tools/standins/netapi32.dll" "$win64/tools/standins/ActiveDS.dll" "$deploy"; do
  if [ ! -f "$f" ]; then
    echo "standins_wine: missing $f (build win64 and host first)" >&2
    exit 1
  fi
done

world=$(mktemp -d "${TMPDIR:-/tmp}/qel-standins.XXXXXX")
trap 'rm -rf -- "$world"' EXIT

# The Windows side: the runner with the stand-ins and the checker beside it.
w="$world/wine"
mkdir -p "$w/bin" "$w/scripts"
cp "$runner" "$win64/tools/standins/netapi32.dll" "$win64/tools/standins/ActiveDS.dll" "$w/bin/"
if [ -f "$win64/check/QelCheck.exe" ]; then cp "$win64/check/QelCheck.exe" "$w/bin/QelCheck.exe"
else printf 'checker stand-in' > "$w/bin/QelCheck.exe"; fi
printf 'install package' > "$w/QelSetup.exe"
cp "$here/samples/sample-domain.ldif" "$w/domain.ldif"
winpath() { printf 'Z:%s' "${1//\//\\}"; }

# The host side: the controller's world of qel-deploy.
h="$world/host"
scripts="$h/C/WINDOWS/SYSVOL/sysvol/test.lan/scripts"
mkdir -p "$scripts" "$h/C/Program Files/Orvane" "$h/C/Packages"
printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Netlogon\\Parameters]\r\n"Scripts"="%%SystemRoot%%\\\\SYSVOL\\\\sysvol\\\\test.lan\\\\scripts"\r\n' \
  > "$h/registry.reg"
cp "$w/bin/QelCheck.exe" "$h/C/Program Files/Orvane/QelCheck.exe"
cp "$w/QelSetup.exe" "$h/C/Packages/QelSetup.exe"
cp "$here/samples/sample-domain.ldif" "$h/domain.ldif"

selection=(--user swalker --user rscott --user jdoe --user bjones --user hking --user wwang
  --container "OU=Engineering,DC=test,DC=lan" --container "OU=East,OU=Sales,DC=test,DC=lan")

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

run_wine() {
  QEL_STANDIN_DOMAIN="$(winpath "$w/domain.ldif")" WINEDLLOVERRIDES="netapi32,activeds=n;mscoree,mshtml=" \
    QEL_WINE_TIMEOUT=60 "$here/tools/wine-run.sh" "$w/bin/standin-deploy.exe" "$@" \
    --scripts-folder "$(winpath "$w/scripts")"
}

# compare <step>: the two sides after the same step.
compare() {
  local step=$1 computer
  computer=$(sed -n 's/^computer \(.*\)\r\?$/\1/p' "$world/wine-$step.txt" | tr -d '\r')
  [ -n "$computer" ] || fail "$step: the Windows run did not start"
  [ ! -e "$w/domain.ldif.journal" ] || fail "$step: the stand-in left its journal (domain file not written at exit)"
  cmp -s "$w/domain.ldif" "$h/domain.ldif" || {
    fail "$step: the domain files differ"
    diff "$h/domain.ldif" "$w/domain.ldif" | head -20
  }
  "$deploy" --domain "$w/domain.ldif" --list > "$world/list-wine.txt"
  "$deploy" --domain "$h/domain.ldif" --list > "$world/list-host.txt"
  cmp -s "$world/list-wine.txt" "$world/list-host.txt" || fail "$step: the account listings differ"
  # The NETLOGON files, with the controller's name made the same.
  rm -rf "$world/n-wine" "$world/n-host"
  cp -r "$w/scripts" "$world/n-wine"
  cp -r "$scripts" "$world/n-host"
  local f
  for f in "$world/n-wine"/*; do
    [ -f "$f" ] || continue
    sed -i "s/\\\\\\\\$computer\\\\/\\\\\\\\DC1\\\\/g" "$f"
  done
  diff -r "$world/n-host" "$world/n-wine" > "$world/n-diff.txt" || {
    fail "$step: the NETLOGON files differ"
    head -20 "$world/n-diff.txt"
  }
  echo "$step: $(ls "$w/scripts" | wc -l) NETLOGON files, $(grep -ci $'\tQel' "$world/list-host.txt" || true) accounts with the product's script"
}

# The add run.
status_w=0 status_h=0
run_wine add "${selection[@]}" --center-ip 10.1.2.3 --package "$(winpath "$w/QelSetup.exe")" \
  > "$world/wine-add.txt" 2>&1 || status_w=$?
"$deploy" --domain "$h/domain.ldif" --root "$h" add "${selection[@]}" --center-ip 10.1.2.3 \
  --package 'C:\Packages\QelSetup.exe' > "$world/host-add.txt" 2>&1 || status_h=$?
[ "$status_w" = "$status_h" ] || fail "add: exit status $status_w under Wine, $status_h on the host"
grep -q 'total 16, succeeded 16' "$world/wine-add.txt" || { fail "add: counts"; cat "$world/wine-add.txt"; }
grep -q ', total: 16 , Succeed: 16.' "$world/host-add.txt" || { fail "add: host counts"; cat "$world/host-add.txt"; }
[ -f "$w/scripts/Qelswalker.bat" ] && [ -f "$w/scripts/QelInstall.bat" ] || fail "add: nothing staged"
compare add

# The remove run, with the staged files deleted when no account keeps them.
status_w=0 status_h=0
run_wine remove "${selection[@]}" --remove-when-exist > "$world/wine-remove.txt" 2>&1 || status_w=$?
"$deploy" --domain "$h/domain.ldif" --root "$h" remove "${selection[@]}" --remove-when-exist \
  > "$world/host-remove.txt" 2>&1 || status_h=$?
[ "$status_w" = "$status_h" ] || fail "remove: exit status $status_w under Wine, $status_h on the host"
grep -q 'total 18, succeeded 18' "$world/wine-remove.txt" || fail "remove: counts"
grep -q ', total: 18 , Succeed: 18.' "$world/host-remove.txt" || fail "remove: host counts"
[ ! -f "$w/scripts/Qelswalker.bat" ] || fail "remove: wrapper left"
compare remove

# A refused account write: counted, nothing lost, the wrapper kept.
cp "$here/samples/sample-domain.ldif" "$w/domain.ldif"
rm -f "$w/scripts"/*
status_w=0
QEL_STANDIN_FAIL="NetUserSetInfo:swalker=5" run_wine add --user swalker --user asmith --center-ip 10.1.2.3 \
  --package "$(winpath "$w/QelSetup.exe")" > "$world/wine-fail.txt" 2>&1 || status_w=$?
[ "$status_w" = 3 ] || fail "refused write: exit status $status_w (want 3)"
grep -q 'total 2, succeeded 1' "$world/wine-fail.txt" || fail "refused write: counts"
grep -q 'logon.bat' "$w/scripts/Qelswalker.bat" 2>/dev/null || fail "refused write: the wrapper is not kept"
"$deploy" --domain "$w/domain.ldif" --list > "$world/list-fail.txt"
grep -qP '^swalker\tlogon.bat\r?$' "$world/list-fail.txt" || fail "refused write: swalker changed"
grep -qP '^asmith\tQelasmith.bat\r?$' "$world/list-fail.txt" || fail "refused write: asmith not changed"

if [ "$failures" -ne 0 ]; then
  echo "standins_wine: $failures failure(s)"
  for f in "$world"/wine-*.txt; do echo "--- $f"; cat "$f"; done
  exit 1
fi
echo "standins_wine: passed"
