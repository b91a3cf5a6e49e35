#!/usr/bin/env bash
# The deployment's speed on a Samba controller: a throwaway controller in a
# private namespace holding ACCOUNTS generated accounts (default 2,000) in one
# organisational unit, and bench_samba's add, remove and AnyScriptedUser over
# it, beside the embedded store of the same domain. Prints one table, each
# Samba mode twice: as the back-end runs ("grouped"), and with one request
# per read and each write on its own ("per account"), with the requests per
# changed account, and the CPU time the program itself spent (the rest is
# the controller's, or waiting for it). Last for each mode, "one write
# alone": the controller's own cost of one account write with nothing read
# first and no engine around it, the floor of any run whose writes cannot
# share a transaction. QEL_BENCH_NETAPI=1 adds the runs that write through
# Samba's network-management library; QEL_BENCH_SELECTED=0 leaves out the
# runs that select the accounts one by one.
#   tools/samba/bench.sh [ACCOUNTS]
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
bench=${QEL_BUILD:-$here/../../build/host}/tests/samba/bench_samba
[ -x "$bench" ] || { echo "bench.sh: build the host build first (tools/build.sh host)" >&2; exit 1; }
if [ "${QEL_BENCH_INSIDE-}" != 1 ]; then
  QEL_BENCH_INSIDE=1 exec "$here/netns.sh" "$0" "$@"
fi
accounts=${1:-2000}
work=$(mktemp -d /tmp/qel-bench.XXXXXX)
trap '"$here/dc.sh" stop "$work/dc"; rm -rf -- "$work"' EXIT
"$bench" generate "$accounts" "$work/domain.ldif"
"$here/dc.sh" provision "$work/dc" > /dev/null
"$here/dc.sh" load "$work/dc" "$work/domain.ldif" > /dev/null 2>&1
conf=$("$here/dc.sh" start "$work/dc" | tail -n 1)
export KRB5_CONFIG=$work/dc/private/krb5.conf KRB5CCNAME=FILE:$work/krb5cc
kinit Administrator@TEST.LAN < "$work/dc/admin.pass" > /dev/null
echo "bench: $accounts accounts in OU=Unit0001, every third with a logon script of its own; $(nproc) cores"
"$bench" run "$work/domain.ldif" "$conf"
