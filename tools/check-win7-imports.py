#!/usr/bin/env python3
"""Checks that the Windows 7-8 package loads on Windows 7 SP1, which Wine cannot tell: Wine offers
every newer function whatever Windows version it reports. Reads the import tables (by name, by
ordinal, and delay-load) of every .exe and .dll in the package, and fails when an imported DLL is
neither shipped beside the program nor one Windows 7 SP1 has, or when an imported function is one
Windows 7 SP1 lacks. What Windows 7 SP1 has and lacks is tools/win7-sp1.txt, each entry with its
source. Functions a program looks up itself (GetProcAddress) are not imports: they are the way to
use newer functions with a fallback, and this check does not see them.

Usage: check-win7-imports.py [--data FILE] [--list] ZIP_OR_FOLDER
       check-win7-imports.py --self-test
Exit status: 0 when every import is there on Windows 7 SP1; 1 with each offence listed; 2 when
the package cannot be read.
"""
import argparse
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile

DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "win7-sp1.txt")
IMPORT_DIRECTORY = 1
DELAY_IMPORT_DIRECTORY = 13


class PeError(Exception):
    """A file that is not a PE image, or whose import tables point outside it."""


class PeImage:
    """The parts of a PE image (PE32 or PE32+) that its imports need."""

    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ" or len(data) < 0x40:
            raise PeError("no MZ header")
        pe = self.u32(0x3C)
        if data[pe : pe + 4] != b"PE\0\0":
            raise PeError("no PE signature")
        sections, optional_size = struct.unpack_from("<2xH12xH", data, pe + 4)
        optional = pe + 24
        magic = self.u16(optional)
        if magic == 0x20B:
            self.pe32_plus = True
            self.image_base = struct.unpack_from("<Q", data, optional + 24)[0]
            directories = optional + 112
        elif magic == 0x10B:
            self.pe32_plus = False
            self.image_base = self.u32(optional + 28)
            directories = optional + 96
        else:
            raise PeError(f"unknown optional header magic {magic:#x}")
        count = self.u32(directories - 4)
        self.directories = [
            struct.unpack_from("<II", data, directories + 8 * i) for i in range(min(count, 16))
        ]
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            virtual_size, address, raw_size, raw_offset = struct.unpack_from(
                "<IIII", data, table + 40 * i + 8
            )
            self.sections.append((address, max(virtual_size, raw_size), raw_offset, raw_size))

    def u16(self, offset):
        return struct.unpack_from("<H", self.data, offset)[0]

    def u32(self, offset):
        return struct.unpack_from("<I", self.data, offset)[0]

    def offset(self, rva):
        """The file offset of a relative virtual address."""
        for address, size, raw_offset, raw_size in self.sections:
            if address <= rva < address + size:
                if rva - address >= raw_size:
                    raise PeError(f"RVA {rva:#x} lies in a section's uninitialised tail")
                return raw_offset + rva - address
        raise PeError(f"RVA {rva:#x} lies in no section")

    def string(self, rva):
        start = self.offset(rva)
        end = self.data.index(b"\0", start)
        return self.data[start:end].decode("ascii", "replace")

    def thunks(self, rva):
        """The entries of an import name table: function names, or ordinals as ints."""
        width, flag = (8, 1 << 63) if self.pe32_plus else (4, 1 << 31)
        form = "<Q" if self.pe32_plus else "<I"
        offset = self.offset(rva)
        while True:
            value = struct.unpack_from(form, self.data, offset)[0]
            if value == 0:
                return
            if value & flag:
                yield value & 0xFFFF
            else:
                yield self.string((value & 0x7FFFFFFF) + 2)  # past the hint
            offset += width

    def imports(self):
        """(dll, function or ordinal, delay-loaded) for every import of the image."""
        result = []
        rva, size = self.directory(IMPORT_DIRECTORY)
        if rva and size:
            offset = self.offset(rva)
            while True:
                names, _, _, name, addresses = struct.unpack_from("<5I", self.data, offset)
                if name == 0 and addresses == 0:
                    break
                dll = self.string(name)
                for function in self.thunks(names or addresses):
                    result.append((dll, function, False))
                offset += 20
        for attributes, name, names, addresses in self.delay_descriptors():
            # Without the RVA attribute (old linkers), the fields are virtual addresses.
            base = 0 if attributes & 1 else self.image_base
            dll = self.string(name - base)
            for function in self.thunks((names or addresses) - base):
                result.append((dll, function, True))
        return result

    def delay_descriptors(self):
        """(attributes, name, name table, address table) of each delay-load descriptor."""
        rva, size = self.directory(DELAY_IMPORT_DIRECTORY)
        if rva and size:
            offset = self.offset(rva)
            while True:
                attributes, name, _, addresses, names = struct.unpack_from(
                    "<5I", self.data, offset
                )
                if name == 0:
                    return
                yield attributes, name, names, addresses
                offset += 32
        # GNU ld links the descriptors of dlltool's delay-import libraries into the image but
        # leaves the directory entry empty: find them by their shape instead.
        start = 0
        while (found := self.data.find(b"\1\0\0\0", start)) >= 0:
            start = found + 4
            if found % 4 or found + 32 > len(self.data):
                continue
            _, name, handle, addresses, names = struct.unpack_from("<5I", self.data, found)
            try:
                if not (handle and addresses and names):
                    continue
                self.offset(handle), self.offset(addresses)
                dll = self.string(name)
                if not dll.lower().endswith((".dll", ".drv")) or not dll.isprintable():
                    continue
                list(self.thunks(names))
            except (PeError, ValueError, struct.error):
                continue
            yield 1, name, names, addresses

    def directory(self, index):
        return self.directories[index] if index < len(self.directories) else (0, 0)


def module_name(dll):
    """A DLL's name as the data file keys it: lower case; an API set without its ".dll"."""
    dll = dll.lower()
    if dll.startswith(("api-ms-win-", "ext-ms-win-")):
        return dll.removesuffix(".dll")
    return dll


class Windows7:
    """What Windows 7 SP1 has, read from the data file (see its header for the format)."""

    def __init__(self, path):
        self.dlls = set()
        self.absent = {}  # dll -> why
        self.lacks = {}  # function -> why
        with open(path, encoding="utf-8") as lines:
            for number, line in enumerate(lines, 1):
                words = line.split("#", 1)[0].split()
                if not words:
                    continue
                kind, rest = words[0], words[1:]
                if kind in ("dll", "apiset") and len(rest) >= 2:
                    self.dlls.add(module_name(rest[0]))
                elif kind == "absent" and len(rest) >= 3:
                    source = " ".join(rest[2:])
                    self.absent[module_name(rest[0])] = (
                        f"Windows 7 SP1 lacks it: Windows {rest[1]} brought it ({source})"
                    )
                elif kind == "lacks" and len(rest) >= 4:
                    dll, function, since, header = rest[:4]
                    if module_name(dll) not in self.dlls:
                        raise ValueError(f"{path}:{number}: {dll} is not listed as a DLL")
                    note = "; " + " ".join(rest[4:]) if rest[4:] else ""
                    self.lacks[function] = (
                        f"Windows 7 SP1 lacks it: {dll} has it from Windows {since}"
                        f" ({header}.h{note})"
                    )
                else:
                    raise ValueError(f"{path}:{number}: not an entry: {line.strip()}")

    def has_dll(self, dll):
        return module_name(dll) in self.dlls

    def lacking(self, function):
        """Why Windows 7 SP1 lacks the function, or None. By name alone: Windows moves functions
        between its DLLs (kernel32, kernelbase, advapi32), and a name is never reused."""
        return self.lacks.get(function)


def package_files(path, work):
    """The package's files as (name inside the package, path on disk), unpacking a ZIP into work."""
    if os.path.isdir(path):
        root = path
    else:
        with zipfile.ZipFile(path) as archive:
            archive.extractall(work)
        root = work
    for folder, _, names in os.walk(root):
        for name in names:
            full = os.path.join(folder, name)
            yield os.path.relpath(full, root).replace(os.sep, "/"), full


def check(path, windows7, listing=False):
    """The offences of the package at path (a list of texts); prints every import with listing."""
    with tempfile.TemporaryDirectory() as work:
        images = [
            (name, full)
            for name, full in package_files(path, work)
            if name.lower().endswith((".exe", ".dll"))
        ]
        if not any(name.lower().endswith(".exe") for name, _ in images):
            raise PeError(f"{path} holds no .exe")
        # The loader looks for a DLL in the program's own folder, also for the plugins that Qt
        # loads by full path from subfolders; a DLL elsewhere in the package is not found.
        program_folders = {os.path.dirname(n) for n, _ in images if n.lower().endswith(".exe")}
        shipped = {
            os.path.basename(n).lower()
            for n, _ in images
            if n.lower().endswith(".dll") and os.path.dirname(n) in program_folders
        }
        offences = []
        for name, full in sorted(images):
            with open(full, "rb") as image:
                try:
                    imports = PeImage(image.read()).imports()
                except (PeError, struct.error, ValueError) as error:
                    raise PeError(f"{name}: {error}") from error
            for dll, function, delayed in imports:
                key = dll.lower()
                how = " (delay-loaded)" if delayed else ""
                shown = f"#{function}" if isinstance(function, int) else function
                if listing:
                    print(f"{name}: {dll} {shown}{how}")
                if key in shipped:
                    continue
                if not windows7.has_dll(key):
                    why = windows7.absent.get(
                        module_name(key),
                        "neither shipped beside the program nor a DLL of Windows 7 SP1",
                    )
                    offence = f"{name}: imports {dll}{how}: {why}"
                    if offence not in offences:
                        offences.append(offence)
                    continue
                why = windows7.lacking(function) if isinstance(function, str) else None
                if why:
                    offences.append(f"{name}: imports {function} from {dll}{how}: {why}")
        return offences


PROBE = r"""
#include <windows.h>
HRESULT WINAPI GetDpiForMonitor(HMONITOR, int, UINT *, UINT *);
int main(int argc, char **argv)
{
    FILETIME now;
    %s(&now);
#ifdef DELAYED
    UINT x, y;
    if (argc > 9)
        GetDpiForMonitor(NULL, 0, &x, &y);
#endif
    return (int)(now.dwLowDateTime & 1) + (argc > 9 && argv[0] == NULL);
}
"""
# (what the probe imports, the clock function it calls, whether shcore.dll is delay-loaded, the
# name its refusal must give, or None where it must pass)
PROBES = (
    ("GetSystemTimePreciseAsFileTime", "GetSystemTimePreciseAsFileTime", False,
     "GetSystemTimePreciseAsFileTime"),
    ("only Windows 7 functions", "GetSystemTimeAsFileTime", False, None),
    ("shcore.dll, delay-loaded", "GetSystemTimeAsFileTime", True, "shcore.dll (delay-loaded)"),
)


def self_test(windows7):
    """Builds tiny probes with mingw-w64 and checks that the check tells them apart."""
    compiler = shutil.which("x86_64-w64-mingw32-gcc")
    dlltool = shutil.which("x86_64-w64-mingw32-dlltool")
    if not compiler or not dlltool:
        print("self-test: mingw-w64 is missing (Debian: gcc-mingw-w64-x86-64)", file=sys.stderr)
        return 2
    failures = []
    with tempfile.TemporaryDirectory() as work:
        # A delay-load import library, as dlltool makes them for GNU ld.
        with open(os.path.join(work, "shcore.def"), "w", encoding="ascii") as file:
            file.write("LIBRARY shcore.dll\nEXPORTS\nGetDpiForMonitor\n")
        subprocess.run([dlltool, "--input-def", os.path.join(work, "shcore.def"),
                        "--output-delaylib", os.path.join(work, "libshcore_delay.a")], check=True)
        for number, (label, clock, delayed, expected) in enumerate(PROBES):
            folder = os.path.join(work, f"probe{number}")
            os.mkdir(folder)
            source = os.path.join(work, f"probe{number}.c")
            with open(source, "w", encoding="ascii") as file:
                file.write(PROBE % clock)
            # The probe says it targets Windows 8, or the headers would hide the newer function.
            command = [compiler, "-O2", "-D_WIN32_WINNT=0x0602", "-o",
                       os.path.join(folder, "probe.exe"), source]
            if delayed:
                command += ["-DDELAYED", "-L" + work, "-lshcore_delay"]
            subprocess.run(command, check=True)
            offences = check(folder, windows7)
            if expected and not any(expected in offence for offence in offences):
                failures.append(f"the probe importing {label} passed: {offences}")
            if not expected and offences:
                failures.append(f"the probe importing {label} was refused: {offences}")
            print(f"self-test: probe importing {label}: "
                  + (f"refused ({'; '.join(offences)})" if offences else "passed"))
    for failure in failures:
        print(f"self-test: FAILED: {failure}", file=sys.stderr)
    if not failures:
        print("self-test: passed")
    return 1 if failures else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("package", nargs="?", help="the Windows 7-8 ZIP, or a folder")
    parser.add_argument("--data", default=DATA, help="what Windows 7 SP1 has and lacks")
    parser.add_argument("--list", action="store_true", help="print every import")
    parser.add_argument("--self-test", action="store_true",
                        help="check that probes built here are told apart")
    arguments = parser.parse_args()
    windows7 = Windows7(arguments.data)
    if arguments.self_test:
        return self_test(windows7)
    if not arguments.package:
        parser.error("name the package, or give --self-test")
    try:
        offences = check(arguments.package, windows7, arguments.list)
    except (PeError, OSError, zipfile.BadZipFile) as error:
        print(f"check-win7-imports: {error}", file=sys.stderr)
        return 2
    for offence in offences:
        print(f"check-win7-imports: {offence}", file=sys.stderr)
    if offences:
        print(f"check-win7-imports: {len(offences)} import(s) would not load on Windows 7 SP1",
              file=sys.stderr)
        return 1
    print(f"check-win7-imports: every import of {arguments.package} is there on Windows 7 SP1")
    return 0


if __name__ == "__main__":
    sys.exit(main())
