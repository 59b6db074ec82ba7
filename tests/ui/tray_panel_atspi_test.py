#!/usr/bin/python3
"""The tray icon and its panel on a real X server with a real XEmbed tray host, read and pressed
through AT-SPI as a screen reader does. Starts Xvfb, a private session bus, the accessibility bus,
trayer and the panel program, and tears them all down. Exits 77 (skipped) when a tool is missing.

Usage: tray_panel_atspi_test.py PANEL_PROGRAM BUNDLE_DIR
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time
import warnings

# get_action_name is deprecated in newer at-spi2-core, whose replacement Debian 12 lacks.
warnings.filterwarnings("ignore", category=DeprecationWarning)

SKIP = 77


def wait_for(predicate, timeout=5.0, step=0.05):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(step)
    return predicate()


class Desktop:
    """Xvfb, a session bus with the accessibility bus, and a tray host; torn down on exit."""

    def __init__(self, folder):
        self.processes = []
        self.env = dict(os.environ)
        display = self._free_display()
        self.env.update({
            "DISPLAY": f":{display}",
            "XDG_CONFIG_HOME": os.path.join(folder, "config"),
            "XDG_RUNTIME_DIR": folder,
            "GSETTINGS_BACKEND": "memory",
            "QT_QPA_PLATFORM": "xcb",
            "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1",
        })
        self.env.pop("DBUS_SESSION_BUS_ADDRESS", None)
        self.env.pop("WAYLAND_DISPLAY", None)
        self.start(["Xvfb", f":{display}", "-noreset", "-screen", "0", "1280x800x24"])
        if not wait_for(lambda: os.path.exists(f"/tmp/.X11-unix/X{display}")):
            raise RuntimeError("Xvfb did not start")
        bus = subprocess.run(["dbus-daemon", "--session", "--fork", "--print-address=1", "--print-pid=1"],
                             env=self.env, capture_output=True, text=True, check=True).stdout.split()
        self.env["DBUS_SESSION_BUS_ADDRESS"] = bus[0]
        self.bus_pid = int(bus[1])
        self.start(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"])
        self.start(["trayer", "--edge", "top", "--align", "right", "--widthtype", "request", "--height", "24"])
        os.environ.update(self.env)

    @staticmethod
    def _free_display():
        for number in range(90, 190):
            if not os.path.exists(f"/tmp/.X11-unix/X{number}") and not os.path.exists(f"/tmp/.X{number}-lock"):
                return number
        raise RuntimeError("no free X display")

    def start(self, argv, **kwargs):
        process = subprocess.Popen(argv, env=self.env, stderr=subprocess.DEVNULL, **kwargs)
        self.processes.append(process)
        return process

    def xdotool(self, *args):
        return subprocess.run(["xdotool", *args], env=self.env, capture_output=True, text=True).stdout

    def close(self):
        for process in reversed(self.processes):
            process.terminate()
            try:
                process.wait(timeout=3)
            except subprocess.TimeoutExpired:
                process.kill()
        try:
            os.kill(self.bus_pid, 15)
        except (AttributeError, ProcessLookupError):
            pass


def tray_icon_centre(desktop):
    """The centre of the icon that trayer embedded: its one child window."""
    for window in desktop.xdotool("search", "--class", "trayer").split():
        geometry = desktop.xdotool("getwindowgeometry", "--shell", window)
        values = dict(line.split("=") for line in geometry.split())
        if int(values["WIDTH"]) >= 16 and int(values["Y"]) < 30:
            return int(values["X"]) + int(values["WIDTH"]) // 2, int(values["Y"]) + int(values["HEIGHT"]) // 2
    return None


def main():
    program, bundle = sys.argv[1], sys.argv[2]
    for tool in ("Xvfb", "trayer", "xdotool", "dbus-daemon"):
        if shutil.which(tool) is None:
            print(f"skipped: {tool} is not installed")
            return SKIP
    if not os.path.exists("/usr/libexec/at-spi-bus-launcher"):
        print("skipped: at-spi2-core is not installed")
        return SKIP
    try:
        import gi
        gi.require_version("Atspi", "2.0")
        from gi.repository import Atspi
    except (ImportError, ValueError):
        print("skipped: gir1.2-atspi-2.0 is not installed")
        return SKIP

    with tempfile.TemporaryDirectory() as folder:
        desktop = Desktop(folder)
        try:
            output = open(os.path.join(folder, "app.log"), "w+")
            desktop.env["TARNWICK_BUNDLE"] = bundle
            desktop.start([program, "--tray", "connected"], stdout=output)
            def printed(text):
                output.seek(0)
                return text in output.read()

            assert wait_for(lambda: printed("ready")), "the panel program did not start"
            icon = wait_for(lambda: tray_icon_centre(desktop))
            assert icon, "the tray host shows no icon"

            def application():
                top = Atspi.get_desktop(0)
                for i in range(top.get_child_count()):
                    child = top.get_child_at_index(i)
                    if child is not None and child.get_name() == "tarnwick-panel-preview":
                        return child
                return None

            def panel():
                app = application()
                if app is None:
                    return None
                for i in range(app.get_child_count()):
                    child = app.get_child_at_index(i)
                    if child is not None and child.get_name() == "Tarnwick" and \
                            child.get_state_set().contains(Atspi.StateType.SHOWING):
                        return child
                return None

            def click(x, y):
                desktop.xdotool("mousemove", str(x), str(y), "click", "1")

            assert wait_for(application, timeout=10), "the application never reached the accessibility bus"
            # The icon toggles the panel; a click elsewhere hides it.
            click(*icon)
            assert wait_for(panel), "a click on the icon shows no panel"
            click(*icon)
            assert wait_for(lambda: panel() is None), "a second click on the icon leaves the panel shown"
            click(*icon)
            assert wait_for(panel), "a third click on the icon shows no panel"
            click(200, 600)
            assert wait_for(lambda: panel() is None), "a click elsewhere leaves the panel shown"

            # A screen reader reads every row and presses "Disconnect".
            click(*icon)
            shown = wait_for(panel)
            assert shown, "the panel did not show again"
            rows = {}

            def walk(node):
                for i in range(node.get_child_count()):
                    child = node.get_child_at_index(i)
                    if child is None:
                        continue
                    role = child.get_role()
                    if role in (Atspi.Role.PUSH_BUTTON, Atspi.Role.LABEL) and child.get_name():
                        rows[child.get_name()] = child
                    walk(child)

            walk(shown)
            expected = ["mika.virtanen@example.com", "Connected", "Disconnect",
                        "DNS: mika-laptop.tail-net.example.", "Tarnwick IPv4: 100.101.102.103",
                        "Tarnwick IPv6: fd7a:115c:a1e0::1234:5678", "Name: Mika Virtanen",
                        "Email: mika.virtanen@example.com", "Check for Updates...", "More", "Quit Tarnwick"]
            missing = [name for name in expected if name not in rows]
            assert not missing, f"rows not read: {missing}; read: {sorted(rows)}"
            disconnect = rows["Disconnect"]
            assert disconnect.get_role() == Atspi.Role.PUSH_BUTTON
            actions = [disconnect.get_action_name(i) for i in range(disconnect.get_n_actions())]
            assert "Press" in actions, actions
            disconnect.do_action(actions.index("Press"))

            # MenuRowId::connect is 9: the content turns it into disconnect() while connected.
            assert wait_for(lambda: printed("activated row 9")), "the model never saw the Disconnect row pressed"
            print("ok: toggle, outside click, %d rows read, Disconnect pressed" % len(rows))
            return 0
        finally:
            desktop.close()


if __name__ == "__main__":
    sys.exit(main())
