#!/usr/bin/env bash
# Runs CMD in a private network and mount namespace: only 'lo' exists there, so
# nothing the command starts (the test domain controller, its clients) can send
# a packet off the machine. resolv.conf and hosts are replaced inside the
# namespace only: names resolve through the controller's own DNS on 127.0.0.1,
# and the controller's name (dc1.test.lan unless told otherwise) is loopback.
# The host name there is the controller's too: libldap asks Kerberos for
# ldap/<local host name> when it talks to 127.0.0.1. /run/samba
# is an empty one of the namespace's own: Samba's programs look for winbindd's
# socket only below it (see dc.sh start), and its clients keep their caches
# there, so nothing of the machine's is used or changed. The exit status is
# CMD's.
#   tools/samba/netns.sh [LDIF] [--dns NAME] [--controller NAME] -- CMD [ARGS...]
#   tools/samba/netns.sh CMD [ARGS...]
# The controller's names are taken as dc.sh provision takes them: from the
# header lines of the domain file LDIF, or the options.
#
# Every command that talks to the controller must run inside the same call:
# the namespace, and with it the controller and its network, ends with CMD.
set -u
if [ "${1-}" = --inside ]; then
  etc=$2 name=$3; shift 3
  ip link set lo up && hostname "$name" || exit 1
  mount --bind "$etc/resolv.conf" /etc/resolv.conf || exit 1
  mount --bind "$etc/hosts" /etc/hosts || exit 1
  { [ -d /run/samba ] || mkdir -p -m 755 /run/samba; } &&
    mount -t tmpfs -o mode=0755,size=16m qel-samba-run /run/samba || exit 1
  exec "$@"
fi
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$here/domain-names.sh"
usage="usage: $0 [LDIF] [--dns NAME] [--controller NAME] -- CMD [ARGS...]  or  $0 CMD [ARGS...]"
names=()
case ${1-} in
  --dns | --domain | --controller | -- | *.ldif)
    while [ $# -gt 0 ] && [ "$1" != -- ]; do names+=("$1"); shift; done
    [ $# -gt 0 ] && shift ;;
esac
[ $# -ge 1 ] || { echo "$usage" >&2; exit 2; }
qel_domain_names "${names[@]}" || { echo "$usage" >&2; exit 2; }
[ "$(id -u)" = 0 ] || { echo "netns.sh: needs root (unshare, mount)" >&2; exit 2; }
fqdn=${HOST,,}.$DNSDOMAIN
etc=$(mktemp -d /tmp/qel-netns.XXXXXX) || exit 1
trap 'rm -rf "$etc"' EXIT
echo 'nameserver 127.0.0.1' >"$etc/resolv.conf"
# The controller first: 127.0.0.1 must resolve back to its name, not
# localhost, or Kerberos clients ask for ldap/localhost (MIT's rdns
# canonicalization).
printf '127.0.0.1\t%s %s\n127.0.0.1\tlocalhost\n::1\tlocalhost ip6-localhost\n' "$fqdn" "${HOST,,}" >"$etc/hosts"
chmod 644 "$etc/resolv.conf" "$etc/hosts"
# Not exec: the files are removed once the namespace has ended.
unshare --net --mount --uts --propagation private --fork "$0" --inside "$etc" "${HOST,,}" "$@"
