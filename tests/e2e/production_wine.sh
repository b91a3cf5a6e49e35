#!/usr/bin/env bash
# QelScript.exe (the x86_64 twin) under Wine and Xvfb on its production path,
# without /rehearse: the real netapi32.dll and ActiveDS.dll loads, answered by
# the stand-in DLLs beside a copy of the program over a copy of the sample
# domain, and the Netlogon service's "Scripts" value of the prefix pointing
# at a NETLOGON folder of our own.
#
#   1. The start-up gate: a locator naming another controller gives message
#      121, a failing locator message 122; each box is closed and the program
#      ends without a wizard, the domain and the folder untouched.
#   2. A whole add run clicked through the four pages: the user page lists
#      the domain through ADSI (photographed into docs/screenshots), /select
#      checks backupop and rscott, /center and /package fill the parameters
#      page; afterwards the NETLOGON folder holds the staged files and the
#      wrapper, and exactly the two accounts have the product's scripts.
#   3. The matching remove run (Remove chosen on the first page, the same
#      two accounts): both get their own script paths back, byte for byte,
#      and the wrapper batch is gone.
#
#   QEL_WIN64_BUILD  the x86_64 build folder (default build/win64): the
#                    program and tools/standins/{netapi32,ActiveDS}.dll
#   QEL_HOST_BUILD   the host build folder (default build/host): domain-tool
#   QEL_WINEPREFIX   the Wine prefix (default build/wineprefix)
set -eu
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
# shellcheck source=tests/e2e/lib/xvfb_display.sh
. "$here/tests/e2e/lib/xvfb_display.sh"
build=${QEL_WIN64_BUILD:-$here/build/win64}
host=${QEL_HOST_BUILD:-$here/build/host}
exe=$build/wizard/ui/QelScript.exe
netapi=$build/tools/standins/netapi32.dll
activeds=$build/tools/standins/ActiveDS.dll
tool=$host/tools/domain-tool/domain-tool
shots=$here/docs/screenshots
export WINEPREFIX=${QEL_WINEPREFIX:-$here/build/wineprefix}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="netapi32,activeds=n;mscoree,mshtml="
# Each run below sets the stand-ins' locator and faults it wants.
unset QEL_STANDIN_DC QEL_STANDIN_FAIL

fail() { echo "production_wine: FAIL: $*" >&2; exit 1; }
for f in "$exe" "$netapi" "$activeds" "$tool"; do
  [ -f "$f" ] || fail "no $f (build win64 and host first)"
done
[ -f "$WINEPREFIX/system.reg" ] || QEL_WINEPREFIX=$WINEPREFIX "$here/tools/wine-prefix.sh" >/dev/null

# A fixed folder, so that the paths on the progress page's screenshot stay
# the same from run to run.
work=/tmp/qel-production-wine
rm -rf "$work"
mkdir -p "$work/app" "$work/pkg" "$work/NETLOGON"
winpath() { echo "Z:$1" | tr '/' '\\'; }

netlogon_key='HKLM\SYSTEM\CurrentControlSet\Services\Netlogon\Parameters'
previous_scripts=""
xvfb_pid=""
cleanup() {
  # The prefix may be shared with other tests: its "Scripts" value goes back
  # to what it was.
  if [ -n "$previous_scripts" ]; then
    timeout 60 wine reg add "$netlogon_key" /v Scripts /t REG_SZ /d "$previous_scripts" /f >/dev/null 2>&1 || true
  else
    timeout 60 wine reg delete "$netlogon_key" /v Scripts /f >/dev/null 2>&1 || true
  fi
  timeout 30 wineserver -k 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  [ -n "${QEL_KEEP_WORK:-}" ] || rm -rf "$work"
}
trap cleanup EXIT

# A display of our own.
start_xvfb 121 160 || fail "no free X display"

# The controller's scripts folder, as the Netlogon service names it.
previous_scripts=$(timeout 60 wine reg query "$netlogon_key" /v Scripts 2>/dev/null |
  sed -n 's/^ *Scripts *REG_[A-Z_]* *\(.*\)$/\1/p' | tr -d '\r') || true
timeout 60 wine reg add "$netlogon_key" /v Scripts /t REG_SZ /d "$(winpath "$work/NETLOGON")" /f >/dev/null 2>&1 ||
  fail "cannot set the Netlogon \"Scripts\" value in $WINEPREFIX"

# The program folder: the wizard, the stand-ins it loads, the checker it
# stages; the package; the domain the stand-ins serve.
cp "$exe" "$netapi" "$activeds" "$work/app/"
if [ -f "$build/check/QelCheck.exe" ]; then cp "$build/check/QelCheck.exe" "$work/app/"; else echo stand-in > "$work/app/QelCheck.exe"; fi
echo "Qel setup package" > "$work/pkg/QelSetup.exe"
sample=$here/samples/sample-domain.ldif
sample_sum=$(sha256sum "$sample" | cut -d' ' -f1)
domain=$work/domain.ldif
cp "$sample" "$domain"
export QEL_STANDIN_DOMAIN
QEL_STANDIN_DOMAIN=$(winpath "$domain")

# Visible windows as "id x y w h" lines (the root window left out).
windows() {
  local id
  for id in $(xdotool search --onlyvisible --name "" 2>/dev/null); do
    (
      eval "$(xdotool getwindowgeometry --shell "$id" 2>/dev/null)" || exit 0
      [ "${WIDTH:-0}" -lt 1000 ] && echo "$id $X $Y $WIDTH $HEIGHT"
    ) || true
  done
}

# The wizard's sheet, once it is shown: "x y w h". A message box is wide
# too, but not tall.
window() {
  local id x y w h
  # A cold Wine start on a busy machine can take a minute.
  for _ in $(seq 1 240); do
    while read -r id x y w h; do
      if [ "$h" -gt 200 ]; then echo "$x $y $w $h"; return 0; fi
    done < <(windows)
    sleep 0.5
  done
  return 1
}

# A message box (short and wide, captioned with the program's name): its id.
message_box() {
  local id x y w h
  for _ in $(seq 1 240); do
    while read -r id x y w h; do
      if [ "$h" -le 200 ] && [ "$(xdotool getwindowname "$id" 2>/dev/null)" = "Orvane Script Wizard" ]; then
        echo "$id"
        return 0
      fi
    done < <(windows)
    sleep 0.5
  done
  return 1
}

# Next, and later Finish, sit at the same place: left of Cancel, near the bottom.
press_next() {
  local x y w h
  read -r x y w h < <(window) || fail "the wizard window is gone"
  xdotool mousemove $((x + w * 716 / 1000)) $((y + h - 26)) click 1
}

shoot() {
  local x y w h
  read -r x y w h < <(window) || fail "no wizard window to photograph for $1"
  import -window root -crop "${w}x${h}+${x}+${y}" +repage "$shots/$1.png"
}

# The process of the running program ends within <seconds>, or not.
ends_within() {
  local pid=$1 seconds=$2
  for _ in $(seq 1 $((seconds * 2))); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.5
  done
  return 1
}

# finish <run>: presses Finish until the program ends (on a slow machine
# the run may still be writing when Finish is first pressed), then checks
# that it ended with exit code 0.
finish() {
  local tag=$1 x y w h
  for _ in $(seq 1 12); do
    read -r _ x y w h < <(windows | awk '$5 > 200') || break
    xdotool mousemove $((x + w * 716 / 1000)) $((y + h - 26)) click 1
    ends_within "$runner" 5 && break
  done
  ends_within "$runner" 30 || fail "$tag: the program did not end after Finish"
  wait "$runner" || true
  [ "$(cat "$work/exit-$tag" 2>/dev/null)" = "0" ] || fail "$tag: QelScript.exe ended with $(cat "$work/exit-$tag" 2>/dev/null)"
}

# gate <tag> <message text> <screenshot or ""> <environment...>: the program
# shows the message in a box with no wizard; after the box is closed it ends
# and has touched nothing. Wine's window trace carries the box's text.
gate() {
  local tag=$1 text=$2 shot=$3
  shift 3
  (
    cd "$work/pkg"
    env "$@" WINEDEBUG=+win timeout 180 wine "$work/app/QelScript.exe" /lang 1033 >"$work/gate-$tag.log" 2>&1
    echo $? >"$work/exit-gate-$tag"
  ) &
  local runner=$!
  local box
  box=$(message_box) || fail "gate $tag: no message box appeared"
  sleep 1
  grep -qF "set_window_text L\"$text" "$work/gate-$tag.log" || fail "gate $tag: the box does not say \"$text\""
  local id x y w h
  while read -r id x y w h; do
    [ "$h" -le 200 ] || fail "gate $tag: a wizard window is shown with the message"
  done < <(windows)
  if [ -n "$shot" ]; then
    read -r id x y w h < <(windows | grep "^$box ") || fail "gate $tag: the box is gone"
    import -window root -crop "${w}x${h}+${x}+${y}" +repage "$shots/$shot.png"
  fi
  xdotool key --window "$box" Return 2>/dev/null
  ends_within "$runner" 60 || fail "gate $tag: the program did not end after the message"
  wait "$runner" || true
  [ "$(cat "$work/exit-gate-$tag" 2>/dev/null)" = "0" ] || fail "gate $tag: QelScript.exe ended with $(cat "$work/exit-gate-$tag" 2>/dev/null)"
  [ -z "$(ls -A "$work/NETLOGON")" ] || fail "gate $tag: files were staged"
  cmp -s "$domain" "$sample" || fail "gate $tag: the domain was changed"
  echo "production_wine: gate $tag ok"
}

gate not-dc "Current Computer is not Domain Controller, This Program runs only on (Primary)Domain Controller." \
  production-not-dc-en QEL_STANDIN_DC=OTHERDC
gate no-dc "No domain controller is found. make sure your computer have joined a domain." \
  "" QEL_STANDIN_FAIL=DsGetDcNameA=1355

# The add run: with the defaults the gate lets the wizard through.
(
  cd "$work/pkg"
  timeout 300 wine "$work/app/QelScript.exe" /lang 1033 /select 'backupop;rscott' \
    /center 10.1.2.3 /package "$(winpath "$work/pkg/QelSetup.exe")" >"$work/run-add.log" 2>&1
  echo $? >"$work/exit-add"
) &
runner=$!
window >/dev/null || fail "add: the wizard did not appear (gate message or crash)"
sleep 2
press_next; sleep 3; shoot production-users-en
press_next; sleep 2
press_next
# The Completed line and Finish come once the last account is written.
for _ in $(seq 1 60); do [ -f "$work/NETLOGON/Qelbackupop.bat" ] && break; sleep 0.5; done
sleep 3
shoot production-progress-en
finish add

# The NETLOGON folder.
for f in QelCheck.exe QelSetup.exe QelInstall.bat SetupSet.ini Qelbackupop.bat; do
  [ -f "$work/NETLOGON/$f" ] || fail "add: $f missing from NETLOGON"
done
[ "$(ls "$work/NETLOGON" | wc -l)" = 5 ] || fail "add: unexpected NETLOGON files: $(ls "$work/NETLOGON" | tr '\n' ' ')"
cmp -s "$work/NETLOGON/QelSetup.exe" "$work/pkg/QelSetup.exe" || fail "add: staged package differs"
cmp -s "$work/NETLOGON/QelCheck.exe" "$work/app/QelCheck.exe" || fail "add: staged checker differs"
grep -q "10.1.2.3" "$work/NETLOGON/SetupSet.ini" || fail "add: SetupSet.ini lacks the center address"
grep -qiF 'NetLogon\QelCheck.exe' "$work/NETLOGON/QelInstall.bat" || fail "add: the install batch does not start the checker"
grep -qiF 'NetLogon\logon.bat' "$work/NETLOGON/Qelbackupop.bat" || fail "add: the wrapper does not call the previous script"
grep -qiF 'NetLogon\QelInstall.bat' "$work/NETLOGON/Qelbackupop.bat" || fail "add: the wrapper does not call the install batch"

# The domain: the stand-in wrote it at exit, and exactly the two selected
# accounts changed, to the product's scripts.
[ ! -e "$domain.journal" ] || fail "add: the stand-in left its journal (domain not written at exit)"
"$tool" show "$sample" >"$work/show-before.txt" || fail "domain-tool cannot read the sample"
"$tool" show "$domain" >"$work/show-after.txt" || fail "add: domain-tool cannot read the written domain"
diff "$work/show-before.txt" "$work/show-after.txt" | sed -n 's/^> //p' >"$work/changed.txt" || true
[ "$(wc -l <"$work/changed.txt")" = 2 ] || { cat "$work/changed.txt" >&2; fail "add: not exactly the two selected accounts changed"; }
grep -qE '^[0-9]+ +backupop +.*"Qelbackupop\.bat"' "$work/changed.txt" || fail "add: backupop's script path not changed"
grep -qE '^[0-9]+ +rscott +.*"QelInstall\.bat"' "$work/changed.txt" || fail "add: rscott's script path not set"
echo "production_wine: add run ok"

# The remove run: Remove on the first page, then the user page (which now
# lists the accounts that run the product's scripts) and the progress page.
(
  cd "$work/pkg"
  timeout 300 wine "$work/app/QelScript.exe" /lang 1033 /select 'backupop;rscott' >"$work/run-remove.log" 2>&1
  echo $? >"$work/exit-remove"
) &
runner=$!
read -r x y w h < <(window) || fail "remove: the wizard did not appear"
sleep 2
xdotool mousemove $((x + w * 223 / 597)) $((y + h * 174 / 435)) click 1
sleep 1
press_next; sleep 3
press_next
for _ in $(seq 1 60); do [ ! -e "$work/NETLOGON/Qelbackupop.bat" ] && break; sleep 0.5; done
sleep 3
finish remove
[ ! -e "$work/NETLOGON/Qelbackupop.bat" ] || fail "remove: the wrapper batch is still there"
[ ! -e "$domain.journal" ] || fail "remove: the stand-in left its journal (domain not written at exit)"
# Every account's script path (the quoted column) as it was before the add.
scripts() { "$tool" show "$1" | awk '{ match($0, /"[^"]*"/); print $2, substr($0, RSTART, RLENGTH) }'; }
scripts "$sample" >"$work/scripts-before.txt"
scripts "$domain" >"$work/scripts-after.txt" || fail "remove: domain-tool cannot read the written domain"
diff "$work/scripts-before.txt" "$work/scripts-after.txt" >&2 || fail "remove: not every script path is back"
echo "production_wine: remove run ok"

[ "$(sha256sum "$sample" | cut -d' ' -f1)" = "$sample_sum" ] || fail "the sample domain was changed"
echo "production_wine: ok (screenshots in docs/screenshots)"
