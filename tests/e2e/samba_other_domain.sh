#!/usr/bin/env bash
# A test controller for a domain other than the sample's: the sample domain
# renamed to corp.example (NetBIOS CORP, controller SRV7). tools/samba takes
# every name from the domain file's header lines, and the whole session runs
# inside one netns.sh call, as the README shows: provision, load, start, take
# a ticket, then qel-deploy --kerberos adds and removes the product's
# script for a unit and an account. A caller who may not enter the
# controller's NETLOGON folder is told so.
#
# Needs root (namespaces) and the Samba packages of tools/setup-debian.sh.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=${QEL_BUILD:-$here/build/host}
deploy=$build/tools/deploy-cli/qel-deploy
samba_tools=$here/tools/samba

if [ "${QEL_SAMBA_INSIDE-}" != 1 ]; then
  if [ "$(id -u)" != 0 ]; then
    sudo -n true 2>/dev/null || { echo "samba_other_domain: needs root (or sudo without a password)" >&2; exit 1; }
    exec sudo -n --preserve-env=QEL_BUILD bash "$0" "$@"
  fi
  command -v samba >/dev/null || { echo "samba_other_domain: samba is not installed (tools/setup-debian.sh)" >&2; exit 1; }
  "$deploy" --help | grep -q -- --samba || { echo "samba_other_domain: $deploy has no Samba support" >&2; exit 1; }
  work=$(mktemp -d /tmp/qel-samba-other.XXXXXX)
  trap 'rm -rf -- "$work"' EXIT
  sed -e 's/DC=test,DC=lan/DC=corp,DC=example/g' -e 's/test\.lan/corp.example/g' \
      -e 's/^# qel-domain: TEST$/# qel-domain: CORP/' -e 's/DC1/SRV7/g' -e 's/dc1\./srv7./g' \
      "$here/samples/sample-domain.ldif" > "$work/corp.ldif"
  status=0
  QEL_SAMBA_INSIDE=1 QEL_WORK=$work "$samba_tools/netns.sh" "$work/corp.ldif" -- bash "$0" "$@" || status=$?
  exit $status
fi

work=$QEL_WORK
dc=$work/dc
trap '"$samba_tools/dc.sh" stop "$dc" || true' EXIT
failures=0
fail() {
  echo "samba_other_domain: FAIL: $*" >&2
  failures=$((failures + 1))
}

[ "$(hostname)" = srv7 ] || fail "the namespace's host name is $(hostname), not srv7"
getent hosts srv7.corp.example | grep -q '^127\.0\.0\.1' || fail "srv7.corp.example is not loopback"

"$samba_tools/dc.sh" provision "$dc" "$work/corp.ldif" >/dev/null
"$samba_tools/dc.sh" load "$dc" "$work/corp.ldif" >/dev/null 2>"$work/load.err" || { cat "$work/load.err" >&2; exit 1; }
conf=$("$samba_tools/dc.sh" start "$dc" | tail -n 1)
grep -qi '^[[:space:]]*realm = CORP.EXAMPLE$' "$conf" || fail "the realm is not CORP.EXAMPLE"
grep -qi '^[[:space:]]*workgroup = CORP$' "$conf" || fail "the NetBIOS domain is not CORP"
grep -qi '^[[:space:]]*netbios name = SRV7$' "$conf" || fail "the controller is not SRV7"
export KRB5_CONFIG=$dc/private/krb5.conf KRB5CCNAME=FILE:$work/krb5cc
kinit Administrator@CORP.EXAMPLE < "$dc/admin.pass" > /dev/null
netlogon=$dc/state/sysvol/corp.example/scripts
[ -d "$netlogon" ] || { echo "samba_other_domain: no NETLOGON folder $netlogon" >&2; exit 1; }

root=$work/world
mkdir -p "$root/C/Program Files/Orvane" "$root/C/Packages"
echo "QelCheck stand-in" > "$root/C/Program Files/Orvane/QelCheck.exe"
echo "Orvane Qel install package" > "$root/C/Packages/QelSetup.exe"
printf '@ECHO OFF\r\nNET USE H: \\\\SRV7\\home\r\n' > "$netlogon/logon.bat"
"$samba_tools/dc.sh" accounts "$dc" > "$work/before.tsv"

selection=(--container "OU=Sales,DC=corp,DC=example" --user swalker)
"$deploy" --samba "$conf" --kerberos --root "$root" add "${selection[@]}" \
  --center-ip 192.168.1.10 --package 'C:\Packages\QelSetup.exe' > "$work/add.out" 2>&1 ||
  fail "add: status $? ($(tail -n 3 "$work/add.out"))"
grep -q "^qel-deploy: [1-9][0-9]* directory requests$" "$work/add.out" || fail "add did not print its directory requests"
grep -q "Completed" "$work/add.out" || fail "add did not complete"
"$samba_tools/dc.sh" accounts "$dc" > "$work/added.tsv"
grep -qP '^swalker\tQelswalker.bat\t' "$work/added.tsv" || fail "swalker does not run its wrapper"
grep -qP '^asmith\tQelasmith.bat\t' "$work/added.tsv" || fail "asmith of OU=Sales does not run its wrapper"
for f in QelInstall.bat SetupSet.ini QelSetup.exe QelCheck.exe Qelswalker.bat; do
  [ -f "$netlogon/$f" ] || fail "no $f in the controller's NETLOGON folder"
done
grep -qi 'sysvol\\\\sysvol\\\\corp.example\\\\scripts' "$root/registry.reg" ||
  fail "the registry does not name the controller's scripts folder"

# A caller who cannot enter the controller's folders (a provisioned sysvol
# is root's and its group's) learns why, before anything is read.
outside=$(mktemp -d /tmp/qel-samba-user.XXXXXX)
chmod 755 "$outside"
cp "$deploy" "$conf" "$outside/"
if setpriv --reuid=65534 --regid=65534 --clear-groups "$outside/qel-deploy" --samba "$outside/smb.conf" --kerberos \
     --list > "$work/user.out" 2>&1; then
  fail "a caller without access to the NETLOGON folder was let in"
fi
grep -q "NETLOGON folder .* is not readable and writable by this user: run as root on the controller" "$work/user.out" ||
  fail "the unreadable NETLOGON folder was reported as: $(cat "$work/user.out")"
rm -rf -- "$outside"

"$deploy" --samba "$conf" --kerberos --root "$root" remove "${selection[@]}" --remove-when-exist > "$work/remove.out" 2>&1 ||
  fail "remove: status $? ($(tail -n 3 "$work/remove.out"))"
"$samba_tools/dc.sh" accounts "$dc" > "$work/after.tsv"
# Every account that ran a script of its own has it back (blanks at its
# start aside); the wrappers are gone. Other accounts of the domain still use
# QelInstall.bat, so the staged files stay.
awk -F'\t' 'NR == FNR { after[$1] = $2; next }
  tolower($2) ~ /^ *qel/ { next }
  { own = $2; sub(/^ +/, "", own) }
  after[$1] != own { print "samba_other_domain: " $1 " had [" $2 "], now [" after[$1] "]"; bad = 1 }
  END { exit bad }' "$work/after.tsv" "$work/before.tsv" >&2 || fail "an account's own logon script was not given back"
for f in Qelswalker.bat Qelasmith.bat; do
  [ ! -e "$netlogon/$f" ] || fail "$f is still in the NETLOGON folder"
done
[ -e "$netlogon/QelInstall.bat" ] || fail "QelInstall.bat went although other accounts use it"

if [ "$failures" -ne 0 ]; then
  echo "samba_other_domain: $failures failure(s)"
  exit 1
fi
echo "samba_other_domain: passed (CORP / corp.example, controller SRV7: $(wc -l < "$work/after.tsv") accounts)"
