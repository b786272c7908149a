"""What the end-to-end checks, the soak run and the benchmarks share: the
waits and failures, the frames and what a status reply means, the second
network host, and the panel under an Xvfb of its own, clicked where the layout
table puts its controls. The program's facts are read from its sources, so
none is written twice.
"""

import ctypes
import os
import shutil
import re
import signal
import subprocess
import sys
import time

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
PANEL_IP = "192.0.2.1"
DEVICE_IP = "192.0.2.2"
SKIPPED = 77  # CTest's skip code, see tests/CMakeLists.txt
TITLE = "Lumacast2 For RK-DX420 Ver.1.00"


def source_text(path):
    with open(os.path.join(ROOT, path), encoding="utf-8") as f:
        return f.read()


# The device's inputs, numbered from 1.
INPUT_COUNT = int(re.search(r"InputCount = (\d+);", source_text("src/link/Protocol.h"))[1])
INPUTS = range(1, 1 + INPUT_COUNT)


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def run(*cmd, **kw):
    return subprocess.run(cmd, check=True, capture_output=True, text=True, **kw).stdout


def wait_for(predicate, timeout, what, step=0.05):
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure("timed out waiting for " + what)
        time.sleep(step)


def frame(field):
    """The command frame that carries the five characters of `field`."""
    return b"@C1" + field.encode() + b"\r"


def device_state(raw):
    """What the four status characters of a reply mean."""
    return {"power": {"1": "on", "2": "changing"}.get(raw[0], "off"),
            "lamp": "on" if raw[1] == "1" else "off", "mute": "on" if raw[2] == "1" else "off",
            "input": int(raw[3]) if raw[3] in "123456789"[:INPUT_COUNT] else None}


def cannot_run(suite, tools):
    """Why this machine cannot run `suite` (root and `tools` are needed), or None."""
    if os.geteuid() != 0 or not os.path.exists("/proc/self/ns/net"):
        return f"{suite}: needs root in a private network namespace; skipped"
    for tool in tools:
        if not shutil.which(tool):
            return f"{suite}: {tool} is missing; skipped"
    return None


def enter_own_namespace():
    """Re-runs the calling script in a network namespace of its own, so the veth
    pair and routes made here never touch the caller's (other tests share it)."""
    if "--own-namespace" in sys.argv:
        sys.argv.remove("--own-namespace")
        run("ip", "link", "set", "lo", "up")
        return
    os.execvp("unshare", ["unshare", "-n", sys.executable, os.path.abspath(sys.argv[0]), *sys.argv[1:],
                          "--own-namespace"])


WINDOW_SIZE = tuple(int(re.search(name + r" = (\d+);", source_text("src/ui/Layout.h"))[1])
                    for name in ("WindowWidth", "WindowHeight"))


def read_layout():
    """The window's controls as the program's layout table gives them, in its
    order, and the tab order: the table's controls that take the focus."""
    row = re.compile(r'\{"(\w+)",\s*(\w+),\s*(\d+),\s*(\d+),\s*(\w+),\s*(\d+),'
                     r'\s*"(?:[^"\\]|\\.)*",\s*\w+,\s*(InTabOrder|Never),')
    rows = list(row.finditer(source_text("src/ui/Layout.cpp")))
    width = {"WindowWidth": WINDOW_SIZE[0]}
    return ({m[1]: (m[2], int(m[3]), int(m[4]), width.get(m[5]) or int(m[5]), int(m[6])) for m in rows},
            [m[1] for m in rows if m[7] == "InTabOrder"])


LAYOUT, TAB_ORDER = read_layout()


def centre(name, across=0.5):
    _, left, top, width, height = LAYOUT[name]
    return (left + int(width * across), top + height // 2)


# Window-relative points to click: the centres of the controls; the field's
# left of its drop-down arrow.
CONTROLS = {
    "field": centre("ComboBox1", 0.4), "find": centre("FindBtn"), "connect": centre("ConnectBtn"),
    "power_on": centre("PowerOnBtn"), "lamp_on": centre("LampOnBtn"), "mute_on": centre("MuteOnBtn"),
    "power_off": centre("PowerOffBtn"), "lamp_off": centre("LampOffBtn"), "mute_off": centre("MuteOffBtn"),
    **{f"in{i}": centre(f"InpSelBtn{i}") for i in INPUTS},
}
# A pixel inside each strip, on its second row.
STRIPS = {
    name: (left + width // 2, top + 1)
    for name, (left, top, width) in {
        "power": LAYOUT["PowerStatusPnl"][1:4], "lamp": LAYOUT["LampStatusPnl"][1:4],
        "mute": LAYOUT["MuteStatusPnl"][1:4],
        **{f"in{i}": LAYOUT[f"InpSelStatusPnl{i}"][1:4] for i in INPUTS},
    }.items()
}


class Network:
    """The device host: a namespace held by a sleeping process, joined by veth;
    `local_ip` is this side's address, every one of `device_ips` the other's.
    `routed` (a network and addresses in it) are the other's too, reached
    through its first address: one neighbour entry for them all, where the
    system's table holds about a thousand."""

    def __init__(self, local_ip=PANEL_IP, device_ips=(DEVICE_IP,), routed=(None, ())):
        self.holder = subprocess.Popen(["unshare", "-n", "sleep", "100000"])
        ns = f"/proc/{self.holder.pid}/ns/net"
        wait_for(lambda: os.readlink(ns) != os.readlink("/proc/self/ns/net"), 5, "device namespace")
        self.ns = ns
        run("ip", "link", "add", "vlocal", "type", "veth", "peer", "name", "vdev")
        run("ip", "link", "set", "vdev", "netns", str(self.holder.pid))
        run("ip", "addr", "add", local_ip + "/24", "dev", "vlocal")
        run("ip", "link", "set", "vlocal", "up")
        run("ip", "route", "replace", "default", "dev", "vlocal")
        batch = ["link set lo up"] + [f"addr add {a}/24 dev vdev" for a in device_ips]
        batch += [f"addr add {a}/32 dev vdev" for a in routed[1]]
        batch += ["link set vdev up", "route add default dev vdev"]
        run(*self.command("ip", "-batch", "-"), input="\n".join(batch) + "\n")
        if routed[0]:
            run("ip", "route", "add", routed[0], "via", device_ips[0])

    def command(self, *cmd):
        return ["nsenter", "--net=" + self.ns, *cmd]

    def inside(self, *cmd):
        return run(*self.command(*cmd))

    def close(self):
        self.holder.kill()
        self.holder.wait()


class XClient:
    """Just enough Xlib to ask a window to close, as a window manager does."""

    class ClientMessage(ctypes.Structure):
        _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                    ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                    ("message_type", ctypes.c_ulong), ("format", ctypes.c_int),
                    ("data", ctypes.c_long * 5)]

    def __init__(self, display):
        self.x = ctypes.CDLL("libX11.so.6")
        self.x.XOpenDisplay.restype = ctypes.c_void_p
        self.x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x.XInternAtom.restype = ctypes.c_ulong
        self.x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        self.x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                                      ctypes.c_void_p]
        self.x.XFlush.argtypes = [ctypes.c_void_p]
        self.dpy = self.x.XOpenDisplay(display.encode())
        check(self.dpy, "cannot open the X display")

    def request_close(self, window):
        ev = (ctypes.c_long * 24)()
        msg = XClient.ClientMessage.from_buffer(ev)
        msg.type = 33  # ClientMessage
        msg.send_event = 1
        msg.window = window
        msg.message_type = self.x.XInternAtom(self.dpy, b"WM_PROTOCOLS", 0)
        msg.format = 32
        msg.data[0] = self.x.XInternAtom(self.dpy, b"WM_DELETE_WINDOW", 0)
        msg.data[1] = 0  # CurrentTime
        self.x.XSendEvent(self.dpy, window, 0, 0, ctypes.addressof(ev))
        self.x.XFlush(self.dpy)


class Screen:
    def __init__(self, workdir):
        for n in range(90, 200):
            if not os.path.exists(f"/tmp/.X11-unix/X{n}") and not os.path.exists(f"/tmp/.X{n}-lock"):
                break
        self.display = f":{n}"
        self.proc = subprocess.Popen(["Xvfb", self.display, "-screen", "0", "1024x768x24",
                                      "-nolisten", "tcp"], stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
        wait_for(lambda: os.path.exists(f"/tmp/.X11-unix/X{n}"), 10, "Xvfb")
        self.env = dict(os.environ, DISPLAY=self.display, QT_QPA_PLATFORM="xcb")
        self.env.pop("WAYLAND_DISPLAY", None)
        self.workdir = workdir
        self.x = XClient(self.display)

    def xdotool(self, *args):
        return run("xdotool", *args, env=self.env)

    def find(self, name, timeout=10):
        def search():
            r = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", name],
                               capture_output=True, text=True, env=self.env)
            return r.stdout.split()
        return int(wait_for(search, timeout, f"a window named {name!r}")[0])

    def present(self, name):
        r = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", name],
                           capture_output=True, text=True, env=self.env)
        return bool(r.stdout.split())

    def click(self, window, control):
        x, y = CONTROLS[control]
        self.xdotool("mousemove", "--window", str(window), str(x), str(y), "click", "1")
        time.sleep(0.05)

    def click_all(self, window, controls):
        """Clicks in one quick run, faster than a poll period."""
        args = []
        for control in controls:
            x, y = CONTROLS[control]
            args += ["mousemove", "--window", str(window), str(x), str(y), "click", "1"]
        self.xdotool(*args)
        time.sleep(0.05)

    def type_into_field(self, window, text):
        self.click(window, "field")
        self.xdotool("key", "--window", str(window), "ctrl+a", "BackSpace")
        self.xdotool("type", "--window", str(window), "--delay", "10", text)

    def pixels(self, window, name="shot"):
        return self.image(window, name)[2]

    def image(self, window, name="shot"):
        """(width, height, pixel at x, y) of a screenshot of the window."""
        path = os.path.join(self.workdir, name + ".ppm")
        run("import", "-window", str(window), "-depth", "8", path, env=self.env)
        with open(path, "rb") as f:
            data = f.read()
        m = re.match(rb"P6\s+(\d+)\s+(\d+)\s+(\d+)\s", data)
        width, height, depth = int(m.group(1)), int(m.group(2)), int(m.group(3))
        check(depth == 255, f"8-bit screenshot expected, maximum value {depth}")
        body = data[m.end():]
        return width, height, lambda x, y: tuple(body[(y * width + x) * 3:(y * width + x) * 3 + 3])

    def strips(self, window):
        at = self.pixels(window)
        return {name: at(*pos) for name, pos in STRIPS.items()}

    def lit(self, window, control):
        """True when the control shows text in the enabled colour: FIND once the
        discovery window is over, the field once it holds an address."""
        _, left, top, width, height = LAYOUT[control]
        at = self.pixels(window)
        # More than a text cursor's line.
        return sum(min(at(x, y)) > 0xb0 for y in range(top + 2, top + height - 2)
                   for x in range(left + 2, left + width * 2 // 3)) > 25

    def close(self):
        self.proc.terminate()
        self.proc.wait(5)


class Panel:
    """The panel; `prefix` comes before the binary, or stands for the whole
    command line when `with_binary` is false."""

    def __init__(self, binary, screen, runtime_dir, env=None, wait_window=True, prefix=(),
                 with_binary=True):
        self.binary = binary
        self.screen = screen
        self.env = dict(screen.env, XDG_RUNTIME_DIR=runtime_dir, **(env or {}))
        command = [*prefix, binary] if with_binary else list(prefix)
        self.err_path = runtime_dir + ".stderr"
        with open(self.err_path, "w") as err:
            self.proc = subprocess.Popen(command, env=self.env, stdout=subprocess.DEVNULL, stderr=err)
        self.window = screen.find(TITLE) if wait_window else None

    def stop(self):
        """Ends it as the end of a session does, so that a leak checker gets to run."""
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGCONT)
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
        self.proc.wait(5)

    def leaks(self):
        """What a leak checker reported at its end (in builds that have one)."""
        with open(self.err_path, errors="replace") as f:
            return leak_report(f.read())


def leak_report(output):
    at = output.find("LeakSanitizer")
    return output[at:at + 4000] if at >= 0 else ""
