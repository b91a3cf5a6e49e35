#!/usr/bin/env bash
# A throwaway Samba Active Directory domain controller for the host build's
# tests, with everything it owns (databases, sockets, pid, logs, smb.conf) in
# one state folder DIR, so that several instances never share a file. Start
# it inside tools/samba/netns.sh (with the same domain file or names): it
# serves on loopback only.
#
#   dc.sh provision DIR [LDIF] [--dns NAME] [--domain NETBIOS] [--controller NAME]
#                              new domain; the Administrator password goes to DIR/admin.pass
#
# The domain's names come from the options, else from the header lines of
# the domain file LDIF ("# qel-dns:", "# qel-domain:", "# qel-controller:",
# as the domain store reads them), else they are test.lan, TEST and DC1. The
# realm is the DNS name in capitals. Provision keeps them in DIR/names for
# the other commands.
#   dc.sh load DIR LDIF        the domain's objects from an LDIF (the DC stopped)
#   dc.sh start DIR            runs samba, waits until it answers, prints DIR/etc/smb.conf
#   dc.sh stop DIR             stops it (nothing to do when it is not running)
#   dc.sh accounts DIR         sAMAccountName TAB scriptPath TAB userAccountControl per user
#
# QEL_DC_MAX_RUNTIME (seconds, default 3600) bounds how long a started samba
# lives even if nobody stops it; QEL_DC_START_TIMEOUT (default 120) how long
# start waits for it to answer.
set -u -o pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=tools/samba/domain-names.sh
. "$here/domain-names.sh"
REALM=TEST.LAN DOMAIN=TEST HOST=DC1 DNSDOMAIN=test.lan BASE=DC=test,DC=lan

die() { echo "dc.sh: $*" >&2; exit 1; }

# "state starttime" of a process, from /proc/PID/stat (after the name, which
# may hold blanks; samba renames its processes).
proc_stat() { local s; s=$(cat "/proc/$1/stat" 2>/dev/null) || return 1; s=${s##*) }; set -- $s; echo "$1 ${20}"; }

# The pid of the samba this DIR started, if it still runs: not a zombie, and
# not some later process that got the same pid (run/dc.pid holds its start time too).
running_pid() {
  local pid start now
  read -r pid start 2>/dev/null <"$dir/run/dc.pid" || return 1
  now=$(proc_stat "$pid") || return 1
  [ "$now" = "${now%% *} $start" ] && [ "${now%% *}" != Z ] || return 1
  echo "$pid"
}

# Samba's clients of winbindd, smbd among them (it has winbindd map the SIDs
# of every session it sets up to unix ids), look for its socket only in the
# directory built into libwbclient, whatever "winbindd socket directory"
# says: with nobody answering there every SMB session setup fails with
# NT_STATUS_INTERNAL_ERROR. So start binds the controller's socket directory
# in DIR there, in the namespace's own /run/samba (netns.sh): controllers in
# separate namespaces never meet, and the machine's /run/samba is not touched.
builtin_wb=/run/samba/winbindd

same_dir() { [ "$(stat -c %d:%i "$1" 2>/dev/null)" = "$(stat -c %d:%i "$2" 2>/dev/null)" ]; }

bind_winbindd() {
  local own=$dir/run/winbindd
  [ "$(readlink /proc/self/ns/mnt)" != "$(readlink /proc/1/ns/mnt)" ] && mountpoint -q /run/samba ||
    die "start it inside tools/samba/netns.sh (/run/samba is not the namespace's own)"
  # winbindd refuses a socket directory others may write to.
  mkdir -p -m 755 "$own" "$builtin_wb" && chmod 755 "$own" || die "cannot create $own and $builtin_wb"
  if mountpoint -q "$builtin_wb"; then
    same_dir "$builtin_wb" "$own" && return 0
    die "$builtin_wb is another controller's in this namespace: stop that one first"
  fi
  mount --bind "$own" "$builtin_wb" || die "cannot bind $own to $builtin_wb"
}

# Only the binding of this DIR; nothing when stop runs in another namespace.
# Children killed a moment ago may still hold the socket: a few tries, then
# detached (it goes when they are gone).
unbind_winbindd() {
  local i
  mountpoint -q "$builtin_wb" && same_dir "$builtin_wb" "$dir/run/winbindd" || return 0
  for ((i = 0; i < 20; i++)); do
    umount "$builtin_wb" 2>/dev/null && return 0
    sleep 0.1
  done
  umount -l "$builtin_wb" || echo "dc.sh: cannot unbind $builtin_wb" >&2
}

# ldapi URL of the privileged socket (root only). Searches on it need no bind;
# changes do (as Administrator), or they are refused for want of access.
ldapi() { local p=$dir/private/ldap_priv/ldapi; echo "ldapi://${p//\//%2F}"; }

provision() {
  [ ! -e "$dir" ] || [ -z "$(ls -A "$dir")" ] || die "$dir is not empty"
  mkdir -p "$dir/etc" "$dir/log" "$dir/run" || die "cannot create $dir"
  # An empty smb.conf of our own: otherwise provision starts from
  # /etc/samba/smb.conf and copies the machine's settings into ours.
  : >"$dir/etc/smb.conf"
  # No --adminpass: provision makes up a random password and logs it once,
  # so it never appears on a command line. It goes to admin.pass, not to the
  # log, without a newline: as ldapsearch -y, PASSWD_FILE and kinit <file take it.
  printf 'DNSDOMAIN=%s\nDOMAIN=%s\nHOST=%s\n' "$DNSDOMAIN" "$DOMAIN" "$HOST" >"$dir/names"
  samba-tool domain provision --configfile="$dir/etc/smb.conf" --targetdir="$dir" \
    --realm=$REALM --domain=$DOMAIN --host-name=$HOST --server-role=dc \
    --dns-backend=SAMBA_INTERNAL --use-rfc2307 \
    --option="interfaces=lo" --option="bind interfaces only=yes" \
    --option="dns forwarder=127.0.0.2" --option="log file=$dir/log/log.%m" \
    --option="pid directory=$dir/run" --option="ncalrpc dir=$dir/run/ncalrpc" \
    --option="winbindd socket directory=$dir/run/winbindd" \
    --option="ntp signd socket directory=$dir/run/ntp_signd" 2>&1 |
    (umask 077; exec awk -v pass="$dir/admin.pass" \
      '/Admin password:/ { printf "%s", $NF > pass; next } { print }' >"$dir/log/provision.log") ||
    { tail -n 20 "$dir/log/provision.log" >&2; die "provision failed (log: $dir/log/provision.log)"; }
  [ -s "$dir/admin.pass" ] || die "provision printed no Administrator password"
  chmod 600 "$dir/admin.pass"
  # Simple binds on 389 for the tests' clients. Provision does not keep this
  # option, so it is added afterwards.
  sed -i '/^\[global\]/a\\tldap server require strong auth = no' "$dir/etc/smb.conf"
  echo "dc.sh: provisioned $REALM in $dir"
}

load() {
  local ldif=$1 sam=$dir/private/sam.ldb t0=$SECONDS
  [ -f "$ldif" ] || die "no such LDIF: $ldif"
  [ -f "$sam" ] || die "$dir holds no provisioned domain"
  running_pid >/dev/null && die "the DC of $dir is running: stop it before load"
  mkdir -p "$dir/load"
  # What the domain has already, for the converter: the schema and the objects.
  { ldbsearch -H "$sam" -b "CN=Schema,CN=Configuration,$BASE" \
      '(|(objectClass=attributeSchema)(objectClass=classSchema))' \
      lDAPDisplayName objectClass systemOnly systemFlags linkID &&
    ldbsearch -H "$sam" -b "$BASE" '(objectClass=*)' objectClass objectSid primaryGroupID member
  } >"$dir/load/known.ldif" || die "cannot read $sam"
  python3 "$here/ldif-to-samba.py" "$ldif" "$dir/load/known.ldif" >"$dir/load/changes.ldif" ||
    die "cannot convert $ldif"
  # One transaction: on a refused record nothing is loaded.
  ldbmodify --nosync -H "$sam" "$dir/load/changes.ldif" >"$dir/log/load.log" 2>&1 ||
    { cat "$dir/log/load.log" >&2; die "ldbmodify refused $dir/load/changes.ldif"; }
  # Every account that was loaded must read back as the file has it. (Samba
  # drops the logon-script bit 0x1 when userAccountControl is modified rather
  # than added, which would hit an account the domain had already.)
  python3 "$here/ldif-to-samba.py" --accounts "$ldif" >"$dir/load/expected.tsv" &&
    accounts >"$dir/load/stored.tsv" || die "cannot compare the accounts"
  awk -F'\t' 'NR == FNR { dc[$1] = $0; next }
    !($1 in dc) { print "dc.sh: not loaded (skipped): " $1 > "/dev/stderr"; next }
    dc[$1] != $0 { print "dc.sh: " $1 " reads back as [" dc[$1] "], the file has [" $0 "]"; bad = 1 }
    END { exit bad }' "$dir/load/stored.tsv" "$dir/load/expected.tsv" >&2 ||
    die "the domain does not hold the accounts as $ldif has them"
  echo "dc.sh: loaded $ldif in $((SECONDS - t0)) s"
}

start() {
  local conf=$dir/etc/smb.conf i out
  [ -f "$conf" ] || die "$dir holds no provisioned domain"
  running_pid >/dev/null && die "the DC of $dir is running already"
  mkdir -p "$dir/run" "$dir/log" || die "cannot write to $dir"
  # Only inside a namespace of its own: it must not serve anything off the
  # machine, nor find its ports taken by the host's services.
  [ -z "$(ip -o link show | grep -v ': lo:')" ] ||
    die "start it inside tools/samba/netns.sh (this network namespace has more than lo)"
  trap 'stop >/dev/null' EXIT
  trap 'exit 1' INT TERM HUP
  bind_winbindd
  # Its own session, so that stop can end its children with it.
  setsid samba -F -s "$conf" --maximum-runtime="${QEL_DC_MAX_RUNTIME:-3600}" \
    </dev/null >"$dir/log/samba.out" 2>&1 &
  echo "$! $(proc_stat $! | cut -d' ' -f2)" >"$dir/run/dc.pid"
  for ((i = 0; ; i++)); do
    ldapsearch -LLL -x -H "$(ldapi)" -s base -b "" defaultNamingContext >/dev/null 2>&1 && break
    running_pid >/dev/null || { tail -n 20 "$dir/log/samba.out" >&2; die "samba exited while starting (logs: $dir/log)"; }
    ((i < ${QEL_DC_START_TIMEOUT:-120} * 10)) || die "samba did not answer within ${QEL_DC_START_TIMEOUT:-120} s"
    sleep 0.1
  done
  # DsGetDcName looks the controller up in the DC's own DNS; provision gives
  # the controller no address (it never uses 127.0.0.1). The password is read from the
  # file by samba-tool itself (PASSWD_FILE), never put on the command line.
  for ((i = 0; ; i++)); do
    out=$(PASSWD_FILE=$dir/admin.pass samba-tool dns add 127.0.0.1 $DNSDOMAIN "$host_lower" A 127.0.0.1 \
            -s "$conf" -U Administrator 2>&1) && break
    grep -qi "already exists" <<<"$out" && break   # a restart
    ((i < 30)) || { echo "$out" >&2; die "cannot add the A record of $host_lower.$DNSDOMAIN"; }
    sleep 1
  done
  trap - EXIT INT TERM HUP
  echo "$conf"
}

stop() {
  local pid i
  pid=$(running_pid) || { rm -f "$dir/run/dc.pid"; unbind_winbindd; return 0; }
  kill -TERM "$pid" 2>/dev/null
  for ((i = 0; i < 200; i++)); do
    running_pid >/dev/null || break
    sleep 0.1
  done
  running_pid >/dev/null && echo "dc.sh: samba $pid ignored TERM for 20 s: killing it" >&2
  # Its whole process group (setsid above): children that outlived it too.
  kill -KILL -- "-$pid" 2>/dev/null
  rm -f "$dir/run/dc.pid"
  unbind_winbindd
}

accounts() {
  local query=("(sAMAccountType=805306368)" sAMAccountName scriptPath userAccountControl objectClass)
  if running_pid >/dev/null; then
    ldapsearch -LLL -x -H "$(ldapi)" -o ldif-wrap=no -E pr=500/noprompt -b "$BASE" "${query[@]}"
  else
    [ -f "$dir/private/sam.ldb" ] || die "$dir holds no provisioned domain"
    ldbsearch -H "$dir/private/sam.ldb" -b "$BASE" "${query[@]}"
  fi | python3 "$here/ldif-to-samba.py" --accounts - || die "cannot read the accounts of $dir"
}

cmd=${1-}
[ $# -ge 2 ] || die "usage: dc.sh provision|load|start|stop|accounts DIR [LDIF]"
case $2 in /*) dir=$2 ;; *) dir=$PWD/$2 ;; esac
dir=${dir%/}
case $dir in *[[:space:]]*) die "DIR must not contain blanks: $dir" ;; esac
if [ "$cmd" = provision ]; then
  shift 2
  qel_domain_names "$@" || die "usage: dc.sh provision DIR [LDIF] [--dns NAME] [--domain NETBIOS] [--controller NAME]"
  set -- provision "$dir"
elif [ -f "$dir/names" ]; then
  qel_domain_names --names-file "$dir/names" || die "$dir/names is damaged"
fi
REALM=${DNSDOMAIN^^} BASE=DC=${DNSDOMAIN//./,DC=} host_lower=${HOST,,}
case $cmd in
  provision | start | stop | accounts) [ $# -eq 2 ] || die "usage: dc.sh $cmd DIR"; "$cmd" ;;
  load) [ $# -eq 3 ] || die "usage: dc.sh load DIR LDIF"; load "$3" ;;
  *) die "unknown command: $cmd" ;;
esac
