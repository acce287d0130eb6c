#!/usr/bin/python3
# The real program as a screen reader meets it: its accessibility tree read through AT-SPI, in an X
# server and on an accessibility bus of the test's own, in a network namespace with a LAN of its own.
# Arguments: the program, and the file the tree is written to as it was read.
import datetime, os, socket, subprocess, sys, tempfile, time

if os.environ.get("ZORVIK_A11Y_INSIDE") != "1":
    os.environ["ZORVIK_A11Y_INSIDE"] = "1"
    os.execvp("unshare", ["unshare", "-n", "dbus-run-session", "--", sys.executable] + sys.argv)
ADDRESS = "10.77.0.20"
for command in ["link set lo up", "link add eth0 type veth peer name gw0", "link set gw0 up",
                f"addr add {ADDRESS}/24 dev eth0", "link set eth0 up",
                "route add default via 10.77.0.1 dev eth0"]:
    subprocess.run(["ip"] + command.split(), check=True)
import pyatspi  # noqa: E402  (the accessibility bus exists only from here on)
from gi.repository import GLib  # noqa: E402

home, key = tempfile.mkdtemp(), "alpha.%d.key" % (datetime.date.today().year - 1900)
os.makedirs(f"{home}/Documents/KELVANOR2/Clefs2")
with open(f"{home}/Documents/KELVANOR2/Clefs2/{key}", "w") as f:
    f.write("k" * 4000)
display = next(f":{n}" for n in range(160, 400) if not os.path.exists(f"/tmp/.X11-unix/X{n}"))
processes = [subprocess.Popen(["Xvfb", display, "-nolisten", "tcp"])]
env = dict(os.environ, DISPLAY=display, HOME=home, XDG_RUNTIME_DIR=home, QT_QPA_PLATFORM="xcb",
           QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")

def check(found, what):
    if not found:
        sys.exit(f"FAIL: {what}")
    return found

def poll(find, what):
    for _ in range(300):
        GLib.MainContext.default().iteration(False)
        if find():
            return find()
        time.sleep(0.05)
    check(False, what)

def start():
    """A copy of the program, given the toolkit's own options, which it must ignore."""
    processes.append(subprocess.Popen([sys.argv[1], "-reverse", "-qwindowtitle", "Other"], env=env))
    return poll(lambda: next((a for a in pyatspi.Registry.getDesktop(0) if a and a.childCount
                              and a.get_process_id() == processes[-1].pid
                              and a[0].childCount > 1), None), "no program")

def nodes(node, depth=0):
    yield depth, node
    for child in node:
        yield from nodes(child, depth + 1)

def one(app, role, name=None):
    found = [n for _, n in nodes(app) if n.getRoleName() == role and name in (None, n.name)]
    return check(len(found) == 1 and found[0], f"{len(found)} {role} named {name}")

try:
    poll(lambda: os.path.exists(f"/tmp/.X11-unix/X{display[1:]}"), "no X server")
    app = start()
    check(one(app, "frame", "Zorvik_QRCode"), "the window title")
    combo = one(app, "combo box")
    label = one(app, "label", "Clef de signature à installer dans votre tablette ou téléphone :")
    check([[r.getTarget(i) for i in range(r.getNTargets())] for r in combo.getRelationSet()
           if r.getRelationType() == pyatspi.RELATION_LABELLED_BY] == [[label]], "list's label")
    check(label.queryComponent().getExtents(0).x < combo.queryComponent().getExtents(0).x,
          "the window is mirrored")
    code = one(app, "image", "Code QR").description
    check(all(part in code for part in [key, ADDRESS, "Zorvik"]), "the code's description")
    one(app, "label", "Version 1.0.1")
    check(one(app, "status bar", "En attente de votre téléphone ou tablette…").description, "status")

    names = []
    pyatspi.Registry.registerEventListener(lambda e: names.append(e.source.name),
                                           "object:property-change:accessible-name")
    with socket.create_connection(("127.0.0.1", 10999)) as phone:
        phone.sendall(f"GET /{key} HTTP/1.1\r\n\r\n".encode())
        check(b"".join(iter(lambda: phone.recv(65536), b"")).endswith(b"k</D>"), "no key")
    sent = f"Clef «\u202f\u2068{key}\u2069\u202f» envoyée à \u2068127.0.0.1\u2069."
    poll(lambda: any(name.endswith(sent) for name in names), "no announcement of " + sent)
    with open(sys.argv[2], "w") as out:
        out.writelines("%s[%s] %r %r%s\n" % ("  " * depth, n.getRoleName(), n.name, n.description,
                                             "".join(f" {r.getRelationType().value_nick}: "
                                                     f"{r.getTarget(0).name!r}"
                                                     for r in n.getRelationSet()))
                       for depth, n in nodes(app))

    # A second copy finds the port taken: its message box reads exactly what it shows.
    second = start()
    box = poll(lambda: [n for _, n in nodes(second) if n.getRoleName() == "alert"], "no box")
    check(any(n.name == "Server Error: 8" for _, n in nodes(box[0])), "the box's text")
finally:
    for process in reversed(processes):
        process.kill()
print("PASS: tst_accessibility")
