#!/usr/bin/env python3
"""Soak run: the panel against the simulator cycling through its fault modes.

Runs as root inside a private network namespace (scripts/soak sets that up),
under an Xvfb of its own, the simulator on 127.0.0.1. Each cycle starts the
simulator in one mode, connects, lets it run, then stops the simulator so the
panel goes idle again. Reports crashes, open descriptors, threads and memory.
"""

import argparse
import os
import subprocess
import sys
import tempfile
import time

import harness

MODES = [
    [],
    ["--silent"],
    ["--split"],
    ["--bad-header"],
    ["--bad-length=13"],
    ["--bad-length=5"],
    ["--delay-ms", "2500"],
    ["--close-after", "5"],
    ["--reset-after", "5"],
    ["--refuse"],
]


def snapshot(pid):
    fds = len(os.listdir(f"/proc/{pid}/fd"))
    threads = len(os.listdir(f"/proc/{pid}/task"))
    rss = 0
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                rss = int(line.split()[1])
    return fds, threads, rss


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--panel", required=True)
    parser.add_argument("--sim", required=True)
    parser.add_argument("--minutes", type=float, default=10)
    parser.add_argument("--cycle-seconds", type=float, default=12)
    args = parser.parse_args()

    workdir = tempfile.mkdtemp(prefix="lc-soak-")
    screen = harness.Screen(workdir)
    runtime = tempfile.mkdtemp(dir=workdir)
    panel = harness.Panel(os.path.abspath(args.panel), screen, runtime)
    time.sleep(2.0)
    screen.type_into_field(panel.window, "127.0.0.1")
    time.sleep(0.5)
    before = snapshot(panel.proc.pid)
    print(f"before: {before[0]} descriptors, {before[1]} threads, RSS {before[2]} KiB")

    cycles = frames = 0
    end = time.monotonic() + args.minutes * 60
    try:
        while time.monotonic() < end:
            mode = MODES[cycles % len(MODES)]
            log = open(os.path.join(workdir, "sim.log"), "w")
            sim = subprocess.Popen([os.path.abspath(args.sim), *mode], stdout=log,
                                   stderr=subprocess.STDOUT)
            time.sleep(0.3)
            screen.click(panel.window, "connect")
            time.sleep(args.cycle_seconds)
            sim.terminate()
            sim.wait(5)
            log.close()
            with open(log.name) as f:
                frames += f.read().count(" frame ")
            # The device has gone: the panel ends the connection within one reply window.
            time.sleep(3.6)
            cycles += 1
            if panel.proc.poll() is not None:
                print(f"CRASH: the panel ended with {panel.proc.returncode} in mode {mode}")
                return 1
        time.sleep(1.0)
        after = snapshot(panel.proc.pid)
        print(f"after {cycles} cycles ({frames} frames): {after[0]} descriptors, {after[1]} threads,"
              f" RSS {after[2]} KiB (growth {after[2] - before[2]} KiB)")
        same = before[:2] == after[:2]
        print("descriptors and threads " + ("unchanged" if same else "CHANGED"))
        return 0 if same else 1
    finally:
        panel.stop()
        screen.close()


if __name__ == "__main__":
    sys.exit(main())
