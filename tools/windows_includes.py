"""What a Qt source file includes when compiled for Windows: #include lines under preprocessor
conditions that the platform (Q_OS_*) or the Qt prefix's features (QT_FEATURE_*, QT_CONFIG(),
QT_NO_*) decide are followed or left out; any other condition counts as taken."""
import os
import re

# The platform tests that hold on Windows; code under any other Q_OS_ test is left out.
WINDOWS_OS = {"Q_OS_WIN", "Q_OS_WIN32", "Q_OS_WIN64", "Q_OS_WINDOWS"}


# The Qt prefix's feature macros: QT_FEATURE_x (1 or -1) and the QT_NO_X it defines.
FEATURES = {}
# Macros Qt defines exactly when a feature is on (the OpenGL flavours: with OpenGL off, no ANGLE
# or EGL header is compiled).
FEATURE_MACROS = {"QT_OPENGL_ES_2": "QT_FEATURE_opengles2", "QT_OPENGL_ES": "QT_FEATURE_opengles2",
                  "QT_OPENGL_DYNAMIC": "QT_FEATURE_dynamicgl"}


def read_features(prefix):
    for folder, _, files in os.walk(os.path.join(prefix, "include")):
        for name in files:
            if re.fullmatch(r"(qconfig|qt\w*-config(_p)?)\.h", name):
                with open(os.path.join(folder, name), encoding="utf-8") as f:
                    for match in re.finditer(r"#define (QT_FEATURE_\w+|QT_NO_\w+) ?(-?1)?", f.read()):
                        FEATURES[match.group(1)] = match.group(2) != "-1"


def known(name):
    """Whether a macro the platform or the prefix decides: True, False, or None."""
    if name.startswith("Q_OS_"):
        return name in WINDOWS_OS
    if name.startswith("QT_NO_"):
        return FEATURES.get(name, False) if FEATURES else None
    return FEATURES.get(FEATURE_MACROS.get(name, name))


def windows_value(directive, argument):
    """Whether a preprocessor condition holds for this Windows build: True, False, or None when
    it tests anything neither the platform nor the prefix's features decide."""
    argument = re.sub(r"//.*|/\*.*?\*/", "", argument).strip()
    expression = {"ifdef": f"defined({argument})", "ifndef": f"!defined({argument})"}.get(
        directive, argument)
    expression = re.sub(r"QT_CONFIG\s*\(\s*(\w+)\s*\)", r"QT_FEATURE_\1", expression)
    names = [name for name in re.findall(r"[A-Za-z_]\w*", expression) if name != "defined"]
    if not names or any(known(name) is None for name in names):
        return None
    python = re.sub(r"defined\s*\(?\s*(\w+)\s*\)?", lambda m: str(known(m.group(1))), expression)
    python = re.sub(r"\b(Q_OS_|QT_NO_|QT_FEATURE_|QT_OPENGL_)\w+\b",
                    lambda m: str(known(m.group(0))), python)
    python = python.replace("||", " or ").replace("&&", " and ").replace("!", " not ")
    if not re.fullmatch(r"[\sA-Za-z()]*", python) or \
            set(re.findall(r"\w+", python)) - {"True", "False", "and", "or", "not"}:
        return None
    return bool(eval(python, {"__builtins__": {}}))  # only True/False/and/or/not: checked above


def windows_includes(text):
    """The files a source includes when compiled for Windows (platform tests followed)."""
    branches, found = [], []  # branches: [this branch may be compiled, an earlier one is]
    for line in text.splitlines():
        match = re.match(r"\s*#\s*(ifdef|ifndef|if|elif|else|endif|include)\b(.*)", line)
        if not match:
            continue
        directive, argument = match.groups()
        if directive in ("if", "ifdef", "ifndef"):
            value = windows_value(directive, argument)
            branches.append([value is not False, value is True])
        elif directive == "elif" and branches:
            value, taken = windows_value("if", argument), branches[-1][1]
            branches[-1] = [not taken and value is not False, taken or value is True]
        elif directive == "else" and branches:
            branches[-1] = [not branches[-1][1], True]
        elif directive == "endif" and branches:
            branches.pop()
        elif directive == "include" and all(branch[0] for branch in branches):
            name = re.match(r'\s*[<"]([^>"]+)[>"]', argument)
            if name:
                found.append(name.group(1))
    return found
