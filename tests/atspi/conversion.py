#!/usr/bin/python3
"""A conversion through the accessibility stack alone, as a screen-reader user makes it.

Usage (inside a session bus of its own: tests/atspi/run.sh starts it so):
    conversion.py <tarnwell program> <folder of the stand-in converter>

Starts a virtual X display and the AT-SPI bus, starts the wizard on them in a fresh
temporary working directory, and through AT-SPI alone: checks that every focusable
widget of every page has a non-empty name of its own, finds the fields and buttons by
name and role, types into the fields through the editable-text interface, presses Next,
Finish and Close through their actions, and reads the log through the text interface.
Exits 0 when the whole conversion could be made and read, 1 otherwise.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time

TIMEOUT = 30  # seconds for anything the program or the bus is waited for


class Failure(Exception):
    pass


def wait_for(what, probe, timeout=TIMEOUT):
    """Returns probe()'s first true value; raises Failure after `timeout` seconds.

    The bus and the program answer late or not at all while they start: errors on the
    way count as "not yet"."""
    deadline = time.monotonic() + timeout
    last_error = None
    while time.monotonic() < deadline:
        try:
            value = probe()
            if value:
                return value
        except Failure:
            raise
        except Exception as error:  # noqa: BLE001 - anything the bus throws is "not yet"
            last_error = f"{type(error).__name__}: {error}"
        time.sleep(0.1)
    raise Failure(f"timed out waiting for {what}" + (f" (last: {last_error})" if last_error else ""))


def start_display(processes):
    """Starts Xvfb on the first free display and returns its name (":N")."""
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
        pass_fds=[write_end], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    processes.append(xvfb)
    os.close(write_end)
    with os.fdopen(read_end) as pipe:
        number = pipe.readline().strip()
    if not number:
        raise Failure("Xvfb did not start")
    return ":" + number


def start_accessibility_bus(processes):
    """Starts the AT-SPI bus launcher on the session bus; returns once the bus answers."""
    from gi.repository import Gio

    launcher = subprocess.Popen(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    processes.append(launcher)
    session = Gio.bus_get_sync(Gio.BusType.SESSION, None)

    def address():
        if launcher.poll() is not None:
            raise Failure("the AT-SPI bus launcher ended")
        reply = session.call_sync("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress",
                                  None, None, Gio.DBusCallFlags.NO_AUTO_START, 2000, None)
        return reply.unpack()[0]

    return wait_for("the AT-SPI bus", address)


class Wizard:
    """The running wizard as AT-SPI shows it."""

    def __init__(self, pyatspi, process):
        self.pyatspi = pyatspi
        self.process = process
        desktop = pyatspi.Registry.getDesktop(0)

        def application():
            if process.poll() is not None:
                raise Failure(f"the wizard ended with {process.returncode}")
            for app in desktop:
                if app is not None and app.get_process_id() == process.pid:
                    return app
            return None

        self.app = wait_for("the wizard on the AT-SPI bus", application)

    def _all(self, predicate):
        self.app.clear_cache()
        return self.pyatspi.findAllDescendants(self.app, predicate)

    def showing(self, accessible):
        return accessible.getState().contains(self.pyatspi.STATE_SHOWING)

    def find(self, roles, name):
        """The one showing widget of that role (or one of those roles) and name; waits
        for it."""
        roles = roles if isinstance(roles, tuple) else (roles,)
        role_name = "/".join(str(r) for r in roles)

        def probe():
            found = self._all(lambda a: a.getRole() in roles and a.name == name and self.showing(a))
            if len(found) > 1:
                raise Failure(f"{len(found)} showing widgets of role {role_name} named {name!r}")
            return found[0] if found else None

        try:
            return wait_for(f"a {role_name} named {name!r}", probe)
        except Failure as failure:
            seen = [f"{a.getRoleName()} {a.name!r}" for a in self._all(self.showing)]
            raise Failure(f"{failure}; showing: {', '.join(seen)}") from None

    def focusable_names(self):
        """The names of the widgets that can take the focus and are showing."""
        focusable = self.pyatspi.STATE_FOCUSABLE
        return sorted(a.name for a in
                      self._all(lambda a: a.getState().contains(focusable) and self.showing(a)))

    def check_names(self, page, expected):
        """Every focusable widget showing has a name of its own, and those `expected`
        are among them."""
        names = self.focusable_names()
        missing = sorted(set(expected) - set(names))
        if missing:
            raise Failure(f"{page}: no focusable widget named {missing}; all: {names}")
        unnamed = names.count("")
        repeated = sorted({n for n in names if n and names.count(n) > 1})
        if unnamed or repeated:
            raise Failure(f"{page}: {unnamed} focusable widgets without a name, names given "
                          f"twice: {repeated}; all: {names}")
        print(f"{page}: {len(names)} focusable widgets, each named: {', '.join(names)}")

    def type_into(self, name, text):
        field = self.find(self.pyatspi.ROLE_TEXT, name)
        field.queryEditableText().setTextContents(text)
        wait_for(f"{name!r} to read {text!r}",
                 lambda: field.queryText().getText(0, -1) == text)

    def press(self, role, name, action_names=("Press", "press", "click")):
        widget = self.find(role, name)
        wait_for(f"{name!r} to be enabled",
                 lambda: widget.getState().contains(self.pyatspi.STATE_ENABLED))
        action = widget.queryAction()
        for i in range(action.nActions):
            if action.getName(i) in action_names:
                action.doAction(i)
                return
        raise Failure(f"{name!r} has no action among {action_names}")

    def text_of(self, role, name):
        widget = self.find(role, name)
        try:
            text = widget.queryText()
        except NotImplementedError:
            raise Failure(f"{name!r} has no text interface") from None
        return text.getText(0, -1)


def run(program, converter_folder, work):
    processes = []
    try:
        display = start_display(processes)
        start_accessibility_bus(processes)
        import pyatspi  # only now: it connects to the bus that was just started

        for name in ("app.dpj", "message.p_s"):
            open(os.path.join(work, name), "w").close()
        for name in ("vdsp", "out"):
            os.mkdir(os.path.join(work, name))
        environment = dict(os.environ, DISPLAY=display, QT_QPA_PLATFORM="xcb",
                           QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
                           PATH=converter_folder + os.pathsep + os.environ.get("PATH", ""),
                           ASAN_OPTIONS="detect_leaks=0")
        environment.pop("WAYLAND_DISPLAY", None)
        wizard_process = subprocess.Popen([program], cwd=work, env=environment)
        processes.append(wizard_process)
        wizard = Wizard(pyatspi, wizard_process)
        text, button, check = pyatspi.ROLE_TEXT, pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_CHECK_BOX

        wizard.find(text, "Project File (.dpj)")
        wizard.check_names("Page0", [
            "Project File (.dpj)", "Browse for the VisualDSP project file", "Install Location",
            "Browse for the VisualDSP installation directory", "Folder",
            "Browse for the Norvik / Norvik++ project folder", "Name", "Next >", "Cancel"])
        wizard.type_into("Project File (.dpj)", os.path.join(work, "app.dpj"))
        wizard.type_into("Install Location", os.path.join(work, "vdsp"))
        wizard.type_into("Folder", os.path.join(work, "out"))
        wizard.type_into("Name", "demo")
        wizard.press(button, "Next >")

        wizard.find(text, "Message Personality")
        wizard.check_names("Page1", [
            "Message Personality", "Browse for the message personality",
            "Template Analyser Personality", "Browse for the template analyser personality",
            "Compiler Personality", "Browse for the compiler personality", "< Back", "Next >"])
        wizard.type_into("Message Personality", os.path.join(work, "message.p_s"))
        wizard.press(button, "Next >")

        wizard.find(check, "*.cpp")
        wizard.check_names("Page2", ["*.cpp", "*.cc", "*.cxx", "*.c", "*.h", "*.hh", "*.hpp",
                                      "*.hxx", "Custom Extensions", "Next >"])
        wizard.press(check, "*.cpp", ("Toggle", "Press", "press", "click"))
        wizard.press(check, "*.h", ("Toggle", "Press", "press", "click"))
        wizard.press(button, "Next >")

        # A text browser is static text (a label) to AT-SPI, an editable field read-only.
        log = ((pyatspi.ROLE_LABEL, text), "Conversion details")
        wait_for("the summary in the log", lambda: "cpp,h" in wizard.text_of(*log))
        wizard.check_names("Page3", ["Conversion details", "< Back", "Finish", "Cancel"])
        wizard.press(button, "Finish")
        done = "Project Converted Successfully!"
        shown = wait_for("the outcome in the log", lambda: (lambda t: done in t and t)(
            wizard.text_of(*log)))
        # The log's lines, whatever the separator the toolkit puts between them.
        lines = shown.replace("\u2029", "\n").replace("\u2028", "\n").split("\n")
        expected = ["Initialising Project Conversion ...",
                    "Movrak stand-in converter",
                    "Reading VisualDSP project " + os.path.join(work, "app.dpj"),
                    "Using VisualDSP installation " + os.path.join(work, "vdsp"),
                    "Using message personality " + os.path.join(work, "message.p_s"),
                    "Taking over files with the extensions: cpp,h",
                    "Creating project demo in " + os.path.join(work, "out"),
                    "Project demo written.",
                    done]
        if lines != expected:
            raise Failure(f"the log reads {lines}, expected {expected}")
        print("The log reads, through its text interface:\n  " + "\n  ".join(lines))

        wizard.press(button, "Close")
        code = wizard_process.wait(TIMEOUT)
        if code != 0:
            raise Failure(f"the wizard ended with {code} after Close")
        if not os.path.isfile(os.path.join(work, "settings.txt")):
            raise Failure("settings.txt was not written")
    finally:
        for process in reversed(processes):
            if process.poll() is None:
                process.terminate()
                try:
                    process.wait(5)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()


def main():
    if len(sys.argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    program, converter_folder = (os.path.abspath(a) for a in sys.argv[1:])
    for tool in ("Xvfb",):
        if not shutil.which(tool):
            print(f"{tool} is missing: scripts/setup.sh test installs it", file=sys.stderr)
            return 1
    work = tempfile.mkdtemp(prefix="tarnwell-atspi-")
    try:
        run(program, converter_folder, work)
    except Failure as failure:
        print(f"FAIL: {failure}", file=sys.stderr)
        return 1
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("PASS: a conversion made and read through AT-SPI alone")
    return 0


if __name__ == "__main__":
    sys.exit(main())
