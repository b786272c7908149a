"""A room of simulated devices on a second network host, for lumacast2-ctl.

The controller's host is the namespace the caller runs in (192.0.2.1); the
devices' host is a namespace of its own, joined to it by a veth pair, holding
every device address. Each group of devices is one rkdx-sim process with
--devices and the group's fault options; its log names the device on each line.
Shared by the end-to-end checks and the benchmark.
"""

import os
import re
import subprocess
import sys

import e2e
from e2e import Failure, run, wait_for  # noqa: F401 (shared with the callers)

CTL_IP = "192.0.2.1"
SKIPPED = 77  # CTest's skip code


def enter_own_namespace():
    """Re-runs the calling script in a network namespace of its own, so the veth
    pair and routes made here never touch the caller's (other tests share it)."""
    if "--own-namespace" in sys.argv:
        sys.argv.remove("--own-namespace")
        run("ip", "link", "set", "lo", "up")
        return
    os.execvp("unshare", ["unshare", "-n", sys.executable, os.path.abspath(sys.argv[0]), *sys.argv[1:],
                          "--own-namespace"])


def Network(addresses):
    """The devices' host, holding every one of `addresses`."""
    return e2e.Network(CTL_IP, addresses)


LINE = re.compile(r"(\d+\.\d+) \[([\d.]+)\] (.*)$")


class Group:
    """One rkdx-sim process serving `addresses` with `options`."""

    def __init__(self, net, sim, workdir, name, addresses, options):
        self.addresses = addresses
        self.log_path = os.path.join(workdir, name + ".log")
        with open(self.log_path, "w") as log:
            self.proc = subprocess.Popen(
                net.command(sim, "--devices", ",".join(addresses), "--warmup-ms", "1500", *options),
                stdout=log, stderr=subprocess.STDOUT)
        self.mark = 0
        wait_for(lambda: self.text().count("listen udp") == len(addresses) or self.proc.poll() is not None,
                 5, f"the {name} devices to listen")
        if self.proc.poll() is not None:
            raise Failure(f"the {name} devices did not start:\n{self.text()}")

    def text(self):
        with open(self.log_path) as f:
            return f.read()

    def events(self, address):
        """What `address` logged since the last mark, without the seconds."""
        return [m[3] for m in map(LINE.match, self.text()[self.mark:].splitlines()) if m and m[2] == address]

    def set_mark(self):
        self.mark = len(self.text())

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait(5)


def ips(prefix, first, count):
    return [f"{prefix}.{n}" for n in range(first, first + count)]
