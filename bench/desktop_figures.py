#!/usr/bin/python3
"""The running application's figures, measured on the desktop sandbox (tests/support/desktop-sandbox)
with its Xvfb, trayer as the tray host, the real helper and the stand-in daemon:

  qt_hello_tray_ms      launch of the smallest Qt tray program (tw_tray_probe) until the tray
                        host holds its icon, median of the launches
  startup_to_tray_ms    the same for tarnwick-desktop
  qt_hello_panel_ms     a click on tw_tray_probe's icon until its popup is on the screen, median:
                        the floor of the toolkit and tray host for the figure below
  panel_open_ms         a click on the icon until the panel's window is on the screen, median
  rss_idle_mb           the application's resident memory, logged in and connected, after the
                        panel has been opened
  idle_wakeups_per_min  its context switches (all threads) over a quiet minute, logged in,
                        connected and with the event stream open
  netmap_10000_to_panel_ms
                        the stand-in daemon asked for a 10,000-peer map whose self node has a
                        new name, until the open panel's "DNS: " row shows that name (through
                        AT-SPI, as a screen reader reads it), median
  rss_after_first_10000_peer_map_mb, rss_after_10000_peer_maps_mb
                        resident memory after the first and after the hundredth such map, once
                        the stream has been quiet for 6 s

Each figure is measured from outside, on one connection to the X server that hears what happens
at once: a launch until the tray host reparents the icon's window into itself, a click (through
XTest) until the panel's window maps. No process is spawned or polled meanwhile, so the figures
are the programs' own, and each is measured exactly as its floor.

  desktop-sandbox --build BUILD -- bench/desktop_figures.py [LAUNCHES] [CLICKS] [IDLE_SECONDS]"""

import ctypes
import ctypes.util
import importlib.machinery
import os
import select
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import time

BUILD = os.environ.get("TW_BUILD", "")
APP_LOG = os.path.join(os.environ.get("XDG_DATA_HOME", ""), "Tarnwick", "app.log")
TIMEOUT = 30.0


def load_tool(name):
    path = shutil.which(name)
    if path is None:
        raise SystemExit("desktop_figures: %s is not on PATH (run inside desktop-sandbox)" % name)
    return importlib.machinery.SourceFileLoader(name.replace("-", "_"), path).load_module()


tray = load_tool("desktop-tray")
atspi = load_tool("desktop-atspi")
DAEMON_SOCKET = "/var/run/tarnwickd.socket"
MAPS = 100
# Memory is read once the stream has been quiet long enough for the client to give the buffers
# of a large map back (5 s).
SETTLE_AFTER_MAP = 6.0


def wait_until(condition, what, timeout=TIMEOUT, pause=0.002):
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            raise SystemExit("desktop_figures: still not true after %.0f s: %s" % (timeout, what))
        time.sleep(pause)
    return time.monotonic()


class XServer:
    """One connection to the X server that clicks through XTest and hears top-level windows map
    and unmap: nothing is spawned or polled between a click and the panel's appearance, so the
    figure is the application's (and the toolkit's) own time."""

    UNMAP_NOTIFY, MAP_NOTIFY, REPARENT_NOTIFY = 18, 19, 21
    SUBSTRUCTURE_NOTIFY_MASK = 1 << 19
    ESCAPE_KEYSYM = 0xFF1B

    def __init__(self):
        x11 = ctypes.CDLL(ctypes.util.find_library("X11"))
        xtst = ctypes.CDLL(ctypes.util.find_library("Xtst"))
        pointer, window, number = ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int
        x11.XOpenDisplay.restype, x11.XOpenDisplay.argtypes = pointer, [ctypes.c_char_p]
        x11.XDefaultRootWindow.restype, x11.XDefaultRootWindow.argtypes = window, [pointer]
        x11.XSelectInput.argtypes = [pointer, window, ctypes.c_long]
        x11.XKeysymToKeycode.restype = ctypes.c_ubyte
        x11.XKeysymToKeycode.argtypes = [pointer, ctypes.c_ulong]
        x11.XConnectionNumber.argtypes = [pointer]
        for name in ("XFlush", "XPending", "XCloseDisplay"):
            getattr(x11, name).argtypes = [pointer]
        x11.XSync.argtypes = [pointer, number]
        x11.XNextEvent.argtypes = [pointer, pointer]
        xtst.XTestFakeMotionEvent.argtypes = [pointer, number, number, number, ctypes.c_ulong]
        for name in ("XTestFakeButtonEvent", "XTestFakeKeyEvent"):
            getattr(xtst, name).argtypes = [pointer, ctypes.c_uint, number, ctypes.c_ulong]
        self.x11, self.xtst = x11, xtst
        self.display = x11.XOpenDisplay(None)
        if not self.display:
            raise SystemExit("desktop_figures: cannot open the X display")
        self.root = x11.XDefaultRootWindow(self.display)
        x11.XSelectInput(self.display, self.root, self.SUBSTRUCTURE_NOTIFY_MASK)
        self.escape = x11.XKeysymToKeycode(self.display, self.ESCAPE_KEYSYM)
        self.event = (ctypes.c_long * 24)()  # an XEvent

    def close(self):
        self.x11.XCloseDisplay(self.display)

    def point_at(self, x, y):
        self.xtst.XTestFakeMotionEvent(self.display, -1, x, y, 0)
        self.settle()

    def settle(self):
        """Lets whatever is under way finish and forgets the windows it mapped. Clicks stay well
        apart: two within the double-click interval would be a double click."""
        time.sleep(1.0)
        self.x11.XSync(self.display, 0)
        while self.x11.XPending(self.display):
            self.x11.XNextEvent(self.display, ctypes.byref(self.event))

    def click(self):
        started = time.monotonic()
        self.xtst.XTestFakeButtonEvent(self.display, 1, 1, 0)
        self.xtst.XTestFakeButtonEvent(self.display, 1, 0, 0)
        self.x11.XFlush(self.display)
        return started

    def press_escape(self):
        self.xtst.XTestFakeKeyEvent(self.display, self.escape, 1, 0)
        self.xtst.XTestFakeKeyEvent(self.display, self.escape, 0, 0)
        self.x11.XFlush(self.display)

    def wait_for(self, kind, what, timeout=5.0):
        """The time a top-level window of any client mapped, unmapped, or was reparented out of
        the root (as a tray host embeds an icon), and the window."""
        deadline = time.monotonic() + timeout
        connection = self.x11.XConnectionNumber(self.display)
        while True:
            while self.x11.XPending(self.display):
                self.x11.XNextEvent(self.display, ctypes.byref(self.event))
                # XMapEvent, XUnmapEvent and XReparentEvent: the window at [5], the new parent at [6]
                if self.event[0] & 0xFFFFFFFF != kind:
                    continue
                if kind != self.REPARENT_NOTIFY or self.event[6] != self.root:
                    return time.monotonic(), self.event[5]
            left = deadline - time.monotonic()
            if left <= 0:
                raise SystemExit("desktop_figures: still not true after %.0f s: %s" % (timeout, what))
            select.select([connection], [], [], left)


def launch_until_in_tray(command):
    """Milliseconds from the launch until the tray host embeds the icon, and the process."""
    server = XServer()
    started = time.monotonic()
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        in_tray, _ = server.wait_for(XServer.REPARENT_NOTIFY, "the tray embeds an icon", TIMEOUT)
    finally:
        server.close()
    wait_until(lambda: len(tray.icons()) >= 1, "an icon in the tray")
    return (in_tray - started) * 1000.0, process


def end(process):
    process.send_signal(signal.SIGTERM)
    process.wait(TIMEOUT)
    wait_until(lambda: not tray.icons(), "the icon leaves the tray", pause=0.02)


def median_launch_ms(command, launches):
    times = []
    for _ in range(launches):
        elapsed, process = launch_until_in_tray(command)
        times.append(elapsed)
        end(process)
    return statistics.median(times)


def visible_windows(*criteria):
    found = subprocess.run(["xdotool", "search", "--onlyvisible"] + list(criteria),
                           capture_output=True, text=True)
    return {int(window) for window in found.stdout.split()}


def panel_windows():
    return visible_windows("--name", "^Tarnwick$")


def panel_open():
    return bool(panel_windows())


def click_icon():
    x, y, width, height = tray.icons()[0]
    subprocess.run(["xdotool", "mousemove", str(x + width // 2), str(y + height // 2)], check=True)
    started = time.monotonic()
    subprocess.run(["xdotool", "click", "1"], check=True)
    return started


def median_panel_open_ms(clicks, shown_panel):
    """A click on the icon until the panel's window maps; `shown_panel` gives the windows of the
    panel on the screen."""
    server = XServer()
    try:
        x, y, width, height = tray.icons()[0]
        server.point_at(x + width // 2, y + height // 2)
        times = []
        for _ in range(clicks):
            started = server.click()
            shown, window = server.wait_for(XServer.MAP_NOTIFY, "a window maps after the click")
            wait_until(lambda: window in shown_panel(), "the window that mapped is the panel",
                       timeout=5.0)
            times.append((shown - started) * 1000.0)
            server.press_escape()
            server.wait_for(XServer.UNMAP_NOTIFY, "a window unmaps after Escape")
            wait_until(lambda: not shown_panel(), "the panel closes", timeout=5.0, pause=0.01)
            server.settle()
    finally:
        server.close()
    return statistics.median(times)


def logged(path, text):
    try:
        with open(path, encoding="utf-8", errors="replace") as log:
            return text in log.read()
    except OSError:
        return False


def tunnel_up():
    addresses = subprocess.run(["ip", "-4", "-o", "addr", "show"], capture_output=True, text=True)
    return " inet 10.0.0.1/24 " in addresses.stdout


def log_in_and_connect():
    wait_until(lambda: logged(APP_LOG, "Connected to socket"), "the event stream opens", pause=0.1)
    app = ""
    for _ in range(100):
        apps = subprocess.run(["desktop-atspi", "apps"], capture_output=True, text=True).stdout
        app = next((name for name in apps.split("\n") if name.lower().startswith("tarnwick")), "")
        if app:
            break
        time.sleep(0.1)
    click_icon()
    wait_until(panel_open, "the panel shows")
    subprocess.run(["desktop-atspi", "wait", app, "Login Tarnwick", str(TIMEOUT)], check=True,
                   stdout=subprocess.DEVNULL)
    subprocess.run(["desktop-atspi", "press", app, "Login Tarnwick"], check=True)
    wait_until(tunnel_up, "the tunnel device carries 10.0.0.1/24", pause=0.1)
    # The panel closes by itself once the link went to the browser; else Escape closes it.
    try:
        wait_until(lambda: not panel_open(), "the panel closes", timeout=3.0, pause=0.05)
    except SystemExit:
        subprocess.run(["xdotool", "key", "Escape"], check=True)
        wait_until(lambda: not panel_open(), "the panel closes after Escape", pause=0.05)


def status_value(pid, field):
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    return 0


def context_switches(pid):
    total = 0
    for task in os.listdir("/proc/%d/task" % pid):
        with open("/proc/%d/task/%s/status" % (pid, task)) as status:
            for line in status:
                if line.startswith(("voluntary_ctxt_switches:", "nonvoluntary_ctxt_switches:")):
                    total += int(line.split()[1])
    return total


def quiet_browser():
    """Links the application opens go nowhere: the stand-in logs the node in by itself."""
    folder = "/tmp/desktop-figures-browser"
    os.makedirs(folder, exist_ok=True)
    opener = os.path.join(folder, "xdg-open")
    with open(opener, "w") as script:
        script.write("#!/bin/sh\nexit 0\n")
    os.chmod(opener, 0o755)
    os.environ["PATH"] = folder + ":" + os.environ["PATH"]
    os.environ["BROWSER"] = opener


def reshape_map(host, peers):
    """Has the stand-in daemon send a map of `peers` peers whose self node is called `host`."""
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as connection:
        connection.connect(DAEMON_SOCKET)
        connection.sendall(("POST /localapi/v0/dev/netmap?host=%s&peers=%d HTTP/1.1\r\n"
                            "Host: local-tarnwickd.sock\r\nContent-Length: 0\r\n"
                            "Connection: close\r\n\r\n" % (host, peers)).encode())
        reply = b"".join(iter(lambda: connection.recv(65536), b""))
    if b" 200 " not in reply.split(b"\r\n", 1)[0]:
        raise SystemExit("desktop_figures: the stand-in refused the map: %r" % reply[:200])


def accessible_app():
    status, text = atspi.ask("apps")
    return next((name for name in text.split("\n") if name.lower().startswith("tarnwick")), "")


def dns_row(app):
    status, text = atspi.ask("rows", app)
    for line in text.split("\n"):
        _, _, name = line.partition("\t")
        if name.startswith("DNS: "):
            return name
    raise SystemExit("desktop_figures: the panel shows no DNS row")


def map_figures(pid):
    """Milliseconds from asking for a 10,000-peer map to its name in the panel (median of the
    first five), and resident memory after the first and after the last of MAPS maps."""
    app = accessible_app()
    click_icon()
    wait_until(panel_open, "the panel shows")
    # "DNS: host.network…": each map renames the host, the network stays.
    network = dns_row(app).split(".", 1)[1]
    times, rss_first = [], 0
    for number in range(1, MAPS + 1):
        row = "DNS: map-%d.%s" % (number, network)
        started = time.monotonic()
        reshape_map("map-%d" % number, 10000)
        shown = wait_until(lambda: atspi.ask("has", app, row)[0] == "ok", row, pause=0.002)
        if number <= 5:
            times.append((shown - started) * 1000.0)
        if number == 1:
            time.sleep(SETTLE_AFTER_MAP)
            rss_first = status_value(pid, "VmRSS")
    time.sleep(SETTLE_AFTER_MAP)
    rss_last = status_value(pid, "VmRSS")
    subprocess.run(["xdotool", "key", "Escape"], check=True)
    return statistics.median(times), rss_first, rss_last


def main(argv):
    quiet_browser()
    launches = int(argv[1]) if len(argv) > 1 else 10
    clicks = int(argv[2]) if len(argv) > 2 else 20
    idle_seconds = float(argv[3]) if len(argv) > 3 else 60.0
    app_program = [os.path.join(BUILD, "bin", "tarnwick-desktop")]

    probe_program = [os.path.join(BUILD, "bin", "tw_tray_probe")]
    hello = median_launch_ms(probe_program, launches)
    _, probe = launch_until_in_tray(probe_program)
    try:
        time.sleep(1.0)
        icon_only = visible_windows("--pid", str(probe.pid))
        hello_panel = median_panel_open_ms(
            clicks, lambda: visible_windows("--pid", str(probe.pid)) - icon_only)
    finally:
        end(probe)
    startup = median_launch_ms(app_program, launches)

    _, app = launch_until_in_tray(app_program)
    try:
        log_in_and_connect()
        time.sleep(1.0)
        panel = median_panel_open_ms(clicks, panel_windows)
        time.sleep(2.0)  # whatever the last close started settles
        rss_kib = status_value(app.pid, "VmRSS")
        before = context_switches(app.pid)
        time.sleep(idle_seconds)
        wakeups = (context_switches(app.pid) - before) * 60.0 / idle_seconds
        map_ms, rss_first_kib, rss_last_kib = map_figures(app.pid)
    finally:
        end(app)

    print("qt_hello_tray_ms: %.1f" % hello)
    print("startup_to_tray_ms: %.1f" % startup)
    print("startup_vs_qt_hello: %.2f" % (startup / hello))
    print("qt_hello_panel_ms: %.1f" % hello_panel)
    print("panel_open_ms: %.1f" % panel)
    print("rss_idle_mb: %.1f" % (rss_kib / 1024.0))
    print("idle_wakeups_per_min: %.0f" % wakeups)
    print("netmap_10000_to_panel_ms: %.1f" % map_ms)
    print("rss_after_first_10000_peer_map_mb: %.1f" % (rss_first_kib / 1024.0))
    print("rss_after_10000_peer_maps_mb: %.1f" % (rss_last_kib / 1024.0))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
