#!/usr/bin/env bash
# The terminal wizard (qelscript, host build) driven from standard input in
# rehearsal mode on the sample domain: an add run (with the parameters
# page's Test against a center stand-in on 127.0.0.1), then a remove run that
# gives every account its previous script back; the end of the input
# cancels; without a domain the start-up gate stops the program.
#
#   QEL_HOST_BUILD  the host build folder (default build/host)
set -eu
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=${QEL_HOST_BUILD:-$here/build/host}
prog=$build/wizard/ui/qelscript
fail() { echo "wizard_terminal: FAIL: $*" >&2; exit 1; }
[ -x "$prog" ] || fail "no $prog (build host first)"

work=$(mktemp -d /tmp/qel-wizard-terminal.XXXXXX)
trap 'rm -rf "$work"' EXIT
sample=$here/samples/sample-domain.ldif
sample_sum=$(sha256sum "$sample" | cut -d' ' -f1)
reh=$work/rehearsal
mkdir -p "$reh/C/Program Files/Orvane" "$reh/C/pkg"
echo "checker" >"$reh/C/Program Files/Orvane/QelCheck.exe"
echo "Qel setup package" >"$reh/C/pkg/QelSetup.exe"
script_of() {  # the scriptPath line of one account in the domain copy
  awk -v a="$1" '$0 == "sAMAccountName: " a {u=1} /^$/{u=0} u && /^scriptPath/{print}' "$reh/domain.ldif"
}

# Cancelled at once (the end of the input on the first page): nothing changes.
printf '' | timeout 60 "$prog" --rehearse "$sample" "$reh" >"$work/cancel.out" 2>&1 || fail "cancel run failed"
grep -q "the wizard is cancelled" "$work/cancel.out" || fail "no cancel on the end of the input"
[ -z "$(ls -A "$reh/C/NETLOGON")" ] || fail "a cancelled wizard staged files"

# What-if: the progress step lists each account's change and writes nothing.
printf 'add\nnext\nbackupop;rscott\nn\nnext\n10.1.2.3\nC:\\pkg\\QelSetup.exe\nwhatif\nfinish\n' |
  timeout 60 "$prog" --rehearse "$sample" "$reh" >"$work/whatif.out" 2>&1 || fail "what-if run failed"
grep -qF '    backupop: "logon.bat" -> "Qelbackupop.bat", wrapper Qelbackupop.bat written; changed:' "$work/whatif.out" ||
  fail "the what-if does not list backupop: $(cat "$work/whatif.out")"
grep -q "^Completed, total: 2 , Succeed: 2.$" "$work/whatif.out" || fail "the what-if has no result line"
grep -q "^What if: nothing was changed.$" "$work/whatif.out" || fail "the what-if does not end with its line"
[ -z "$(ls -A "$reh/C/NETLOGON")" ] || fail "a what-if staged files"
[ -z "$(find "$reh" -name 'QelScript-*.csv')" ] || fail "a what-if wrote a run record"

# Add: two accounts; on the parameters page Next refuses the address
# 0.0.0.0, Test asks a center stand-in on 127.0.0.1, then the address
# 10.1.2.3 is given; the run, Finish.
standin=$build/tools/center-standin/qel-center-standin
[ -x "$standin" ] || fail "no $standin (build host first)"
# The center ports may be held for a moment by another test program: retry.
standin_pid=""
for _ in $(seq 1 30); do
  rm -f "$work/ready"
  "$standin" --exit-after 120 --ready-file "$work/ready" >"$work/standin.out" 2>&1 &
  standin_pid=$!
  for _ in $(seq 1 50); do [ -f "$work/ready" ] && break; kill -0 "$standin_pid" 2>/dev/null || break; sleep 0.1; done
  [ -f "$work/ready" ] && break
  kill "$standin_pid" 2>/dev/null; wait "$standin_pid" 2>/dev/null || true
  standin_pid=""
  sleep 1
done
[ -n "$standin_pid" ] || fail "the center stand-in could not listen on 127.0.0.1: $(cat "$work/standin.out")"
trap 'kill "$standin_pid" 2>/dev/null || true; rm -rf "$work"' EXIT
printf 'add\nnext\nbackupop;rscott\nn\nnext\n\nC:\\pkg\\QelSetup.exe\nnext\ntest 127.0.0.1\n10.1.2.3\n\nnext\nfinish\n' |
  timeout 120 "$prog" --rehearse "$sample" "$reh" >"$work/add.out" 2>&1 || fail "add run failed: $(cat "$work/add.out")"
kill "$standin_pid" 2>/dev/null; wait "$standin_pid" 2>/dev/null || true
grep -qF "Qel System Center IP [0.0.0.0]>" "$work/add.out" || fail "the address did not start at 0.0.0.0"
grep -qF "[The IP address you input is incorrect. Please input again.]" "$work/add.out" || fail "Next took 0.0.0.0"
grep -qF "[Success! The IP address you input is the system center address!]" "$work/add.out" ||
  fail "Test did not find the center stand-in: $(cat "$work/add.out")"
grep -q "10.1.2.3" "$reh/C/NETLOGON/SetupSet.ini" || fail "SetupSet.ini lacks the address given after the test"
grep -q "^Completed, total: 2 , Succeed: 2.$" "$work/add.out" || fail "add run did not complete: $(cat "$work/add.out")"
grep -q '^Run record: C:\\ProgramData\\Orvane\\Qel\\Log\\QelScript-[0-9]\{8\}-[0-9]\{6\}\.csv$' "$work/add.out" ||
  fail "the add run does not name its record"
grep -q '^backupop' <(find "$reh" -name 'QelScript-*.csv' -exec cut -d, -f4 {} +) || fail "the run record lacks backupop"
# Accounts picked in the tree are listed by their display names.
grep -q "^    Backup Operator$" "$work/add.out" || fail "item lines are not indented by four spaces"
for f in QelCheck.exe QelSetup.exe QelInstall.bat SetupSet.ini Qelbackupop.bat; do
  [ -f "$reh/C/NETLOGON/$f" ] || fail "$f missing from NETLOGON after the add run"
done
script_of backupop | grep -q "Qelbackupop.bat" || fail "backupop's script path not changed"
script_of rscott | grep -q "QelInstall.bat" || fail "rscott's script path not set"

# The scripts folder goes away while the wizard waits on its first page
# (the rehearsal makes it at start-up): the run says so and changes nothing.
mkfifo "$work/in"
timeout 120 "$prog" --rehearse "$sample" "$reh" <"$work/in" >"$work/refused.out" 2>&1 &
wizard_pid=$!
exec 3>"$work/in"
for _ in $(seq 1 200); do grep -q "Please select operate type" "$work/refused.out" && break; sleep 0.1; done
mv "$reh/C/NETLOGON" "$reh/C/NETLOGON.kept"
printf 'remove\nnext\nbackupop;rscott\nn\nnext\nfinish\n' >&3
exec 3>&-
wait "$wizard_pid" || fail "refused run failed: $(cat "$work/refused.out")"
mv "$reh/C/NETLOGON.kept" "$reh/C/NETLOGON"
grep -q "^The logon scripts folder .*NETLOGON cannot be reached (error 2). No account was changed.$" \
  "$work/refused.out" || fail "no message for a missing scripts folder: $(cat "$work/refused.out")"
grep -q "^Completed" "$work/refused.out" && fail "a refused run completed"
script_of backupop | grep -q "Qelbackupop.bat" || fail "the refused run changed backupop"

# Remove: back to the first page's other choice; the list is the same two.
printf 'remove\nnext\nbackupop;rscott\nn\nnext\nfinish\n' |
  timeout 120 "$prog" --rehearse "$sample" "$reh" >"$work/remove.out" 2>&1 || fail "remove run failed"
grep -q "^Completed, total: 2 , Succeed: 2.$" "$work/remove.out" || fail "remove run did not complete: $(cat "$work/remove.out")"
grep -q "Delete user's logon script setting:" "$work/remove.out" || fail "no removal heading"
script_of backupop | grep -q "logon.bat" || fail "backupop's previous script not restored"
script_of rscott | grep -q "QelInstall.bat" && fail "rscott still runs the install batch"

# In Simplified Chinese (code page 936): the pages' texts of the Chinese
# templates, the account typed in UTF-8, the wrapper under its Unicode name.
printf 'add\nnext\n王芳\nn\nnext\n\nC:\\pkg\\QelSetup.exe\nnext\n10.1.2.3\n\nnext\nfinish\n' |
  timeout 120 "$prog" --lang 2052 --rehearse "$sample" "$reh" >"$work/zh.out" 2>&1 || fail "Chinese run failed: $(cat "$work/zh.out")"
grep -qF "== 请选择操作类型：" "$work/zh.out" || fail "the first page is not in Chinese: $(head -5 "$work/zh.out")"
grep -q "^完成，共：1 ，成功：1。$" "$work/zh.out" || fail "the Chinese run did not complete: $(cat "$work/zh.out")"
[ -f "$reh/C/NETLOGON/Qel王芳.bat" ] || fail "no wrapper Qel王芳.bat: $(ls "$reh/C/NETLOGON")"
grep -qF "scriptPath:: $(printf 'Qel王芳.bat' | base64)" "$reh/domain.ldif" || fail "王芳's script path not changed"
printf 'remove\nnext\n王芳\nn\nnext\nfinish\n' |
  timeout 120 "$prog" --lang 2052 --rehearse "$sample" "$reh" >"$work/zh-remove.out" 2>&1 || fail "Chinese removal failed"
grep -qF "scriptPath:: $(printf '登录.bat' | base64)" "$reh/domain.ldif" || fail "王芳's own script not restored"
[ ! -e "$reh/C/NETLOGON/Qel王芳.bat" ] || fail "the wrapper Qel王芳.bat was not removed"

# No domain: the gate's message 122, no wizard.
QEL_HOST_ROOT=$work/nodomain timeout 60 "$prog" </dev/null >"$work/gate.out" 2>&1 && fail "the gate let a computer without a domain through"
grep -q "No domain controller is found." "$work/gate.out" || fail "no message 122: $(cat "$work/gate.out")"

[ "$(sha256sum "$sample" | cut -d' ' -f1)" = "$sample_sum" ] || fail "the sample domain was changed"
echo "wizard_terminal: ok"
