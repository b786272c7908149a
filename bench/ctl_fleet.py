#!/usr/bin/env python3
"""lumacast2-ctl over a room of 50 simulated devices: the wall time of
`status --all` (discovery, then every device side by side) beside the discovery
window plus one reply window, and the time one `power off` to one device takes
to exit. Prints figures; never fails on them.

Run it as root; it moves into a network namespace of its own first, e.g.
    . scripts/lib.sh; lc_in_private_net bench/ctl_fleet.py --ctl C --sim S
"""

import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from fleet import Group, ips  # noqa: E402
from harness import Network, enter_own_namespace  # noqa: E402

DISCOVERY_WINDOW_MS = 1500
REPLY_WINDOW_MS = 3000


def timed(cmd):
    started = time.monotonic()
    proc = subprocess.run(cmd, capture_output=True, text=True, timeout=60)
    return (time.monotonic() - started) * 1000, proc


def spread(ms):
    return f"median {statistics.median(ms):.0f} ms (min {min(ms):.0f}, max {max(ms):.0f}, {len(ms)} runs)"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--ctl", required=True)
    parser.add_argument("--sim", required=True)
    parser.add_argument("--devices", type=int, default=50)
    parser.add_argument("--runs", type=int, default=5)
    if os.geteuid() != 0:
        print("ctl_fleet: needs root for a second network host; skipped", file=sys.stderr)
        return 0
    enter_own_namespace()
    args = parser.parse_args()
    ctl, sim = os.path.abspath(args.ctl), os.path.abspath(args.sim)

    devices = ips("192.0.2", 10, args.devices)
    workdir = tempfile.mkdtemp(prefix="lc-ctl-bench-")
    net = Network(device_ips=devices)
    group = None
    try:
        group = Group(net, sim, workdir, "fleet", devices, [])
        walls, reported = [], []
        for _ in range(args.runs):
            ms, proc = timed([ctl, "status", "--all", "--json"])
            walls.append(ms)
            try:
                entries = json.loads(proc.stdout)
                reported.append(sum(1 for e in entries if e.get("ok")))
            except ValueError:
                reported.append(0)
        print(f"status --all over {args.devices} devices: {spread(walls)}; devices reported ok per run: "
              f"{reported}; aim under {DISCOVERY_WINDOW_MS} + {REPLY_WINDOW_MS} = "
              f"{DISCOVERY_WINDOW_MS + REPLY_WINDOW_MS} ms")
        exits, codes = [], set()
        for _ in range(args.runs):
            ms, proc = timed([ctl, "power", "off", devices[0]])
            exits.append(ms)
            codes.add(proc.returncode)
        print(f"power off to one device, start to exit: {spread(exits)}; exit codes {sorted(codes)}")
    finally:
        if group:
            group.stop()
        net.close()
        shutil.rmtree(workdir, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
