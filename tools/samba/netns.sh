#!/usr/bin/env bash
# Runs CMD in a private network and mount namespace: only 'lo' exists there, so
# nothing the command starts (the test domain controller, its clients) can send
# a packet off the machine. resolv.conf and hosts are replaced inside the
# namespace only: names resolve through the controller's own DNS on 127.0.0.1,
# and dc1.test.lan is loopback. The host name there is dc1 too: libldap asks
# Kerberos for ldap/<local host name> when it talks to 127.0.0.1. /run/samba
# is an empty one of the namespace's own: Samba's programs look for winbindd's
# socket only below it (see dc.sh start), and its clients keep their caches
# there, so nothing of the machine's is used or changed. The exit status is
# CMD's.
#   tools/samba/netns.sh CMD [ARGS...]
set -u
if [ "${1-}" = --inside ]; then
  etc=$2; shift 2
  ip link set lo up && hostname dc1 || exit 1
  mount --bind "$etc/resolv.conf" /etc/resolv.conf || exit 1
  mount --bind "$etc/hosts" /etc/hosts || exit 1
  { [ -d /run/samba ] || mkdir -p -m 755 /run/samba; } &&
    mount -t tmpfs -o mode=0755,size=16m qel-samba-run /run/samba || exit 1
  exec "$@"
fi
[ $# -ge 1 ] || { echo "usage: $0 CMD [ARGS...]" >&2; exit 2; }
[ "$(id -u)" = 0 ] || { echo "netns.sh: needs root (unshare, mount)" >&2; exit 2; }
etc=$(mktemp -d /tmp/qel-netns.XXXXXX) || exit 1
trap 'rm -rf "$etc"' EXIT
echo 'nameserver 127.0.0.1' >"$etc/resolv.conf"
# dc1 first: 127.0.0.1 must resolve back to dc1.test.lan, not localhost, or
# Kerberos clients ask for ldap/localhost (MIT's rdns canonicalization).
printf '127.0.0.1\tdc1.test.lan dc1\n127.0.0.1\tlocalhost\n::1\tlocalhost ip6-localhost\n' >"$etc/hosts"
chmod 644 "$etc/resolv.conf" "$etc/hosts"
# Not exec: the files are removed once the namespace has ended.
unshare --net --mount --uts --propagation private --fork "$0" --inside "$etc" "$@"
