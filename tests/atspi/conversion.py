#!/usr/bin/python3
# A conversion through the accessibility stack alone, as a screen-reader user makes it.
#
# Usage, inside a session bus of its own (tests/atspi/run.sh starts it so):
#     conversion.py <tarnwell program> <folder of the stand-in converter>
#
# Starts a virtual X display, the AT-SPI bus, and the wizard on them in a fresh
# temporary working directory; then, through AT-SPI alone, checks that every focusable
# widget of every page has a non-empty name of its own, finds fields and buttons by
# role and name, types into the fields through the editable-text interface, presses
# Next, Finish and Close through their actions and reads the log through the text
# interface. Exits 0 when the whole conversion could be made and read, 1 otherwise.

import os
import shutil
import subprocess
import sys
import tempfile
import time

TIMEOUT = 30  # seconds for anything the program or the buses are waited for
PRESS = ("Press", "press", "click")


class Failure(Exception):
    pass


# probe()'s first true value. While the buses and the program start, they answer late
# or throw: anything but a Failure counts as "not yet". `what` may be a function, which
# tells what was awaited and what was seen instead.
def wait_for(what, probe):
    deadline, last = time.monotonic() + TIMEOUT, ""
    while time.monotonic() < deadline:
        try:
            value = probe()
            if value:
                return value
        except Failure:
            raise
        except Exception as error:  # noqa: BLE001
            last = f" (last: {type(error).__name__}: {error})"
        time.sleep(0.1)
    raise Failure(f"timed out waiting for {what() if callable(what) else what}{last}")


# Xvfb on a free display, which it picks itself (no race with other servers starting).
def start_display():
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
                             "-nolisten", "tcp"], pass_fds=[write_end], stderr=subprocess.DEVNULL)
    os.close(write_end)
    with os.fdopen(read_end) as pipe:
        os.environ["DISPLAY"] = ":" + pipe.readline().strip()
    if os.environ["DISPLAY"] == ":":
        raise Failure(f"Xvfb did not start ({xvfb.wait()})")
    return xvfb


def run(program, converter_folder, work):
    # Asking the session bus for the AT-SPI bus starts it; pyatspi connects to it on import.
    from gi.repository import Gio

    session = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    wait_for("the AT-SPI bus", lambda: session.call_sync(
        "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", None, None,
        Gio.DBusCallFlags.NONE, 5000, None))
    import pyatspi

    path = lambda name: os.path.join(work, name)  # noqa: E731
    for name in ("app.dpj", "message.p_s"):
        open(path(name), "w").close()
    for name in ("vdsp", "out"):
        os.mkdir(path(name))
    environment = dict(os.environ, QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
                       ASAN_OPTIONS="detect_leaks=0",
                       PATH=converter_folder + os.pathsep + os.environ.get("PATH", ""))
    environment.pop("WAYLAND_DISPLAY", None)
    process = subprocess.Popen([program], cwd=work, env=environment)

    def application():
        if process.poll() is not None:
            raise Failure(f"the wizard ended with {process.returncode}")
        return next((app for app in pyatspi.Registry.getDesktop(0)
                     if app is not None and app.get_process_id() == process.pid), None)

    def showing(where=lambda a: True):
        app.clear_cache()
        return pyatspi.findAllDescendants(
            app, lambda a: a.getState().contains(pyatspi.STATE_SHOWING) and where(a))

    # The one showing widget of one of `roles` named `name`; waits for it.
    def find(name, *roles):
        def probe():
            found = showing(lambda a: a.getRole() in roles and a.name == name)
            if len(found) > 1:
                raise Failure(f"{len(found)} widgets named {name!r}")
            return found[0] if found else None

        return wait_for(lambda: f"a {'/'.join(map(str, roles))} named {name!r}; showing: "
                        + ", ".join(f"{a.getRoleName()} {a.name!r}" for a in showing()), probe)

    # Once the page shows (its first widget found): every focusable widget showing has a
    # name of its own.
    def check_names(page, first):
        find(*first)
        focusable = lambda a: a.getState().contains(pyatspi.STATE_FOCUSABLE)  # noqa: E731
        names = sorted(a.name for a in showing(focusable))
        if "" in names or len(set(names)) < len(names):
            raise Failure(f"{page}: every name given once, none empty; the names are {names}")

    def type_into(name, text):
        field = find(name, pyatspi.ROLE_TEXT)
        field.queryEditableText().setTextContents(text)
        wait_for(f"{name!r} to read {text!r}", lambda: field.queryText().getText(0, -1) == text)

    def press(name, role=pyatspi.ROLE_PUSH_BUTTON, actions=PRESS):
        widget = find(name, role)
        wait_for(f"{name!r} enabled", lambda: widget.getState().contains(pyatspi.STATE_ENABLED))
        action = widget.queryAction()
        names = [action.getName(i) for i in range(action.nActions)]
        if not set(names) & set(actions):
            raise Failure(f"{name!r} has none of the actions {actions}, only {names}")
        action.doAction(next(i for i, n in enumerate(names) if n in actions))

    # A text browser is static text (a label) to AT-SPI; an editable field, read-only.
    def log_text():
        log = find("Conversion details", pyatspi.ROLE_LABEL, pyatspi.ROLE_TEXT)
        return log.queryText().getText(0, -1)  # no text interface: an error, "not yet"

    try:
        app = wait_for("the wizard on the AT-SPI bus", application)
        check_names("Page0", ("Project File (.dpj)", pyatspi.ROLE_TEXT))
        type_into("Project File (.dpj)", path("app.dpj"))
        type_into("Install Location", path("vdsp"))
        type_into("Folder", path("out"))
        type_into("Name", "demo")
        press("Next >")
        check_names("Page1", ("Message Personality", pyatspi.ROLE_TEXT))
        type_into("Message Personality", path("message.p_s"))
        press("Next >")
        check_names("Page2", ("*.cpp", pyatspi.ROLE_CHECK_BOX))
        for extension in ("*.cpp", "*.h"):
            press(extension, pyatspi.ROLE_CHECK_BOX, ("Toggle",) + PRESS)
        press("Next >")
        wait_for("the summary in the log", lambda: "cpp,h" in log_text())
        check_names("Page3", ("Finish", pyatspi.ROLE_PUSH_BUTTON))
        press("Finish")
        done = "Project Converted Successfully!"
        shown = wait_for("the outcome in the log", lambda: (lambda t: done in t and t)(log_text()))
        # The log's lines, separated by line feeds as in a plain text browser.
        lines = shown.split("\n")
        expected = ["Initialising Project Conversion ...", "Movrak stand-in converter",
                    "Reading VisualDSP project " + path("app.dpj"),
                    "Using VisualDSP installation " + path("vdsp"),
                    "Using message personality " + path("message.p_s"),
                    "Taking over files with the extensions: cpp,h",
                    "Creating project demo in " + path("out"), "Project demo written.", done]
        if lines != expected:
            raise Failure(f"the log reads {lines}, expected {expected}")
        press("Close")
        if process.wait(TIMEOUT) != 0:
            raise Failure(f"the wizard ended with {process.returncode} after Close")
    finally:
        process.kill()  # nothing when it has ended
        process.wait()


def main():
    work, xvfb = tempfile.mkdtemp(prefix="tarnwell-atspi-"), None
    try:
        xvfb = start_display()
        run(*(os.path.abspath(a) for a in sys.argv[1:3]), work)
    except Failure as failure:
        sys.exit(f"FAIL: {failure}")
    finally:
        if xvfb:
            xvfb.terminate()
            xvfb.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
