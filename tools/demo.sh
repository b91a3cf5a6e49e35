#!/usr/bin/env bash
# The main job on the host: one deployment run against the sample domain.
#
# Prepares a fresh domain controller world from samples/ in a temporary
# folder, adds the product's logon script for one organisational unit and two
# accounts, shows the staged files, a wrapper batch and the changed accounts,
# then removes it again and shows that every account's script path is back.
#
# Uses the host build (made with tools/build.sh host when it is missing).
# QEL_BUILD names another build folder; QEL_DEMO_KEEP=1 keeps the world
# folder for a look afterwards. Installed from the package (beside the sample
# domain in /usr/share/qelscript), it uses the installed programs instead.
# Exits non-zero when a run fails or an account is not restored.
set -euo pipefail
self=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
here=$(cd "$self/.." && pwd)
build=${QEL_BUILD:-$here/build/host}
deploy="$build/tools/deploy-cli/qel-deploy"
sample="$here/samples/sample-domain.ldif"
installed=0
if [ -f "$self/sample-domain.ldif" ]; then
  installed=1
  sample="$self/sample-domain.ldif"
  deploy=$(command -v qel-deploy) || { echo "demo: qel-deploy is not on the PATH" >&2; exit 1; }
elif [ ! -x "$deploy" ] && [ -z "${QEL_BUILD:-}" ]; then
  echo "demo: no host build yet; building it (tools/build.sh host)"
  "$here/tools/build.sh" host
fi
if [ ! -x "$deploy" ]; then
  echo "demo: $deploy is missing; build it first: tools/build.sh host" >&2
  exit 1
fi

world=$(mktemp -d "${TMPDIR:-/tmp}/qel-demo.XXXXXX")
cleanup() {
  if [ "${QEL_DEMO_KEEP:-0}" = 1 ]; then
    echo "demo: the world stays in $world"
  else
    rm -rf -- "$world"
  fi
}
trap cleanup EXIT

step() { printf '\n== %s\n' "$*"; }

# --- A fresh controller: drive C, registry, NETLOGON folder, wizard folder.
scripts="$world/C/WINDOWS/SYSVOL/sysvol/test.lan/scripts"
mkdir -p "$scripts" "$world/C/Program Files/Orvane" "$world/C/Packages"
cat > "$world/registry.reg" <<'REG'
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\Netlogon\Parameters]
"Scripts"="%SystemRoot%\\SYSVOL\\sysvol\\test.lan\\scripts"
"SysVol"="%SystemRoot%\\SYSVOL\\sysvol"
REG
cp "$sample" "$world/domain.ldif"
# The accounts' own logon scripts, as an administrator keeps them.
printf '@ECHO OFF\r\nNET USE H: \\\\DC1\\home\r\n' > "$scripts/logon.bat"
mkdir -p "$scripts/scripts"
printf '@ECHO OFF\r\nECHO sales\r\n' > "$scripts/scripts/sales.cmd"
# The checker shipped beside the wizard: the Windows build's when there is
# one, else the host build's, else a stand-in file.
checker="$world/C/Program Files/Orvane/QelCheck.exe"
if [ "$installed" = 1 ]; then
  cp "$(command -v qelcheck)" "$checker"
elif [ -f "$here/build/win32/check/QelCheck.exe" ]; then
  cp "$here/build/win32/check/QelCheck.exe" "$checker"
elif [ -f "$build/check/qelcheck" ]; then
  cp "$build/check/qelcheck" "$checker"
else
  echo "QelCheck stand-in" > "$checker"
fi
echo "Orvane Qel install package (demo)" > "$world/C/Packages/QelSetup.exe"

domain="$world/domain.ldif"
selection=(--container "OU=Branches,DC=test,DC=lan" --user swalker --user cwhite)

step "Accounts before (logon name, script path)"
"$deploy" --domain "$domain" --list > "$world/before.txt"
cat "$world/before.txt"

step "qel-deploy add ${selection[*]}"
"$deploy" --domain "$domain" --root "$world" add "${selection[@]}" \
  --center-ip 192.168.1.10 --package 'C:\Packages\QelSetup.exe'

step "Staged in the NETLOGON folder"
(cd "$scripts" && ls -l)
step "QelInstall.bat"
sed 's/\r$/  [CR LF]/' "$scripts/QelInstall.bat"
step "SetupSet.ini"
sed 's/\r$//' "$scripts/SetupSet.ini"
step "Wrapper batch Qelswalker.bat"
sed 's/\r$/  [CR LF]/' "$scripts/Qelswalker.bat"

step "Changed accounts (before -> after adding)"
"$deploy" --domain "$domain" --list > "$world/added.txt"
diff "$world/before.txt" "$world/added.txt" || true

step "qel-deploy remove ${selection[*]} --remove-when-exist"
"$deploy" --domain "$domain" --root "$world" remove "${selection[@]}" --remove-when-exist

step "The run's log (QelScript.log), clean-up decision"
grep -h "ChangeAllScript" "$world/C/ProgramData/Orvane/Qel/Log/QelScript.log" | tail -4 || true

step "Accounts after removal compared with before (no lines: all restored)"
"$deploy" --domain "$domain" --list > "$world/after.txt"
if ! diff "$world/before.txt" "$world/after.txt"; then
  echo "demo: FAILED: some account's script path was not restored" >&2
  exit 1
fi
for wrapper in Qelswalker.bat Qelcwhite.bat Qelpyoung.bat; do
  if [ -e "$scripts/$wrapper" ]; then
    echo "demo: FAILED: $wrapper is still there" >&2
    exit 1
  fi
done
echo "OK: every account's original script path is back; the wrappers are gone."
