#!/usr/bin/env bash
# The deployment against a real Active Directory: a throwaway Samba domain
# controller in a private network namespace, loaded with the sample domain,
# and the same add and remove run as on the embedded domain store. Afterwards
# the accounts (script paths and flags) and the staged files must be the same
# in both; a difference is a fault in one of the two back-ends. The back-end
# checks of tests/samba (samba_live_test) run against the controller too.
# The controller is stopped at the end, whatever happened.
#
# Needs root (namespaces) and the Samba packages of tools/setup-debian.sh.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=${QEL_BUILD:-$here/build/host}
deploy="$build/tools/deploy-cli/qel-deploy"
live="$build/tests/samba/samba_live_test"
samba_tools="$here/tools/samba"

if [ "${QEL_SAMBA_INSIDE-}" != 1 ]; then
  if [ "$(id -u)" != 0 ]; then
    # Namespaces and the controller need root: through sudo when it asks for no password.
    sudo -n true 2>/dev/null || { echo "samba_dc: needs root (or sudo without a password) for its network namespace" >&2; exit 1; }
    exec sudo -n --preserve-env=QEL_BUILD bash "$0" "$@"
  fi
  command -v samba >/dev/null || { echo "samba_dc: samba is not installed (tools/setup-debian.sh)" >&2; exit 1; }
  "$deploy" --help | grep -q -- --samba || { echo "samba_dc: $deploy was built without Samba support" >&2; exit 1; }
  QEL_SAMBA_INSIDE=1 exec "$samba_tools/netns.sh" "$0" "$@"
fi

work=$(mktemp -d /tmp/qel-samba-e2e.XXXXXX)
dc=$work/dc
cleanup() {
  "$samba_tools/dc.sh" stop "$dc" || true
  rm -rf -- "$work"
}
trap cleanup EXIT
failures=0
fail() {
  echo "samba_dc: FAIL: $*" >&2
  failures=$((failures + 1))
}

"$samba_tools/dc.sh" provision "$dc" >/dev/null
"$samba_tools/dc.sh" load "$dc" "$here/samples/sample-domain.ldif" >/dev/null 2>"$work/load.err" ||
  { cat "$work/load.err" >&2; exit 1; }
conf=$("$samba_tools/dc.sh" start "$dc" | tail -n 1)
# The administrator's Kerberos ticket: the password goes in on stdin, from
# the file the provisioning left.
export KRB5_CONFIG=$dc/private/krb5.conf KRB5CCNAME=FILE:$work/krb5cc
kinit Administrator@TEST.LAN < "$dc/admin.pass" > /dev/null
netlogon=$dc/state/sysvol/test.lan/scripts
[ -d "$netlogon" ] || { echo "samba_dc: no NETLOGON folder $netlogon" >&2; exit 1; }

# Two Windows worlds alike: the wizard's folder with its checker, the install
# package, and the accounts' own logon scripts in the NETLOGON folder.
world() {  # world ROOT SCRIPTS
  mkdir -p "$1/C/Program Files/Orvane" "$1/C/Packages" "$2/scripts"
  echo "QelCheck stand-in" > "$1/C/Program Files/Orvane/QelCheck.exe"
  echo "Orvane Qel install package" > "$1/C/Packages/QelSetup.exe"
  printf '@ECHO OFF\r\nNET USE H: \\\\DC1\\home\r\n' > "$2/logon.bat"
  printf '@ECHO OFF\r\nECHO sales\r\n' > "$2/scripts/sales.cmd"
}
store_root=$work/store
store_scripts=$store_root/C/WINDOWS/SYSVOL/sysvol/test.lan/scripts
world "$store_root" "$store_scripts"
printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Netlogon\\Parameters]\r\n"Scripts"="%%SystemRoot%%\\\\SYSVOL\\\\sysvol\\\\test.lan\\\\scripts"\r\n' \
  > "$store_root/registry.reg"
cp "$here/samples/sample-domain.ldif" "$work/domain.ldif"
samba_root=$work/samba
world "$samba_root" "$netlogon"

# The accounts both domains hold, as "name TAB script path TAB flags".
accounts() {  # accounts store|samba
  if [ "$1" = store ]; then
    python3 "$samba_tools/ldif-to-samba.py" --accounts "$work/domain.ldif"
  else
    "$samba_tools/dc.sh" accounts "$dc"
  fi
}
common() {  # the lines of accounts present on both sides
  accounts store > "$work/store.tsv"
  accounts samba > "$work/samba.tsv"
  awk -F'\t' 'NR == FNR { names[$1] = 1; next } ($1 in names)' "$work/samba.tsv" "$work/store.tsv" > "$work/store.common"
  awk -F'\t' 'NR == FNR { names[$1] = 1; next } ($1 in names)' "$work/store.tsv" "$work/samba.tsv" > "$work/samba.common"
}
compare() {  # compare WHEN
  common
  if ! diff -u "$work/store.common" "$work/samba.common" > "$work/accounts.diff"; then
    fail "$1: the accounts differ (store -, Samba +)"
    cat "$work/accounts.diff" >&2
  fi
  if ! diff -r "$store_scripts" "$netlogon" > "$work/files.diff"; then
    fail "$1: the NETLOGON folders differ"
    cat "$work/files.diff" >&2
  fi
}

compare "before the runs"
cp "$work/store.common" "$work/original.common"
[ "$(wc -l < "$work/store.common")" -ge 20 ] || fail "fewer than 20 accounts in both domains"

# The back-end checks against the controller and the same domain in the store.
if ! QEL_SAMBA_CONF=$conf QEL_SAMBA_LDIF=$here/samples/sample-domain.ldif "$live" > "$work/live.out" 2>&1; then
  fail "samba_live_test"
  cat "$work/live.out" >&2
else
  grep -E '^\[  PASSED  \]' "$work/live.out" || true
fi
compare "after the back-end checks"

selection=(--container "OU=Sales,DC=test,DC=lan" --user swalker --user jdoe --user hking --user rscott)
run() {  # run OPERATION ARGS... (Samba reached as $mode)
  local op=$1 credentials=()
  shift
  [ "$mode" = kerberos ] && credentials=(--kerberos)
  "$deploy" --domain "$work/domain.ldif" --root "$store_root" "$op" "${selection[@]}" "$@" \
    > "$work/$op.store.out" 2>&1 || fail "$op on the store: status $? ($(tail -n 1 "$work/$op.store.out"))"
  "$deploy" --samba "$conf" "${credentials[@]}" --root "$samba_root" "$op" "${selection[@]}" "$@" \
    > "$work/$op.samba.out" 2>&1 || fail "$op on Samba ($mode): status $? ($(tail -n 1 "$work/$op.samba.out"))"
  # The same lines. A directory server hands out the accounts below a
  # container in an order of its own, so the lines are compared as sets.
  grep -q "^qel-deploy: [0-9]* directory requests$" "$work/$op.samba.out" ||
    fail "$op on Samba did not print its directory requests"
  # The record each run names lies in its own world.
  if ! diff -u <(grep -v '^Run record: ' "$work/$op.store.out" | sort) \
    <(grep -v '^Run record: ' "$work/$op.samba.out" | grep -v " directory requests$" | sort) > "$work/$op.diff"; then
    fail "$op: the runs printed different lines (store -, Samba +)"
    cat "$work/$op.diff" >&2
  fi
  grep -h "Completed" "$work/$op.samba.out" || fail "$op on Samba did not complete"
}

# Once with the administrator's ticket (LDAP, and script paths through
# Samba's network-management library), once as root on the
# controller in its own database; the second starts where the first ended.
for mode in kerberos machine; do
  run add --center-ip 192.168.1.10 --package 'C:\Packages\QelSetup.exe'
  compare "after adding ($mode)"
  grep -q "Qelswalker.bat" "$work/samba.common" || fail "swalker does not run its wrapper on Samba"
  [ -f "$netlogon/QelInstall.bat" ] || fail "no QelInstall.bat in the controller's NETLOGON folder"

  run remove --remove-when-exist
  compare "after removing ($mode)"
  # Nothing lost: every account that ran a script of its own before has it
  # back (blanks at its start aside); only the product's batches are gone.
  awk -F'\t' 'NR == FNR { after[$1] = $2; next }
    tolower($2) ~ /^ *qel/ { next }
    { own = $2; sub(/^ +/, "", own) }
    after[$1] != own { print "samba_dc: " $1 " had [" $2 "], now [" after[$1] "]"; bad = 1 }
    END { exit bad }' "$work/samba.common" "$work/original.common" >&2 ||
    fail "an account's own logon script was not given back"
done

# A Chinese account in code page 936, seen as a Windows client sees the
# NETLOGON share (over SMB): the wrapper is listed under its Unicode name and
# holds GBK text; removal gives the account its own "登录.bat" back.
smb() { smbclient -s "$conf" //dc1.test.lan/netlogon -U "Administrator%$(cat "$dc/admin.pass")" -c "$1" 2>&1; }
printf '@ECHO OFF\r\nECHO own\r\n' > "$netlogon/登录.bat"
"$deploy" --samba "$conf" --kerberos --codepage 936 --root "$samba_root" add --user 王芳 --user 李娜 \
  --center-ip 192.168.1.10 --package 'C:\Packages\QelSetup.exe' > "$work/zh-add.out" 2>&1 ||
  fail "adding 王芳 on Samba: $(tail -n 3 "$work/zh-add.out")"
smb ls > "$work/zh-ls.out"
grep -qF "Qel王芳.bat" "$work/zh-ls.out" || fail "Qel王芳.bat is not listed over SMB: $(cat "$work/zh-ls.out")"
grep -qF "登录.bat" "$work/zh-ls.out" || fail "登录.bat is not listed over SMB"
smb "get Qel王芳.bat $work/zh-wrapper.bat" > /dev/null
gbk_call=$(printf 'CALL \\\\DC1\\NetLogon\\\xb5\xc7\xc2\xbc.bat')
grep -qF "$gbk_call" "$work/zh-wrapper.bat" 2>/dev/null || fail "the wrapper read over SMB has no GBK CALL line"
accounts samba > "$work/samba.tsv"
grep -qP '^王芳\tQel王芳.bat\t' "$work/samba.tsv" || fail "王芳 does not run its wrapper on Samba"
grep -qP '^李娜\tQelInstall.bat\t' "$work/samba.tsv" || fail "李娜 does not run the install batch on Samba"
"$deploy" --samba "$conf" --kerberos --codepage 936 --root "$samba_root" remove --container "OU=华东区,DC=test,DC=lan" \
  > "$work/zh-remove.out" 2>&1 || fail "removing on Samba: $(tail -n 3 "$work/zh-remove.out")"
accounts samba > "$work/samba.tsv"
grep -qP '^王芳\t登录.bat\t' "$work/samba.tsv" || fail "王芳's own 登录.bat was not given back"
smb ls > "$work/zh-ls.out"
grep -qF "Qel王芳.bat" "$work/zh-ls.out" && fail "Qel王芳.bat is still listed over SMB"
grep -qF "登录.bat" "$work/zh-ls.out" || fail "登录.bat is gone from the share"

# What-if, record and undo on the controller (as root, in its database): a
# what-if writes nothing and lists what the run then does; undo of the add
# run and of the remove run gives the accounts and the NETLOGON folder back.
samba_snapshot() {  # samba_snapshot NAME
  accounts samba > "$work/$1.accounts"
  rm -rf "$work/$1.netlogon" && cp -a "$netlogon" "$work/$1.netlogon"
}
samba_same() {  # samba_same A B WHEN
  diff -u "$work/$1.accounts" "$work/$2.accounts" > "$work/same.diff" || { fail "$3: accounts differ"; cat "$work/same.diff" >&2; }
  diff -r "$work/$1.netlogon" "$work/$2.netlogon" > "$work/same.diff" || { fail "$3: NETLOGON differs"; cat "$work/same.diff" >&2; }
}
samba_deploy() { "$deploy" --samba "$conf" --root "$samba_root" "$@"; }
for op in add remove; do
  args=("${selection[@]}")
  [ "$op" = add ] && args+=(--center-ip 192.168.1.10 --package 'C:\Packages\QelSetup.exe')
  samba_snapshot "$op.before"
  samba_deploy "$op" "${args[@]}" --what-if > "$work/$op.whatif.out" 2>&1 || fail "$op what-if on Samba: status $?"
  samba_snapshot "$op.whatif"
  samba_same "$op.before" "$op.whatif" "$op what-if on Samba"
  samba_deploy "$op" "${args[@]}" > "$work/$op.run.out" 2>&1 || fail "$op on Samba: status $?"
  record=$(ls -t "$samba_root"/C/ProgramData/Orvane/Qel/Log/QelScript-*.csv | head -n 1)
  diff -u <(python3 "$here/tests/e2e/record_lines.py" --whatif "$work/$op.whatif.out") \
    <(python3 "$here/tests/e2e/record_lines.py" "$record") > "$work/$op.lines.diff" ||
    { fail "$op on Samba: the what-if and the run's record differ"; cat "$work/$op.lines.diff" >&2; }
  [ -s "$work/$op.lines.diff" ] || [ "$(python3 "$here/tests/e2e/record_lines.py" "$record" | wc -l)" -ge 5 ] ||
    fail "$op on Samba: the record has fewer than five accounts"
  samba_snapshot "$op.after"
  cmp -s "$work/$op.before.accounts" "$work/$op.after.accounts" && fail "$op on Samba changed no account"
  samba_deploy undo "$record" > "$work/$op.undo.out" 2>&1 || fail "undo of $op on Samba: status $? ($(tail -n 3 "$work/$op.undo.out"))"
  samba_snapshot "$op.undone"
  samba_same "$op.before" "$op.undone" "undo of $op on Samba"
  # The removal starts from the added state.
  [ "$op" = add ] && samba_deploy add "${args[@]}" > /dev/null 2>&1
done
# Undoing the removal brought the added state back; a removal ends it.
samba_deploy remove "${selection[@]}" --remove-when-exist > /dev/null 2>&1 || fail "the last removal on Samba failed"
samba_snapshot final
samba_same add.before final "add, remove, undo, add, remove, undo, remove on Samba"

# The terminal wizard on the controller: the start-up gate lets it in (its
# computer name is the controller's), the user page shows the directory, and
# the run changes the two accounts chosen there.
wizard="$build/wizard/ui/qelscript"
wizard_root=$work/wizard
mkdir -p "$wizard_root/C/Program Files/Orvane" "$wizard_root/C/pkg"
echo "QelCheck stand-in" > "$wizard_root/C/Program Files/Orvane/QelCheck.exe"
echo "Orvane Qel install package" > "$wizard_root/C/pkg/QelSetup.exe"
printf 'add\nnext\nswalker;rscott\nn\nnext\n\nC:\\pkg\\QelSetup.exe\nnext\n10.1.2.3\n\nnext\nfinish\n' |
  QEL_HOST_ROOT=$wizard_root timeout 120 "$wizard" --samba "$conf" --kerberos > "$work/wizard.out" 2>&1 ||
  fail "the terminal wizard failed: $(tail -n 5 "$work/wizard.out")"
grep -q "^Completed, total: 2 , Succeed: 2.$" "$work/wizard.out" || { fail "the wizard's run did not complete"; tail -n 12 "$work/wizard.out" >&2; }
grep -qF "Sales" "$work/wizard.out" || fail "the wizard's user page did not show the directory"
accounts samba > "$work/samba.tsv"
grep -qP '^swalker\tQelswalker.bat\t' "$work/samba.tsv" || fail "the wizard did not give swalker its wrapper"
grep -qP '^rscott\tQelInstall.bat\t' "$work/samba.tsv" || fail "the wizard did not give rscott the batch"

if [ "$failures" -ne 0 ]; then
  echo "samba_dc: $failures failure(s)"
  exit 1
fi
echo "samba_dc: passed ($(wc -l < "$work/samba.common") accounts compared, with a ticket and in the database)"
