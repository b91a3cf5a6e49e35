# The names of a test controller's domain, for dc.sh and netns.sh (sourced):
#   qel_domain_names [LDIF] [--dns NAME] [--domain NETBIOS] [--controller NAME]
#   qel_domain_names --names-file FILE     (what dc.sh provision kept)
# sets DNSDOMAIN, DOMAIN and HOST. A domain file gives them by its header
# lines "# qel-dns:", "# qel-domain:" and "# qel-controller:" (or the DC=
# parts of its first entry for the DNS name); options override the file;
# what neither gives is test.lan, the DNS name's first part in capitals, and
# DC1. False, with a message on stderr, for a bad argument or name.
qel_domain_names() {
  local ldif="" dns="" netbios="" controller="" line key value
  DNSDOMAIN="" DOMAIN="" HOST=""
  while [ $# -gt 0 ]; do
    case $1 in
      --names-file)
        [ -f "${2-}" ] || return 1
        while IFS='=' read -r key value; do
          case $key in DNSDOMAIN) dns=$value ;; DOMAIN) netbios=$value ;; HOST) controller=$value ;; esac
        done <"$2"
        shift 2 ;;
      --dns) [ $# -ge 2 ] || return 1; dns=$2; shift 2 ;;
      --domain) [ $# -ge 2 ] || return 1; netbios=$2; shift 2 ;;
      --controller) [ $# -ge 2 ] || return 1; controller=$2; shift 2 ;;
      -*) echo "unknown option: $1" >&2; return 1 ;;
      *) [ -z "$ldif" ] || return 1; ldif=$1; shift ;;
    esac
  done
  if [ -n "$ldif" ]; then
    [ -f "$ldif" ] || { echo "no such domain file: $ldif" >&2; return 1; }
    local file_dns="" file_domain="" file_controller="" first_dn=""
    while IFS= read -r line; do
      line=${line%$'\r'}
      case $line in
        "# qel-dns:"*) file_dns=${line#*:} ;;
        "# qel-domain:"*) file_domain=${line#*:} ;;
        "# qel-controller:"*) file_controller=${line#*:} ;;
        dn:*) first_dn=${line#dn:}; break ;;
      esac
    done <"$ldif"
    file_dns=${file_dns// /} file_domain=${file_domain// /} file_controller=${file_controller// /}
    if [ -z "$file_dns" ] && [ -n "$first_dn" ]; then
      local part
      IFS=',' read -ra parts <<<"${first_dn// /}"
      for part in "${parts[@]}"; do
        case ${part,,} in dc=*) file_dns=${file_dns:+$file_dns.}${part#*=} ;; esac
      done
    fi
    : "${dns:=$file_dns}" "${netbios:=$file_domain}" "${controller:=$file_controller}"
  fi
  DNSDOMAIN=${dns:-test.lan}
  DNSDOMAIN=${DNSDOMAIN,,}
  DOMAIN=${netbios:-${DNSDOMAIN%%.*}}
  DOMAIN=${DOMAIN^^}
  HOST=${controller:-DC1}
  HOST=${HOST^^}
  # Names Samba and DNS take: NetBIOS names of at most 15 letters, digits
  # and hyphens, and a DNS name of two labels or more.
  [[ $DNSDOMAIN =~ ^[a-z0-9-]+(\.[a-z0-9-]+)+$ ]] || { echo "bad DNS name: $DNSDOMAIN" >&2; return 1; }
  [[ $DOMAIN =~ ^[A-Z0-9-]{1,15}$ ]] || { echo "bad NetBIOS domain name: $DOMAIN" >&2; return 1; }
  [[ $HOST =~ ^[A-Z0-9-]{1,15}$ ]] || { echo "bad controller name: $HOST" >&2; return 1; }
  [ "$HOST" != "$DOMAIN" ] || { echo "the controller cannot be named as the domain: $HOST" >&2; return 1; }
}
