#!/usr/bin/env python3
"""Checks a Windows program as it ships:

  pe_check.py MACHINE VERSION PROGRAM.exe...

MACHINE is i386 or amd64. Each program must be a PE of that machine with the
GUI subsystem, import only DLLs of Windows itself, and carry a version
resource whose file and product versions are VERSION (four parts) with the
company and product names filled in. A manifest, when there is one, must
name the same version. Prints one line per program; exits 1 on any fault.
"""
import struct
import sys

MACHINES = {"i386": 0x14C, "amd64": 0x8664}
# Libraries of Windows itself (lower case). Anything else would have to be
# shipped beside the program.
SYSTEM_DLLS = {
    "kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "comctl32.dll", "comdlg32.dll",
    "shell32.dll", "ole32.dll", "oleaut32.dll", "ws2_32.dll", "msvcrt.dll", "snmpapi.dll",
    "mgmtapi.dll", "netapi32.dll", "activeds.dll", "version.dll", "shlwapi.dll", "iphlpapi.dll",
}
RT_VERSION, RT_MANIFEST = 16, 24


class Pe:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("not an MZ executable")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE header")
        self.machine, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
        optional = pe + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        self.subsystem = struct.unpack_from("<H", data, optional + 68)[0]
        directories = optional + (96 if magic == 0x10B else 112)
        self.directory = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(16)]
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            virtual_size, address, raw_size, raw = struct.unpack_from("<IIII", data, table + 40 * i + 8)
            self.sections.append((address, max(virtual_size, raw_size), raw))

    def offset(self, rva):
        for address, size, raw in self.sections:
            if address <= rva < address + size:
                return rva - address + raw
        raise ValueError("address 0x%x outside every section" % rva)

    def cstring(self, rva):
        at = self.offset(rva)
        return self.data[at:self.data.index(b"\0", at)].decode("ascii", "replace")

    def imports(self):
        rva, size = self.directory[1]
        names = []
        at = self.offset(rva) if size else None
        while at is not None:
            name_rva = struct.unpack_from("<I", self.data, at + 12)[0]
            if name_rva == 0:
                break
            names.append(self.cstring(name_rva))
            at += 20
        return names

    def resources(self, kind):
        """The data of every resource of this type (all names, all languages)."""
        rva, size = self.directory[2]
        if not size:
            return []
        base = self.offset(rva)

        def entries(table):
            named, numbered = struct.unpack_from("<HH", self.data, base + table + 12)
            for i in range(named + numbered):
                name, target = struct.unpack_from("<II", self.data, base + table + 16 + 8 * i)
                yield name, target

        found = []

        def leaves(target):
            if target & 0x80000000:
                for _, below in entries(target & 0x7FFFFFFF):
                    leaves(below)
            else:
                data_rva, data_size = struct.unpack_from("<II", self.data, base + target)
                at = self.offset(data_rva)
                found.append(self.data[at:at + data_size])

        for name, target in entries(0):
            if name == kind:
                leaves(target)
        return found


def version_strings(block):
    """VS_FIXEDFILEINFO's file and product versions, and the StringFileInfo values."""
    text = block.decode("utf-16-le", "replace")
    fixed = block.find(struct.pack("<I", 0xFEEF04BD))
    if fixed < 0:
        raise ValueError("the version resource has no VS_FIXEDFILEINFO")
    ms, ls, pms, pls = struct.unpack_from("<IIII", block, fixed + 8)
    quad = lambda hi, lo: "%d.%d.%d.%d" % (hi >> 16, hi & 0xFFFF, lo >> 16, lo & 0xFFFF)
    values = {}
    for key in ("CompanyName", "FileDescription", "FileVersion", "ProductName", "ProductVersion", "OriginalFilename"):
        at = text.find(key + "\0")
        if at >= 0:
            rest = text[at + len(key) + 1:].lstrip("\0")
            values[key] = rest[:rest.find("\0")]
    return quad(ms, ls), quad(pms, pls), values


def check(path, machine, version):
    faults = []
    with open(path, "rb") as f:
        pe = Pe(f.read())
    if pe.machine != MACHINES[machine]:
        faults.append("machine 0x%x, not %s" % (pe.machine, machine))
    if pe.subsystem != 2:
        faults.append("subsystem %d, not the GUI (2)" % pe.subsystem)
    imports = pe.imports()
    foreign = [name for name in imports if name.lower() not in SYSTEM_DLLS]
    if foreign:
        faults.append("imports DLLs that Windows does not have: " + ", ".join(foreign))
    blocks = pe.resources(RT_VERSION)
    description = ""
    if len(blocks) != 1:
        faults.append("%d version resources, not one" % len(blocks))
    else:
        file_version, product_version, values = version_strings(blocks[0])
        description = values.get("FileDescription", "")
        if file_version != version or product_version != version:
            faults.append("version resource %s / %s, not %s" % (file_version, product_version, version))
        if values.get("FileVersion") != version:
            faults.append("FileVersion text %r, not %s" % (values.get("FileVersion"), version))
        for key in ("CompanyName", "ProductName", "FileDescription"):
            if not values.get(key):
                faults.append("no %s in the version resource" % key)
    for manifest in pe.resources(RT_MANIFEST):
        if ('version="%s"' % version).encode() not in manifest.split(b"<dependency>")[0]:
            faults.append("the manifest's identity does not name version %s" % version)
    print("%s: %s, GUI, imports %s; version %s \"%s\"%s" % (
        path, machine, " ".join(sorted(n.lower() for n in imports)), version, description,
        "" if not faults else "\n  FAULT: " + "\n  FAULT: ".join(faults)))
    return not faults


def main():
    if len(sys.argv) < 4 or sys.argv[1] not in MACHINES:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    ok = True
    for path in sys.argv[3:]:
        try:
            ok = check(path, sys.argv[1], sys.argv[2]) and ok
        except (OSError, ValueError, struct.error) as error:
            print("%s: FAULT: %s" % (path, error))
            ok = False
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
