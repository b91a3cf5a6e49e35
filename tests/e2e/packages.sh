#!/usr/bin/env bash
# What an administrator installs, installed and run: the release packages are
# made from the builds (tools/package.sh), then
#   - the Debian package is installed with apt-get; every program answers
#     --version with the package's version and needs nothing outside the
#     system; man qel-deploy renders; the demo, and a rehearsal of the
#     terminal wizard with a package given as a Linux path, run from the
#     installed files with the checkout hidden;
#   - the Windows ZIP is unpacked: QelScript.exe and QelCheck.exe are PE32
#     i686 GUI programs that import only Windows' own DLLs and carry a version
#     resource with the package's version; the guides, the licence and the
#     checksums are there and the checksums match;
#   - the x86_64 twin's ZIP has the same layout, and its QelScript.exe shows
#     its first page under Wine from the unpacked folder.
# The package stays installed (a later run replaces it).
#
# Needs root (apt-get, and a mount namespace to hide the checkout).
#   QEL_WINEPREFIX  the Wine prefix (default build/wineprefix)
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
# shellcheck source=tests/e2e/lib/xvfb_display.sh
. "$here/tests/e2e/lib/xvfb_display.sh"

if [ "$(id -u)" != 0 ]; then
  sudo -n true 2>/dev/null || { echo "packages: needs root (or sudo without a password) to install the package" >&2; exit 1; }
  exec sudo -n --preserve-env=QEL_WINEPREFIX,QEL_JOBS bash "$0" "$@"
fi

work=$(mktemp -d /tmp/qel-packages.XXXXXX)
chmod 755 "$work"
xvfb_pid=""
export WINEPREFIX=${QEL_WINEPREFIX:-$here/build/wineprefix} WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
  [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
  rm -rf -- "$work"
}
trap cleanup EXIT
failures=0
fail() {
  echo "packages: FAIL: $*" >&2
  failures=$((failures + 1))
}

t0=$SECONDS
"$here/tools/package.sh" host win32 win64 > "$work/made.txt"
echo "packages: made in $((SECONDS - t0)) s:" $(cat "$work/made.txt")
deb=$(grep '\.deb$' "$work/made.txt")
zip32=$(grep 'win32\.zip$' "$work/made.txt")
zip64=$(grep 'win64\.zip$' "$work/made.txt")
version=$(dpkg-deb -f "$deb" Version)

# --- The Debian package ------------------------------------------------------
apt-get install -y --no-install-recommends --reinstall -o DPkg::Lock::Timeout=600 "$deb" > "$work/apt.log" 2>&1 ||
  { cat "$work/apt.log" >&2; echo "packages: apt-get cannot install $deb" >&2; exit 1; }
[ "$(dpkg-query -W -f='${Status} ${Version}' qelscript)" = "install ok installed $version" ] ||
  fail "qelscript $version is not installed"
for program in qel-deploy qelscript qelcheck domain-tool qel-center-standin; do
  path=/usr/bin/$program
  [ -x "$path" ] || { fail "no $path"; continue; }
  [ "$("$path" --version)" = "$program $version" ] || fail "$program --version says \"$("$path" --version)\", the package $version"
  ! readelf -d "$path" | grep -qE 'RPATH|RUNPATH' || fail "$program carries a library search path"
  ! ldd "$path" | grep -q "not found" || fail "$program needs libraries the package does not bring: $(ldd "$path" | grep "not found")"
done
# Slim container images tell dpkg to drop every manual page.
if grep -qs '^path-exclude.*/usr/share/man' /etc/dpkg/dpkg.cfg.d/*; then
  fail "dpkg here drops manual pages (path-exclude in /etc/dpkg/dpkg.cfg.d): man qel-deploy cannot be checked"
fi
MANWIDTH=80 man --warnings qel-deploy > "$work/man.txt" 2> "$work/man.err" || fail "man qel-deploy failed: $(cat "$work/man.err")"
[ ! -s "$work/man.err" ] || fail "man qel-deploy warns: $(cat "$work/man.err")"
tr -s ' ' < "$work/man.txt" | grep -q "qel-deploy - add the Qel client" && grep -q "EXIT STATUS" "$work/man.txt" ||
  fail "man qel-deploy does not show the page"

# The installed files alone: the checkout (sources and builds) is hidden
# behind an empty folder in a mount namespace of their own.
hidden() { unshare --mount --propagation private bash -c 'mount -t tmpfs -o size=1m qel-hidden "$1" && shift && cd / && exec env PATH=/usr/bin:/bin "$@"' hidden "$here" "$@"; }
hidden /usr/share/qelscript/demo.sh > "$work/demo.out" 2>&1 || fail "the installed demo failed: $(tail -n 5 "$work/demo.out")"
grep -q "^OK: every account's original script path is back" "$work/demo.out" || fail "the installed demo did not restore the accounts"

mkdir -p "$work/pkg" "$work/rehearsal/C/Program Files/Orvane"
echo "Orvane Qel install package" > "$work/pkg/QelSetup.exe"
cp /usr/bin/qelcheck "$work/rehearsal/C/Program Files/Orvane/QelCheck.exe"
printf 'add\nnext\nbackupop;rscott\nn\nnext\n10.1.2.3\n%s\nnext\nfinish\n' "$work/pkg/QelSetup.exe" |
  hidden timeout 120 qelscript --rehearse /usr/share/qelscript/sample-domain.ldif "$work/rehearsal" > "$work/wizard.out" 2>&1 ||
  fail "the installed terminal wizard failed: $(tail -n 5 "$work/wizard.out")"
grep -q "^Completed, total: 2 , Succeed: 2.$" "$work/wizard.out" || fail "the rehearsal with a Linux package path did not complete"
cmp -s "$work/pkg/QelSetup.exe" "$work/rehearsal/C/NETLOGON/QelSetup.exe" || fail "the rehearsal did not stage the package from its Linux path"

# --- The Windows ZIPs ----------------------------------------------------------
quad=$version.0
unpack() {  # unpack ZIP FOLDER: the package's one top folder
  mkdir -p "$2" && unzip -q "$1" -d "$2" && ls -d "$2"/*/
}
win32=$(unpack "$zip32" "$work/win32")
win64=$(unpack "$zip64" "$work/win64")
layout() { (cd "$1" && find . -type f | sort); }
expected=$'./Guide-en.txt\n./Guide-zh-CN.txt\n./Guide-zh-TW.txt\n./LICENSE.txt\n./QelCheck.exe\n./QelScript.exe\n./SHA256SUMS.txt'
[ "$(layout "$win32")" = "$expected" ] || fail "the win32 ZIP holds: $(layout "$win32" | tr '\n' ' ')"
[ "$(layout "$win64")" = "$(layout "$win32")" ] || fail "the x86_64 twin's ZIP is laid out otherwise"
python3 "$here/tests/packaging/pe_check.py" i386 "$quad" "$win32/QelScript.exe" "$win32/QelCheck.exe" ||
  fail "the shipped programs are not as they must be"
python3 "$here/tests/packaging/pe_check.py" amd64 "$quad" "$win64/QelScript.exe" "$win64/QelCheck.exe" ||
  fail "the x86_64 twins are not as they must be"
for folder in "$win32" "$win64"; do
  (cd "$folder" && tr -d '\r' < SHA256SUMS.txt | sha256sum --quiet -c -) || fail "$folder: the checksums do not match"
  for guide in "$folder"/Guide-*.txt; do
    [ "$(head -c 3 "$guide" | od -An -tx1 | tr -d ' ')" = efbbbf ] || fail "$guide has no byte-order mark"
    grep -q "/rehearse" "$guide" || fail "$guide does not explain the rehearsal"
  done
done

# --- The twin's first page under Wine, from the unpacked folder --------------
[ -f "$WINEPREFIX/system.reg" ] || QEL_WINEPREFIX=$WINEPREFIX "$here/tools/wine-prefix.sh" > /dev/null
start_xvfb 121 160 || { fail "no free X display"; exit 1; }
winpath() { echo "Z:$1" | tr '/' '\\'; }
cp /usr/share/qelscript/sample-domain.ldif "$work/sample.ldif"
(cd "$win64" && timeout 300 wine ./QelScript.exe /rehearse "$(winpath "$work/sample.ldif")" "$(winpath "$work/wine-rehearsal")" \
   /lang 1033 > "$work/wine.out" 2>&1; echo $? > "$work/wine.status") &
runner=$!
# Without a window manager Wine's windows carry no name: the wizard is the
# window of a property sheet's size.
window=""
for _ in $(seq 1 240); do
  for id in $(xdotool search --onlyvisible --name "" 2>/dev/null); do
    eval "$(xdotool getwindowgeometry --shell "$id" 2>/dev/null)" || continue
    if [ "$WIDTH" -gt 300 ] && [ "$WIDTH" -lt 1000 ]; then window=$id; break; fi
  done
  [ -n "$window" ] && break
  kill -0 "$runner" 2>/dev/null || break
  sleep 0.5
done
if [ -z "$window" ]; then
  fail "the unpacked QelScript.exe showed no wizard under Wine ($(tail -n 3 "$work/wine.out" 2>/dev/null))"
else
  sleep 2
  eval "$(xdotool getwindowgeometry --shell "$window")"
  # A property sheet, not a message box of the start-up gate; the sheet
  # opens on its first page. Its picture goes beside the packages.
  [ "$WIDTH" -gt 450 ] && [ "$HEIGHT" -gt 350 ] || fail "a ${WIDTH}x$HEIGHT window came up, not the wizard"
  import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$here/build/win64/packaged-first-page.png" 2>/dev/null || true
  xdotool key --window "$window" Escape
fi
for _ in $(seq 1 60); do kill -0 "$runner" 2>/dev/null || break; sleep 0.5; done
kill -0 "$runner" 2>/dev/null && { fail "the wizard did not close on Escape"; wineserver -k 2>/dev/null || true; }
wait "$runner" 2>/dev/null || true
[ "$(cat "$work/wine.status" 2>/dev/null)" = 0 ] || fail "QelScript.exe ended with status $(cat "$work/wine.status" 2>/dev/null)"
[ -f "$work/wine-rehearsal/domain.ldif" ] || fail "the rehearsal under Wine made no copy of the domain file"
[ ! -e "$work/wine-rehearsal/NETLOGON/QelInstall.bat" ] || fail "the first page staged files"
wineserver -k 2>/dev/null || true

if [ "$failures" -ne 0 ]; then
  echo "packages: $failures failure(s)"
  exit 1
fi
echo "packages: passed ($(basename "$deb") installed and run; $(basename "$zip32") and $(basename "$zip64") checked; in $((SECONDS - t0)) s)"
