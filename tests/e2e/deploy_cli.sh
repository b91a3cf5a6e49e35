#!/usr/bin/env bash
# qel-deploy refuses a bad selection before anything changes, and exits
# non-zero without touching any account when the staging fails.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
deploy="${QEL_BUILD:-$here/build/host}/tools/deploy-cli/qel-deploy"
world=$(mktemp -d "${TMPDIR:-/tmp}/qel-cli.XXXXXX")
trap 'rm -rf -- "$world"' EXIT

scripts="$world/C/WINDOWS/SYSVOL/sysvol/test.lan/scripts"
mkdir -p "$scripts" "$world/C/Program Files/Orvane" "$world/C/Packages"
printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Netlogon\\Parameters]\r\n"Scripts"="%%SystemRoot%%\\\\SYSVOL\\\\sysvol\\\\test.lan\\\\scripts"\r\n' \
  > "$world/registry.reg"
cp "$here/samples/sample-domain.ldif" "$world/domain.ldif"
cp "$world/domain.ldif" "$world/original.ldif"
echo package > "$world/C/Packages/QelSetup.exe"

failures=0
# refused <expected status> <text in the message> -- arguments
refused() {
  local want=$1 text=$2 status=0
  shift 3
  "$deploy" --domain "$world/domain.ldif" --root "$world" "$@" > "$world/out.txt" 2>&1 || status=$?
  if [ "$status" != "$want" ] || ! grep -qF -- "$text" "$world/out.txt"; then
    echo "FAIL: qel-deploy $* -> status $status (want $want, \"$text\")"
    cat "$world/out.txt"
    failures=$((failures + 1))
  fi
  if ! cmp -s "$world/domain.ldif" "$world/original.ldif" || [ -e "$scripts/QelInstall.bat" ]; then
    echo "FAIL: qel-deploy $* changed something"
    failures=$((failures + 1))
  fi
}

package=(--center-ip 10.1.2.3 --package 'C:\Packages\QelSetup.exe')
refused 2 'no account "nobody"' -- add --user swalker --user nobody "${package[@]}"
refused 2 'no container "OU=Nowhere' -- add --container "OU=Nowhere,DC=test,DC=lan" "${package[@]}"
refused 2 'is an account, not a container' -- add --container "CN=Sam Walker,CN=Users,DC=test,DC=lan" "${package[@]}"
refused 2 'is not an address' -- add --user swalker --center-ip 10.1.2.300 --package 'C:\Packages\QelSetup.exe'
refused 2 'no install package' -- add --user swalker --center-ip 10.1.2.3 --package 'C:\Packages\Missing.exe'
refused 2 'add needs --center-ip and --package' -- add --user swalker
refused 2 'give the operation' -- --user swalker
refused 2 'belong to add' -- remove --user swalker --center-ip 10.1.2.3
# No QelCheck.exe beside the wizard: the copy fails, no account is changed.
refused 1 'QelCheck.exe copy error' -- add --user swalker "${package[@]}"
# A "Scripts" value naming a folder that is not there: no account is
# changed in either operation.
cp "$world/registry.reg" "$world/registry.kept"
sed -i 's/test.lan\\\\scripts/gone\\\\scripts/' "$world/registry.reg"
refused 1 'cannot be reached (error 3). No account was changed.' -- remove --user swalker
refused 1 'cannot be reached (error 3). No account was changed.' -- add --user swalker "${package[@]}"
mv "$world/registry.kept" "$world/registry.reg"
refused 2 'cannot be named in code page 1252: the characters "王芳"' -- --codepage 1252 add --user 王芳 "${package[@]}"
LANG=C refused 2 'cannot be named in code page 1252' -- add --user 王芳 "${package[@]}"
refused 2 '--codepage is 1252 or 936' -- --codepage 950 add --user 王芳 "${package[@]}"

# A Chinese account in code page 936: the wrapper is stored under its Unicode
# name and holds GBK text; removal puts the account's own script back.
check() {
  if ! eval "$2"; then
    echo "FAIL: $1"
    failures=$((failures + 1))
  fi
}
echo checker > "$world/C/Program Files/Orvane/QelCheck.exe"
LANG=zh_CN.UTF-8 "$deploy" --domain "$world/domain.ldif" --root "$world" add --user 王芳 --user 李娜 "${package[@]}" \
  > "$world/out.txt" 2>&1 || { echo "FAIL: add in code page 936"; cat "$world/out.txt"; failures=$((failures + 1)); }
check "the wrapper under its Unicode name" '[ -f "$scripts/Qel王芳.bat" ]'
gbk_call=$(printf 'CALL \\\\DC1\\NetLogon\\\xb5\xc7\xc2\xbc.bat')
check "the wrapper's CALL line in GBK" 'grep -qF "$gbk_call" "$scripts/Qel王芳.bat"'
check "the progress lines in UTF-8" 'grep -qx "    王芳" "$world/out.txt"'
"$deploy" --domain "$world/domain.ldif" --list > "$world/list.txt"
check "the accounts point at the product" 'grep -qx "$(printf "王芳\tQel王芳.bat")" "$world/list.txt" &&
  grep -qx "$(printf "李娜\tQelInstall.bat")" "$world/list.txt"'
"$deploy" --codepage 936 --domain "$world/domain.ldif" --root "$world" remove --container "OU=华东区,DC=test,DC=lan" \
  > "$world/out.txt" 2>&1 || { echo "FAIL: remove in code page 936"; cat "$world/out.txt"; failures=$((failures + 1)); }
"$deploy" --domain "$world/domain.ldif" --list > "$world/list.txt"
check "removal restores 登录.bat" 'grep -qx "$(printf "王芳\t登录.bat")" "$world/list.txt"'
check "removal deletes the wrapper" '[ ! -e "$scripts/Qel王芳.bat" ]'
LC_ALL=zh_TW.UTF-8 "$deploy" --domain "$world/domain.ldif" --root "$world" remove --user 李娜 > "$world/out.txt" 2>&1 || true
check "a Traditional Chinese locale says it works in 936" 'grep -qF "working in code page 936" "$world/out.txt"'

# The runs above rewrote the domain file: what follows must leave it as it is now.
cp "$world/domain.ldif" "$world/original.ldif"
rm -f "$scripts/QelInstall.bat"

# A registry file that does not parse: its own message with file and line.
cp "$world/registry.reg" "$world/registry.good"
printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software]\r\n"a"="open\r\n' > "$world/registry.reg"
cp "$world/registry.reg" "$world/registry.bad"
refused 2 'registry.reg, line 4: unterminated string' -- add --user swalker "${package[@]}"
cmp -s "$world/registry.reg" "$world/registry.bad" || { echo "FAIL: the bad registry file was changed"; failures=$((failures + 1)); }
cp "$world/registry.good" "$world/registry.reg"

# --list with a journal left beside the file: shown, and both files kept.
printf 'M %s scriptPath=%s\n' "$(printf 'CN=Alice Smith,OU=Sales,DC=test,DC=lan' | base64 -w0)" \
  "$(printf 'Qelasmith.bat' | base64 -w0)" > "$world/domain.ldif.journal"
cp "$world/domain.ldif.journal" "$world/journal.kept"
status=0
"$deploy" --domain "$world/domain.ldif" --list > "$world/out.txt" 2>&1 || status=$?
if [ "$status" != 0 ] || ! grep -q 'Qelasmith.bat' "$world/out.txt" || ! cmp -s "$world/domain.ldif" "$world/original.ldif" ||
  ! cmp -s "$world/domain.ldif.journal" "$world/journal.kept"; then
  echo "FAIL: --list with a journal (status $status) showed the wrong scripts or changed the files"
  cat "$world/out.txt"
  failures=$((failures + 1))
fi
rm -f "$world/domain.ldif.journal"

if [ "$failures" -ne 0 ]; then
  echo "deploy_cli: $failures failure(s)"
  exit 1
fi
echo "deploy_cli: passed"
