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

Every licence an included entry names by its SPDX id (LicenseId) is written in full too, from the
source's LICENSES/ folder (Qt 6; Qt 5's source has none, its entries bring their own files).

Some code sits in a DLL without leaving a source file behind: data turned into arrays or
resources (the MIME database, the ICC profile of PDF files) and, in a DLL installed without its
symbol table, FreeType's font drivers. Which of those a package holds follows from the features
the Qt prefix was configured with (its mkspecs), not from the bytes of the DLLs: EMBEDDED below.

Usage: gather-notices.py --config FILE.json --out DIR
       gather-notices.py --self-test   (plants a DLL that embeds such a component; needs mingw-w64)
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
# feature (as the prefix's mkspecs name it, "-" read as "_"), the shipped DLLs that hold it when it
# is on (any one), and the attribution entries that then ship (by Id, any letter case), or an
# entry of its own where the source has none (Qt 5's copy of freedesktop.org's database, whose
# upstream, shared-mime-info, is under the GPL 2.0 or later).
EMBEDDED = [
    ("mimetype_database", ("Qt6Core.dll",), ["tika-mimetypes"], None),
    ("mimetype_database", ("Qt5Core.dll",), [], {
        "Id": "freedesktop-mime-database", "Name": "freedesktop.org shared MIME-info database",
        "License": "GNU General Public License v2.0 or later",
        "LicenseId": "GPL-2.0-or-later", "LicenseFile": "LICENSE.GPL2",
        "Copyright": "Copyright the freedesktop.org shared-mime-info contributors"}),
    ("pdf", ("Qt6Gui.dll", "Qt5Gui.dll"), ["icc-srgb-color-profile"], None),
    ("freetype", ("Qt6Gui.dll", "Qt5Gui.dll", "qwindows.dll"),
     ["freetype", "freetype-bdf", "freetype-pcf"], None),
]
# A library Qt was configured to take from outside its source (-system-*): its bundled copy's
# entries do not ship, even where the outside copy's file names are those of the bundled one; the
# outside copy is a component of its own (the configuration's "components").
SYSTEM_LIBRARIES = {"system_zlib": ["zlib"], "system_png": ["libpng"],
                    "system_pcre2": ["pcre2", "pcre2-sljit"], "system_freetype": ["freetype"],
                    "system_harfbuzz": ["harfbuzz", "harfbuzz-ng"]}
# A licence an entry names by an id that is not SPDX's (older attribution files).
LICENCE_ALIASES = {"GPL-2.0": "GPL-2.0-only", "ICC License": "LicenseRef-ICC-License"}
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
    enabled = {name.replace("-", "_") for name in prefix_features(prefix)[0]}
    compiled, stripped, shipped = set(), [], set()
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
            shipped.add(name.lower())
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

    replaced = {i for feature, ids in SYSTEM_LIBRARIES.items() if feature in enabled for i in ids}
    embedded, own = set(), []
    for feature, dlls, ids, entry in EMBEDDED:
        if feature in enabled and any(dll.lower() in shipped for dll in dlls):
            embedded |= {i.lower() for i in ids}
            if entry:
                own.append(entry)

    entries = []
    for entry in own:
        licence = entry["LicenseFile"]
        if licence not in by_path:
            sys.exit(f"gather-notices: {entry['Id']}: no {licence} in the source")
        entries.append((entry, f"{top}/{licence}", [(f"{top}/{licence}", read(licence))]))
    for path in sorted(by_path):
        if os.path.basename(path) != "qt_attribution.json":
            continue
        folder = os.path.dirname(path)
        for entry in attribution_entries(read(path)):
            if "libs" not in entry.get("QtParts", ["libs"]) or \
                    entry.get("Id", "").lower() in replaced:
                continue
            if entry.get("Id", "").lower() in embedded:
                entries.append((entry, f"{top}/{path}", licence_texts(entry, folder, by_path, top)))
                continue
            base = os.path.normpath(os.path.join(folder, entry.get("Path", ".")))
            if "Files" in entry:
                files = [os.path.join(base, name) for name in split_files(entry["Files"])]
            elif base in by_path:
                files = [base]
            else:
                files = [p for p in by_path if p.startswith(base + "/")]
            names = {os.path.basename(f) for f in files}
            # A source file counts by its own name; a file generated from an entry's data
            # (webgradients.css gives webgradients.cpp) by its stem. A source known only by its
            # stem would be another one (ANGLE's sha1.cc is not Qt's sha1.cpp).
            if not any(os.path.normpath(f) in seen for f in files) and \
                    not any(is_compiled(n, compiled) or n in included
                            for n in names if n.endswith(SOURCE_SUFFIXES)) and \
                    not any(stem(n) in included_stems for n in names if n.endswith(".css")):
                continue
            entries.append((entry, f"{top}/{path}", licence_texts(entry, folder, by_path, top)))
    # The full text of every licence the entries name by SPDX id, where the source has it.
    spdx = {}
    for entry, _, _ in entries:
        for licence in spdx_ids(entry.get("LicenseId", "")):
            path = f"LICENSES/{licence}.txt"
            if path in by_path:
                spdx[licence] = (read(path), f"{top}/{path}")
            elif not entry.get("LicenseFile") and not entry.get("LicenseFiles"):
                sys.exit(f"gather-notices: {entry['Id']}: no text of {licence} in the source")
    return entries, qt_licences, spdx


def licence_texts(entry, folder, by_path, top):
    """The licence files an attribution entry names, as (origin, text)."""
    licence_files = entry.get("LicenseFiles") or split_files(entry.get("LicenseFile", ""))
    texts = []
    for licence in licence_files:
        licence_path = os.path.normpath(os.path.join(folder, licence))
        if licence_path not in by_path:
            sys.exit(f"gather-notices: {entry['Id']}: no {licence_path} in the source")
        texts.append((f"{top}/{licence_path}", by_path[licence_path]))
    return texts


def spdx_ids(expression):
    """The licence ids of an SPDX expression ("MIT AND (FTL OR GPL-2.0-only)"), exceptions out."""
    expression = LICENCE_ALIASES.get(expression.strip(), expression)
    words = re.split(r"[\s()]+", expression)
    ids, skip = [], False
    for word in words:
        if word.upper() in ("AND", "OR"):
            continue
        if word.upper() == "WITH":
            skip = True
            continue
        if word and not skip:
            ids.append(LICENCE_ALIASES.get(word, word))
        skip = False
    return ids


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


def self_test():
    """A planted Qt6Gui.dll holding an ICC profile, in a prefix with PDF on: the profile's entry
    and its licence text ship; with PDF off, neither does."""
    import io
    import shutil
    import tempfile
    icc = {"Id": "icc-srgb-color-profile", "Name": "sRGB color profile icc file",
           "Files": "sRGB2014.icc", "LicenseId": "LicenseRef-ICC-License",
           "License": "International Color Consortium License", "Copyright": "ICC"}
    files = {"LICENSES/LGPL-3.0-only.txt": "LGPL", "LICENSES/GPL-3.0-only.txt": "GPL",
             "LICENSES/LicenseRef-ICC-License.txt": "ICC PERMISSION NOTICE",
             "src/3rdparty/icc/qt_attribution.json": json.dumps([icc]),
             "src/3rdparty/icc/sRGB2014.icc": "profile"}
    for pdf in (True, False):
        with tempfile.TemporaryDirectory() as work:
            with tarfile.open(os.path.join(work, "qt.tar"), "w") as tar:
                for path, text in files.items():
                    info = tarfile.TarInfo(f"qtbase/{path}")
                    info.size = len(text.encode())
                    tar.addfile(info, io.BytesIO(text.encode()))
            mkspecs = os.path.join(work, "prefix", "mkspecs")
            os.makedirs(os.path.join(mkspecs, "modules"))
            open(os.path.join(mkspecs, "qconfig.pri"), "w").close()
            with open(os.path.join(mkspecs, "modules", "qt_lib_gui_private.pri"), "w") as f:
                f.write(f"QT.gui_private.{'en' if pdf else 'dis'}abled_features = pdf\n")
            for folder in ("stage", "prefix/bin", "prefix/include"):
                os.makedirs(os.path.join(work, folder), exist_ok=True)
            source = os.path.join(work, "profile.c")
            with open(source, "w") as f:
                f.write("const unsigned char profile[] = {'a', 'c', 's', 'p'};\n")
            dll = os.path.join(work, "prefix", "bin", "Qt6Gui.dll")
            subprocess.run(["x86_64-w64-mingw32-gcc", "-shared", "-o", dll, source], check=True)
            shutil.copy(dll, os.path.join(work, "stage"))
            config = {"product": "P", "version": "1", "owner": "o", "owner_fr": "o",
                      "stage": os.path.join(work, "stage"), "prefix": os.path.join(work, "prefix"),
                      "objdump": "x86_64-w64-mingw32-objdump",
                      "qt_source": os.path.join(work, "qt.tar"), "qt_package": "qt",
                      "qt_version": "1", "qt_upstream": "1", "qt_suite": "s", "components": []}
            with open(os.path.join(work, "config.json"), "w") as f:
                json.dump(config, f)
            out = os.path.join(work, "out")
            subprocess.run([sys.executable, __file__, "--config", os.path.join(work, "config.json"),
                            "--out", out], check=True)
            shipped = os.path.join(out, "licenses", "SPDX", "LicenseRef-ICC-License.txt")
            entry = os.path.join(out, "licenses", "Qt-third-party", "icc-srgb-color-profile.txt")
            if os.path.exists(shipped) != pdf or os.path.exists(entry) != pdf or (
                    pdf and "ICC PERMISSION NOTICE" not in open(shipped, encoding="utf-8-sig").read()):
                sys.exit(f"gather-notices: self-test: with PDF {'on' if pdf else 'off'}, the ICC "
                         "profile's notice is wrong")
    print("gather-notices: self-test passed (an embedded ICC profile follows the PDF feature)")


def main():
    if sys.argv[1:] == ["--self-test"]:
        self_test()
        return
    parser = argparse.ArgumentParser()
    parser.add_argument("--config", required=True)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    with open(args.config, encoding="utf-8") as f:
        config = json.load(f)
    out = args.out
    entries, qt_licences, spdx = gather_qt(config)

    sources = {}  # licence file in the package -> where its text came from
    for name, (text, origin) in qt_licences.items():
        write(os.path.join(out, "licenses", "Qt", name), text)
        sources[f"licenses/Qt/{name}"] = f"{config['qt_package']} {config['qt_version']}: {origin}"
    for licence, (text, origin) in sorted(spdx.items()):
        write(os.path.join(out, "licenses", "SPDX", f"{licence}.txt"), text)
        sources[f"licenses/SPDX/{licence}.txt"] = \
            f"{config['qt_package']} {config['qt_version']}: {origin}"
    third_party = []
    for entry, origin, texts in entries:
        name = f"licenses/Qt-third-party/{entry['Id']}.txt"
        named = [f"licenses\\SPDX\\{licence}.txt" for licence in
                 spdx_ids(entry.get("LicenseId", "")) if licence in spdx]
        header = [f"{field(entry, 'Name') or entry['Id']} {field(entry, 'Version')}".rstrip(),
                  f"Licence: {field(entry, 'License')}" +
                  (f" ({field(entry, 'LicenseId')})" if entry.get("LicenseId") else ""),
                  field(entry, "Copyright").strip(), ""]
        if named:
            header[-1:-1] = ["Full licence text: " + ", ".join(named)]
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
