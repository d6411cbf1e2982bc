#!/bin/bash
# The lane times as assistive technology sees them: runs the desk under Xvfb with an AT-SPI bus
# of its own; an AT-SPI client (as a screen reader is one) presses START and the lane keys through
# the buttons' actions, reads each lane's running and final time from the time labels' names and
# checks what is announced: every final time, the running clock about once a second. The desk runs
# under LANG=C, and its start-list dialog must speak German all the same.
#
#   tools/atspi-check.sh BUILD_DIR
#
# Needs Xvfb, dbus-run-session, at-spi2-core and Python's dbus and gi modules (installed by
# `make test`); without them the check is skipped with exit code 77.

set -u
BUILD=$(cd "${1:?usage: atspi-check.sh BUILD_DIR}" && pwd)
SKIP=77
PYTHON=/usr/bin/python3
LAUNCHER=/usr/libexec/at-spi-bus-launcher

for tool in xvfb-run dbus-run-session gdbus; do
    command -v $tool >/dev/null || { echo "SKIP: $tool is missing"; exit $SKIP; }
done
[ -x "$LAUNCHER" ] || { echo "SKIP: at-spi2-core is missing"; exit $SKIP; }
"$PYTHON" -c 'import dbus, dbus.mainloop.glib, gi.repository.GLib' 2>/dev/null \
    || { echo "SKIP: Python's dbus or gi module is missing"; exit $SKIP; }

TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT
export TMP BUILD PYTHON LAUNCHER

# Settings of its own: four lanes, hundredths, no sound, no ports.
mkdir -p "$TMP/cfg/Tempovia" "$TMP/devices" "$TMP/run" "$TMP/xdg-run"
chmod 700 "$TMP/xdg-run"
cat >"$TMP/cfg/Tempovia/zielkron.ini" <<INI
[General]
Left=0
Top=0
Height=0
Sound=0
Port1=0
Port2=0
Port3=0
Port4=0
Alg=0
FilterInd=1
Monitor=0
Title=Barrierefrei
LineCount=4
Accuracy=2
INI

cat >"$TMP/client.py" <<'PY'
import os, re, subprocess, sys, time
import dbus, dbus.mainloop.glib
from gi.repository import GLib

dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
session = dbus.SessionBus()
address = session.get_object("org.a11y.Bus", "/org/a11y/bus").GetAddress(dbus_interface="org.a11y.Bus")
bus = dbus.bus.BusConnection(address)
ACC = "org.a11y.atspi.Accessible"
context = GLib.MainLoop().get_context()

desk_process = None
def fail(text):
    print("FAIL: " + text)
    if desk_process:
        desk_process.terminate()
        print("--- desk output:\n" + desk_process.communicate()[0][-2000:])
    sys.exit(1)

def pump(seconds):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        context.iteration(False)
        time.sleep(0.005)

def prop(node, name):
    return bus.get_object(*node).Get(ACC, name, dbus_interface="org.freedesktop.DBus.Properties")

def children(node):
    return [(str(n), str(p)) for n, p in bus.get_object(*node).GetChildren(dbus_interface=ACC)]

def role(node):
    return str(bus.get_object(*node).GetRoleName(dbus_interface=ACC))

# When names were announced as changed, by object path (a screen reader listens for these and
# then reads the name).
announced = {}
def on_event(kind, *_, path=None):
    if kind == "accessible-name":
        announced.setdefault(str(path), []).append(time.monotonic())
def announcements(lane, since):
    return [t for t in announced.get(labels[lane][1], []) if t >= since]
bus.add_signal_receiver(on_event, signal_name="PropertyChange", dbus_interface="org.a11y.atspi.Event.Object",
                        path_keyword="path")
# The registry the launcher starts may still be starting, and one started meanwhile on demand
# gives way to it: asked again, for up to 10 s, whoever holds the name by then answers.
for attempt in range(100):
    try:
        registry = bus.get_object("org.a11y.atspi.Registry", "/org/a11y/atspi/registry")
        registry.RegisterEvent("object:property-change:accessible-name", dbus.Array([], signature="s"), "",
                               dbus_interface="org.a11y.atspi.Registry")
        break
    except dbus.DBusException:
        if attempt == 99:
            raise
        time.sleep(0.1)

# The desk starts once the client listens, under LANG=C, with settings of its own.
tmp = os.environ["TMP"]
desk_process = subprocess.Popen(
    [os.environ["BUILD"] + "/zielkron", "--virtual-ports"], cwd=tmp + "/run", stdout=subprocess.PIPE,
    stderr=subprocess.STDOUT, text=True,
    env=dict(os.environ, XDG_CONFIG_HOME=tmp + "/cfg", XDG_DATA_HOME=tmp + "/data",
             XDG_RUNTIME_DIR=tmp + "/xdg-run", ZIELKRON_DEVICES=tmp + "/devices", LANG="C", LC_ALL="",
             QT_QPA_PLATFORM="xcb"))

root = ("org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root")
desk = None
for _ in range(200):
    for app in children(root):
        try:
            if str(prop(app, "Name")) == "zielkron":
                desk = app
        except dbus.DBusException:
            pass
    if desk:
        break
    pump(0.1)
if not desk:
    fail("the desk never appeared on the AT-SPI bus")

# The desk's controls: time labels by the lane their name begins with, buttons by their text.
labels, buttons, texts = {}, {}, set()
def walk(node, depth=0):
    if depth > 12:
        return
    r = role(node)
    if r in ("table", "list", "tree table"):  # the results table, a dialog's file list
        return
    name = str(prop(node, "Name"))
    m = re.fullmatch(r"Zeit Bahn (\d+)(: .*)?", name)
    if m and r == "label":
        labels[int(m.group(1))] = node
    if r == "push button":
        buttons.setdefault(name, node)
    if r in ("label", "push button"):
        texts.add(name)
    for child in children(node):
        walk(child, depth + 1)
pump(1.0)
walk(desk)
for lane in range(1, 5):
    if lane not in labels:
        fail("no time label named 'Zeit Bahn %d: ...'; found %s" % (lane, sorted(labels)))
for b in ["START", "F1", "F2", "F3", "F4"]:
    if b not in buttons:
        fail("no button '%s' among %s" % (b, sorted(buttons)))

# The time a lane's label shows, from its name "Zeit Bahn N: <time>".
def time_of(text):
    return text.partition(": ")[2].strip()

def name(lane):
    return time_of(str(prop(labels[lane], "Name")))

def press(text):
    action = bus.get_object(*buttons[text])
    names = [str(a[0]) for a in action.GetActions(dbus_interface="org.a11y.atspi.Action")]
    if "Press" not in names:
        fail("button %s offers no Press action: %s" % (text, names))
    action.DoAction(names.index("Press"), dbus_interface="org.a11y.atspi.Action")

if name(1) != "0,00":
    fail("lane 1 reads %r before the start, not '0,00'" % name(1))
started = time.monotonic()
press("START")
pump(1.0)
first = name(1)
pump(0.3)
if name(1) == first or not re.fullmatch(r"\d+,\d\d", name(1)):
    fail("the running time of lane 1 is not read: %r, then %r" % (first, name(1)))
pump(1.0)
# The running clock is announced once a second, not a hundred times.
running = len(announcements(1, started))
if not 1 <= running <= 4:
    fail("lane 1's running time was announced %d times in about 2.5 s" % running)

final, pressed = {}, {}
for lane in (3, 1, 4, 2):
    pressed[lane] = time.monotonic()
    press("F%d" % lane)
    pump(0.4)
    final[lane] = name(lane)
pump(0.5)
for lane in range(1, 5):
    shown = name(lane)
    if not re.fullmatch(r"\d+,\d\d", shown) or shown == "0,00" or shown != final[lane]:
        fail("lane %d reads %r after its stop (then %r)" % (lane, final[lane], shown))
    if not announcements(lane, pressed[lane]):
        fail("lane %d's final time %s was not announced" % (lane, shown))
    print("lane %d: %s" % (lane, prop(labels[lane], "Name")))
times = [float(final[lane].replace(",", ".")) for lane in (3, 1, 4, 2)]
if times != sorted(times):
    fail("the final times do not follow the order of the stops: %s" % final)

# Qt's own dialogs speak German too, although the desk runs under LANG=C: the start-list dialog.
press("Startliste")
pump(1.5)
texts.clear()
walk(desk)
missing = {"Suchen in:", "Dateiname:", "Öffnen", "Abbrechen"} - texts
if missing:
    fail("the start-list dialog lacks %s; it shows %s" % (sorted(missing), sorted(texts)))
press("Abbrechen")
pump(0.5)
desk_process.terminate()
desk_process.wait()
print("PASS")
PY

# One session bus with its accessibility bus, an X server, the client, which starts the desk.
# shellcheck disable=SC2016 # expanded by the inner shell
dbus-run-session -- xvfb-run -a bash -c '
"$LAUNCHER" --launch-immediately >/dev/null 2>&1 &
LAUNCHER_PID=$!
for _ in $(seq 100); do
    gdbus call --session --dest org.a11y.Bus --object-path /org/a11y/bus --method org.a11y.Bus.GetAddress \
        >/dev/null 2>&1 && break
    sleep 0.1
done
# An assistive client is about: the desk takes part on the accessibility bus.
gdbus call --session --dest org.a11y.Bus --object-path /org/a11y/bus \
    --method org.freedesktop.DBus.Properties.Set org.a11y.Status IsEnabled "<true>" >/dev/null
"$PYTHON" "$TMP/client.py"
status=$?
kill $LAUNCHER_PID
wait
exit $status
' 2>&1 | grep -v -e '^dbus-daemon\[' -e 'Activat'
exit "${PIPESTATUS[0]}"
