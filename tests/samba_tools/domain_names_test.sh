#!/usr/bin/env bash
# domain_names_test.sh DOMAIN-NAMES.SH SAMPLE.LDIF: the names dc.sh and
# netns.sh give a test controller, from domain files and options.
set -u
. "$1"
sample=$2
work=$(mktemp -d)
trap 'rm -rf -- "$work"' EXIT
bad=0
expect() {  # expect "DNS DOMAIN HOST" ARGS...
  local want=$1
  shift
  if ! qel_domain_names "$@" 2>"$work/err"; then
    echo "FAIL: [$*] refused: $(cat "$work/err")"; bad=1; return
  fi
  [ "$DNSDOMAIN $DOMAIN $HOST" = "$want" ] || { echo "FAIL: [$*] gave [$DNSDOMAIN $DOMAIN $HOST], expected [$want]"; bad=1; }
}
refuse() {  # refuse ARGS...: qel_domain_names must fail
  if qel_domain_names "$@" 2>/dev/null; then echo "FAIL: [$*] accepted as [$DNSDOMAIN $DOMAIN $HOST]"; bad=1; fi
}

expect "test.lan TEST DC1"
expect "test.lan TEST DC1" "$sample"
# Header lines with CR LF and blanks, in another case.
printf '# qel-domain:  Corp\r\n# qel-controller: srv7\r\n# qel-dns: Corp.Example\r\n\r\ndn: DC=corp,DC=example\r\n' > "$work/corp.ldif"
expect "corp.example CORP SRV7" "$work/corp.ldif"
# Options win over the file.
expect "corp.example CORP DC2" "$work/corp.ldif" --controller dc2
expect "other.test OTHER DC1" --dns other.test
# No header lines: the DNS name from the first entry's DC= parts, the
# NetBIOS name from its first label; the header ends at the first entry.
printf 'dn: OU=x,DC=branch,DC=Example,DC=org\nobjectClass: top\n\n# qel-dns: late.test\n' > "$work/plain.ldif"
expect "branch.example.org BRANCH DC1" "$work/plain.ldif"
# What dc.sh provision keeps for the other commands reads back the same.
printf 'DNSDOMAIN=corp.example\nDOMAIN=CORP\nHOST=SRV7\n' > "$work/names"
expect "corp.example CORP SRV7" --names-file "$work/names"

refuse --dns single
refuse --dns "bad name.test"
refuse --domain ABCDEFGHIJKLMNOP
refuse --controller "dc_1"
refuse --domain TEST --controller test
refuse "$work/missing.ldif"
refuse --bogus x
refuse --dns
exit $bad
