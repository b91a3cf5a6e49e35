#!/usr/bin/env bash
# QelScript.exe (the x86_64 twin) under Wine and Xvfb, in rehearsal mode on a
# domain of 6,000 accounts in one unit, with Wine reporting an old Windows:
#
#   1. Windows XP x64 / Server 2003 (version 5.2, the directory back-end).
#      The user page: a search for "user" started and Back pressed at once:
#      Back is refused while the search runs (it stops it); Back once it has
#      ended, Remove, Next: the page loads afresh (a second listing in the
#      log), so its tree and the node list agree.
#   2. The same version, an add run of the whole unit (/select), closed the
#      way a window manager's close button does (WM_DELETE_WINDOW): one
#      question per close; No lets the run go on; a second close and Yes:
#      the program waits for the stopped worker, ends with status 0 and no
#      crash, and the domain copy (with its journal) and the NETLOGON folder
#      agree: every account pointed at a wrapper has it, and the run changed
#      some accounts but not all.
#   3. Windows NT 4.0 (version 4, below 5: the network-management back-end):
#      an add run of two accounts; the listing is not the directory's.
#
#   QEL_WIN64_BUILD  the x86_64 build folder (default build/win64)
#   QEL_HOST_BUILD   the host build folder (default build/host): domain-tool
#   QEL_WINEPREFIX   the Wine prefix (default build/wineprefix)
set -eu
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
# shellcheck source=tests/e2e/lib/xvfb_display.sh
. "$here/tests/e2e/lib/xvfb_display.sh"
build=${QEL_WIN64_BUILD:-$here/build/win64}
host=${QEL_HOST_BUILD:-$here/build/host}
exe=$build/wizard/ui/QelScript.exe
tool=$host/tools/domain-tool/domain-tool
export WINEPREFIX=${QEL_WINEPREFIX:-$here/build/wineprefix}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

fail() { echo "wizard_races_wine: FAIL: $*" >&2; exit 1; }
[ -f "$exe" ] || fail "no $exe (build win64 first)"
[ -x "$tool" ] || fail "no $tool (build host first)"
[ -f "$WINEPREFIX/system.reg" ] || QEL_WINEPREFIX=$WINEPREFIX "$here/tools/wine-prefix.sh" >/dev/null

work=$(mktemp -d /tmp/qel-races-wine.XXXXXX)
xvfb_pid=""
appkey='HKCU\Software\Wine\AppDefaults\QelScript.exe'
logkey='HKLM\Software\Orvane\Qel'
cleanup() {
  wine reg delete "$appkey" /f >/dev/null 2>&1 || true
  wine reg delete "$logkey" /v NLogMaxSize /f >/dev/null 2>&1 || true
  wineserver -k 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  [ -n "${QEL_KEEP_WORK:-}" ] || rm -rf "$work"
}
trap cleanup EXIT

start_xvfb 121 160 || fail "no free X display"

mkdir -p "$work/app" "$work/pkg"
cp "$exe" "$work/app/QelScript.exe"
echo stand-in > "$work/app/QelCheck.exe"
echo "Qel setup package" > "$work/pkg/QelSetup.exe"
"$tool" generate 6000 1 "$work/big.ldif" >/dev/null
unit='OU=Unit0001,DC=test,DC=lan'
winpath() { echo "Z:$1" | tr '/' '\\'; }
# The log folder follows the Windows version: the newest QelScript.log.
logfile() { find "$WINEPREFIX/drive_c" -name QelScript.log -printf '%T@ %p\n' 2>/dev/null | sort -n | tail -1 | cut -d' ' -f2-; }

# The Windows version Wine reports to QelScript.exe alone.
set_version() {
  wine reg add "$appkey" /v Version /d "$1" /f >/dev/null 2>&1 || fail "cannot set the Windows version $1"
}

# Visible top-level windows as "id x y w h", widest first.
windows() {
  local id
  for id in $(xdotool search --onlyvisible --name "" 2>/dev/null); do
    (
      eval "$(xdotool getwindowgeometry --shell "$id" 2>/dev/null)" || exit 0
      [ "$WIDTH" -gt 150 ] && [ "$WIDTH" -lt 1000 ] && echo "$WIDTH $id $X $Y $HEIGHT"
    )
  done | sort -rn | awk '{print $2, $3, $4, $1, $5}'
}
# The sheet: the widest window. "x y w h"
sheet() {
  local line
  for _ in $(seq 1 240); do
    line=$(windows | head -1)
    if [ -n "$line" ]; then echo "$line" | cut -d' ' -f2-; return 0; fi
    sleep 0.5
  done
  return 1
}
sheet_id() { windows | head -1 | cut -d' ' -f1; }
# Message boxes: every visible window but the sheet.
boxes() { windows | tail -n +2 | grep -c . || true; }

# Buttons of the sheet, measured from its lower edge and its width.
click_at() {
  local x y w h
  read -r x y w h < <(sheet) || fail "the wizard window is gone"
  xdotool mousemove $((x + w * $1 / 1000)) $((y + h - $2)) click 1
}
press_next() { click_at 716 26; }
press_back() { click_at 556 26; }
# A window manager's close button: WM_PROTOCOLS / WM_DELETE_WINDOW to the sheet.
close_window() {
  python3 - "$(sheet_id)" <<'EOF'
import ctypes, sys
x = ctypes.cdll.LoadLibrary("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XInternAtom.restype = ctypes.c_ulong
x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
x.XFlush.argtypes = [ctypes.c_void_p]
class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5), ("pad", ctypes.c_long * 16)]
d = x.XOpenDisplay(None)
window = int(sys.argv[1])
event = ClientMessage()
event.type = 33  # ClientMessage
event.window = window
event.message_type = x.XInternAtom(d, b"WM_PROTOCOLS", 0)
event.format = 32
event.data[0] = x.XInternAtom(d, b"WM_DELETE_WINDOW", 0)
x.XSendEvent(d, window, 0, 0, ctypes.byref(event))
x.XFlush(d)
EOF
}

# start <tag> <rehearsal folder> <arguments...>: the wizard in the background.
start() {
  local tag=$1 reh=$2
  shift 2
  mkdir -p "$reh"
  find "$WINEPREFIX/drive_c" -name QelScript.log -delete 2>/dev/null || true
  (
    cd "$work/pkg"
    timeout 300 wine "$work/app/QelScript.exe" /rehearse "$(winpath "$work/big.ldif")" "$(winpath "$reh")" "$@" \
      >"$work/run-$tag.log" 2>&1
    echo $? >"$work/exit-$tag"
  ) &
  runner=$!
  sheet >/dev/null || fail "$tag: the wizard did not appear"
  sleep 2
}
finish() {
  local tag=$1
  wait "$runner" || true
  [ "$(cat "$work/exit-$tag" 2>/dev/null)" = "0" ] || fail "$tag: QelScript.exe ended with $(cat "$work/exit-$tag" 2>/dev/null)"
}
listings() { grep -c 'Begin a phase to Retrive UserList' "$(logfile)" 2>/dev/null || true; }
# Accounts whose script path is <name> in the domain copy and its journal.
script_of() {
  awk -v want="$2" '/^sAMAccountName: /{a=$2} /^scriptPath: /{if ($2 == want) print a} /^$/{a=""}' "$1"
}

# A log large enough for a walk of 6,000 accounts, so that no line this
# script looks for is rolled away.
wine reg add "$logkey" /v NLogMaxSize /t REG_DWORD /d 10485760 /f >/dev/null 2>&1 || fail "cannot set the log size"

# ---------------------------------------------------------------- 1
set_version winxp64
start back "$work/reh-back" /lang 1033
press_next; sleep 3                              # the user page, its first listing made
[ "$(listings)" = 1 ] || fail "back: the user page did not list the domain once ($(listings))"
grep -q '\[WAR\]    Item:' "$(logfile)" || fail "back: version 5.2 did not list through the directory"
xdotool type --delay 30 "user"                   # the account edit has the focus
xdotool key alt+s; press_back; sleep 1           # Back at once: refused, the search stopped
[ "$(listings)" = 1 ] || fail "back: Back left the page during the search"
press_back; sleep 2                              # the search has ended: the first page
xdotool key alt+r; sleep 0.5                     # Remove
press_next; sleep 4
[ "$(listings)" = 2 ] || fail "back: the user page was not loaded afresh after Remove ($(listings) listings)"
close_window; sleep 2                            # no run: closes without a question
finish back
echo "wizard_races_wine: Back during a search ok"

# ---------------------------------------------------------------- 2
reh=$work/reh-close
wrappers() { ls "$reh/NETLOGON" 2>/dev/null | grep -c '^Qeluser' || true; }
start close "$reh" /lang 1033 /select "$unit" /center 10.1.2.3 /package "$(winpath "$work/pkg/QelSetup.exe")"
press_next; sleep 3; press_next; sleep 2; press_next   # the run starts
for _ in $(seq 1 120); do [ "$(wrappers)" -ge 30 ] && break; sleep 0.5; done
[ "$(wrappers)" -ge 30 ] || fail "close: the run did not start"
close_window; sleep 2
[ "$(boxes)" = 1 ] || fail "close: $(boxes) questions after one close"
xdotool key Return; sleep 2                       # No (the default button)
[ "$(boxes)" = 0 ] || fail "close: the question came again after No"
before=$(wrappers)
sleep 2
after=$(wrappers)
[ "$after" -gt "$before" ] || fail "close: the run did not go on after No ($before, then $after)"
close_window; sleep 2
[ "$(boxes)" = 1 ] || fail "close: $(boxes) questions after the second close"
xdotool key y                                     # Yes
finish close
grep -qi 'page fault\|unhandled exception' "$work/run-close.log" && fail "close: the program crashed"
# The domain copy as the next start reads it: the file and what its journal adds.
cat "$reh/domain.ldif" "$reh/domain.ldif.journal" 2>/dev/null >"$work/domain-now.ldif" || true
awk '/^sAMAccountName: /{a=$2} /^scriptPath: Qel/{print a, $2}' "$work/domain-now.ldif" | sort -u >"$work/changed"
changed=$(grep -c . "$work/changed" || true)
[ "$changed" -gt 0 ] && [ "$changed" -lt 6000 ] || fail "close: $changed accounts changed (the run was not stopped midway)"
while read -r account script; do
  [ "$script" = "Qel$account.bat" ] || continue
  [ -f "$reh/NETLOGON/$script" ] || fail "close: $account points at $script, which is not there"
done <"$work/changed"
echo "wizard_races_wine: close during a run ok ($changed accounts changed before the stop)"

# ---------------------------------------------------------------- 3
set_version nt40
reh=$work/reh-nt4
start nt4 "$reh" /lang 1033 /select 'user000001;user000002' /center 10.1.2.3 \
  /package "$(winpath "$work/pkg/QelSetup.exe")"
press_next; sleep 3; press_next; sleep 2; press_next
for _ in $(seq 1 60); do [ -f "$reh/NETLOGON/Qeluser000001.bat" ] && break; sleep 0.5; done
sleep 3
press_next  # Finish
finish nt4
[ "$(listings)" = 1 ] || fail "nt4: the user page did not list the accounts"
grep -q '\[WAR\]    Item:' "$(logfile)" && fail "nt4: the directory was browsed on version 4"
n=$(awk '/^sAMAccountName: /{a=$2} /^scriptPath: Qel/{print a}' "$reh/domain.ldif" | grep -c '^user00000[12]$' || true)
[ "$n" = 2 ] || fail "nt4: the two accounts were not changed ($n)"
echo "wizard_races_wine: version 4 run ok"
echo "wizard_races_wine: ok"
