#!/usr/bin/env python3
"""lumacast2d over 1, 100 and 1000 simulated devices on loopback addresses,
with a Mosquitto broker on the same machine: each device's frame interval, a
command's latency from mosquitto_pub to its frame on the wire, a state
change's latency from the device's reply to the MQTT message, the service's
CPU share of one core and its memory, and the time from its start to every
device connected. Prints figures; never fails on them.

The simulator's log times count from its start, which is taken as the moment
it was started here: the latencies carry that error (a few milliseconds).

Run it as root; it moves into a network namespace of its own first, e.g.
    . scripts/lib.sh; lc_in_private_net bench/service_fleet.py --service S --sim S
"""

import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from harness import enter_own_namespace  # noqa: E402

PORT = 18840
LINE = re.compile(r"(\d+\.\d+) \[([\d.]+)\] (frame|reply) (.*)$")
TICKS = os.sysconf("SC_CLK_TCK")


def addresses(count):
    return [f"127.0.{1 + i // 250}.{1 + i % 250}" for i in range(count)]


def pct(values, p):
    values = sorted(values)
    return values[min(len(values) - 1, int(len(values) * p / 100))] if values else float("nan")


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS


def status(pid, key):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith(key + ":"):
                return line.split()[1]
    return "?"


def calibrate(path):
    """The simulator's start on this clock: its first line is seen within a
    millisecond of being written."""
    deadline = time.time() + 10
    while time.time() < deadline:
        with open(path) as f:
            first = f.readline()
        if first.endswith("\n"):
            return time.time() - float(first.split()[0])
        time.sleep(0.0005)
    raise RuntimeError("the simulator wrote nothing")


def refine(path, seconds):
    """The simulator's start again, from the newest line while it logs: a line
    is seen no sooner than written, so the smallest offset is the closest."""
    best = float("inf")
    end = time.time() + seconds
    with open(path, "rb") as f:
        while time.time() < end:
            f.seek(0, os.SEEK_END)
            size = f.tell()
            f.seek(max(0, size - 200))
            tail = f.read().split(b"\n")
            now = time.time()
            if len(tail) >= 2 and tail[-2][:1].isdigit():
                best = min(best, now - float(tail[-2].split()[0]))
            time.sleep(0.002)
    return best


def sim_events(path, origin):
    """(wall time, address, kind, bytes hex) of every frame and reply."""
    out = []
    with open(path) as f:
        for line in f:
            m = LINE.match(line)
            if m:
                out.append((origin + float(m[1]), m[2], m[3], m[4]))
    return out


def run(count, service, sim, workdir, commands, steady_s):
    devices = addresses(count)
    ids = {a: f"d{i}" for i, a in enumerate(devices)}
    procs = []
    try:
        conf = os.path.join(workdir, "mosquitto.conf")
        with open(conf, "w") as f:
            f.write(f"listener {PORT} 127.0.0.1\nallow_anonymous true\nuser root\npersistence false\n"
                    "max_queued_messages 100000\n")
        procs.append(subprocess.Popen(["mosquitto", "-c", conf], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        sim_log = os.path.join(workdir, f"sim-{count}.log")
        procs.append(subprocess.Popen([sim, "--devices", ",".join(devices), "--no-discovery", "--warmup-ms", "1500"],
                                      stdout=open(sim_log, "w"), stderr=subprocess.STDOUT))
        sim_origin = calibrate(sim_log)
        sub_log = os.path.join(workdir, f"sub-{count}.log")
        time.sleep(1.0)
        procs.append(subprocess.Popen(["mosquitto_sub", "-h", "127.0.0.1", "-p", str(PORT), "-F", "%U %t %p",
                                       "-t", "lumacast2/+/state", "-t", "lumacast2/+/availability"],
                                      stdout=open(sub_log, "w"), stderr=subprocess.DEVNULL))
        config = os.path.join(workdir, f"service-{count}.conf")
        with open(config, "w") as f:
            f.write(f"broker = mqtt://127.0.0.1:{PORT}\n")
            for a in devices:
                f.write(f"[device {ids[a]}]\naddress = {a}\n")
        time.sleep(0.5)
        started = time.time()
        svc = subprocess.Popen([service, "--config", config], stdout=subprocess.DEVNULL,
                               stderr=open(os.path.join(workdir, f"service-{count}.log"), "w"))
        procs.append(svc)

        def online():
            seen = {}
            with open(sub_log) as f:
                for line in f:
                    parts = line.split(" ", 2)
                    if (len(parts) == 3 and parts[1].endswith("/availability") and parts[2].strip() == "online" and
                            parts[1] != "lumacast2/bridge/availability"):
                        seen.setdefault(parts[1], float(parts[0]))
            return seen
        deadline = time.time() + 60
        while len(online()) < count and time.time() < deadline:
            time.sleep(0.2)
        seen = online()
        all_connected = (max(seen.values()) - started) if len(seen) == count else float("nan")

        window_start = time.time()
        cpu0 = cpu_seconds(svc.pid)
        sim_origin = min(sim_origin, refine(sim_log, steady_s))
        cpu1 = cpu_seconds(svc.pid)
        window_end = time.time()
        rss_kb = int(status(svc.pid, "VmRSS"))
        threads = status(svc.pid, "Threads")

        sent, lamps = [], {}
        for i in range(commands):
            a = devices[(i * 7919) % count]
            # Every command changes the lamp, so that each gives a state message.
            value = lamps[a] = "OFF" if lamps.get(a) == "ON" else "ON"
            t = time.time()
            subprocess.run(["mosquitto_pub", "-h", "127.0.0.1", "-p", str(PORT), "-q", "1", "-t",
                            f"lumacast2/{ids[a]}/lamp/set", "-m", value], check=True)
            sent.append((t, a, value))
            # Two commands for one device within a frame would be one.
            time.sleep(0.1 if count >= 10 else 0.5)
        time.sleep(2.0)
        svc.terminate()
        svc.wait(10)

        events = sim_events(sim_log, sim_origin)
        frames = {}
        for t, a, kind, _ in events:
            if kind == "frame" and window_start <= t <= window_end:
                frames.setdefault(a, []).append(t)
        intervals = [(b - a) * 1000 for ts in frames.values() for a, b in zip(ts, ts[1:])]
        states = []
        with open(sub_log) as f:
            for line in f:
                parts = line.split(" ", 2)
                if len(parts) == 3 and parts[1].endswith("/state"):
                    states.append((float(parts[0]), parts[1].split("/")[1], parts[2]))
        command_ms, state_ms, missed = [], [], []
        for t, a, value in sent:
            field = "20 31 20 20" if value == "ON" else "20 30 20 20"
            frame = next((e for e in events if e[1] == a and e[2] == "frame" and e[0] >= t - 0.005 and
                          e[3].startswith("40 43 31 " + field)), None)
            if not frame:
                missed.append(a)
                continue
            command_ms.append((frame[0] - t) * 1000)
            reply = next((e for e in events if e[1] == a and e[2] == "reply" and e[0] >= frame[0]), None)
            lamp = '"lamp": "on"' if value == "ON" else '"lamp": "off"'
            message = next((s for s in states if s[1] == ids[a] and s[0] >= frame[0] - 0.005 and lamp in s[2]), None)
            if reply and message:
                state_ms.append(max(0.0, (message[0] - reply[0]) * 1000))
        if missed:
            last = max((e[0] for e in events if e[1] == missed[0]), default=0) - window_end
            print(f"  frames missed at {len(missed)} devices; {missed[0]}'s last event {last:.1f} s after the window")
        cpu_share = (cpu1 - cpu0) / (window_end - window_start) * 100
        print(f"{count:5d} devices: connected all in {all_connected:.2f} s; frame interval median "
              f"{statistics.median(intervals) if intervals else float('nan'):.0f} ms, p99 {pct(intervals, 99):.0f} ms "
              f"({len(intervals)} intervals over {steady_s} s); command to wire p50 {pct(command_ms, 50):.0f} ms, "
              f"p99 {pct(command_ms, 99):.0f} ms ({len(command_ms)}/{len(sent)} seen); reply to state message "
              f"p50 {pct(state_ms, 50):.1f} ms, p99 {pct(state_ms, 99):.1f} ms ({len(state_ms)}); service CPU "
              f"{cpu_share:.1f} % of one core, RSS {rss_kb / 1024:.1f} MiB, {threads} threads", flush=True)
    finally:
        for p in reversed(procs):
            if p.poll() is None:
                p.terminate()
                try:
                    p.wait(10)
                except subprocess.TimeoutExpired:
                    p.kill()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--service", required=True)
    parser.add_argument("--sim", required=True)
    parser.add_argument("--counts", default="1,100,1000")
    parser.add_argument("--steady-s", type=int, default=10)
    parser.add_argument("--commands", type=int, default=40)
    if os.geteuid() != 0:
        print("service_fleet: needs root for a network namespace of its own; skipped", file=sys.stderr)
        return 0
    for tool in ("mosquitto", "mosquitto_pub", "mosquitto_sub"):
        if not shutil.which(tool):
            print(f"service_fleet: {tool} is missing; skipped", file=sys.stderr)
            return 0
    enter_own_namespace()
    args = parser.parse_args()
    workdir = tempfile.mkdtemp(prefix="lc-service-bench-")
    try:
        for count in (int(c) for c in args.counts.split(",")):
            run(count, os.path.abspath(args.service), os.path.abspath(args.sim), workdir, args.commands, args.steady_s)
    finally:
        shutil.rmtree(workdir, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
