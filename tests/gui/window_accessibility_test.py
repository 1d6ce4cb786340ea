#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""The window as a screen reader meets it.

Starts a private X server (Xvfb), a private D-Bus session bus, the AT-SPI bus and its registry,
then `vortan-updater --simulate PACKAGE`; reads the window's accessible tree and checks the role
and name of every control (CONTROLS below), that Tab reaches what it must, and drives a whole
simulated update through AT-SPI actions alone to "Update Success!". Nothing touches the caller's
own display or session bus, and every process started here is ended, also on failure.

    window_accessibility_test.py UPDATER PACK SAMPLE_JSON

Exit status: 0 passed, 1 failed (with the accessible tree), 77 skipped: a needed tool is missing.
"""
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import traceback

try:  # Debian's python3-pyatspi; importing connects to nothing yet
    import gi

    gi.require_version("Atspi", "2.0")
    from gi.repository import Atspi, Gio, GLib
    import pyatspi
except (ImportError, ValueError) as error:
    pyatspi = None
    missing_pyatspi = error

CAPTION = "VORTAN KB 25 Firmware Update"
SUCCESS = "Update Success!"
CONNECTED = 'Device connected. Press "Update"'
UPDATED = "Updated to V2.1.0"  # the sample's firmware version
REHEARSAL = "Rehearsal: no real keyboard is updated"

# What a screen reader must find, one row a control: how it is found, its role and name, and
# what else holds ("tab": Tab reaches it; "modal": it has the modal state; "read-only": it has the
# read-only state). "found by": "window" (the application's first window), "button:NAME" (a
# control with a press action and that name), "named:NAME" (a control that is no label, of that
# name), "label:TEXT" (the control the label TEXT names: its
# label-for target, else the next control after it), "alert", "alert button:NAME", "alert
# text:NAME". A name ending in ":" is spoken as without it.
CONTROLS = [
    ("main window", "window", "frame", CAPTION, ""),
    ("Open button", "button:Open…", "push button", "Open…", "tab"),
    ("Refresh button", "button:Refresh", "push button", "Refresh", "tab"),
    ("Update button", "button:Update", "push button", "Update", "tab"),
    ("path field", "label:File:", "text", "File:", "tab read-only"),
    ("model field", "label:Product model:", "text", "Product model:", "read-only"),
    ("version field", "label:Firmware version:", "text", "Firmware version:", "read-only"),
    ("status field", "label:Status:", "text", "Status:", "tab read-only"),
    ("progress bar", "label:Progress:", "progress bar", "Progress:", ""),
    ("rehearsal banner", "named:Rehearsal", "text", "Rehearsal", "tab read-only"),
]
ALERT = [
    ("result alert", "alert", "alert", CAPTION, "modal"),
    ("alert message", "alert text:" + SUCCESS, "label", SUCCESS, ""),
    ("alert button", "alert button:OK", "push button", "OK", ""),
    ("run line", "named:Update progress", "text", "Update progress", "read-only"),
]
# The simulated keyboard is plugged in this long after the start, so the status changes while a
# screen reader listens.
ARRIVAL_SECONDS = 2


class Failure(Exception):
    pass


def skip(why):
    print("SKIPPED: " + why)
    sys.exit(77)


def wait_for(what, probe, timeout):
    """Polls probe() until it returns something true; fails naming `what` after `timeout` s."""
    deadline = time.monotonic() + timeout
    while True:
        value = probe()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure("waited %g s for %s" % (timeout, what))
        time.sleep(0.05)
        while GLib.MainContext.default().iteration(False):  # delivers the events listened to
            pass


def find_tool(name):
    for folder in ("/usr/libexec", "/usr/lib/at-spi2-core"):
        if os.access(os.path.join(folder, name), os.X_OK):
            return os.path.join(folder, name)
    return shutil.which(name)


class Session:
    """The private X server, buses and program; ends all of them, and whatever they started."""

    def __init__(self):
        self.work = tempfile.mkdtemp(prefix="vortan-a11y-")
        os.chmod(self.work, 0o700)
        self.procs = []
        self.app = None  # the program's accessible, once on the bus
        self.env = dict(os.environ)
        for leaked in ("AT_SPI_BUS_ADDRESS", "WAYLAND_DISPLAY", "SESSION_MANAGER"):
            self.env.pop(leaked, None)
        # Marks every process started here (and their children) for the clean-up.
        self.env.update(VORTAN_A11Y_RUN=self.work, XDG_RUNTIME_DIR=self.work,
                        XDG_DATA_HOME=self.path("data"), XDG_CONFIG_HOME=self.path("config"),
                        XDG_CACHE_HOME=self.path("cache"))

    def path(self, name):
        return os.path.join(self.work, name)

    def start(self, argv, **kwargs):
        log = open(self.path(os.path.basename(argv[0]) + ".log"), "ab")
        proc = subprocess.Popen(argv, env=self.env, stdout=kwargs.pop("stdout", log), stderr=log,
                                start_new_session=True, **kwargs)
        self.procs.append(proc)
        return proc

    def read_line(self, proc, what, timeout=10):
        ready, _, _ = select.select([proc.stdout], [], [], timeout)
        line = proc.stdout.readline().decode().strip() if ready else ""
        if not line:
            raise Failure("%s did not start (see %s)" % (what, self.work))
        return line

    def end(self):
        for proc in reversed(self.procs):
            try:
                os.killpg(proc.pid, signal.SIGTERM)
                proc.wait(3)
            except (ProcessLookupError, subprocess.TimeoutExpired):
                pass
        marker = ("VORTAN_A11Y_RUN=" + self.work).encode()
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open("/proc/%s/environ" % pid, "rb") as environ:
                    if marker in environ.read().split(b"\0") and int(pid) != os.getpid():
                        os.kill(int(pid), signal.SIGKILL)
            except OSError:
                pass
        for proc in self.procs:
            proc.poll()
        shutil.rmtree(self.work, ignore_errors=True)


def start_desktop(session, tools):
    """Xvfb, the session bus, the AT-SPI bus and registry; our own process joins them too."""
    # -noreset: by default the server resets when its last client leaves, which drops the AT-SPI
    # bus address the launcher puts on the root window and refuses clients meanwhile.
    xvfb = session.start([tools["Xvfb"], "-displayfd", "1", "-noreset", "-nolisten", "tcp",
                          "-screen", "0", "1024x768x24"], stdout=subprocess.PIPE)
    session.env["DISPLAY"] = ":" + session.read_line(xvfb, "Xvfb")
    bus = session.start([tools["dbus-daemon"], "--session", "--nofork", "--print-address=1",
                         "--address=unix:path=" + session.path("bus")], stdout=subprocess.PIPE)
    session.env["DBUS_SESSION_BUS_ADDRESS"] = session.read_line(bus, "dbus-daemon")
    os.environ.update(session.env)  # before the first AT-SPI call of this process

    connection = Gio.DBusConnection.new_for_address_sync(
        session.env["DBUS_SESSION_BUS_ADDRESS"],
        Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT
        | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION, None, None)

    def a11y_address():
        try:  # NO_AUTO_START: the launcher started here answers, not one the bus activates
            reply = connection.call_sync("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus",
                                         "GetAddress", None, GLib.VariantType("(s)"),
                                         Gio.DBusCallFlags.NO_AUTO_START, 2000, None)
            return reply.unpack()[0]
        except GLib.Error:
            return None

    launcher = session.start([tools["at-spi-bus-launcher"], "--launch-immediately", "--a11y=1"])
    a11y = Gio.DBusConnection.new_for_address_sync(
        wait_for("the AT-SPI bus", lambda: alive(launcher) and a11y_address(), 20),
        Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT
        | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION, None, None)
    registry = session.start([tools["at-spi2-registryd"]])

    def registry_up():
        reply = a11y.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus",
                               "org.freedesktop.DBus", "NameHasOwner",
                               GLib.Variant("(s)", ("org.a11y.atspi.Registry",)),
                               GLib.VariantType("(b)"), Gio.DBusCallFlags.NONE, 2000, None)
        return reply.unpack()[0]

    wait_for("at-spi2-registryd", lambda: alive(registry) and registry_up(), 20)


def alive(proc):
    if proc.poll() is not None:
        raise Failure("%s ended with status %d" % (proc.args[0], proc.returncode))
    return True


# --- the accessible tree ---------------------------------------------------------------------

def walk(node):
    yield node
    for child in node:
        if child is not None:
            yield from walk(child)


def spoken(name):
    return (name or "").strip().rstrip(":")


def has_state(node, state):
    return node.getState().contains(state)


def press_action(node):
    """The index of the node's press (or click) action, or None."""
    try:
        actions = node.queryAction()
    except NotImplementedError:
        return None
    for i in range(actions.nActions):
        if actions.getName(i).lower() in ("press", "click", "activate"):
            return i
    return None


def press(node, what):
    index = press_action(node)
    if index is None or not node.queryAction().doAction(index):
        raise Failure("the %s offers no press action that works" % what)


def text_of(node):
    try:
        return node.queryText().getText(0, -1)
    except NotImplementedError:
        return node.name


def labelled_control(window, label_text):
    nodes = list(walk(window))
    labels = [n for n in nodes
              if n.getRoleName() == "label" and spoken(n.name) == spoken(label_text)]
    if not labels:
        return None
    for relation in labels[0].getRelationSet():
        if relation.getRelationType() == pyatspi.RELATION_LABEL_FOR and relation.getNTargets():
            return relation.getTarget(0)
    # No link: the control a sighted user sees beside the label.
    for node in nodes[nodes.index(labels[0]) + 1:]:
        if node.getRoleName() not in ("label", "panel", "filler"):
            return node
    return None


def locate(found_by, window, alert):
    kind, _, name = found_by.partition(":")
    if kind == "window":
        return window
    if kind == "alert":
        return alert
    if kind == "label":
        return labelled_control(window, name)
    scope = alert if kind.startswith("alert") else window
    button = kind.endswith("button")
    return next((n for n in walk(scope) if n is not scope and n.name == name
                 and (not button or press_action(n) is not None)
                 and (kind != "named" or n.getRoleName() != "label")), None)


def check_rows(rows, window, alert, tab_reached, report):
    for control, found_by, role, name, also in rows:
        node = locate(found_by, window, alert)
        faults = []
        if node is None:
            faults.append("not found (%s)" % found_by)
        else:
            if node.getRoleName() != role:
                faults.append("role %r, not %r" % (node.getRoleName(), role))
            if spoken(node.name) != spoken(name):
                faults.append("name %r, not %r" % (node.name, name))
            also = also.split()
            if "tab" in also and tab_reached is not None and path_of(node) not in tab_reached:
                faults.append("Tab never reaches it")
            if "modal" in also and not has_state(node, pyatspi.STATE_MODAL):
                faults.append("not marked modal")
            if "read-only" in also and not has_state(node, pyatspi.STATE_READ_ONLY):
                faults.append("not marked read-only")
        report.append((control, faults))


def path_of(node):
    """The node's place in its application: the child indices from the top."""
    path = []
    while node is not None and node.getRoleName() != "application":
        path.append(node.getIndexInParent())
        node = node.parent
    return tuple(reversed(path))


def focused_path(window):
    for node in walk(window):
        if has_state(node, pyatspi.STATE_FOCUSED):
            return path_of(node)
    return None


def tab_cycle(window):
    """The controls Tab reaches, going round once from the focused one."""
    # A click on the window's top-left margin makes it the active window, as a user's click would.
    extents = window.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    Atspi.generate_mouse_event(extents.x + 2, extents.y + 2, "b1c")
    wait_for("the window to become active", lambda: has_state(window, pyatspi.STATE_ACTIVE), 5)
    reached = []
    for _ in range(20):
        before = focused_path(window)
        Atspi.generate_keyboard_event(0xFF09, None, Atspi.KeySynthType.SYM)  # Tab
        after = wait_for("Tab to move the focus",
                         lambda: (focused_path(window) or ()) != before and focused_path(window), 5)
        if after in reached:
            break
        reached.append(after)
    return set(reached)


def dump(node, depth=0, out=sys.stderr):
    try:
        states = sorted(s.value_nick for s in node.getState().getStates())
        print("%s%s %r text=%r %s" % ("  " * depth, node.getRoleName(), node.name,
                                       text_of(node), " ".join(states)), file=out)
        for child in node:
            dump(child, depth + 1, out)
    except Exception as error:  # a node gone while dumping
        print("%s(%s)" % ("  " * depth, error), file=out)


# --- the run ---------------------------------------------------------------------------------

def announced(changes, field, text):
    """Faults, if the text-changed events seen never inserted `text` into `field`."""
    def inserted():
        return [str(data) for _, source, data in changes if path_of(source) == path_of(field)]

    try:
        wait_for("an insertion of %r" % text, lambda: text in inserted(), 3)
        return []
    except Failure:
        return ["no object:text-changed:insert of %r, only %r" % (text, inserted())]


def run(session, updater, pack, sample):
    package = session.path("sample.dat")
    subprocess.run([pack, sample, "-o", package], check=True, stdout=subprocess.DEVNULL)
    config = session.path("Config.ini")
    open(config, "w").close()  # the defaults, whatever lies beside the build's program
    session.env.update(QT_QPA_PLATFORM="xcb", QT_ACCESSIBILITY="1",
                       QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
    # Registered before the program starts, so that it sends these events from its start.
    changes = []
    pyatspi.Registry.registerEventListener(
        lambda event: changes.append((event.type, event.source, event.any_data)),
        "object:text-changed:insert")
    program = session.start([updater, "--simulate-arrival", str(ARRIVAL_SECONDS), "--config",
                             config, package])

    desktop = pyatspi.Registry.getDesktop(0)
    app = wait_for("vortan-updater on the AT-SPI bus", lambda: alive(program) and next(
        (a for a in desktop if a is not None and a.get_process_id() == program.pid), None), 30)
    session.app = app
    window = wait_for("the main window", lambda: app.childCount and app[0], 10)
    status = labelled_control(window, "Status:")
    wait_for("the status %r" % CONNECTED, lambda: status and text_of(status) == CONNECTED, 10)

    report = [("status change told", announced(changes, status, CONNECTED))]
    check_rows(CONTROLS, window, None, tab_cycle(window), report)

    update = locate("button:Update", window, None)
    press(update, "Update button")
    wait_for("Update to be disabled during the run",
             lambda: not has_state(update, pyatspi.STATE_SENSITIVE), 5)
    alert = wait_for("the result alert", lambda: alive(program) and next(
        (c for c in app if c is not None and c.getRoleName() in ("alert", "dialog")), None), 60)
    check_rows(ALERT, window, alert, None, report)
    bar = labelled_control(window, "Progress:").queryValue()
    if bar.currentValue != bar.maximumValue:
        report.append(("progress bar at the end", ["at %g of %g" % (bar.currentValue,
                                                                    bar.maximumValue)]))
    texts = [text_of(n) for n in walk(alert)]
    if SUCCESS not in texts:
        raise Failure("the result alert says %r, not %r" % (texts, SUCCESS))
    for control, found_by, starts in [("run line text", "named:Update progress", UPDATED),
                                      ("banner text", "named:Rehearsal", REHEARSAL)]:
        node = locate(found_by, window, alert)
        text = node and text_of(node)
        report.append((control, [] if text and text.startswith(starts) else
                       ["reads %r, not %r…" % (text, starts)]))

    press(locate("alert button:OK", window, alert), "alert's OK button")
    wait_for("the alert to close", lambda: all(c is None or c.getRoleName() not in
                                                ("alert", "dialog") for c in app), 5)
    wait_for("Update to be enabled after the run",
             lambda: has_state(update, pyatspi.STATE_SENSITIVE), 5)
    return report


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    if pyatspi is None:
        skip("pyatspi is not installed for %s (%s)" % (sys.executable, missing_pyatspi))
    tools = {name: find_tool(name) for name in
             ("Xvfb", "dbus-daemon", "at-spi-bus-launcher", "at-spi2-registryd")}
    missing = [name for name, path in tools.items() if not path]
    if missing:
        skip("not installed: " + ", ".join(missing))

    def stop(signum, _frame):
        raise SystemExit(128 + signum)

    for signum in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(signum, stop)
    session = Session()
    started = time.monotonic()
    failed = True
    try:
        try:
            start_desktop(session, tools)
            failed = verdict(run(session, *sys.argv[1:]))
        except Failure as error:
            print("FAILED: " + str(error), file=sys.stderr)
        except Exception:  # an AT-SPI or D-Bus error: a failure too, with its trace
            traceback.print_exc()
        if failed and session.app is not None:
            dump(session.app)
        for log in sorted(os.listdir(session.work)) if failed else []:
            if log.endswith(".log"):
                text = open(session.path(log), errors="replace").read()[-2000:]
                print("--- %s:\n%s" % (log, text), file=sys.stderr)
    finally:
        session.end()
    print("%s in %.1f s" % ("failed" if failed else "passed", time.monotonic() - started))
    return 1 if failed else 0


def verdict(report):
    """Prints each row's outcome; true when a row failed."""
    for control, faults in report:
        print("%-8s %-16s %s" % ("FAILED" if faults else "ok", control, "; ".join(faults)))
    return any(faults for _, faults in report)


if __name__ == "__main__":
    sys.exit(main())
