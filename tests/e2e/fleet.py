"""A room of simulated devices on a second network host, for lumacast2-ctl.

The controller's host is the namespace the caller runs in (192.0.2.1); the
devices' host is the harness's second network host, holding every device
address. Each group of devices is one rkdx-sim process with
--devices and the group's fault options; its log names the device on each line.
Shared by the end-to-end checks and the benchmark.
"""

import os
import re
import subprocess

from harness import Failure, wait_for


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
