#!/usr/bin/env python3
"""Checks the Windows application manifest: in a compiled resource file (.res, from windres or
rc.exe) or in an executable, there must be exactly one manifest resource, id 1, and it must parse
as XML and declare what the program needs (supported Windows versions 7 to 11, asInvoker, the DPI
awareness of its Qt version, long paths).

Usage: check-manifest.py FILE.res|FILE.exe --dpi-awareness PerMonitorV2|PerMonitor
"""
import argparse
import struct
import sys
import xml.etree.ElementTree as ET

RT_MANIFEST = 24
ASM_V1 = "urn:schemas-microsoft-com:asm.v1"
ASM_V3 = "urn:schemas-microsoft-com:asm.v3"
COMPATIBILITY = "urn:schemas-microsoft-com:compatibility.v1"
SETTINGS_2005 = "http://schemas.microsoft.com/SMI/2005/WindowsSettings"
SETTINGS_2016 = "http://schemas.microsoft.com/SMI/2016/WindowsSettings"
SUPPORTED_OS = {
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}": "Windows 7",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}": "Windows 8",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}": "Windows 8.1",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}": "Windows 10 and 11",
}


def res_resources(data):
    """(type, name, bytes) of each resource in a 32-bit .res file; names are ints or strings."""

    def ident(offset):
        if struct.unpack_from("<H", data, offset)[0] == 0xFFFF:
            return struct.unpack_from("<H", data, offset + 2)[0], offset + 4
        end = offset
        while struct.unpack_from("<H", data, end)[0] != 0:
            end += 2
        return data[offset:end].decode("utf-16-le"), end + 2

    offset = 0
    while offset + 8 <= len(data):
        size, header_size = struct.unpack_from("<II", data, offset)
        kind, after = ident(offset + 8)
        name, _ = ident(after)
        start = offset + header_size
        if size:
            yield kind, name, data[start:start + size]
        offset = (start + size + 3) & ~3


def pe_resources(data):
    """(type, name, bytes) of each resource in a PE executable's resource section."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE file")
    sections, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (112 if magic == 0x20B else 96)
    rsrc_rva, rsrc_size = struct.unpack_from("<II", data, directories + 2 * 8)
    if not rsrc_size:
        return
    table = optional + optional_size

    def file_offset(rva):
        for i in range(sections):
            virtual_size, address, raw_size, raw = struct.unpack_from("<IIII", data, table + 40 * i + 8)
            if address <= rva < address + max(virtual_size, raw_size):
                return raw + rva - address
        raise ValueError(f"RVA {rva:#x} is in no section")

    base = file_offset(rsrc_rva)

    def entries(directory):
        named, numbered = struct.unpack_from("<HH", data, base + directory + 12)
        for i in range(named + numbered):
            name, target = struct.unpack_from("<II", data, base + directory + 16 + 8 * i)
            if name & 0x80000000:
                length = struct.unpack_from("<H", data, base + (name & 0x7FFFFFFF))[0]
                start = base + (name & 0x7FFFFFFF) + 2
                name = data[start:start + 2 * length].decode("utf-16-le")
            yield name, target

    for kind, names in entries(0):
        for name, languages in entries(names & 0x7FFFFFFF):
            for _, leaf in entries(languages & 0x7FFFFFFF):
                rva, size = struct.unpack_from("<II", data, base + leaf)
                start = file_offset(rva)
                yield kind, name, data[start:start + size]


def check(manifest, dpi_awareness):
    """The problems found in one manifest's XML text; empty when there are none."""
    problems = []
    try:
        root = ET.fromstring(manifest)
    except ET.ParseError as error:
        return [f"not well-formed XML: {error}"]
    if root.tag != f"{{{ASM_V1}}}assembly" or root.get("manifestVersion") != "1.0":
        problems.append(f"the root is {root.tag}, not an asm.v1 assembly of manifest version 1.0")
    identity = root.find(f"{{{ASM_V1}}}assemblyIdentity")
    if identity is None or len(identity.get("version", "").split(".")) != 4:
        problems.append("no assemblyIdentity with a four-part version")

    level = root.find(f".//{{{ASM_V3}}}requestedExecutionLevel")
    if level is None or level.get("level") != "asInvoker" or level.get("uiAccess") != "false":
        problems.append("the requested execution level is not asInvoker without uiAccess")

    declared = {os.get("Id", "").lower() for os in root.iter(f"{{{COMPATIBILITY}}}supportedOS")}
    for guid, name in SUPPORTED_OS.items():
        if guid not in declared:
            problems.append(f"supportedOS lacks {name} ({guid})")
    for guid in declared - set(SUPPORTED_OS):
        problems.append(f"supportedOS names an unexpected system {guid}")

    settings = root.find(f"{{{ASM_V3}}}application/{{{ASM_V3}}}windowsSettings")
    expected = {
        (SETTINGS_2005, "dpiAware"): "true/pm",
        (SETTINGS_2016, "dpiAwareness"): dpi_awareness,
        (SETTINGS_2016, "longPathAware"): "true",
    }
    for (namespace, name), value in expected.items():
        element = None if settings is None else settings.find(f"{{{namespace}}}{name}")
        found = None if element is None else (element.text or "").strip()
        if found != value:
            problems.append(f"{name} is {found!r}, not {value!r}")
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("file", help="a compiled resource file (.res) or an executable")
    parser.add_argument("--dpi-awareness", required=True, choices=["PerMonitorV2", "PerMonitor"])
    args = parser.parse_args()

    with open(args.file, "rb") as stream:
        data = stream.read()
    resources = pe_resources(data) if data[:2] == b"MZ" else res_resources(data)
    manifests = [(name, body) for kind, name, body in resources if kind == RT_MANIFEST]
    if [name for name, _ in manifests] != [1]:
        print(f"{args.file}: manifest resources {[name for name, _ in manifests]}, "
              "expected exactly one, id 1", file=sys.stderr)
        return 1
    problems = check(manifests[0][1], args.dpi_awareness)
    for problem in problems:
        print(f"{args.file}: manifest: {problem}", file=sys.stderr)
    if not problems:
        print(f"{args.file}: one manifest, id 1, with the expected entries")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
