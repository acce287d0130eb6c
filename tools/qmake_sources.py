"""The source files a Qt 5 (qmake) build compiled into a DLL, read from its project files, for
Qt DLLs installed without a symbol table: SOURCES and resource files of the DLL's .pro and of every .pri it includes,
of the bundled libraries it uses (QMAKE_USE: the qt<name> static libraries of src/3rdparty) and
of the static support modules it links (QT += <module>-private), each under the scopes that hold
for this build: Windows (mingw-w64) and the features the Qt prefix's mkspecs record. A scope this
reading cannot decide counts as taken: a licence too many is better than one missing."""
import os
import re

WINDOWS_SCOPES = {"win32", "windows", "mingw", "gcc", "win32-g++", "true"}
OTHER_SCOPES = {"unix", "linux", "mac", "macos", "osx", "darwin", "ios", "uikit", "tvos", "watchos",
                "android", "wasm", "winrt", "qnx", "integrity", "freebsd", "openbsd", "netbsd",
                "haiku", "vxworks", "solaris", "hpux", "aix", "cygwin", "msvc", "clang", "icc",
                "emscripten", "false", "x11", "xcb", "embedded"}


def prefix_features(prefix):
    """The enabled and disabled features of a Qt 5 prefix, from its mkspecs."""
    enabled, disabled = set(), set()
    folder = os.path.join(prefix, "mkspecs", "modules")
    for name in sorted(os.listdir(folder)) + ["../qconfig.pri"]:
        with open(os.path.join(folder, name), encoding="utf-8") as f:
            for line in f:
                match = re.match(r"\s*(\S+)\s*[+*]?=\s*(.*)", line)
                if not match:
                    continue
                key, value = match.groups()
                if key.endswith("enabled_features") or key == "QT_CONFIG":
                    enabled |= set(value.split())
                elif key.endswith("disabled_features"):
                    disabled |= set(value.split())
    return enabled, disabled


class QmakeSources:
    def __init__(self, files, enabled, disabled):
        self.files, self.enabled, self.disabled = files, enabled, disabled
        self.targets = {}
        self.modules = {}
        for path in files:
            if path.startswith("src/") and path.endswith(".pro"):
                text = files[path]
                for key, table in (("TARGET", self.targets), ("MODULE", self.modules)):
                    match = re.search(rf"^{key}\s*=\s*(\S+)", text, re.M)
                    if match:
                        table.setdefault(match.group(1), path)

    def atom(self, text):
        text = text.strip()
        if text.startswith("!"):
            value = self.atom(text[1:])
            return None if value is None else not value
        feature = re.fullmatch(r"qtConfig\(([\w-]+)\)", text)
        if feature:
            name = feature.group(1)
            return True if name in self.enabled else False if name in self.disabled else None
        if text in WINDOWS_SCOPES:
            return True
        if text in OTHER_SCOPES:
            return False
        return None

    def holds(self, condition):
        """and (:) of ors (|); an undecided atom counts as taken."""
        for part in condition.split(":"):
            values = [self.atom(atom) for atom in part.split("|") if atom.strip()]
            if values and not any(value is not False for value in values):
                return False
        return True

    def parse(self, path, project_dir, found, seen):
        if path in seen or path not in self.files:
            return
        seen.add(path)
        here = os.path.dirname(path)
        text = re.sub(r"\\\n", " ", self.files[path])
        scopes = []  # per open brace: [active, a branch of this chain was taken]
        for line in text.splitlines():
            line = line.split("#", 1)[0].strip()
            while line.startswith("}"):
                closed = scopes.pop() if scopes else [True, True]
                line = line[1:].strip()
                if line.startswith("else"):
                    rest = line[4:].lstrip(":").strip()
                    condition = rest[:-1].strip() if rest.endswith("{") else rest
                    active = not closed[1] and self.holds(condition or "true")
                    if rest.endswith("{"):
                        scopes.append([active, closed[1] or active])
                        line = ""
                    else:
                        line = "" if not active else rest
            if not line:
                continue
            if line.endswith("{"):
                condition = line[:-1].strip()
                active = self.holds(condition) if condition else True
                scopes.append([active, active])
                continue
            if not all(scope[0] for scope in scopes):
                continue
            statement = line
            match = re.match(r"^([^=()]*?):\s*(\w.*)$", line)
            if match and "=" not in match.group(1):
                if not self.holds(match.group(1)):
                    continue
                statement = match.group(2)
            self.statement(statement, here, project_dir, found, seen)

    def statement(self, statement, here, project_dir, found, seen):
        include = re.match(r"include\((.*)\)", statement)
        if include:
            target = include.group(1).strip().replace("$$PWD", here)
            if "$$" not in target:
                self.parse(os.path.normpath(os.path.join(here, target)), project_dir, found, seen)
            return
        assignment = re.match(r"([\w.]+)\s*[+*]?=\s*(.*)", statement)
        if not assignment:
            return
        key, value = assignment.groups()
        # NAME.files: the files of a resource compiled in (RESOURCES += NAME).
        if key in ("SOURCES", "OBJECTIVE_SOURCES") or key.endswith(".files"):
            for name in value.split():
                if name.startswith("$$PWD"):
                    found.add(os.path.normpath(here + name[5:]))
                elif "$$" not in name:
                    found.add(os.path.normpath(os.path.join(project_dir, name)))
        elif key in ("QMAKE_USE", "QMAKE_USE_PRIVATE"):
            for name in value.split():
                name = name.split("/")[0]
                bundled = self.targets.get(f"qt{name}") or self.targets.get(f"qtlib{name}")
                system = {f"system-{name}", f"system-{name.removeprefix('lib')}"}
                if bundled and not system & self.enabled:
                    self.parse(bundled, os.path.dirname(bundled), found, seen)
        elif key in ("QT", "QT_PRIVATE", "QT_FOR_PRIVATE"):
            for name in value.split():
                module = self.modules.get(name.removesuffix("-private"))
                if module and name.removesuffix("-private").endswith("_support"):
                    self.parse(module, os.path.dirname(module), found, seen)

    def compiled(self, target):
        """The source files compiled into the DLL of qmake TARGET (QtCore, qwindows...)."""
        found = set()
        project = self.targets.get(target)
        if project:
            self.parse(project, os.path.dirname(project), found, set())
        return found
