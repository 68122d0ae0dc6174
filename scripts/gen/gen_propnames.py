#!/usr/bin/env python3
"""Writes Tools/property_name_table_data.cpp: the two PR_ name tables of the
query compiler, PropertyNameTable and ExtendedPropertyNameTable.

Inputs (published facts only):
  - Debian mingw-w64-common /usr/share/mingw-w64/include/mapitags.h (public
    domain): the base MAPI tags, including the names defined as aliases of
    other names; wabtags.h of the same package for the two tags it adds.
  - scripts/gen/later_tags.txt: tags from Microsoft's MAPI property reference
    that the older header lacks.
  - scripts/gen/ems_ab_tags.txt: the messaging server's address-book tags
    (PR_EMS_AB_), sources named in that file.

PropertyNameTable: the base tags in alphabetical order, bare string names as
PT_STRING8 (an 8-bit build), then PR_FLAG_STATUS and PR_REMINDER_FLAG
appended after the alphabetical run. ExtendedPropertyNameTable: the base tags
again with bare string names as PT_UNICODE / PT_MV_UNICODE (a Unicode build),
plus the address-book tags, ordered by property identifier. Each table ends
with a row whose tag is 0.

Usage: gen_propnames.py [mingw include dir] > Tools/property_name_table_data.cpp
       gen_propnames.py --check Tools/property_name_table_data.cpp
         (exit status 1 when the file is not what the inputs give)
"""
import os
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ARGS = sys.argv[1:]
CHECK = None
if ARGS[:1] == ["--check"]:
    CHECK = ARGS[1]
    ARGS = ARGS[2:]
MINGW = ARGS[0] if ARGS else "/usr/share/mingw-w64/include"

TYPES = {
    "PT_UNSPECIFIED": 0x0000, "PT_NULL": 0x0001, "PT_I2": 0x0002, "PT_SHORT": 0x0002,
    "PT_LONG": 0x0003, "PT_I4": 0x0003, "PT_R4": 0x0004, "PT_FLOAT": 0x0004,
    "PT_DOUBLE": 0x0005, "PT_R8": 0x0005, "PT_CURRENCY": 0x0006, "PT_APPTIME": 0x0007,
    "PT_ERROR": 0x000A, "PT_BOOLEAN": 0x000B, "PT_OBJECT": 0x000D, "PT_I8": 0x0014,
    "PT_LONGLONG": 0x0014, "PT_STRING8": 0x001E, "PT_UNICODE": 0x001F,
    "PT_SYSTIME": 0x0040, "PT_CLSID": 0x0048, "PT_BINARY": 0x0102,
}
MV = 0x1000
for name, value in list(TYPES.items()):
    if name != "PT_UNSPECIFIED" and name != "PT_NULL":
        TYPES["PT_MV_" + name[3:]] = MV | value
# The bare string names: 8-bit in the first table, Unicode in the second.
TSTRING = "PT_TSTRING"
MV_TSTRING = "PT_MV_TSTRING"

# The two rows appended after the alphabetical run of the first table.
APPENDED = [("PR_FLAG_STATUS", 0x10900003), ("PR_REMINDER_FLAG", 0x10950003)]


def read_header(path):
    """(name, type name, id) rows and (alias, target) pairs of one header."""
    text = open(path, encoding="latin-1").read()
    rows = [(n, t, int(i, 16)) for n, t, i in re.findall(
        r"#define\s+(PR_\w+)\s+PROP_TAG\s*\(\s*(PT_\w+)\s*,\s*(0x[0-9A-Fa-f]+)\s*\)", text)]
    aliases = re.findall(r"#define\s+(PR_\w+)\s+(PR_\w+)\s*$", text, re.M)
    return rows, aliases


def base_rows():
    rows, aliases = read_header(os.path.join(MINGW, "mapitags.h"))
    known = {r[0]: r for r in rows}
    for alias, target in aliases:
        if target in known and alias not in known:
            known[alias] = (alias,) + known[target][1:]
            rows.append(known[alias])
    wab_rows, _ = read_header(os.path.join(MINGW, "wabtags.h"))
    for r in wab_rows:
        if r[0] not in known:
            known[r[0]] = r
            rows.append(r)
    for line in open(os.path.join(HERE, "later_tags.txt")):
        if not line.strip() or line.startswith("#"):
            continue
        t, i, n = line.split()
        forms = [(n, t)]
        if t == TSTRING:
            forms += [(n + "_A", "PT_STRING8"), (n + "_W", "PT_UNICODE")]
        for name, ptype in forms:
            if name not in known:
                known[name] = (name, ptype, int(i, 16))
                rows.append(known[name])
    return rows


def tag(ptype, pid, unicode_build):
    if ptype == TSTRING:
        ptype = "PT_UNICODE" if unicode_build else "PT_STRING8"
    elif ptype == MV_TSTRING:
        ptype = "PT_MV_UNICODE" if unicode_build else "PT_MV_STRING8"
    return (pid << 16) | TYPES[ptype]


def ems_ab_rows():
    rows = []
    for line in open(os.path.join(HERE, "ems_ab_tags.txt")):
        if not line.strip() or line.startswith("#"):
            continue
        value, name = line.split()
        rows.append((name, int(value, 16)))
    return rows


def emit(name, rows):
    out = [f"const PropertyNameRow {name}[] = {{"]
    out += [f'    {{"{n}", 0x{t:08X}u, 0}},' for n, t in rows]
    out.append("    {nullptr, 0, 0},")
    out.append("};")
    out.append(f"const size_t {name}Rows = {len(rows)};")
    return out


def main():
    base = base_rows()
    first = sorted(((n, tag(t, i, False)) for n, t, i in base), key=lambda r: r[0])
    first += APPENDED
    second = [(n, tag(t, i, True)) for n, t, i in base] + ems_ab_rows()
    names = set()
    unique = []
    for n, t in second:
        if n not in names:
            names.add(n)
            unique.append((n, t))
    # By property identifier; rows of one identifier keep their input order.
    second = sorted(unique, key=lambda r: r[1] >> 16)
    out = [
        "// The PR_ name tables of the query compiler. Generated by",
        "// scripts/gen/gen_propnames.py from published facts; do not edit by hand.",
        '#include "property_name_table.h"',
        "",
    ]
    out += emit("PropertyNameTable", first)
    out.append("")
    out += emit("ExtendedPropertyNameTable", second)
    out.append("")
    text = "\n".join(out)
    if CHECK:
        if open(CHECK).read() != text:
            sys.stderr.write(f"{CHECK} is not what gen_propnames.py makes of its inputs\n")
            sys.exit(1)
        return
    sys.stdout.write(text)


main()
