#!/usr/bin/env bash
# qel-deploy's what-if, run record and undo on the sample domain: a what-if
# writes nothing and lists what the run then does; the run leaves a record;
# undo from that record puts accounts and NETLOGON files back as they were,
# leaves an account changed since the run alone, and a second undo changes
# nothing. A record that is not ours, or is cut short, is refused.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build="${QEL_BUILD:-$here/build/host}"
deploy="$build/tools/deploy-cli/qel-deploy"
world=$(mktemp -d "${TMPDIR:-/tmp}/qel-undo.XXXXXX")
trap 'rm -rf -- "$world"' EXIT

scripts="$world/C/WINDOWS/SYSVOL/sysvol/test.lan/scripts"
logs="$world/C/ProgramData/Orvane/Qel/Log"
mkdir -p "$scripts" "$world/C/Program Files/Orvane" "$world/C/Packages"
printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Netlogon\\Parameters]\r\n"Scripts"="%%SystemRoot%%\\\\SYSVOL\\\\sysvol\\\\test.lan\\\\scripts"\r\n' \
  > "$world/registry.reg"
cp "$here/samples/sample-domain.ldif" "$world/domain.ldif"
echo package > "$world/C/Packages/QelSetup.exe"
echo checker > "$world/C/Program Files/Orvane/QelCheck.exe"
# Code page 936: the sample domain's Chinese accounts take part too.
q() { "$deploy" --codepage 936 --domain "$world/domain.ldif" --root "$world" "$@"; }

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
# Accounts (script path and flags of every one) and the NETLOGON folder.
snapshot() {
  "$deploy" --domain "$world/domain.ldif" --list --json > "$world/$1.accounts"
  rm -rf "$world/$1.netlogon" && cp -a "$scripts" "$world/$1.netlogon"
}
same() {
  cmp -s "$world/$1.accounts" "$world/$2.accounts" || { fail "$3: accounts differ"; diff "$world/$1.accounts" "$world/$2.accounts" | head; }
  diff -r "$world/$1.netlogon" "$world/$2.netlogon" > /dev/null || { fail "$3: NETLOGON differs"; diff -r "$world/$1.netlogon" "$world/$2.netlogon" | head; }
}
newest_record() { ls -t "$logs"/QelScript-*.csv | head -1; }
# The per-account lines of a what-if, and the same decisions read from a record.
whatif_lines() { python3 "$here/tests/e2e/record_lines.py" --whatif "$1"; }
record_lines() { python3 "$here/tests/e2e/record_lines.py" "$1"; }

package=(--center-ip 10.1.2.3 --package 'C:\Packages\QelSetup.exe')
for operation in add remove; do
  args=(--container "DC=test,DC=lan")
  [ "$operation" = add ] && args+=("${package[@]}")
  snapshot before
  cp "$world/domain.ldif" "$world/domain.before"
  q "$operation" "${args[@]}" --what-if > "$world/whatif.txt"
  cmp -s "$world/domain.ldif" "$world/domain.before" || fail "$operation what-if wrote the domain"
  snapshot whatif
  same before whatif "$operation what-if"
  ls "$logs"/QelScript-*.csv > /dev/null 2>&1 && [ "$operation" = add ] && fail "what-if wrote a run record"
  grep -q '^Completed, total: [0-9][0-9]* , Succeed: ' "$world/whatif.txt" || fail "$operation what-if has no result line"

  # The same what-if for scripts: one JSON object a line, the accounts as in the listing.
  q "$operation" "${args[@]}" --what-if --json > "$world/whatif.json"
  python3 - "$world/whatif.json" "$world/whatif.txt" <<'PY' || fail "$operation --what-if --json"
import json, sys
objects = [json.loads(line) for line in open(sys.argv[1], encoding="utf-8")]
accounts = [o for o in objects if o["type"] == "account"]
summary = objects[-1]
assert summary["type"] == "summary" and summary["what_if"] is True, summary
done = [l for l in open(sys.argv[2], encoding="utf-8") if l.startswith("Completed")][0]
assert "total: %d , Succeed: %d." % (summary["total"], summary["succeeded"]) in done, (summary, done)
fields = {"operation", "account", "dn", "before", "after", "flags_before", "flags_after", "file_action", "file",
          "result", "reason"}
assert accounts and all(fields <= set(o) for o in accounts), accounts[:1]
assert any(o["result"] == "changed" and o["before"] != o["after"] for o in accounts)
PY
  q "$operation" "${args[@]}" > "$world/run.txt"
  record=$(newest_record)
  grep -qF "Run record: $record" "$world/run.txt" || fail "$operation run does not name its record"
  grep '^Completed' "$world/run.txt" > "$world/run.done"
  grep '^Completed' "$world/whatif.txt" > "$world/whatif.done"
  cmp -s "$world/run.done" "$world/whatif.done" || fail "$operation: what-if and run results differ"
  diff <(whatif_lines "$world/whatif.txt") <(record_lines "$record") > "$world/lines.diff" ||
    { fail "$operation: what-if lines differ from the run's record"; head "$world/lines.diff"; }
  snapshot after

  # An account changed after the run is left alone and reported.
  if [ "$operation" = add ]; then moved=rscott; else moved=swalker; fi
  python3 - "$world/domain.ldif" "$moved" <<'PY'
import sys
path, account = sys.argv[1], sys.argv[2]
text = open(path, encoding="utf-8").read()
at = text.index("sAMAccountName: %s\n" % account)
start = text.rfind("\n\n", 0, at) + 2
end = text.find("\n\n", at)
block = "\n".join(l for l in text[start:end].split("\n") if not l.startswith("scriptPath:"))
open(path, "w", encoding="utf-8").write(text[:start] + block + "\nscriptPath: moved.bat" + text[end:])
PY
  q undo "$record" > "$world/undo.txt" && fail "$operation undo with a moved account exits 0"
  grep -q "^    $moved: .*skipped: changed since the run: left alone" "$world/undo.txt" ||
    fail "$operation undo does not report $moved"
  undo_record=$(newest_record)
  [ "$undo_record" != "$record" ] || fail "$operation undo wrote no record of its own"
  # Put the moved account back as the run left it, and undo again: now all is restored.
  python3 - "$world/domain.ldif" "$moved" "$world/after.accounts" <<'PY'
import json, sys
path, account, accounts = sys.argv[1], sys.argv[2], sys.argv[3]
script = next(json.loads(l)["script_path"] for l in open(accounts) if json.loads(l)["account"] == account)
text = open(path, encoding="utf-8").read()
text = text.replace("scriptPath: moved.bat", "scriptPath: " + script if script else "", 1)
open(path, "w", encoding="utf-8").write(text)
PY
  q undo "$record" > "$world/undo2.txt" || fail "$operation second undo failed"
  snapshot undone
  same before undone "$operation undo"
  q undo "$record" > "$world/undo3.txt" || fail "$operation third undo failed"
  grep -q 'changed: restored' "$world/undo3.txt" && fail "$operation: a repeated undo changed accounts again"
  snapshot again
  same before again "$operation repeated undo"
  [ "$operation" = add ] && q add "${args[@]}" > /dev/null  # the removal needs something to remove
done

# Records that cannot be undone are refused with file, line and reason.
refused() {
  local text=$1 status=0
  q undo "$world/bad.csv" > "$world/bad.txt" 2>&1 || status=$?
  [ "$status" = 2 ] && grep -qF -- "$text" "$world/bad.txt" || { fail "bad record: $text (status $status)"; cat "$world/bad.txt"; }
}
printf 'name,script\r\njdoe,x\r\n' > "$world/bad.csv"
refused "bad.csv:1: not a run record"
head -c -40 "$record" > "$world/bad.csv"
refused "bad.csv:"
sed 's/,DC1,/,OTHERDC,/' "$record" > "$world/bad.csv"
refused "the record is of domain controller \"OTHERDC\""

# A run killed half-way leaves a record of what it did up to the kill, row by
# row; undo from it puts those accounts back. (Only an account whose change
# was being written at the kill can be missing from the record.)
"$build/tools/domain-tool/domain-tool" generate 4000 1 "$world/big.ldif" > /dev/null
big() { "$deploy" --domain "$world/big.ldif" --root "$world" "$@"; }
"$deploy" --domain "$world/big.ldif" --list --json > "$world/big.before"
rm -f "$logs"/QelScript-*.csv
"$deploy" --domain "$world/big.ldif" --root "$world" add --container "OU=Unit0001,DC=test,DC=lan" \
  --no-copy-when-exist > /dev/null 2>&1 &
pid=$!
for _ in $(seq 1 600); do
  killed_record=$(ls "$logs"/QelScript-*.csv 2>/dev/null | head -n 1 || true)
  [ -n "$killed_record" ] && [ "$(wc -l < "$killed_record")" -gt 200 ] && break
  sleep 0.05
done
kill -KILL "$pid" 2>/dev/null || true
wait "$pid" 2>/dev/null || true
rows=$(python3 "$here/tests/e2e/record_lines.py" "$killed_record" | wc -l)
[ "$rows" -gt 200 ] && [ "$rows" -lt 4000 ] || fail "the killed run's record has $rows account rows (wanted 200 to 3999)"
"$deploy" --domain "$world/big.ldif" --list --json > "$world/big.killed"
changed=$(diff "$world/big.before" "$world/big.killed" | grep -c '^>' || true)
[ "$changed" -ge 200 ] || fail "the killed run's changes were not kept ($changed accounts)"
big undo "$killed_record" > "$world/big.undo" 2>&1 || fail "undo of the killed run: $(tail -n 3 "$world/big.undo")"
"$deploy" --domain "$world/big.ldif" --list --json > "$world/big.after"
differing=$(diff "$world/big.before" "$world/big.after" | grep -c '^>' || true)
[ "$differing" -le 1 ] || fail "after undo of the killed run $differing accounts differ"

if [ "$failures" -ne 0 ]; then
  echo "deploy_undo: $failures failure(s)"
  exit 1
fi
echo "deploy_undo: passed"
