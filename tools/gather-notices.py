#!/usr/bin/env python3
"""Writes the licence notices of a Windows package: NOTICE.txt (French and English) and the
licences/ folder with the full text of every licence under which a shipped file comes.

Which third-party code is compiled into the shipped Qt DLLs is not a hand list: it is read from
Qt's own attribution files (qt_attribution.json) in the source the Qt was built from, and an
entry counts when one of its source files was compiled into a shipped DLL, or is included by
one that was. The Qt prefix's DLLs still carry their COFF symbol table, whose .file entries name
every compiled source file (the shipped copies are stripped). A Qt DLL installed without its
symbol table (Qt 5's qmake strips on install) is read from its project files instead
(qmake_sources.py).

Usage: gather-notices.py --config FILE.json --out DIR
The configuration names: product, version, owner and owner_fr, stage (the staged package folder), prefix
(the Qt prefix), objdump, qt_source (the .orig tarball), qt_package, qt_version, qt_suite, and
components: the other shipped parts, each with name, version, licence, source, files (licence
texts to copy: {"name in licenses/": "path"}).
"""
import argparse
import json
import os
import re
import subprocess
import sys
import tarfile

from qmake_sources import QmakeSources, prefix_features
from windows_includes import read_features, windows_includes

SOURCE_SUFFIXES = (".c", ".cc", ".cpp", ".cxx")
# What a PE symbol table keeps of a long source file name when it has no room for more.
FILE_SYMBOL_LENGTH = 14


def compiled_files(objdump, dll):
    """The names of the source files compiled into DLL, from its .file symbols."""
    table = subprocess.run([objdump, "-t", dll], check=True, capture_output=True, text=True)
    return {line.split()[-1] for line in table.stdout.splitlines() if "(scl 103)" in line}


def is_compiled(name, compiled):
    return name in compiled or any(
        len(known) == FILE_SYMBOL_LENGTH and name.startswith(known) for known in compiled)


def attribution_entries(text):
    data = json.loads(text, strict=False)
    return data if isinstance(data, list) else [data]


def split_files(value):
    return value if isinstance(value, list) else value.split()


def gather_qt(config):
    """The attribution entries of the Qt source whose code is in the shipped Qt DLLs."""
    stage, prefix = config["stage"], config["prefix"]
    read_features(prefix)
    compiled, stripped = set(), []
    for folder, _, files in os.walk(stage):
        for name in files:
            relative = os.path.relpath(os.path.join(folder, name), stage)
            if not name.lower().endswith(".dll") or name.lower().startswith("lib"):
                continue
            # Qt's own DLLs sit in the prefix's bin/, its plugins in plugins/KIND/.
            parts = relative.split(os.sep)
            built = os.path.join(prefix, "bin", name) if len(parts) == 1 else \
                os.path.join(prefix, "plugins", *parts)
            if not os.path.isfile(built):
                sys.exit(f"gather-notices: {relative} is not in the Qt prefix {prefix}")
            names = compiled_files(config["objdump"], built)
            compiled |= names
            if not names:
                stripped.append(name)

    # One pass over the tarball (a compressed tarball is slow to read out of order).
    by_path, top = {}, None
    with tarfile.open(config["qt_source"]) as source:
        for member in source:
            if member.isfile() and "/" in member.name:
                top, path = member.name.split("/", 1)
                by_path[path] = source.extractfile(member).read().decode("utf-8", "replace")
    read = by_path.__getitem__
    # A DLL installed without its symbol table (qmake's install strips): what its project
    # files compile for this build.
    from_projects = set()
    if stripped:
        project = QmakeSources(by_path, *prefix_features(prefix))
        for name in stripped:
            target = re.sub(r"^Qt\d", "Qt", name[:-4])
            sources = project.compiled(target)
            if not sources:
                sys.exit(f"gather-notices: {name} has no symbol table and no project in the source")
            from_projects |= sources
    # What the compiled sources include, and what those include in turn: code a library is
    # built from that way leaves no .file symbol of its own.
    pending = [path for path in by_path if path.startswith("src/") and
               not re.search(r"/(doc|examples|tests)/", path) and path.endswith(SOURCE_SUFFIXES)
               and (path in from_projects or is_compiled(os.path.basename(path), compiled))]
    compiled |= {os.path.basename(path) for path in from_projects}
    # An include found beside its includer is known by its path; one found through the include
    # path by its name, when no other file in the source has that name.
    named = {}
    for path in by_path:
        named.setdefault(os.path.basename(path), []).append(path)
    seen = set(pending)
    while pending:
        path = pending.pop()
        for name in windows_includes(read(path)):
            target = os.path.normpath(os.path.join(os.path.dirname(path), name))
            if target not in by_path:
                candidates = [candidate for candidate in named.get(os.path.basename(name), [])
                              if candidate.startswith("src/")]
                target = candidates[0] if len(candidates) == 1 else None
            if target and target not in seen:
                seen.add(target)
                pending.append(target)
    included = {os.path.basename(path) for path in seen}
    stem = lambda name: name.split(".", 1)[0]
    included_stems = {stem(name) for name in included | compiled}
    qt_licences = {}
    for wanted, candidates in (("LGPL-3.0.txt", ["LICENSES/LGPL-3.0-only.txt", "LICENSE.LGPL3"]),
                               ("GPL-3.0.txt", ["LICENSES/GPL-3.0-only.txt", "LICENSE.GPL3"])):
        found = [path for path in candidates if path in by_path]
        if not found:
            sys.exit(f"gather-notices: no {wanted} in {config['qt_source']}")
        qt_licences[wanted] = (read(found[0]), f"{top}/{found[0]}")

    entries = []
    for path in sorted(by_path):
        if os.path.basename(path) != "qt_attribution.json":
            continue
        folder = os.path.dirname(path)
        for entry in attribution_entries(read(path)):
            if "libs" not in entry.get("QtParts", ["libs"]):
                continue
            base = os.path.normpath(os.path.join(folder, entry.get("Path", ".")))
            if "Files" in entry:
                files = [os.path.join(base, name) for name in split_files(entry["Files"])]
            elif base in by_path:
                files = [base]
            else:
                files = [p for p in by_path if p.startswith(base + "/")]
            names = {os.path.basename(f) for f in files}
            # A file generated from an entry's data (webgradients.css gives webgradients.cpp)
            # is known by its stem.
            if not any(os.path.normpath(f) in seen for f in files) and \
                    not any(is_compiled(n, compiled) or stem(n) in included_stems
                            for n in names if n.endswith(SOURCE_SUFFIXES + (".css",))):
                continue
            licence_files = entry.get("LicenseFiles") or split_files(entry.get("LicenseFile", ""))
            texts = []
            for licence in licence_files:
                licence_path = os.path.normpath(os.path.join(folder, licence))
                if licence_path not in by_path:
                    sys.exit(f"gather-notices: {entry['Id']}: no {licence_path} in the source")
                texts.append((f"{top}/{licence_path}", read(licence_path)))
            entries.append((entry, f"{top}/{path}", texts))
    return entries, qt_licences


def field(entry, key):
    """An attribution field as text: newer attribution files give some as lists."""
    value = entry.get(key, "")
    return "\n".join(value) if isinstance(value, list) else str(value)


def windows_text(text):
    """UTF-8 with a byte-order mark and CRLF: Notepad and the installer read it as UTF-8."""
    return "\ufeff" + text.replace("\r\n", "\n").replace("\n", "\r\n")


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-8", newline="") as out:
        out.write(windows_text(text))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--config", required=True)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    with open(args.config, encoding="utf-8") as f:
        config = json.load(f)
    out = args.out
    entries, qt_licences = gather_qt(config)

    sources = {}  # licence file in the package -> where its text came from
    for name, (text, origin) in qt_licences.items():
        write(os.path.join(out, "licenses", "Qt", name), text)
        sources[f"licenses/Qt/{name}"] = f"{config['qt_package']} {config['qt_version']}: {origin}"
    third_party = []
    for entry, origin, texts in entries:
        name = f"licenses/Qt-third-party/{entry['Id']}.txt"
        header = [f"{field(entry, 'Name') or entry['Id']} {field(entry, 'Version')}".rstrip(),
                  f"Licence: {field(entry, 'License')}" +
                  (f" ({field(entry, 'LicenseId')})" if entry.get("LicenseId") else ""),
                  field(entry, "Copyright").strip(), ""]
        body = "\n".join(header) + "".join(f"\n{'-' * 72}\n{text}" for _, text in texts)
        write(os.path.join(out, name), body)
        sources[name] = f"{config['qt_package']} {config['qt_version']}: {origin}" + \
            "".join(f", {path}" for path, _ in texts)
        third_party.append((entry, name))
    for component in config["components"]:
        for name, path in component["files"].items():
            with open(path, encoding="utf-8") as f:
                write(os.path.join(out, "licenses", name), f.read())
            sources[f"licenses/{name}"] = path

    qt = f"Qt {config['qt_upstream']}"
    qt_source = (f"Debian source package {config['qt_package']} {config['qt_version']} "
                 f"({config['qt_suite']})")
    lines_fr = [
        f"{config['product']} {config['version']} - avis et licences",
        "",
        f"{config['product']} appartient à son propriétaire ({config['owner_fr']}). Sa licence "
        "est celle que fixe son propriétaire : cet avis n'accorde sur lui aucune licence libre.",
        "",
        "Ce paquet contient aussi les composants suivants, chacun sous sa propre licence. Le texte "
        "complet de chaque licence est dans le dossier licenses\\.",
        "",
        f"- {qt} (bibliothèques et modules d'extension de Qt) : GNU LGPL 3.0, qui s'appuie sur "
        "la GNU GPL 3.0 (licenses\\Qt\\). Source : paquet source Debian "
        f"{config['qt_package']} {config['qt_version']}, publié avec chaque version de "
        f"{config['product']} (dossier dist-source, à côté des paquets) et sur "
        f"https://snapshot.debian.org/package/{config['qt_package']}/{config['qt_version']}/ .",
    ]
    lines_en = [
        f"{config['product']} {config['version']} - notices and licences",
        "",
        f"{config['product']} belongs to its owner ({config['owner']}). Its licence is its "
        "owner's choice: this notice grants no open-source licence for it.",
        "",
        "This package also holds the following components, each under its own licence. The full "
        "text of each licence is in the licenses\\ folder.",
        "",
        f"- {qt} (Qt's libraries and plugins): GNU LGPL 3.0, which builds on the GNU GPL 3.0 "
        f"(licenses\\Qt\\). Source: the {qt_source}, published with every release of "
        f"{config['product']} (the dist-source folder, beside the packages) and at "
        f"https://snapshot.debian.org/package/{config['qt_package']}/{config['qt_version']}/ .",
    ]
    for entry, name in third_party:
        what = f"{field(entry, 'Name') or entry['Id']} {field(entry, 'Version')}".rstrip()
        where = name.replace("/", "\\")
        lines_fr.append(f"  - compilé dans Qt : {what} : {field(entry, 'License')} ({where}). "
                        "Source : celle de Qt ci-dessus.")
        lines_en.append(f"  - compiled into Qt: {what}: {field(entry, 'License')} ({where}). "
                        "Source: Qt's, above.")
    for component in config["components"]:
        folder = "licenses\\" + sorted(component["files"])[0].split("/")[0] + "\\"
        lines_fr.append(f"- {component['name']} {component['version']} : "
                        f"{component['licence_fr']} ({folder}). Source : {component['source']}")
        lines_en.append(f"- {component['name']} {component['version']}: "
                        f"{component['licence']} ({folder}). Source: {component['source']}")
    notice = "\n".join(lines_fr + ["", "-" * 72, ""] + lines_en) + "\n"
    write(os.path.join(out, "NOTICE.txt"), notice)
    # Where each text came from, for the release's record (not shipped).
    with open(os.path.join(os.path.dirname(os.path.abspath(out)),
                           os.path.basename(out) + ".sources"), "w", encoding="utf-8") as f:
        for name in sorted(sources):
            f.write(f"{name}\t{sources[name]}\n")


if __name__ == "__main__":
    main()
