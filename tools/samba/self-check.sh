#!/usr/bin/env bash
# Checks the fixture end to end: a throwaway DC in a private namespace,
# provisioned, loaded with LDIF (default: the sample domain), started; then
# every user account of the file must read back over LDAP with the file's
# scriptPath and userAccountControl. Prints how long each step took.
#   tools/samba/self-check.sh [LDIF]
set -u -o pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
ldif=$(realpath "${1:-$here/../../samples/sample-domain.ldif}") || exit 1
if [ "${QEL_SELF_CHECK_INSIDE-}" != 1 ]; then
  QEL_SELF_CHECK_INSIDE=1 exec "$here/netns.sh" "$0" "$ldif"
fi
work=$(mktemp -d /tmp/qel-dc-check.XXXXXX) || exit 1
trap '"$here/dc.sh" stop "$work/dc"; rm -rf "$work"' EXIT
step() {
  local t0=${EPOCHREALTIME/./} ms
  "$here/dc.sh" "$@" >"$work/out" || exit 1
  ms=$(((${EPOCHREALTIME/./} - t0) / 1000))
  printf 'self-check: %-9s %3d.%02d s\n' "$1" $((ms / 1000)) $((ms % 1000 / 10))
}
step provision "$work/dc"
step load "$work/dc" "$ldif" 2>/dev/null
step start "$work/dc"
step accounts "$work/dc"
mv "$work/out" "$work/stored.tsv"
step stop "$work/dc"
python3 "$here/ldif-to-samba.py" --accounts "$ldif" >"$work/expected.tsv" || exit 1
# Lines of the file that the DC does not have as they are; accounts the DC
# does not have at all were skipped by the load (deleted, or below an object
# of a class Samba lacks) and are only listed.
awk -F'\t' 'NR == FNR { dc[$1] = $0; next }
  { seen[$1] = 1 }
  !($1 in dc) { skipped = skipped " " $1; next }
  dc[$1] == $0 { ok++; next }
  { print "self-check: MISMATCH " $1 ": DC [" dc[$1] "], file [" $0 "]"; bad++ }
  END { for (n in dc) if (!(n in seen)) extra = extra " " n
        printf "self-check: %d accounts match, %d differ\n", ok, bad
        printf "self-check: not loaded:%s; only in the DC:%s\n", skipped ? skipped : " none", extra ? extra : " none"
        exit bad > 0 }' "$work/stored.tsv" "$work/expected.tsv"
