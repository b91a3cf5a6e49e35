#!/usr/bin/env python3
"""Turns a domain LDIF (the shape of samples/sample-domain.ldif, or what
domain-tool generates, or an export from a Windows domain) into the change
LDIF that a freshly provisioned Samba sam.ldb accepts, for ldbmodify.

    ldif-to-samba.py DOMAIN.ldif KNOWN.ldif > changes.ldif
    ldif-to-samba.py --accounts FILE.ldif        (FILE - reads stdin)

KNOWN.ldif is what the target already holds, as ldbsearch prints it: its
schema (lDAPDisplayName, objectClass, systemOnly, systemFlags, linkID of every
attributeSchema and classSchema) and every object of the domain partition
(objectClass, objectSid, primaryGroupID, member). tools/samba/dc.sh makes it.

What comes out, in this order:
  1. an add for each object the domain does not have yet, parents first,
     without the attributes Samba keeps itself (GUIDs, SIDs, USNs, times,
     back links, DC-local counters) and without member and primaryGroupID;
  2. for each user account the domain already has (Administrator, Guest):
     displayName, description, scriptPath, profilePath and userAccountControl replaced by
     the file's, so that the directory then reads as the file;
  3. the group memberships, once every member exists (a group's primary
     members are not listed in its member attribute, here as in Windows);
  4. primaryGroupID where the file gives one other than the default: Samba
     refuses it on add, takes only a group the account is a member of, and
     then lists the account as a member of its old primary group.
Skipped, with a count on stderr: objects the domain already has (other than
the user accounts of step 2), deleted objects (isDeleted TRUE), objects of a
class this schema lacks, and everything below a skipped object.

The second form prints the user accounts of any LDIF (the source file, or an
ldapsearch/ldbsearch of the directory) one a line, sorted by sAMAccountName:
sAMAccountName TAB scriptPath TAB userAccountControl, a field empty when the
attribute is absent. Computers, contacts and deleted objects are left out.
"""
import base64
import sys

# Never stripped, whatever the schema says about them (objectClass is
# systemOnly, but that only forbids changing it later).
KEEP = {'objectclass', 'cn', 'samaccountname', 'displayname', 'scriptpath', 'profilepath', 'useraccountcontrol'}
# What step 2 overwrites on an account that exists already.
ACCOUNT_ATTRS = ['displayName', 'description', 'scriptPath', 'profilePath', 'userAccountControl']
# Settable in principle, but they describe the source domain's state (its
# SIDs, its security descriptors, its password and logon history), which means
# nothing here or is refused.
STRIP = {'samaccounttype', 'pwdlastset', 'ntsecuritydescriptor', 'sidhistory', 'iscriticalsystemobject',
         'systemflags', 'lastlogontimestamp', 'lockouttime', 'member', 'primarygroupid', 'changetype'}
UF_WORKSTATION_TRUST, UF_SERVER_TRUST = 0x1000, 0x2000


def records(path):
    """Yields each record of an LDIF file as a list of (attribute, bytes)."""
    with open(path, 'rb') as f:
        lines = f.read().decode('utf-8').splitlines()
    logical = []            # unfolded lines, a blank line between records
    for line in lines:
        if line.startswith(' ') and logical:
            logical[-1] += line[1:]      # a continuation (of a comment too)
        else:
            logical.append(line)
    record = []
    for line in logical + ['']:
        if line.strip() == '':
            if record:
                yield record
            record = []
            continue
        if line.startswith('#'):
            continue
        attr, sep, rest = line.partition(':')
        if not sep:
            sys.exit('%s: not an LDIF line: %r' % (path, line))
        if rest.startswith(':'):
            value = base64.b64decode(rest[1:].strip())
        elif rest.startswith('<'):
            sys.exit('%s: values read from a URL are not supported: %r' % (path, line))
        else:
            value = rest.lstrip(' ').encode('utf-8')
        if attr.lower() == 'version' and not record:
            continue
        if attr.lower() == 'changetype' and value.lower() != b'add':
            sys.exit('%s: only new entries, not changes, are read: %r' % (path, line))
        record.append((attr, value))
    return


def split_dn(dn):
    """The RDNs of a DN, split at the commas that are not escaped."""
    parts, cur, i = [], '', 0
    while i < len(dn):
        c = dn[i]
        if c == '\\' and i + 1 < len(dn):
            cur += dn[i:i + 2]
            i += 2
            continue
        if c == ',':
            parts.append(cur.strip())
            cur = ''
        else:
            cur += c
        i += 1
    parts.append(cur.strip())
    return parts


def norm(dn):
    return ','.join(p.lower() for p in split_dn(dn))


def parent(dn_norm):
    return ','.join(split_dn(dn_norm)[1:])


def text(value):
    return value.decode('utf-8', 'replace')


def write(out, attr, value):
    """One attribute line, base64 where LDIF does not allow the plain text."""
    safe = (value and all(0x20 <= b < 0x7f for b in value) and value[:1] not in (b' ', b':', b'<')
            and not value.endswith(b' '))
    if safe or not value:
        out.write('%s: %s\n' % (attr, value.decode('ascii')))
    else:
        out.write('%s:: %s\n' % (attr, base64.b64encode(value).decode('ascii')))


class Entry:
    def __init__(self, record):
        self.dn = text(record[0][1]) if record[0][0].lower() == 'dn' else None
        self.attrs = record[1:]

    def values(self, name):
        return [v for a, v in self.attrs if a.split(';')[0].lower() == name.lower()]

    def first(self, name, default=None):
        v = self.values(name)
        return text(v[0]) if v else default

    def classes(self):
        return {text(v).lower() for v in self.values('objectClass')}


def default_primary_group(uac):
    return 516 if uac & UF_SERVER_TRUST else 515 if uac & UF_WORKSTATION_TRUST else 513


def is_account(e):
    oc = e.classes()
    return ('user' in oc and 'computer' not in oc and e.values('sAMAccountName')
            and not any(text(v).upper() == 'TRUE' for v in e.values('isDeleted')))


def print_accounts(path):
    rows = []
    for rec in records('/dev/stdin' if path == '-' else path):
        e = Entry(rec)
        if e.dn and is_account(e):
            rows.append([e.first(a, '') for a in ('sAMAccountName', 'scriptPath', 'userAccountControl')])
    for row in sorted(rows, key=lambda r: (r[0].lower(), r[0])):
        print('\t'.join(row))


def main():
    if len(sys.argv) == 3 and sys.argv[1] == '--accounts':
        return print_accounts(sys.argv[2])
    if len(sys.argv) != 3:
        sys.exit('usage: ldif-to-samba.py DOMAIN.ldif KNOWN.ldif > load.ldif\n'
                 '       ldif-to-samba.py --accounts FILE.ldif')
    src, known_path = sys.argv[1], sys.argv[2]

    # What the target has: its schema and its objects.
    classes, class_dns, attrs = set(), set(), {}
    existing = {}           # normalized DN -> Entry
    domain_dn = None
    for rec in records(known_path):
        e = Entry(rec)
        if e.dn is None:
            continue        # ldbsearch's referrals
        oc = e.classes()
        if 'classschema' in oc:
            classes.add(e.first('lDAPDisplayName').lower())
            class_dns.add(norm(e.dn))
        elif 'attributeschema' in oc:
            flags = int(e.first('systemFlags', '0'))
            link = int(e.first('linkID', '0'))
            managed = (e.first('systemOnly') == 'TRUE' or flags & 4 or flags & 1 or link % 2 == 1)
            attrs[e.first('lDAPDisplayName').lower()] = managed
        else:
            existing[norm(e.dn)] = e
            if 'domaindns' in oc:
                domain_dn = norm(e.dn)
    if not classes or not attrs or domain_dn is None:
        sys.exit('%s: holds no schema or no domain object' % known_path)

    def rid(e):
        sid = e.first('objectSid', '')
        return int(sid.rsplit('-', 1)[1]) if sid.startswith('S-1-5-21-') else None
    group_by_rid = {rid(e): dn for dn, e in existing.items() if 'group' in e.classes() and rid(e)}

    entries = [Entry(r) for r in records(src)]
    skipped, skipped_dns = {}, set()

    def skip(e, why, subtree=True):
        skipped[why] = skipped.get(why, 0) + 1
        if subtree:
            skipped_dns.add(norm(e.dn))

    added, updated = [], []
    kept = {}       # normalized DN -> Entry: what the domain holds of the file after the load
    # Parents first: sorting by depth keeps the file's order within a level.
    for e in sorted((e for e in entries if e.dn), key=lambda e: len(split_dn(e.dn))):
        n = norm(e.dn)
        if n != domain_dn and not n.endswith(',' + domain_dn):
            sys.exit('%s: %s is not in the domain %s' % (src, e.dn, domain_dn))
        if parent(n) in skipped_dns:
            skip(e, 'below a skipped object')
        elif any(text(v).upper() == 'TRUE' for v in e.values('isDeleted')):
            skip(e, 'deleted')
        elif n in existing:
            kept[n] = e     # its members and primary group still count
            has = existing[n].classes()
            if 'user' in has and 'computer' not in has:
                updated.append(e)
            else:
                skip(e, 'already in the domain', subtree=False)
        elif e.classes() - classes:
            skip(e, 'class unknown here (%s)' % ', '.join(sorted(e.classes() - classes)))
        elif parent(n) not in existing and parent(n) not in kept:
            skip(e, 'parent missing')
        else:
            added.append(e)
            kept[n] = e

    out = sys.stdout
    stripped = {}
    for e in added:
        write(out, 'dn', e.dn.encode('utf-8'))
        out.write('changetype: add\n')
        for a, v in e.attrs:
            base = a.split(';')[0].lower()
            drop = base not in KEEP and (base in STRIP or attrs.get(base, True) or
                                         (base == 'objectcategory' and norm(text(v)) not in class_dns))
            if drop and base not in ('member', 'primarygroupid'):     # those come in steps 3, 4
                stripped[base] = stripped.get(base, 0) + 1
            if drop:
                continue
            write(out, a, v)
        out.write('\n')

    for e in updated:
        write(out, 'dn', e.dn.encode('utf-8'))
        out.write('changetype: modify\n')
        for a in ACCOUNT_ATTRS:
            if a == 'userAccountControl' and not e.values(a):
                continue    # the file says nothing: leave Samba's
            out.write('replace: %s\n' % a)
            for v in e.values(a):
                write(out, a, v)
            out.write('-\n')
        out.write('\n')

    def primary_group(n, now=False):
        """The RID of an account's primary group (the file's, or with now
        what it is before step 4); None for what is no account."""
        e, had = kept.get(n), existing.get(n)
        if 'user' not in (e or had).classes():
            return None
        if e and e.values('primaryGroupID') and not now:
            return int(e.first('primaryGroupID'))
        if had:
            return int(had.first('primaryGroupID'))
        return default_primary_group(int(e.first('userAccountControl', '0')))

    def change(dn, what, attr, values):
        write(out, 'dn', dn.encode('utf-8'))
        out.write('changetype: modify\n%s: %s\n' % (what, attr))
        for v in values:
            write(out, attr, v)
        out.write('-\n\n')

    for n, e in kept.items():
        had = {norm(text(v)) for v in existing[n].values('member')} if n in existing else set()
        group_rid = rid(existing[n]) if n in existing else None
        members = []
        for v in e.values('member'):
            m = norm(text(v))
            if m not in kept and m not in existing:
                stripped['member (not loaded)'] = stripped.get('member (not loaded)', 0) + 1
                continue
            if m in had:
                continue
            if group_rid is not None and group_rid in (primary_group(m), primary_group(m, now=True)):
                continue    # its primary group, before or after step 4: see there
            members.append(v)
        if members:
            change(e.dn, 'add', 'member', members)

    for n, e in kept.items():
        want, now = primary_group(n), primary_group(n, now=True)
        if want == now:
            continue
        if want not in group_by_rid:
            print('ldif-to-samba: %s: primaryGroupID %d is no group of this domain: left as %d'
                  % (e.dn, want, now), file=sys.stderr)
            continue
        change(existing[group_by_rid[want]].dn, 'add', 'member', [e.dn.encode('utf-8')])
        change(e.dn, 'replace', 'primaryGroupID', [str(want).encode()])
        old_group = kept.get(group_by_rid[now])
        if not old_group or n not in {norm(text(v)) for v in old_group.values('member')}:
            change(existing[group_by_rid[now]].dn, 'delete', 'member', [e.dn.encode('utf-8')])

    print('ldif-to-samba: %d to add, %d existing accounts to update' % (len(added), len(updated)),
          file=sys.stderr)
    for why, count in sorted(skipped.items()):
        print('ldif-to-samba: skipped %d: %s' % (count, why), file=sys.stderr)
    if stripped:
        print('ldif-to-samba: stripped ' + ', '.join('%s (%d)' % kv for kv in sorted(stripped.items())),
              file=sys.stderr)


if __name__ == '__main__':
    main()
