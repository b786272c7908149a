#!/usr/bin/env python3
"""The performance table: the panel beside a plain Qt window of the same size.

Runs as root inside a private network namespace (scripts/perf-table sets that
up), under an Xvfb of its own, with the simulator on 127.0.0.1. Prints
medians of several runs; never fails on a figure.
"""

import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import harness  # noqa: E402  (the Xvfb, xdotool and close-request helpers)

TICK = os.sysconf("SC_CLK_TCK")


def cpu_ms(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) * 1000.0 / TICK


def peak_rss_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return 0


def viewable(screen, title):
    r = subprocess.run(["xwininfo", "-name", title], capture_output=True, text=True, env=screen.env)
    return "IsViewable" in r.stdout


def start_and_wait(screen, binary, title, runtime):
    """Seconds from process start to its window being mapped and viewable."""
    env = dict(screen.env, XDG_RUNTIME_DIR=runtime)
    started = time.monotonic()
    proc = subprocess.Popen([binary], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    while not viewable(screen, title):
        if time.monotonic() - started > 20:
            raise RuntimeError(f"{binary} showed no window")
        time.sleep(0.002)
    return proc, time.monotonic() - started


def close(screen, proc, title):
    window = screen.find(title)
    screen.x.request_close(window)
    at = time.monotonic()
    proc.wait(10)
    return time.monotonic() - at


def startup_and_memory(screen, binary, title, runs, workdir):
    times, rss, exits = [], [], []
    for _ in range(runs):
        runtime = tempfile.mkdtemp(dir=workdir)
        proc, took = start_and_wait(screen, binary, title, runtime)
        time.sleep(1.0)
        times.append(took)
        rss.append(peak_rss_kib(proc.pid))
        exits.append(close(screen, proc, title))
    return statistics.median(times), statistics.median(rss), statistics.median(exits)


def polling_cpu(screen, args, workdir, seconds):
    """CPU of the panel while idle and while polling the simulator, per minute."""
    sim = subprocess.Popen([args.sim], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        time.sleep(0.3)
        runtime = tempfile.mkdtemp(dir=workdir)
        proc, _ = start_and_wait(screen, args.panel, harness.TITLE, runtime)
        window = screen.find(harness.TITLE)
        time.sleep(2.0)  # the discovery window is over; the simulator's address is in the field
        before = cpu_ms(proc.pid)
        time.sleep(seconds)
        idle = (cpu_ms(proc.pid) - before) * 60.0 / seconds
        screen.click(window, "connect")
        time.sleep(2.0)
        before = cpu_ms(proc.pid)
        time.sleep(seconds)
        polling = (cpu_ms(proc.pid) - before) * 60.0 / seconds
        exit_connected = close(screen, proc, harness.TITLE)
        return idle, polling, exit_connected
    finally:
        sim.terminate()
        sim.wait(5)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--panel", required=True)
    parser.add_argument("--sim", required=True)
    parser.add_argument("--reference", required=True)
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--cpu-seconds", type=float, default=60)
    args = parser.parse_args()

    workdir = tempfile.mkdtemp(prefix="lc-perf-")
    screen = harness.Screen(workdir)
    try:
        ours = startup_and_memory(screen, args.panel, harness.TITLE, args.runs, workdir)
        ref = startup_and_memory(screen, args.reference, "Reference window", args.runs, workdir)
        idle, polling, exit_connected = polling_cpu(screen, args, workdir, args.cpu_seconds)
    finally:
        screen.close()

    print(f"{'figure':44} {'panel':>12} {'reference':>12} {'ratio':>7}")
    print(f"{'start-up to a viewable window (median)':44} {ours[0] * 1000:10.0f}ms {ref[0] * 1000:10.0f}ms"
          f" {ours[0] / ref[0]:7.2f}")
    print(f"{'peak RSS after the window shows (median)':44} {ours[1] / 1024:10.1f}MB {ref[1] / 1024:10.1f}MB"
          f" {ours[1] / ref[1]:7.2f}")
    print(f"{'close to exit, idle (median)':44} {ours[2] * 1000:10.0f}ms {ref[2] * 1000:10.0f}ms")
    print(f"{'close to exit, connected':44} {exit_connected * 1000:10.0f}ms")
    print(f"{'CPU while idle':44} {idle:8.1f}ms/min")
    print(f"{'CPU while polling a responsive device':44} {polling:8.1f}ms/min")


if __name__ == "__main__":
    main()
