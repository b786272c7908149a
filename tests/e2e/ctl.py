#!/usr/bin/env python3
"""End-to-end checks of lumacast2-ctl against a room of simulated devices.

The controller runs here (192.0.2.1); the devices, good and faulty, on a second
network host (tests/e2e/fleet.py, tests/e2e/harness.py). Each row of CASES is one run of the program:
its exit code, its JSON or a watch's lines as they come, the names of the failures
on standard error, the exact frames each device received and how each connection
ended, from the devices' logs.

Run it as root; it moves into a network namespace of its own first, e.g.
    . scripts/lib.sh; lc_in_private_net tests/e2e/ctl.py --ctl C --sim S
"""

import argparse
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
from datetime import datetime

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from fleet import Group, ips, span  # noqa: E402
from harness import (cannot_run, INPUT_COUNT, SKIPPED, Failure, Network, check, device_state, enter_own_namespace, frame,  # noqa: E402
                     wait_for)

GROUPS = {  # name: (addresses, simulator options)
    "good": (ips("192.0.2", 10, 3), []),
    "silent": (ips("192.0.2", 20, 2), ["--silent"]),
    "refusing": (["192.0.2.30"], ["--refuse"]),
    "bad_header": (["192.0.2.40"], ["--bad-header"]),
    "closes_after_reply": (["192.0.2.50"], ["--close-after", "1"]),
    "closes_unanswered": (["192.0.2.51"], ["--silent", "--close-after", "1"]),
    "slow": (["192.0.2.60"], ["--delay-ms", "2000"]),
    "watched": (["192.0.2.70"], []),  # stopped and started again
}
G1, G2, G3 = GROUPS["good"][0]
S1, S2 = GROUPS["silent"][0]
REFUSING, BAD, ANSWERS_THEN_CLOSES, CLOSES, SLOW, WATCHED = (GROUPS[g][0][0] for g in list(GROUPS)[2:])
UNREACHABLE = "192.0.2.99"  # nobody holds it
DEVICES = [a for addresses, _ in GROUPS.values() for a in addresses]
# More devices than descriptors, in the range set aside for benchmarks; they
# run only for the cases that name them, the last ones, as they answer a find.
CROWD_NET = "198.18.0.0/15"
# A short delay, so that the side-by-side connections overlap.
CROWD = {name: (span(first, 550), ["--delay-ms", "50"])
         for name, first in (("crowd_a", "198.18.0.1"), ("crowd_b", "198.18.4.1"))}
MANY = [a for addresses, _ in CROWD.values() for a in addresses]

OK, NO_REPLY, REJECTED = "ok", "no reply", "rejected"
OK_OR_NO_FD = "ok, or too many open files"


def logged(field):
    """The simulator's log line of the frame that carries the four slots of `field`."""
    return "frame " + frame(field + " ").hex(" ")


IDLE = logged("    ")


def idle_only(got):
    return bool(got) and set(got) == {IDLE}


def after_command(command):
    """The command once, then idle polls only."""
    return lambda got: len(got) >= 2 and got[0] == command and set(got[1:]) == {IDLE}


def command_rows():
    rows, state = [], {"power": "off", "lamp": "off", "mute": "off", "input": 1}
    for words, field, item, value in [
            ("power on", "1   ", "power", "changing"), ("lamp on", " 1  ", "lamp", "on"),
            ("mute on", "  1 ", "mute", "on"), ("input 3", "   3", "input", 3),
            ("lamp off", " 0  ", "lamp", "off"), ("mute off", "  0 ", "mute", "off"),
            ("input 5", "   5", "input", 5), ("power off", "0   ", "power", "off")]:
        expected = {**state, item: value}
        rows.append({"name": words, "args": [*words.split(), G1, G2, "--json"], "code": 0,
                     "results": {G1: (OK, expected), G2: (OK, expected)},
                     "frames": {G1: [logged(field)], G2: [logged(field)]}})
        # The warm-up ends while the rows after it run.
        state = {k: v for k, v in expected.items() if v != "changing"}
    return rows


def slow_device_asked(run):
    wait_for(lambda: IDLE in run.events(SLOW), 5, "the slow device's frame")
    time.sleep(0.2)


def warmed_up(run):
    run.wait_line(lambda line: line["address"] == G1 and line.get("power") == "on", 5, "power on")
    time.sleep(1.0)  # polls enough to show a repeated line


def stopped_and_started(run):
    """Stops the device once watched; starts it again after one refused try."""
    group = run.device_group[WATCHED]
    run.wait_line(lambda line: line["event"] == "state", 3, "its state")
    group.stop()
    try:
        run.wait_line(lambda line: line.get("error") == "connection refused", 3, "a refused try")
    finally:
        group.start()
    wait_for(lambda: sum(line["event"] == "state" for line in run.lines()) == 2, 4, "its state again")


OFF = {"power": "off", "lamp": "off", "mute": "off", "input": 1}
CASES = [
    # Forged answers, from addresses no device sends from, arrive with the devices' own.
    {"name": "find", "args": ["find"], "code": 0, "found": DEVICES, "within": (1.4, 3.0),
     "forged": {"0.0.0.0": "not a device's address", "192.0.2.255": "a broadcast address"}},
    {"name": "status of several", "args": ["status", G1, G2, G3, "--json"], "code": 0,
     "results": {a: (OK, OFF) for a in (G1, G2, G3)}, "frames": {a: [IDLE] for a in (G1, G2, G3)}},
    {"name": "status as a table", "args": ["status", G1, G2], "code": 0, "table": [G1, G2],
     "frames": {G1: [IDLE], G2: [IDLE]}},
    *command_rows(),
    {"name": "power on --wait", "args": ["power", "on", G3, "--wait", "6", "--json"], "code": 0,
     "results": {G3: (OK, {"power": "on"})}, "frames": {G3: after_command(logged("1   "))}, "within": (1.0, 5.0)},
    {"name": "faulty devices side by side",
     "args": ["status", G3, S1, S2, REFUSING, BAD, ANSWERS_THEN_CLOSES, CLOSES, UNREACHABLE, "::1", "--json",
              "--timeout", "1"], "code": 1, "within": (2.5, 5.5),
     "results": {G3: (OK, {"power": "on"}), S1: (NO_REPLY, {}), S2: (NO_REPLY, {}), REFUSING: (NO_REPLY, {}),
                 BAD: (REJECTED, {}), ANSWERS_THEN_CLOSES: (OK, OFF), CLOSES: (NO_REPLY, {}),
                 UNREACHABLE: (NO_REPLY, {}), "::1": (NO_REPLY, {})},
     "frames": {a: [IDLE] for a in (G3, S1, S2, BAD, ANSWERS_THEN_CLOSES, CLOSES)}},
    {"name": "status --all", "args": ["status", "--all", "--json"], "code": 1, "within": (4.0, 7.5),
     "results": {**{a: (OK, {}) for a in (G1, G2, G3, ANSWERS_THEN_CLOSES, SLOW, WATCHED)},
                 **{a: (NO_REPLY, {}) for a in (S1, S2, REFUSING, CLOSES)}, BAD: (REJECTED, {})},
     "frames": {a: [IDLE] for a in DEVICES if a != REFUSING}},
    {"name": "status to a full disk", "args": ["status", G1], "stdout": "/dev/full", "code": 1,
     "told": "No space left on device", "frames": {G1: [IDLE]}},
    {"name": "find with its output closed", "args": ["find"], "stdout": None, "code": 1,
     "told": "Bad file descriptor"},
    {"name": "input out of range", "args": ["input", str(INPUT_COUNT + 1), G1], "code": 2},
    {"name": "unknown state", "args": ["lamp", "dim", G1], "code": 2},
    {"name": "no target", "args": ["status"], "code": 2},
    {"name": "find with the discovery port held", "args": ["find"], "code": 1, "hold": True},
    {"name": "status with the discovery port held", "args": ["status", G1, "--json"], "code": 0, "hold": True,
     "results": {G1: (OK, {})}, "frames": {G1: [IDLE]}},
    *({"name": f"{sig.name} during a slow device", "args": ["status", SLOW, G1], "during": slow_device_asked,
       "signal": sig, "code": 1, "unanswered": [SLOW], "frames": {SLOW: [IDLE], G1: [IDLE]}}
      for sig in (signal.SIGINT, signal.SIGTERM)),
    # A device serves one connection: the command goes first, or it would take the watch's.
    {"name": "watch a warm-up beside idle devices, then SIGINT", "before": [["power", "on", G1]],
     "args": ["watch", G1, G2, WATCHED, "--json"], "during": warmed_up, "signal": signal.SIGINT, "code": 0,
     "lines": {G1: ["connected", "changing", "on"], G2: ["connected", "off"], WATCHED: ["connected", "off"]},
     "frames": {G1: after_command(logged("1   ")), G2: idle_only, WATCHED: idle_only}},
    # Tried again 1 s after the loss, then 2 s after the refused try, each ±20 %.
    {"name": "watch a device stopped and started again, then SIGTERM", "args": ["watch", WATCHED, "--json"],
     "during": stopped_and_started, "signal": signal.SIGTERM, "code": 0,
     "lines": {WATCHED: ["connected", "off", "the device closed the connection", "connection refused", "connected",
                         "off"]},
     "pauses": {WATCHED: [(2, 0.75, 1.3), (3, 1.55, 2.5)]}, "frames": {WATCHED: idle_only}},
    {"name": "watch --once of a refusing device", "args": ["watch", REFUSING, "--once", "--json"], "code": 1,
     "within": (0, 1.0), "lines": {REFUSING: ["connection refused"]}},
    # Soft and hard limit alike, so the program cannot raise its own.
    {"name": "status of 1,100 devices within 1024 descriptors", "crowd": True,
     "prefix": ["prlimit", "--nofile=1024:1024"], "args": ["status", *MANY, "--json"], "code": 0,
     "results": {a: (OK, OFF) for a in MANY}},
    # Not under the sanitizers: they need descriptors of their own to check memory, and report faults
    # that are not there once none are left.
    {"name": "status of 64 devices within 48 descriptors", "crowd": True, "prefix": ["prlimit", "--nofile=48:48"],
     "plain build only": True,
     "args": ["status", *MANY[:64], "--json"], "code": 1, "results": {a: (OK_OR_NO_FD, OFF) for a in MANY[:64]}},
]


# Sent inside the devices' host: an Ethernet frame to everyone carrying a UDP
# answer to 255.255.255.255 port 50008 from the given source, which the
# system's own sockets would never send from.
FORGE = r"""
import socket, struct, sys
source, payload = sys.argv[1], b"RK-DX420"
def checksum(header):
    total = sum(struct.unpack("!10H", header))
    total = (total >> 16) + (total & 0xFFFF)
    return ~(total + (total >> 16)) & 0xFFFF
udp = struct.pack("!4H", 54321, 50008, 8 + len(payload), 0) + payload
ip = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + len(udp), 0, 0, 64, 17, 0, socket.inet_aton(source),
                 socket.inet_aton("255.255.255.255"))
ip = ip[:10] + struct.pack("!H", checksum(ip)) + ip[12:]
with socket.socket(socket.AF_PACKET, socket.SOCK_RAW) as s:
    s.bind(("vdev", 0))
    s.send(b"\xff" * 6 + bytes.fromhex("020000000001") + b"\x08\x00" + ip + udp)
"""


TIME = re.compile(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z$")
WATCH_FIELDS = {"connected": (), "state": ("power", "lamp", "mute", "input", "raw"), "ended": ("error",)}


def collect(stream, into):
    for line in stream:
        into.append(line)


class Run:
    def __init__(self, ctl, net, groups, case):
        self.case, self.groups = case, groups
        self.device_group = {a: g for g in groups for a in g.addresses}
        for g in groups:
            g.set_mark()
        held = None
        # "stdout": a file to write to, or None for a closed output.
        output = open(case["stdout"], "w") if case.get("stdout") else None
        closed = "stdout" in case and not output
        if case.get("hold"):
            held = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            held.bind(("0.0.0.0", 50008))
        try:
            for before in case.get("before", []):
                done = subprocess.run([ctl, *before], capture_output=True, text=True)
                check(done.returncode == 0, f"{before}: {done.stderr}")
                # Its connection let go first, so that the next is not logged as replacing it.
                self.orderly_ends()
            started = time.monotonic()
            # Bytes that are not UTF-8 read as U+FFFD, which the ASCII check catches.
            proc = subprocess.Popen([*case.get("prefix", []), ctl, *case["args"]], stdout=output or subprocess.PIPE,
                                    stderr=subprocess.PIPE, text=True, errors="replace",
                                    preexec_fn=(lambda: os.close(1)) if closed else None)
            # Read as it comes, for a watch's lines while it runs.
            self.out_lines, self.err_lines = [], []
            readers = [threading.Thread(target=collect, args=(stream, into))
                       for stream, into in ((proc.stdout, self.out_lines), (proc.stderr, self.err_lines)) if stream]
            for reader in readers:
                reader.start()
            try:
                for source in case.get("forged", {}):
                    wait_for(lambda: any(e.startswith("discovery ") for e in self.events(G1)), 5, "the request")
                    sent = subprocess.run(net.command(sys.executable, "-c", FORGE, source), capture_output=True,
                                          text=True)
                    check(sent.returncode == 0, f"forging {source}: {sent.stderr}")
                if "during" in case:
                    case["during"](self)
                if "signal" in case:
                    proc.send_signal(case["signal"])
                    started = time.monotonic()
                try:
                    proc.wait(timeout=20)
                except subprocess.TimeoutExpired:
                    raise Failure("did not end within 20 s")
            finally:
                if proc.poll() is None:
                    proc.kill()
                    proc.wait()
                for reader in readers:
                    reader.join()
            self.took = time.monotonic() - started
            self.code = proc.returncode
            self.out, self.err = "".join(self.out_lines), "".join(self.err_lines)
        finally:
            if output:
                output.close()
            if held:
                held.close()

    def events(self, address):
        return self.device_group[address].events(address)

    def lines(self):
        """The watch's JSON lines so far."""
        try:
            return [json.loads(line) for line in list(self.out_lines)]
        except ValueError as e:
            raise Failure(f"a line is not JSON ({e}): {self.out_lines}")

    def wait_line(self, predicate, timeout, what):
        wait_for(lambda: any(predicate(line) for line in self.lines()), timeout, f"{what}: {self.out_lines}")

    def frames(self, address):
        return [e for e in self.events(address) if e.startswith("frame ")]

    def last_raw(self, address):
        replies = [e for e in self.events(address) if e.startswith("reply ")]
        return bytes.fromhex(replies[-1][6:])[3:7].decode("ascii") if replies else None

    def orderly_ends(self):
        """Every connection of this run ended in order: the device saw an end of
        stream and no reset, or closed it itself."""
        def ended(address):
            events = self.events(address)
            connects = sum(e.startswith("connect ") for e in events)
            ends = sum(any(end in e for end in ("released: no reset followed", "closed (--close-after", "reset by peer"))
                       for e in events)
            return ends >= connects
        for address in self.device_group:
            wait_for(lambda: ended(address), 3, f"{address}: the end of its connections")
            check(not any("reset by peer" in e for e in self.events(address)), f"{address}: reset by the program")

    def verify(self):
        case = self.case
        where = f"exit code {self.code}, stdout:\n{self.out}\nstderr:\n{self.err}"
        if "signal" in case:
            check(self.took < 1.0, f"took {self.took:.2f} s after {case['signal'].name}")
        check(self.code == case["code"], f"expected exit code {case['code']}; {where}")
        check(all(ord(c) < 0x80 for c in self.out + self.err), f"not ASCII; {where}")
        for a in case.get("unanswered", []):
            check(not any(e.startswith("reply") for e in self.events(a)), f"{a} got to answer")
        if "within" in case:
            low, high = case["within"]
            check(low <= self.took <= high, f"took {self.took:.2f} s, expected {low} to {high} s")
        if "found" in case:
            found = [line.split()[0] for line in self.out.splitlines() if line.strip()]
            check(sorted(found) == sorted(case["found"]), f"found {found}")
            for a in case["found"]:
                requests = [e for e in self.events(a) if e.startswith("discovery ")]
                check(len(requests) == 1 and requests[0].startswith(
                    "discovery 192.0.2.1:50008 to 255.255.255.255 (request) ") and len(requests[0].split()) == 69,
                    f"{a}: discovery datagrams {requests}")
        for source, why in case.get("forged", {}).items():
            check(self.err.count(f"left out {source}:") == 1 and f"left out {source}: {why}\n" in self.err,
                  f"{source} not named once as {why!r}; {where}")
        if "told" in case:
            check(self.err == f"lumacast2-ctl: cannot write the output: {case['told']}\n", f"not told; {where}")
        if case.get("hold"):
            check(self.code == 0 or self.err.strip(), f"the held port is not told; {where}")
        if "table" in case:
            for a in case["table"]:
                check(a in self.out, f"{a} missing from the table; {where}")
            check("\x1b" not in self.out + self.err, "colour on a pipe")
        if "results" in case:
            self.verify_results(where)
        if "lines" in case:
            self.verify_lines(where)
        expected_frames = case.get("frames", {})
        for a in DEVICES:
            got = self.frames(a)
            want = expected_frames.get(a, [])
            check(want(got) if callable(want) else got == want, f"{a}: frames {got}, expected {want}")
        self.orderly_ends()

    def verify_results(self, where):
        try:
            document = json.loads(self.out)
        except ValueError as e:
            raise Failure(f"not JSON ({e}); {where}")
        check(isinstance(document, list), "the JSON is not an array")
        entries = {}
        for entry in document:
            check(set(entry) >= {"address", "ok", "error", "power", "lamp", "mute", "input", "raw"},
                  f"fields missing in {entry}")
            check(entry["address"] not in entries, f"{entry['address']} reported twice")
            entries[entry["address"]] = entry
        check(set(entries) == set(self.case["results"]), f"reported {sorted(entries)}")
        shared = set()  # how the targets that share too few descriptors fared
        for address, (verdict, state) in self.case["results"].items():
            e = entries[address]
            if verdict == OK_OR_NO_FD:
                check(e["ok"] or e["error"] == "too many open files", f"{e}")
                verdict = OK if e["ok"] else NO_REPLY
                shared.add(verdict)
            if verdict == OK:
                raw = self.last_raw(address)
                check(e["ok"] is True and e["error"] is None and e["raw"] == raw, f"{e}, device sent {raw}")
                seen = {k: e[k] for k in ("power", "lamp", "mute", "input")}
                check(seen == device_state(raw), f"{address}: {seen} is not what {raw} means")
                check(state.items() <= seen.items(), f"{address}: {seen}, expected {state}")
            else:
                check(e["ok"] is False and isinstance(e["error"], str) and e["error"], f"{e}")
                check(f"lumacast2-ctl: {address}: {e['error']}\n" in self.err,
                      f"{address} not named on standard error: {self.err}")
                if verdict == NO_REPLY:
                    check(all(e[k] is None for k in ("power", "lamp", "mute", "input", "raw")), f"{e}")
        check(len(shared) != 1, f"every target sharing the descriptors was {shared}")

    def verify_lines(self, where):
        """Every line of a watch is whole and says what its device did; a state
        line comes on a change only; pauses between lines as the back-off has them."""
        told = {}
        for line in self.lines():
            event = line.get("event")
            check(event in WATCH_FIELDS and set(line) == {"time", "address", "event", *WATCH_FIELDS[event]}
                  and TIME.match(line["time"]), f"malformed: {line}")
            if event == "state":
                seen = {k: line[k] for k in ("power", "lamp", "mute", "input")}
                check(seen == device_state(line["raw"]), f"{line}: not what its raw means")
            told.setdefault(line["address"], []).append(line)
        words = {a: [{"connected": "connected", "state": line.get("power")}.get(line["event"], line.get("error"))
                     for line in lines] for a, lines in told.items()}
        check(words == self.case["lines"], f"told {words}, expected {self.case['lines']}; {where}")
        for address, pauses in self.case.get("pauses", {}).items():
            at = [datetime.strptime(line["time"], "%Y-%m-%dT%H:%M:%S.%fZ").timestamp() for line in told[address]]
            for i, low, high in pauses:
                pause = at[i + 1] - at[i]
                check(low <= pause <= high,
                      f"{address}: {pause:.3f} s after {words[address][i]!r}, expected {low} to {high} s")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--ctl", required=True)
    parser.add_argument("--sim", required=True)
    parser.add_argument("-k", help="run only the cases whose name contains this")
    why = cannot_run("ctl e2e", ("nsenter", "unshare", "ip"))
    if why:
        print(why, file=sys.stderr)
        return SKIPPED
    enter_own_namespace()
    args = parser.parse_args()
    ctl, sim = os.path.abspath(args.ctl), os.path.abspath(args.sim)

    workdir = tempfile.mkdtemp(prefix="lc-ctl-e2e-")
    net = Network(device_ips=DEVICES, routed=(CROWD_NET, MANY))
    groups, crowd, failed = [], [], 0
    started = time.monotonic()
    try:
        groups = [Group(net, sim, workdir, name, addresses, options)
                  for name, (addresses, options) in GROUPS.items()]
        sanitized = b"__asan_init" in open(ctl, "rb").read() or b"__tsan_init" in open(ctl, "rb").read()
        for case in CASES:
            if (args.k and args.k not in case["name"]) or (sanitized and case.get("plain build only")):
                continue
            case_started = time.monotonic()
            try:
                if case.get("crowd") and not crowd:
                    for name, (addresses, options) in CROWD.items():
                        crowd.append(Group(net, sim, workdir, name, addresses, options))
                Run(ctl, net, groups + (crowd if case.get("crowd") else []), case).verify()
                status = "ok"
            except Failure as e:
                failed += 1
                status = f"FAILED: {e}"
            print(f"{case['name']} ({time.monotonic() - case_started:.1f} s): {status}")
            sys.stdout.flush()
    finally:
        for g in groups + crowd:
            g.stop()
        net.close()
        if failed:
            for g in groups:
                print(f"--- {g.log_path}\n" + g.text()[-2000:])
        shutil.rmtree(workdir, ignore_errors=True)
    print(f"{len(CASES)} cases in {time.monotonic() - started:.1f} s")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
