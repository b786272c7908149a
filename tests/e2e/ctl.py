#!/usr/bin/env python3
"""End-to-end checks of lumacast2-ctl against a room of simulated devices.

The controller runs here (192.0.2.1); the devices, good and faulty, on a second
network host (tests/e2e/fleet.py). Each row of CASES is one run of the program:
its exit code, its JSON, the names of the failures on standard error, the exact
frames each device received and how each connection ended, from the devices' logs.

Run it as root; it moves into a network namespace of its own first, e.g.
    . scripts/lib.sh; lc_in_private_net tests/e2e/ctl.py --ctl C --sim S
"""

import argparse
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from fleet import SKIPPED, Failure, Group, Network, enter_own_namespace, ips, wait_for  # noqa: E402

GROUPS = {  # name: (addresses, simulator options)
    "good": (ips("192.0.2", 10, 3), []),
    "silent": (ips("192.0.2", 20, 2), ["--silent"]),
    "refusing": (["192.0.2.30"], ["--refuse"]),
    "bad_header": (["192.0.2.40"], ["--bad-header"]),
    "closes_after_reply": (["192.0.2.50"], ["--close-after", "1"]),
    "closes_unanswered": (["192.0.2.51"], ["--silent", "--close-after", "1"]),
    "slow": (["192.0.2.60"], ["--delay-ms", "2000"]),
}
G1, G2, G3 = GROUPS["good"][0]
S1, S2 = GROUPS["silent"][0]
REFUSING, BAD, ANSWERS_THEN_CLOSES, CLOSES, SLOW = (GROUPS[g][0][0] for g in list(GROUPS)[2:])
UNREACHABLE = "192.0.2.99"  # nobody holds it
DEVICES = [a for addresses, _ in GROUPS.values() for a in addresses]

OK, NO_REPLY, REJECTED = "ok", "no reply", "rejected"


def frame(field):
    return "frame " + bytes("@C1" + field + " \r", "ascii").hex(" ")


IDLE = frame("    ")


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
                     "frames": {G1: [frame(field)], G2: [frame(field)]}})
        # The warm-up ends while the rows after it run.
        state = {k: v for k, v in expected.items() if v != "changing"}
    return rows


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
     "results": {G3: (OK, {"power": "on"})}, "frames": {G3: after_command(frame("1   "))}, "within": (1.0, 5.0)},
    {"name": "faulty devices side by side",
     "args": ["status", G3, S1, S2, REFUSING, BAD, ANSWERS_THEN_CLOSES, CLOSES, UNREACHABLE, "::1", "--json",
              "--timeout", "1"], "code": 1, "within": (2.5, 5.5),
     "results": {G3: (OK, {"power": "on"}), S1: (NO_REPLY, {}), S2: (NO_REPLY, {}), REFUSING: (NO_REPLY, {}),
                 BAD: (REJECTED, {}), ANSWERS_THEN_CLOSES: (OK, OFF), CLOSES: (NO_REPLY, {}),
                 UNREACHABLE: (NO_REPLY, {}), "::1": (NO_REPLY, {})},
     "frames": {a: [IDLE] for a in (G3, S1, S2, BAD, ANSWERS_THEN_CLOSES, CLOSES)}},
    {"name": "status --all", "args": ["status", "--all", "--json"], "code": 1, "within": (4.0, 7.5),
     "results": {**{a: (OK, {}) for a in (G1, G2, G3, ANSWERS_THEN_CLOSES, SLOW)},
                 **{a: (NO_REPLY, {}) for a in (S1, S2, REFUSING, CLOSES)}, BAD: (REJECTED, {})},
     "frames": {a: [IDLE] for a in DEVICES if a != REFUSING}},
    {"name": "status to a full disk", "args": ["status", G1], "stdout": "/dev/full", "code": 1,
     "told": "No space left on device", "frames": {G1: [IDLE]}},
    {"name": "find with its output closed", "args": ["find"], "stdout": None, "code": 1,
     "told": "Bad file descriptor"},
    {"name": "input out of range", "args": ["input", "6", G1], "code": 2},
    {"name": "unknown state", "args": ["lamp", "dim", G1], "code": 2},
    {"name": "no target", "args": ["status"], "code": 2},
    {"name": "find with the discovery port held", "args": ["find"], "code": 1, "hold": True},
    {"name": "status with the discovery port held", "args": ["status", G1, "--json"], "code": 0, "hold": True,
     "results": {G1: (OK, {})}, "frames": {G1: [IDLE]}},
    *({"name": f"{sig.name} during a slow device", "args": ["status", SLOW, G1], "signal": sig,
       "frames": {SLOW: [IDLE], G1: [IDLE]}} for sig in (signal.SIGINT, signal.SIGTERM)),
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


def check(condition, message):
    if not condition:
        raise Failure(message)


def meaning(raw):
    """What the four status characters mean."""
    return {"power": {"1": "on", "2": "changing"}.get(raw[0], "off"),
            "lamp": "on" if raw[1] == "1" else "off", "mute": "on" if raw[2] == "1" else "off",
            "input": int(raw[3]) if raw[3] in "12345" else None}


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
            started = time.monotonic()
            proc = subprocess.Popen([ctl, *case["args"]], stdout=output or subprocess.PIPE, stderr=subprocess.PIPE,
                                    text=True, preexec_fn=(lambda: os.close(1)) if closed else None)
            for source in case.get("forged", {}):
                wait_for(lambda: any(e.startswith("discovery ") for e in self.events(G1)), 5, "the request")
                sent = subprocess.run(net.command(sys.executable, "-c", FORGE, source), capture_output=True,
                                      text=True)
                check(sent.returncode == 0, f"forging {source}: {sent.stderr}")
            if "signal" in case:
                wait_for(lambda: IDLE in self.events(SLOW), 5, "the slow device's frame")
                time.sleep(0.2)
                proc.send_signal(case["signal"])
                started = time.monotonic()
            try:
                self.out, self.err = proc.communicate(timeout=20)
            except subprocess.TimeoutExpired:
                proc.kill()
                raise Failure("did not end within 20 s")
            self.took = time.monotonic() - started
            self.code = proc.returncode
            self.out = self.out or ""
        finally:
            if output:
                output.close()
            if held:
                held.close()

    def events(self, address):
        return self.device_group[address].events(address)

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
            check(self.code != 0, "a run cut short reported success")
            check(not any(e.startswith("reply") for e in self.events(SLOW)), "the slow device got to answer")
        else:
            check(self.code == case["code"], f"expected exit code {case['code']}; {where}")
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
        for address, (verdict, state) in self.case["results"].items():
            e = entries[address]
            if verdict == OK:
                raw = self.last_raw(address)
                check(e["ok"] is True and e["error"] is None and e["raw"] == raw, f"{e}, device sent {raw}")
                seen = {k: e[k] for k in ("power", "lamp", "mute", "input")}
                check(seen == meaning(raw), f"{address}: {seen} is not what {raw} means")
                check(state.items() <= seen.items(), f"{address}: {seen}, expected {state}")
            else:
                check(e["ok"] is False and isinstance(e["error"], str) and e["error"], f"{e}")
                check(address in self.err, f"{address} not named on standard error: {self.err}")
                if verdict == NO_REPLY:
                    check(all(e[k] is None for k in ("power", "lamp", "mute", "input", "raw")), f"{e}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--ctl", required=True)
    parser.add_argument("--sim", required=True)
    parser.add_argument("-k", help="run only the cases whose name contains this")
    if os.geteuid() != 0:
        print("ctl e2e: needs root in a private network namespace; skipped", file=sys.stderr)
        return SKIPPED
    for tool in ("nsenter", "unshare", "ip"):
        if not shutil.which(tool):
            print(f"ctl e2e: {tool} is missing; skipped", file=sys.stderr)
            return SKIPPED
    enter_own_namespace()
    args = parser.parse_args()
    ctl, sim = os.path.abspath(args.ctl), os.path.abspath(args.sim)

    workdir = tempfile.mkdtemp(prefix="lc-ctl-e2e-")
    net = Network(DEVICES)
    groups, failed = [], 0
    started = time.monotonic()
    try:
        groups = [Group(net, sim, workdir, name, addresses, options)
                  for name, (addresses, options) in GROUPS.items()]
        for case in CASES:
            if args.k and args.k not in case["name"]:
                continue
            case_started = time.monotonic()
            try:
                Run(ctl, net, groups, case).verify()
                status = "ok"
            except Failure as e:
                failed += 1
                status = f"FAILED: {e}"
            print(f"{case['name']} ({time.monotonic() - case_started:.1f} s): {status}")
            sys.stdout.flush()
    finally:
        for g in groups:
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
