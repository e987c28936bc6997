#!/usr/bin/env python3
"""pe_resources.py <file.exe>: the resources that Windows shows of a
program, read from the file itself: the manifest's execution level and
supported Windows versions, the version strings, whether it has an icon.
Prints one "key=value" line each, for the end-to-end scripts to compare."""
import re
import struct
import sys

RT_ICON_GROUP, RT_VERSION, RT_MANIFEST = 14, 16, 24


def resources(data):
    """{type id: [bytes of each resource]} of a PE file's .rsrc section."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    assert data[pe:pe + 4] == b"PE\0\0", "no PE file"
    sections, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (112 if magic == 0x20B else 96)
    rva, _ = struct.unpack_from("<II", data, directories + 2 * 8)
    table = optional + optional_size
    for i in range(sections):
        _, vsize, vaddr, _, raw = struct.unpack_from("<8sIIII", data, table + 40 * i)
        if vaddr <= rva < vaddr + vsize:
            base = raw + rva - vaddr
            delta = vaddr - raw
            break
    else:
        return {}

    def entries(offset):
        named, numbered = struct.unpack_from("<12xHH", data, base + offset)
        for k in range(named + numbered):
            name, target = struct.unpack_from("<II", data, base + offset + 16 + 8 * k)
            yield name, target

    found = {}
    for type_id, t in entries(0):
        for _, n in entries(t & 0x7FFFFFFF):
            for _, leaf in entries(n & 0x7FFFFFFF):
                data_rva, size = struct.unpack_from("<II", data, base + leaf)
                start = data_rva - delta
                found.setdefault(type_id, []).append(data[start:start + size])
    return found


def version_strings(block):
    """The StringFileInfo values of a VS_VERSIONINFO block."""
    text = block.decode("utf-16-le", errors="replace")
    keys = ["CompanyName", "FileDescription", "FileVersion", "ProductName",
            "ProductVersion", "LegalCopyright", "OriginalFilename"]
    values = {}
    for key in keys:
        m = re.search(key + "\0+([^\0]+)\0", text)
        if m:
            values[key] = m.group(1)
    return values


def main():
    data = open(sys.argv[1], "rb").read()
    found = resources(data)
    for manifest in found.get(RT_MANIFEST, []):
        xml = manifest.decode("utf-8", errors="replace")
        level = re.search(r'requestedExecutionLevel\s+level="([^"]+)"', xml)
        print("level=" + (level.group(1) if level else ""))
        print("supportedOS=" + ",".join(re.findall(r'supportedOS\s+Id="\{([^}]+)\}"', xml)))
    for block in found.get(RT_VERSION, []):
        for key, value in sorted(version_strings(block).items()):
            print(f"{key}={value}")
    print("icon=" + ("yes" if found.get(RT_ICON_GROUP) else "no"))


main()
