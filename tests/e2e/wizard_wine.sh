#!/usr/bin/env bash
# QelScript.exe (the x86_64 twin) under Wine and Xvfb, in rehearsal mode on
# the sample domain: a whole add run clicked through the four pages, once in
# English (the parameters page from its defaults, the address typed after
# Next refuses 0.0.0.0), once in Simplified and once in Traditional Chinese
# (/center and /package). Every page is photographed into
# docs/screenshots; after each run the NETLOGON folder and the domain copy
# must hold what the run did, and the sample itself must be unchanged.
#
#   QEL_WIN64_BUILD  the x86_64 build folder (default build/win64)
#   QEL_WINEPREFIX   the Wine prefix (default build/wineprefix)
set -eu
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
# shellcheck source=tests/e2e/lib/xvfb_display.sh
. "$here/tests/e2e/lib/xvfb_display.sh"
build=${QEL_WIN64_BUILD:-$here/build/win64}
exe=$build/wizard/ui/QelScript.exe
shots=$here/docs/screenshots
export WINEPREFIX=${QEL_WINEPREFIX:-$here/build/wineprefix}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

fail() { echo "wizard_wine: FAIL: $*" >&2; exit 1; }
[ -f "$exe" ] || fail "no $exe (build win64 first)"
[ -f "$WINEPREFIX/system.reg" ] || QEL_WINEPREFIX=$WINEPREFIX "$here/tools/wine-prefix.sh" >/dev/null

# A fixed folder, so that the paths in the screenshots stay the same from run to run.
work=/tmp/qel-wizard-wine
rm -rf "$work"
mkdir -p "$work"
xvfb_pid=""
cleanup() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  wineserver -k 2>/dev/null || true
  [ -n "${QEL_KEEP_WORK:-}" ] || rm -rf "$work"
}
trap cleanup EXIT

# A display of our own.
start_xvfb 91 120 || fail "no free X display"

# Chinese texts: a font that has them, linked behind the dialog fonts, and a
# Chinese locale for Wine's code page (936).
for face in Tahoma "MS Sans Serif" "MS Shell Dlg"; do
  wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' /v "$face" \
    /t REG_MULTI_SZ /d 'wqy-microhei.ttc,WenQuanYi Micro Hei' /f >/dev/null 2>&1
done
mkdir -p "$work/locale"
localedef -i zh_CN -f UTF-8 "$work/locale/zh_CN.UTF-8" >/dev/null 2>&1 || fail "cannot make the zh_CN.UTF-8 locale"
localedef -i zh_TW -f UTF-8 "$work/locale/zh_TW.UTF-8" >/dev/null 2>&1 || fail "cannot make the zh_TW.UTF-8 locale"
wineserver -k 2>/dev/null || true

# The program folder: the wizard and the checker it stages; the package.
mkdir -p "$work/app" "$work/pkg"
cp "$exe" "$work/app/QelScript.exe"
if [ -f "$build/check/QelCheck.exe" ]; then cp "$build/check/QelCheck.exe" "$work/app/"; else echo stand-in > "$work/app/QelCheck.exe"; fi
echo "Qel setup package" > "$work/pkg/QelSetup.exe"
sample=$here/samples/sample-domain.ldif
sample_sum=$(sha256sum "$sample" | cut -d' ' -f1)
winpath() { echo "Z:$1" | tr '/' '\\'; }

# The wizard's window (the sheet), once it is shown: "x y w h".
window() {
  local id geometry
  # A cold Wine start on a busy machine can take a minute.
  for _ in $(seq 1 240); do
    for id in $(xdotool search --onlyvisible --name "" 2>/dev/null); do
      geometry=$(xdotool getwindowgeometry --shell "$id" 2>/dev/null) || continue
      eval "$geometry"
      if [ "$WIDTH" -lt 1000 ] && [ "$WIDTH" -gt 300 ]; then echo "$X $Y $WIDTH $HEIGHT"; return 0; fi
    done
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

# run_wizard <tag> <language> <locale> typed|given: with "typed" the wizard
# starts in the package's folder, so the parameters page offers that package
# and the address 0.0.0.0; Next is refused (message 117, focus to the
# address) and the address is typed. With "given" /center and /package fill
# the page.
run_wizard() {
  local tag=$1 lang=$2 locale=$3 parameters=$4 select=${5:-backupop;rscott}
  local reh=$work/rehearsal-$tag
  mkdir -p "$reh"
  local locale_env=()
  [ -z "$locale" ] || locale_env=(LOCPATH="$work/locale" LANG="$locale" LC_ALL="$locale")
  local given=()
  [ "$parameters" = typed ] || given=(/center 10.1.2.3 /package "$(winpath "$work/pkg/QelSetup.exe")")
  (
    cd "$work/pkg"
    env "${locale_env[@]}" timeout 300 wine "$work/app/QelScript.exe" /rehearse "$(winpath "$sample")" "$(winpath "$reh")" /lang "$lang" \
      /select "$select" "${given[@]}" >"$work/run-$tag.log" 2>&1
    echo $? >"$work/exit-$tag"
  ) &
  local runner=$!
  window >/dev/null || fail "$tag: the wizard did not appear (gate message or crash)"
  sleep 2
  shoot "page1-operation-$tag"
  press_next; sleep 2; shoot "page2-users-$tag"
  press_next; sleep 2; shoot "page3-parameters-$tag"
  if [ "$parameters" = typed ]; then
    press_next; sleep 2
    # The box of message 117 has the keyboard; once it is closed the
    # address control has the focus.
    xdotool key Return; sleep 1
    xdotool type --delay 100 "10.1.2.3"; sleep 1
  fi
  press_next
  # The run is quick on the sample domain; the Completed line marks its end.
  for _ in $(seq 1 40); do [ -f "$reh/NETLOGON/Qelbackupop.bat" ] && break; sleep 0.5; done
  sleep 3
  shoot "page4-progress-$tag"
  press_next  # Finish
  wait "$runner" || true
  [ "$(cat "$work/exit-$tag" 2>/dev/null)" = "0" ] || fail "$tag: QelScript.exe ended with $(cat "$work/exit-$tag" 2>/dev/null)"

  # What the add run leaves behind.
  local netlogon=$reh/NETLOGON
  for f in QelCheck.exe QelSetup.exe QelInstall.bat SetupSet.ini Qelbackupop.bat; do
    [ -f "$netlogon/$f" ] || fail "$tag: $f missing from NETLOGON"
  done
  cmp -s "$netlogon/QelSetup.exe" "$work/pkg/QelSetup.exe" || fail "$tag: staged package differs"
  # The run's record beside the log names the accounts it changed.
  local record
  record=$(find "$WINEPREFIX/drive_c/ProgramData/Orvane/Qel/Log" -name 'QelScript-*.csv' -newer "$netlogon/QelCheck.exe" \
    -exec grep -l '^[^,]*,add,[^,]*,backupop,' {} + 2>/dev/null | head -n 1 || true)
  [ -n "$record" ] || fail "$tag: no run record of this run with backupop"
  grep -q "10.1.2.3" "$netlogon/SetupSet.ini" || fail "$tag: SetupSet.ini lacks the center address"
  grep -qi "logon.bat" "$netlogon/Qelbackupop.bat" || fail "$tag: the wrapper does not call the previous script"
  local domain=$reh/domain.ldif
  awk '/^sAMAccountName: backupop$/{u=1} /^$/{u=0} u && /^scriptPath:/{print}' "$domain" | grep -q "Qelbackupop.bat" \
    || fail "$tag: backupop's script path not changed"
  awk '/^sAMAccountName: rscott$/{u=1} /^$/{u=0} u && /^scriptPath:/{print}' "$domain" | grep -q "QelInstall.bat" \
    || fail "$tag: rscott's script path not set"
  echo "wizard_wine: $tag run ok"
}

run_wizard en 1033 "" typed
# In code page 936 a Chinese account too: its wrapper under its Unicode name
# in the NETLOGON folder, with the GBK text a Chinese client's cmd.exe reads.
run_wizard zh-cn 2052 zh_CN.UTF-8 given 'backupop;rscott;王芳'
[ -f "$work/rehearsal-zh-cn/NETLOGON/Qel王芳.bat" ] ||
  fail "zh-cn: no Qel王芳.bat in NETLOGON: $(ls "$work/rehearsal-zh-cn/NETLOGON")"
grep -qF "$(printf 'NetLogon\\\xb5\xc7\xc2\xbc.bat')" "$work/rehearsal-zh-cn/NETLOGON/Qel王芳.bat" ||
  fail "zh-cn: the wrapper does not call 登录.bat in GBK"
grep -qF "scriptPath:: $(printf 'Qel王芳.bat' | base64)" "$work/rehearsal-zh-cn/domain.ldif" ||
  fail "zh-cn: 王芳's script path not changed"
run_wizard zh-tw 1028 zh_TW.UTF-8 given
[ "$(sha256sum "$sample" | cut -d' ' -f1)" = "$sample_sum" ] || fail "the sample domain was changed"
echo "wizard_wine: ok (screenshots in docs/screenshots)"
