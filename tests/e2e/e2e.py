#!/usr/bin/env python3
"""End-to-end checks of the panel as a person and a device meet it.

Two hosts joined by a veth pair: the panel's (192.0.2.1, the namespace this
script runs in) and the device's (192.0.2.2, a namespace of its own where the
simulator runs). The panel runs under Xvfb and is driven with xdotool; what it
does is checked on the wire (the simulator's log, a capture of the discovery
request), on the screen (pixel colours of the strips) and by ear (what Orca
speaks of it).

Run it as root; it moves into a network namespace of its own first, e.g.
    . scripts/lib.sh; lc_in_private_net tests/e2e/e2e.py --panel P --sim S
"""

import argparse
import contextlib
import json
import os
import re
import select
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time
import traceback

from harness import (cannot_run, DEVICE_IP, INPUTS, LAYOUT, PANEL_IP, SKIPPED, TAB_ORDER, TITLE, WINDOW_SIZE, Failure,
                     Network, Panel, Screen, check, enter_own_namespace, frame, leak_report, run, wait_for)

REQUEST = b"VORN DISCOVERY  \x00\x03RK-DX420" + b" " * 38


def tab_presses(start, target, skipped=(), back=False):
    """Tab presses (shift+Tab when `back`) from control `start` to `target`
    along the table's tab order, past the `skipped` ones (disabled or hidden)."""
    chain = [n for n in TAB_ORDER if n not in skipped]
    steps = chain.index(target) - chain.index(start)
    return (-steps if back else steps) % len(chain)


ORANGE = (255, 96, 0)
BLUE = (0, 128, 255)
YELLOW = (255, 255, 0)


# The one bound for the program's end, in every state: generous for loaded and
# instrumented builds; the figures are printed (bench/ measures them exactly).
END_BOUND = 1.5


class Skip(Exception):
    """A case that cannot run here; the checks as a whole skip if every case did."""


class Simulator:
    """rkdx-sim, the simulated device; its log tells what it saw."""

    def __init__(self, command, workdir, *options, name="sim"):
        self.log_path = os.path.join(workdir, name + ".log")
        self.log = open(self.log_path, "w")
        self.proc = subprocess.Popen([*command, "--warmup-ms", "1500", *options],
                                     stdout=self.log, stderr=subprocess.STDOUT)
        wait_for(lambda: "listen udp" in self.text() or "discovery off" in self.text(), 5,
                 "the simulator to listen")

    def text(self):
        with open(self.log_path) as f:
            return f.read()

    def frames(self):
        """(seconds, bytes) of every well-formed frame received."""
        out = []
        for line in self.text().splitlines():
            m = re.match(r"(\d+\.\d+) frame ([0-9a-f ]+)$", line)
            if m:
                out.append((float(m.group(1)), bytes.fromhex(m.group(2))))
        return out

    def connections(self):
        return re.findall(r"connect (\S+)", self.text())

    def wait_frames(self, count, timeout):
        return wait_for(lambda: len(self.frames()) >= count and self.frames(), timeout,
                        f"{count} frames at the device")

    def end(self):
        """How the panel left: "eof" once the device has seen no reset follow its
        end of stream, "reset" when one did or came instead; None while open."""
        text = self.text()
        if "reset by peer" in text:
            return "reset"
        return "eof" if "released: no reset followed" in text else None

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            self.proc.wait(5)
        self.log.close()


def expect_strips(screen, window, expected, what):
    """expected: name -> colour for visible strips; every other strip hidden."""
    def matches():
        seen = screen.strips(window)
        for name, colour in seen.items():
            want = expected.get(name)
            if want is None and colour in (ORANGE, BLUE, YELLOW):
                return None
            if want is not None and colour != want:
                return None
        return seen
    try:
        wait_for(matches, 5, what, step=0.2)
    except Failure:
        raise Failure(f"{what}: strips are {screen.strips(window)}, expected {expected}")


def wait_for_address(ctx, panel):
    """The discovery answer has been handled: the field holds the device's address."""
    wait_for(lambda: ctx.screen.lit(panel.window, "ComboBox1"), 5, "the found address in the field", step=0.1)


# ---------------------------------------------------------------------------
# The cases. Each gets a fresh simulator and a fresh panel.

def case_discovery_and_control(ctx):
    """Discovery on the wire, the found address, CONNECT, commands and strips, DISCONNECT."""
    cap_path = os.path.join(ctx.workdir, "discovery.pcap")
    cap_log = os.path.join(ctx.workdir, "tcpdump.log")
    with open(cap_log, "w") as log:
        cap = subprocess.Popen(ctx.net.command("tcpdump", "-i", "vdev", "--immediate-mode", "-U", "-Z", "root",
                                               "-w", cap_path, "udp"), stdout=subprocess.DEVNULL, stderr=log)
    wait_for(lambda: "listening on" in open(cap_log).read(), 5, "tcpdump to listen")
    sim = ctx.simulator()
    panel = ctx.panel()
    # The device's answer follows the request on the wire.
    wait_for(lambda: [p for p in read_udp_packets(cap_path) if p["sport"] == 54321], 5,
             "the request and its answer on the wire")
    cap.terminate()
    cap.wait(5)
    packets = read_udp_packets(cap_path)
    requests = [p for p in packets if p["dport"] == 54321]
    check(len(requests) == 1, f"one discovery request expected, captured {len(requests)}")
    r = requests[0]
    check(r["payload"] == REQUEST, f"request bytes differ: {r['payload']!r}")
    check((r["src"], r["sport"], r["dst"]) == (PANEL_IP, 50008, "255.255.255.255"),
          f"request addressing: {r['src']}:{r['sport']} -> {r['dst']}:{r['dport']}")

    # The answer put the device's address in the field: CONNECT without typing.
    wait_for(lambda: ctx.screen.lit(panel.window, "FindBtn"), 5, "FIND back after the discovery window",
             step=0.2)
    expect_strips(ctx.screen, panel.window, {}, "idle window")
    ctx.screen.click(panel.window, "connect")
    frames = sim.wait_frames(5, 10)
    check(sim.connections()[0].startswith(PANEL_IP + ":"), f"connection from {sim.connections()}")
    check(all(f == frame("     ") for _, f in frames[:5]), f"plain polls expected: {frames[:5]}")
    periods = [b[0] - a[0] for a, b in zip(frames, frames[1:])]
    check(all(0.25 < p < 0.45 for p in periods), f"frame periods {periods}")
    expect_strips(ctx.screen, panel.window, {"in1": ORANGE}, "device state after connect")

    # Presses ride the next frame, once; the last press per slot wins. The presses may
    # straddle a frame, so the command frames are merged slot by slot.
    before = len(sim.frames())
    ctx.screen.click_all(panel.window, ("power_off", "power_on", "lamp_on", "mute_on", "in3"))

    def settled():
        """Two plain polls after the last command frame: nothing more is carried."""
        sent = [f for _, f in sim.frames()[before:]]
        commands = [i for i, f in enumerate(sent) if f != frame("     ")]
        return commands and len(sent) - commands[-1] > 2
    wait_for(settled, 5, "the commands at the device, then plain polls")
    sent = [f for _, f in sim.frames()[before:] if f != frame("     ")]
    check(len(sent) <= 2 and len(set(sent)) == len(sent), f"commands must be carried once: {sent}")
    merged = bytearray(frame("     "))
    for f in sent:
        for i in range(3, 8):
            if f[i] != ord(" "):
                merged[i] = f[i]
    check(bytes(merged) == frame("1113 "), f"command frames {sent!r}")
    expect_strips(ctx.screen, panel.window, {"power": BLUE, "lamp": ORANGE, "mute": ORANGE,
                                             "in3": ORANGE}, "warming up")
    expect_strips(ctx.screen, panel.window, {"power": ORANGE, "lamp": ORANGE, "mute": ORANGE,
                                             "in3": ORANGE}, "powered on")
    ctx.screenshot(panel.window, "connected")
    last = f"in{INPUTS[-1]}"
    for control in ("lamp_off", "mute_off", last):
        ctx.screen.click(panel.window, control)
    expect_strips(ctx.screen, panel.window, {"power": ORANGE, last: ORANGE}, "lamp, mute off, the last input")

    # DISCONNECT: the device sees the end of stream, the strips go.
    ctx.screen.click(panel.window, "connect")
    wait_for(lambda: "closed by peer" in sim.text(), 5, "the end of stream at the device")
    expect_strips(ctx.screen, panel.window, {}, "idle after disconnect")
    ctx.screenshot(panel.window, "disconnected")
    check(len(sim.connections()) == 1, f"connections after DISCONNECT: {sim.connections()}")


def case_silent_device(ctx):
    """A device that never answers: a frame about every 3.1 s, strips unchanged."""
    sim = ctx.simulator("--silent")
    panel = ctx.panel()
    wait_for_address(ctx, panel)
    ctx.screen.click(panel.window, "connect")
    frames = sim.wait_frames(3, 12)
    periods = [b[0] - a[0] for a, b in zip(frames, frames[1:])]
    check(all(3.05 < p < 3.35 for p in periods), f"silent frame periods {periods}")
    expect_strips(ctx.screen, panel.window, {}, "no status from a silent device")


def case_device_closes(ctx):
    """The device closes the connection: the window goes idle and a new CONNECT works."""
    sim = ctx.simulator("--close-after", "3")
    panel = ctx.panel()
    wait_for_address(ctx, panel)
    ctx.screen.click(panel.window, "connect")
    wait_for(lambda: "closed (--close-after 3)" in sim.text(), 5, "the device to close")
    expect_strips(ctx.screen, panel.window, {}, "idle after the device closed")
    ctx.screenshot(panel.window, "device-closed")
    wait_for(lambda: not ctx.screen.present("情報"), 1, "no box")
    ctx.screen.click(panel.window, "connect")
    wait_for(lambda: len(sim.connections()) == 2, 5, "a second connection")
    wait_for(lambda: len(sim.frames()) >= 4, 5, "frames on the second connection")


def case_invalid_address(ctx):
    """Twenty nines: the information box, focus back in the field, no connection."""
    sim = ctx.simulator()
    panel = ctx.panel()
    wait_for_address(ctx, panel)  # typed over once the answer can no longer overwrite it
    ctx.screen.type_into_field(panel.window, "9" * 20)
    ctx.screen.click(panel.window, "connect")
    box = ctx.screen.find("情報", 5)
    ctx.screenshot(box, "rejection")
    ctx.screen.xdotool("windowfocus", "--sync", str(box))
    ctx.screen.xdotool("key", "Return")
    wait_for(lambda: not ctx.screen.present("情報"), 5, "the box to close")
    # Letters typed now are discarded by the field's filter; digits and dots go in.
    ctx.screen.type_into_field(panel.window, "abc" + DEVICE_IP)
    ctx.screen.click(panel.window, "connect")
    wait_for(lambda: sim.connections(), 5, "a connection to the typed address")
    # Had the rejected text connected, its connection would have come first.
    check(len(sim.connections()) == 1, f"one connection expected: {sim.connections()}")


def case_second_copy(ctx):
    """A second copy ends at once with exit code 0; the first runs on."""
    ctx.simulator()
    panel = ctx.panel()
    started = time.monotonic()
    second = subprocess.run([ctx.args.panel], env=panel.env, capture_output=True, timeout=10)
    took = time.monotonic() - started
    check(second.returncode == 0, f"second copy exit code {second.returncode}")
    check(took < 3, f"second copy took {took:.2f} s")
    check(panel.proc.poll() is None, "the first copy ended")


def case_close_while_connected(ctx):
    """Closing the window while connected: exit 0 promptly, end of stream, no more frames."""
    sim = ctx.simulator()
    panel = ctx.panel()
    wait_for_address(ctx, panel)
    ctx.screen.click(panel.window, "connect")
    sim.wait_frames(3, 5)
    ctx.screen.x.request_close(panel.window)
    closed_at = time.monotonic()
    code = panel.proc.wait(5)
    took = time.monotonic() - closed_at
    check(code == 0, f"exit code {code}")
    check(took < END_BOUND, f"exit took {took * 1000:.0f} ms")
    # Its frames all came before its end of stream, and it is gone.
    wait_for(lambda: "closed by peer" in sim.text(), 2, "the end of stream at the device")
    check(len(sim.connections()) == 1, f"connections {sim.connections()}")
    ctx.figures.append(f"close-to-exit while connected: {took * 1000:.0f} ms")


def icon_sizes(screen, window):
    """The square sizes of the icons the window offers a taskbar, in order."""
    out = run("xprop", "-id", str(window), "-notype", "_NET_WM_ICON", env=screen.env)
    return [int(w) if w == h else -1 for w, h in re.findall(r"Icon \((\d+) x (\d+)\)", out)]


def case_start_up(ctx):
    """The window shows within moments at its fixed size, offering the five icon sizes."""
    started = time.monotonic()
    panel = ctx.panel()
    took = time.monotonic() - started
    info = run("xwininfo", "-id", str(panel.window), env=ctx.screen.env)
    size = tuple(int(re.search(name + r":\s+(\d+)", info).group(1)) for name in ("Width", "Height"))
    check(size == WINDOW_SIZE, f"window size {size}")
    sizes = icon_sizes(ctx.screen, panel.window)
    check(sizes == [128, 96, 64, 48, 32], f"icon sizes {sizes}")
    ctx.figures.append(f"start-up to a viewable window: {took * 1000:.0f} ms")


def case_copy_while_ending(ctx):
    """A copy started while the first is ending gives way; once it is gone the next one runs."""
    first = ctx.panel()
    ctx.screen.x.request_close(first.window)
    first.proc.send_signal(signal.SIGSTOP)  # held somewhere in its end
    second = subprocess.run([ctx.args.panel], env=first.env, capture_output=True, timeout=10)
    check(second.returncode == 0, f"second copy exit code {second.returncode}")
    first.proc.send_signal(signal.SIGCONT)
    check(first.proc.wait(5) == 0, "the first copy did not end with 0")
    third = subprocess.Popen([ctx.args.panel], env=first.env, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
    try:
        ctx.screen.find(TITLE)
        check(third.poll() is None, "the third copy ended")
    finally:
        third.kill()
        third.wait(5)


def glyph_shapes(width, height, at):
    """The distinct shapes of the narrow ink blobs of a screenshot: the glyphs of its
    text lines (icons and button frames are wider and left out)."""
    counts = {}
    for y in range(0, height, 4):
        for x in range(0, width, 4):
            counts[at(x, y)] = counts.get(at(x, y), 0) + 1
    background = max(counts, key=counts.get)
    ink = [[sum(abs(a - b) for a, b in zip(at(x, y), background)) > 150 for x in range(width)]
           for y in range(height)]
    shapes, y = set(), 0
    while y < height:
        if not any(ink[y]):
            y += 1
            continue
        top = y
        while y < height and any(ink[y]):
            y += 1
        band = ink[top:y]
        x = 0
        while x < width:
            if not any(row[x] for row in band):
                x += 1
                continue
            left = x
            while x < width and any(row[x] for row in band):
                x += 1
            if x - left <= 24:
                rows = [tuple(row[left:x]) for row in band]
                while rows and not any(rows[0]):
                    rows.pop(0)
                while rows and not any(rows[-1]):
                    rows.pop()
                shapes.add(tuple(rows))
    return shapes


def case_bind_failure_box(ctx):
    """The discovery port held elsewhere: the error box's Japanese text is drawn in real
    glyphs, not a line of identical empty boxes."""
    holder = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    try:
        holder.bind(("0.0.0.0", 50008))
        ctx.panel(wait_window=False)
        box = ctx.screen.find("^Lumacast2$", 10)
        # The message has 27 different characters; empty boxes all look alike.
        shapes = set()

        def drawn():
            shapes.clear()
            shapes.update(glyph_shapes(*ctx.screen.image(box, "bind-failure")))
            return len(shapes) >= 15
        try:
            wait_for(drawn, 5, "the box's text", step=0.2)
        except Failure:
            pass
        ctx.screenshot(box, "bind-failure")
        check(len(shapes) >= 15, f"the box's text shows only {len(shapes)} different shapes")
        ctx.figures.append(f"bind-failure box: {len(shapes)} distinct glyph shapes")
    finally:
        holder.close()


ATSPI_READER = r"""
import json, sys
import gi
gi.require_version("Atspi", "2.0")
from gi.repository import Atspi

def describe(o):
    return {"role": o.get_role_name(), "name": o.get_name(),
            "relations": [[r.get_relation_type().value_nick,
                           [r.get_target(i).get_name() for i in range(r.get_n_targets())]]
                          for r in o.get_relation_set()]}

def tree(o, out):
    out.append(describe(o))
    for i in range(o.get_child_count()):
        tree(o.get_child_at_index(i), out)
    return out

desktop = Atspi.get_desktop(0)
apps = [desktop.get_child_at_index(i) for i in range(desktop.get_child_count())]
print(json.dumps([tree(a, []) for a in apps if a.get_name() == "lumacast2"]))
"""


class AccessibilityBus:
    """A session bus of this run's own; the accessibility bus and its registry start
    from it on demand, as on a desktop."""

    def __init__(self, runtime_dir):
        self.python = None
        for exe in (sys.executable, "/usr/bin/python3"):
            probe = subprocess.run([exe, "-c", "import gi; gi.require_version('Atspi', '2.0')"],
                                   capture_output=True)
            if probe.returncode == 0:
                self.python = exe
                break
        if self.python is None or not shutil.which("dbus-daemon"):
            raise Skip("no accessibility client library or no dbus-daemon")
        # The accessibility bus it starts puts its socket in this run's own folder.
        self.proc = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                                     stdout=subprocess.PIPE, text=True, start_new_session=True,
                                     env=dict(os.environ, XDG_RUNTIME_DIR=runtime_dir))
        address = self.proc.stdout.readline().strip()
        if not address:
            raise Skip("the session bus did not start")
        self.env = {"DBUS_SESSION_BUS_ADDRESS": address, "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1"}

    def tree(self):
        out = subprocess.run([self.python, "-c", ATSPI_READER], capture_output=True, text=True,
                             timeout=20, env=dict(os.environ, **self.env))
        apps = json.loads(out.stdout or "[]")
        return apps[0] if apps else []

    def close(self):
        os.killpg(self.proc.pid, signal.SIGTERM)
        self.proc.wait(5)


# Orca's own module, started as its launcher would start it but under its
# interpreter's name: the launcher refuses to run beside another Orca, and
# --replace would end the Orcas of everyone else on the machine.
ORCA = r"""
import sys
from orca import debug
debug.debugLevel = debug.LEVEL_ALL
debug.eventDebugLevel = debug.LEVEL_OFF
debug.debugFile = open(sys.argv[1], "w", buffering=1)
from orca import orca
manager = orca.getSettingsManager()
manager.activate(sys.argv[2], {"enableBraille": False})
sys.exit(orca.main())
"""


class ScreenReader:
    """Orca on the bus, with a small window manager that gives the focus as a
    desktop does, and speech-dispatcher whose one output module appends every
    message to a file instead of sounding it. What Orca speaks is read from the
    "SPEECH OUTPUT" lines of its debug log."""

    def __init__(self, ctx, bus):
        orca_python = "/usr/bin/python3"
        if subprocess.run([orca_python, "-c", "import importlib.util as u; u.find_spec('orca.orca') or exit(1)"],
                          capture_output=True).returncode:
            raise Skip("Orca is missing")
        for tool in ("speech-dispatcher", "matchbox-window-manager"):
            if not shutil.which(tool):
                raise Skip(f"{tool} is missing")
        work = os.path.join(ctx.workdir, "reader")
        os.makedirs(os.path.join(work, "speechd", "modules"))
        os.makedirs(os.path.join(work, "orca"))
        self.spoken_file = os.path.join(work, "spoken.txt")
        with open(os.path.join(work, "speechd", "speechd.conf"), "w") as f:
            f.write('AddModule "file" "sd_generic" "file.conf"\nDefaultModule file\nDefaultLanguage "en"\n'
                    'AudioOutputMethod "libao"\nAudioLibaoDriver "null"\n')
        with open(os.path.join(work, "speechd", "modules", "file.conf"), "w") as f:
            f.write('GenericExecuteSynth "printf \'%%s\\\\n\' \\\'$DATA\\\' >> %s"\n'
                    'GenericLanguage "en" "en" "utf-8"\nAddVoice "en" "MALE1" "file"\n' % self.spoken_file)
        socket_path = os.path.join(work, "speechd.sock")
        env = dict(ctx.screen.env, **bus.env, HOME=work, XDG_RUNTIME_DIR=work,
                   XDG_CONFIG_HOME=work, XDG_DATA_HOME=work, XDG_CACHE_HOME=work,
                   GSETTINGS_BACKEND="memory", SPEECHD_ADDRESS="unix_socket:" + socket_path)
        self.debug_file = os.path.join(work, "orca.debug")
        self.procs = []

        def start(*cmd):
            # Their messages go beside the log, kept when the checks fail.
            with open(os.path.join(work, os.path.basename(cmd[0]) + ".err"), "w") as err:
                self.procs.append(subprocess.Popen(cmd, env=env, stdout=subprocess.DEVNULL, stderr=err,
                                                   start_new_session=True))

        try:
            start("matchbox-window-manager", "-use_titlebar", "no", "-use_cursor", "no")
            start("speech-dispatcher", "-s", "-t", "0", "-C", os.path.join(work, "speechd"),
                  "-S", socket_path, "-L", work)
            wait_for(lambda: os.path.exists(socket_path), 10, "speech-dispatcher")
            start(orca_python, "-c", ORCA, self.debug_file, os.path.join(work, "orca"))
            self.wait_said(["Screen reader on"], 20)
        except BaseException:
            self.close()
            raise

    def said(self):
        """Every text Orca has spoken so far, without the full stop it adds."""
        try:
            with open(self.debug_file, encoding="utf-8", errors="replace") as f:
                log = f.read()
        except FileNotFoundError:
            return []
        return [t.strip().rstrip(".").strip() for t in re.findall(r"SPEECH OUTPUT: '(.*?)'\s*(?:\{|$)", log, re.M)]

    def wait_said(self, texts, timeout=10, since=0):
        """Waits until Orca has spoken `texts` in this order after the first `since`
        texts; returns the position after the last."""
        def found():
            said, at = self.said(), since
            for text in texts:
                while at < len(said) and said[at] != text:
                    at += 1
                if at == len(said):
                    return None
                at += 1
            return at
        try:
            return wait_for(found, timeout, f"Orca to say {texts}", step=0.1)
        except Failure:
            raise Failure(f"Orca did not say {texts}; it said {self.said()[since:]}")

    def close(self):
        # Orca takes seconds to end in order; nothing of it is kept.
        for proc in reversed(self.procs):
            with contextlib.suppress(ProcessLookupError):
                os.killpg(proc.pid, signal.SIGKILL)
            proc.wait(5)


BIND_FAILURE = "ソケットをバインドできませんでした。アドレスとポートは既に使われています。"
# What the panel says of a device state, as opposed to "not known".
STATES = re.compile(r"(Power|Lamp|Mute): (on|off|changing)|^No input selected"
                    rf"|^Input [1-{INPUTS[-1]}]( selected)?( label)?$")


def case_screen_reader(ctx):
    """Heard as a blind user hears it, under Orca with real keys: the connection's
    texts, the button's new name, a device change said once in words, the state on
    demand, DISCONNECT, the bind failure's box, and after it no state that no reply
    gave. The tree names no control a filler and labels the field."""
    bus = AccessibilityBus(ctx.workdir)
    reader = None

    def keys(*names):
        ctx.screen.xdotool("key", "--delay", "100", *names)

    try:
        reader = ScreenReader(ctx, bus)
        ctx.simulator()
        panel = ctx.panel(env=bus.env)
        at = reader.wait_said([TITLE + " frame", "Connect push button"])
        tree = wait_for(bus.tree, 10, "the panel on the accessibility bus")
        check(not [o for o in tree if o["role"] == "filler"], "a filler in the tree")
        field = [o for o in tree if o["role"] == "combo box"]
        check(field and ["labelled-by", ["IP Address:"]] in field[0]["relations"],
              f"the address field labelled by its label: {field}")
        wait_for_address(ctx, panel)

        keys("space")
        at = reader.wait_said(["Disconnect push button", f"CONNECTING... [{DEVICE_IP}]",
                               f"CONNECTED [{DEVICE_IP}]", "Power: off, Lamp: off, Mute: off, Input 1"],
                              since=at)
        # On to POWER ON, which tells the power's state, past what a connection
        # disables and every strip but input 1's.
        connected_skips = ["ComboBox1", "FindBtn"] + [n for n, (kind, *_) in LAYOUT.items()
                                                      if kind == "Strip" and n != "InpSelStatusPnl1"]
        keys(*["Tab"] * tab_presses("ConnectBtn", "PowerOnBtn", connected_skips))
        at = reader.wait_said(["Power on push button", "Power: off"], since=at)
        keys("Return")
        at = reader.wait_said(["Power: changing", "Power: on"], since=at)
        time.sleep(1.0)  # a few more polls, which say nothing
        check(reader.said()[at:] == [], f"said again on later polls: {reader.said()[at:]}")
        keys(*["Tab"] * tab_presses("PowerOnBtn", "ConnectBtn", connected_skips))
        at = reader.wait_said(["Disconnect push button"], since=at)
        keys("space")
        at = reader.wait_said(["Connect push button", "DISCONNECTED"], since=at)
        panel.stop()

        holder = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        try:
            holder.bind(("0.0.0.0", 50008))
            ctx.panel(env=bus.env, wait_window=False)
            at = reader.wait_said(["alert lumacast2", BIND_FAILURE, "OK push button"], since=at)
            keys("Return")
            at = reader.wait_said([TITLE + " frame", "Power on push button", "Power: not known"], since=at)
            # Back past the OFF buttons to the last input's strip, yellow like every strip.
            keys(*["shift+Tab"] * tab_presses("PowerOnBtn", f"InpSelStatusPnl{INPUTS[-1]}", back=True))
            end = reader.wait_said(["Power off push button", "Power: not known", "Input: not known label"],
                                   since=at)
        finally:
            holder.close()
        false = [t for t in reader.said()[at:end] if STATES.search(t)]
        check(not false, f"states that no reply gave, said after the box: {false}")
        with open(reader.spoken_file, encoding="utf-8") as f:
            check("DISCONNECTED" in f.read(), "the speech server was not given Orca's texts")
    finally:
        if reader:
            reader.close()
        bus.close()



def connect_pending():
    """True while a connect attempt to 127.0.0.1:50000 waits for its answer (the
    device's own connection that fills its accept queue is established)."""
    with open("/proc/net/tcp") as f:
        return any(line.split()[2] == "0100007F:C350" and line.split()[3] == "02"
                   for line in f.readlines()[1:])


def silent_name_server(workdir):
    """A name server on 127.0.0.1:53 that never answers, and the prefix that
    starts the panel with it as its only name server. ("1.2.3.4.5." can be typed,
    reads as no IPv4 address and goes to the name server.)"""
    server = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    server.bind(("127.0.0.1", 53))
    conf = os.path.join(workdir, "resolv.conf")
    with open(conf, "w") as f:
        f.write("nameserver 127.0.0.1\n")
    prefix = ("unshare", "-m", "sh", "-c", f"mount --bind {conf} /etc/resolv.conf && exec \"$0\"")
    return server, prefix


def case_end_in_every_state(ctx):
    """Closing the window, or a signal, ends the program with 0 in every state, promptly,
    the device seeing an orderly end of stream and no reset after it."""
    states = [  # name, the device's options (None: no device), address to connect to, how to end it
        ("idle", None, None, None), ("discovering", None, None, None),
        ("connecting", ("--stall",), "127.0.0.1", None), ("resolving", None, "1.2.3.4.5.", None),
        ("connected silent", ("--silent",), "127.0.0.1", None),
        ("connected answering", (), "127.0.0.1", None),
        ("streaming", ("--stream",), "127.0.0.1", None),
        ("SIGTERM connected", (), "127.0.0.1", signal.SIGTERM),
        ("SIGINT connected", (), "127.0.0.1", signal.SIGINT),
        ("SIGHUP idle", None, None, signal.SIGHUP)]
    failures = []
    for name, options, address, end in states:
        # No device answers the discovery here, so an address typed at once stays.
        device = ctx.loopback_device(*options) if options is not None else None
        server, prefix = silent_name_server(ctx.workdir) if name == "resolving" else (None, ())
        try:
            panel = ctx.panel(prefix=prefix)
            if "idle" in name:
                wait_for(lambda: ctx.screen.lit(panel.window, "FindBtn"), 5, "the discovery window to end",
                         step=0.2)
            if address:
                ctx.screen.type_into_field(panel.window, address)
                ctx.screen.click(panel.window, "connect")
                if not device:
                    wait_for(lambda: select.select([server], [], [], 0)[0], 5, "the lookup at the name server")
                elif "--stall" in options:
                    wait_for(connect_pending, 5, "a pending connect")
                elif "--stream" in options:
                    wait_for(lambda: "streamed 1 MiB" in device.text(), 10, "a megabyte streamed")
                else:
                    device.wait_frames(2, 10)
            closed_at = time.monotonic()
            if end:
                panel.proc.send_signal(end)
            else:
                ctx.screen.x.request_close(panel.window)
            code = panel.proc.wait(10)
            took = time.monotonic() - closed_at
            ctx.figures.append(f"close-to-exit, {name}: {took * 1000:.0f} ms")
            if code != 0 or took > END_BOUND:
                failures.append(f"{name}: exit code {code} after {took * 1000:.0f} ms")
            if device and "connected" in name:
                seen = wait_for(device.end, 2, f"{name}: the end of stream at the device")
                if seen != "eof":
                    failures.append(f"{name}: device saw {seen}")
        finally:
            if server:
                server.close()
            ctx.clean()
    check(not failures, "; ".join(failures))


def case_no_options_and_own_title(ctx):
    """Toolkit options are not read, and a link does not rename the program: the error box
    of a held discovery port is titled after the program file, not the link."""
    link = os.path.join(ctx.workdir, "Zed.link")
    os.symlink(ctx.args.panel, link)
    panel = ctx.panel(prefix=(link, "-qwindowtitle", "Renamed", "-reverse", "-stylesheet", "/dev/null"),
                      binary=False)
    panel.proc.send_signal(signal.SIGTERM)
    check(panel.proc.wait(5) == 0, "exit code after SIGTERM")
    held = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    held.bind(("0.0.0.0", 50008))
    try:
        boxed = ctx.panel(prefix=(link,), binary=False, wait_window=False)
        ctx.screen.find("lumacast2", 10)
        check(not ctx.screen.present("Zed"), "the box took the link's name")
        boxed.proc.send_signal(signal.SIGTERM)  # with the box still open
        check(boxed.proc.wait(5) == 0, "exit code after SIGTERM with the box open")
    finally:
        held.close()


def marked_processes(mark):
    """The processes whose environment carries `mark`."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/environ", "rb") as f:
                if mark in f.read().split(b"\0"):
                    with open(f"/proc/{pid}/comm") as c:
                        found.append((int(pid), c.read().strip()))
        except OSError:
            pass
    return found


def case_no_session_bus(ctx):
    """Without a session bus a start and an end leave no bus daemon behind."""
    if not shutil.which("dbus-launch"):
        raise Skip("dbus-launch is missing: nothing could start a bus")
    mark = f"LC_E2E_MARK={os.getpid()}-{time.monotonic_ns()}"
    panel = ctx.panel(env={"DBUS_SESSION_BUS_ADDRESS": "", mark.split("=")[0]: mark.split("=")[1]})
    time.sleep(1.0)
    ctx.screen.x.request_close(panel.window)
    check(panel.proc.wait(5) == 0, "exit code after the close")
    time.sleep(0.5)
    left = marked_processes(mark.encode())
    for pid, _ in left:
        os.kill(pid, signal.SIGKILL)
    check(not left, f"processes left behind: {left}")


CASES = [case_discovery_and_control, case_silent_device, case_device_closes,
         case_invalid_address, case_second_copy, case_close_while_connected,
         case_bind_failure_box, case_screen_reader, case_start_up, case_copy_while_ending,
         case_end_in_every_state, case_no_options_and_own_title,
         case_no_session_bus]


def read_udp_packets(path):
    """UDP/IPv4 packets of an Ethernet pcap file."""
    with open(path, "rb") as f:
        data = f.read()
    out, pos = [], 24
    while pos + 16 <= len(data):
        incl = struct.unpack_from("<I", data, pos + 8)[0]
        pkt = data[pos + 16:pos + 16 + incl]
        pos += 16 + incl
        if len(pkt) < 14 + 20 or pkt[12:14] != b"\x08\x00" or pkt[23] != 17:
            continue
        ihl = (pkt[14] & 0x0F) * 4
        udp = 14 + ihl
        sport, dport, length = struct.unpack_from(">HHH", pkt, udp)
        out.append({"src": ".".join(map(str, pkt[26:30])), "dst": ".".join(map(str, pkt[30:34])),
                    "sport": sport, "dport": dport, "payload": pkt[udp + 8:udp + length]})
    return out


class Context:
    def __init__(self, args, net, screen, workdir):
        self.args, self.net, self.screen, self.workdir = args, net, screen, workdir
        self.sims, self.panels, self.figures = [], [], []

    def simulator(self, *options):
        """The device on its own host, answering discoveries."""
        sim = Simulator(self.net.command(self.args.sim), self.workdir, *options)
        self.sims.append(sim)
        return sim

    def loopback_device(self, *options):
        """A device on 127.0.0.1:50000 in the panel's own namespace."""
        sim = Simulator([self.args.sim, "--bind", "127.0.0.1", "--no-discovery"], self.workdir, *options,
                        name="loopback")
        self.sims.append(sim)
        return sim

    def panel(self, env=None, wait_window=True, prefix=(), binary=True):
        runtime = tempfile.mkdtemp(dir=self.workdir)
        os.chmod(runtime, 0o700)
        panel = Panel(self.args.panel, self.screen, runtime, env, wait_window, prefix, binary)
        self.panels.append(panel)
        return panel

    def screenshot(self, window, name):
        if self.args.shots:
            os.makedirs(self.args.shots, exist_ok=True)
            run("import", "-window", str(window), os.path.join(self.args.shots, name + ".png"),
                env=self.screen.env)

    def clean(self, check=True):
        """Ends every panel and simulator; with `check`, a leak they reported fails the case."""
        for panel in self.panels:
            panel.stop()
        for sim in self.sims:
            sim.stop()
        leaks = [p.leaks() for p in self.panels] + [leak_report(s.text()) for s in self.sims]
        self.panels, self.sims = [], []
        leaks = [report for report in leaks if report]
        if check and leaks:
            raise Failure("leaks reported at the end:\n" + "\n".join(leaks))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--panel", required=True)
    parser.add_argument("--sim", required=True)
    parser.add_argument("--shots", help="folder for screenshots")
    parser.add_argument("-k", help="run only the cases whose name contains this")

    why = cannot_run("e2e", ("Xvfb", "xdotool", "import", "tcpdump", "nsenter", "unshare", "ip"))
    if why:
        print(why, file=sys.stderr)
        return SKIPPED
    enter_own_namespace()
    args = parser.parse_args()
    args.panel, args.sim = os.path.abspath(args.panel), os.path.abspath(args.sim)

    workdir = tempfile.mkdtemp(prefix="lc-e2e-")
    net = Network()
    screen = Screen(workdir)
    failed = skipped = ran = 0
    try:
        for case in CASES:
            if args.k and args.k not in case.__name__:
                continue
            ctx = Context(args, net, screen, os.path.join(workdir, case.__name__))
            os.makedirs(ctx.workdir)
            started = time.monotonic()
            ran += 1
            try:
                case(ctx)
                ctx.clean()
                status = "ok"
            except Skip as e:
                skipped += 1
                status = f"skipped: {e}"
            except Exception as e:  # noqa: BLE001 - every failure is reported per case
                failed += 1
                status = "FAILED: " + (str(e) if isinstance(e, Failure) else traceback.format_exc())
                for sim in ctx.sims:
                    print("--- simulator log\n" + sim.text()[-3000:])
            finally:
                ctx.clean(check=False)
            print(f"{case.__name__} ({time.monotonic() - started:.1f} s): {status}")
            for figure in ctx.figures:
                print("  " + figure)
            sys.stdout.flush()
    finally:
        screen.close()
        net.close()
        if not failed:
            shutil.rmtree(workdir, ignore_errors=True)
    if failed:
        return 1
    return SKIPPED if ran and skipped == ran else 0


if __name__ == "__main__":
    sys.exit(main())
