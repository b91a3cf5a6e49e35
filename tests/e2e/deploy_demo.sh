#!/usr/bin/env bash
# The main job end to end: tools/demo.sh over the sample domain must add the
# scripts, print the run as the progress page lists it, and restore every
# account's script path byte for byte.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
out=$(mktemp "${TMPDIR:-/tmp}/qel-demo-out.XXXXXX")
trap 'rm -f -- "$out"' EXIT
if ! "$here/tools/demo.sh" > "$out" 2>&1; then
  cat "$out"
  echo "deploy_demo: the demo failed" >&2
  exit 1
fi
expect() {
  if ! grep -qF -- "$1" "$out"; then
    cat "$out"
    echo "deploy_demo: missing in the output: $1" >&2
    exit 1
  fi
}
expect "Copy files:"
expect "    C:\\WINDOWS\\SYSVOL\\sysvol\\test.lan\\scripts\\QelSetup.exe"
expect "Set logon script for user:"
expect "    Paul Young"
expect "Delete user's logon script setting:"
expect "Completed, total: 4 , Succeed: 4."
expect "START /W \\\\DC1\\NetLogon\\QelCheck.exe \\\\DC1\\NetLogon\\QelSetup.exe  [CR LF]"
expect "REM szScriptPath = logon.bat  [CR LF]"
expect "Scripted user exist, no remove file!"
expect "OK: every account's original script path is back"
echo "deploy_demo: passed"
