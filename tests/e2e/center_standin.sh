#!/usr/bin/env bash
# End to end: the center stand-in on 127.0.0.1 and the wizard's probe
# asking it, for a center that answers, one that answers only on a later
# port, one that answers malformed, one that answers from another port, and
# one that stays silent. Only 127.0.0.1 is used.
#   QEL_HOST_BUILD: the host build folder (default build/host)
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=${QEL_HOST_BUILD:-$here/build/host}
standin=$build/tools/center-standin/qel-center-standin
[ -x "$standin" ] || { echo "missing $standin (build the host build first)"; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/qel-center-e2e.XXXXXX")
server_pid=""
stop_server() {
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null
    wait "$server_pid" 2>/dev/null
    server_pid=""
  fi
}
cleanup() {
  stop_server
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
check() {
  if eval "$2"; then echo "ok   $1"; else echo "FAIL $1"; failures=$((failures + 1)); fi
}

# Starts the stand-in with the given options and waits until it listens.
# The center ports may be held for a moment by a test program: retry.
start_server() {
  rm -f "$work/ready" "$work/counts"
  local tries=0
  while :; do
    "$standin" --exit-after 60 --ready-file "$work/ready" --count-file "$work/counts" "$@" \
      >"$work/server.out" 2>"$work/server.err" &
    server_pid=$!
    for _ in $(seq 100); do
      [ -e "$work/ready" ] && return 0
      kill -0 "$server_pid" 2>/dev/null || break
      sleep 0.05
    done
    wait "$server_pid" 2>/dev/null
    server_pid=""
    tries=$((tries + 1))
    if [ $tries -ge 60 ]; then
      echo "stand-in did not start:"; cat "$work/server.err"; return 1
    fi
    sleep 0.5
  done
}

count() { awk -v p="$1" '$1 == p { print $2 }' "$work/counts"; }

probe() { "$standin" --probe 127.0.0.1 --local 127.0.0.1 --wait 100 "$@" >"$work/probe.out" 2>&1; }

# A center that answers at once.
start_server --reply-address 10.20.30.40 --reply-port 7300 || exit 1
probe; rc=$?
check "answering center: probe succeeds" "[ $rc -eq 0 ]"
check "answering center: address and port from the answer" \
  "grep -q 'center 10.20.30.40 port 7300 (answered from 127.0.0.1:7273)' '$work/probe.out'"
check "answering center: one datagram" "[ \"\$(count total)\" = 1 ]"
stop_server

# A center that answers only on the third port: the probe stops there.
start_server --answer-port 7275 || exit 1
probe --trace; rc=$?
check "third port: probe succeeds" "[ $rc -eq 0 ]"
check "third port: datagrams to 7273, 7274, 7275 only" \
  "[ \"\$(count 7273)\$(count 7274)\$(count 7275)\$(count 7276)\" = 1110 ] && [ \"\$(count total)\" = 3 ]"
check "third port: trace of the third send" \
  "grep -q '  >>2: Send UDP to 127.0.0.1:7275 , return=20(Error Code=' '$work/probe.out'"
stop_server

# A malformed answer (no second \"|\") is no answer.
start_server --malformed || exit 1
probe; rc=$?
check "malformed: probe fails" "[ $rc -eq 1 ]"
check "malformed: all ten ports asked" "[ \"\$(count total)\" = 10 ]"
stop_server

# An answer from another port of the center still counts.
start_server --answer-port 7274 --from-port 0 || exit 1
probe; rc=$?
check "answer from another port: probe succeeds" "[ $rc -eq 0 ]"
check "answer from another port: named port kept" "grep -q 'center 127.0.0.1 port 7274' '$work/probe.out'"
stop_server

# A late answer (after the wait) is missed on its port but read on the next.
start_server --answer-port 7273 --delay 150 || exit 1
probe; rc=$?
check "late answer: taken at the next wait" "[ $rc -eq 0 ] && [ \"\$(count total)\" = 2 ]"
stop_server

# A silent center: ten datagrams, one per port, then failure.
start_server --silent || exit 1
probe; rc=$?
check "silent center: probe fails" "[ $rc -eq 1 ]"
check "silent center: one datagram on each of the ten ports" \
  "[ \"\$(for p in \$(seq 7273 7282); do count \$p; done | tr -d '\n')\" = 1111111111 ]"
check "silent center: message" "grep -q 'no center answered at 127.0.0.1' '$work/probe.out'"
stop_server

# Nothing listening at all.
probe; rc=$?
check "no center: probe fails" "[ $rc -eq 1 ]"

echo "center stand-in: $failures failure(s)"
[ $failures -eq 0 ]
