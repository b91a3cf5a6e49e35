# Sourced by the Wine end-to-end scripts: a display of their own.
#   start_xvfb FIRST LAST
# starts Xvfb on the first free display number from FIRST to LAST, exports
# DISPLAY and sets xvfb_pid (the caller's clean-up kills it); returns 1, with
# xvfb_pid empty, when every one is taken.
start_xvfb() {
  local n
  xvfb_pid=""
  for n in $(seq "$1" "$2"); do
    [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    sleep 1
    if kill -0 "$xvfb_pid" 2>/dev/null; then export DISPLAY=":$n"; return 0; fi
    xvfb_pid=""
  done
  return 1
}
