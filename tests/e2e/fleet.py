"""A room of simulated devices on a second network host, for lumacast2-ctl.

The controller's host is the namespace the caller runs in (192.0.2.1); the
devices' host is the harness's second network host, holding every device
address. Each group of devices is one rkdx-sim process with
--devices and the group's fault options; its log names the device on each line.
Shared by the end-to-end checks and the benchmark.
"""

import ipaddress
import os
import re
import subprocess

from harness import Failure, wait_for


LINE = re.compile(r"(\d+\.\d+) \[([\d.]+)\] (.*)$")


class Group:
    """One rkdx-sim process serving `addresses` with `options`."""

    def __init__(self, net, sim, workdir, name, addresses, options):
        self.name, self.addresses = name, addresses
        self.command = net.command(sim, "--devices", ",".join(addresses), "--warmup-ms", "1500", *options)
        self.log_path = os.path.join(workdir, name + ".log")
        self.start()

    def start(self):
        """Starts the devices afresh, with a new log."""
        with open(self.log_path, "w") as log:
            self.proc = subprocess.Popen(self.command, stdout=log, stderr=subprocess.STDOUT)
        self.mark, self.parsed = 0, (None, {})
        wait_for(lambda: self.text().count("listen udp") == len(self.addresses) or self.proc.poll() is not None,
                 10, f"the {self.name} devices to listen")
        if self.proc.poll() is not None:
            raise Failure(f"the {self.name} devices did not start:\n{self.text()}")

    def text(self):
        with open(self.log_path) as f:
            return f.read()

    def events(self, address):
        """What `address` logged since the last mark, without the seconds."""
        # Parsed once per change of the log: a thousand devices share it.
        key = (self.mark, os.path.getsize(self.log_path))
        if self.parsed[0] != key:
            by_device = {}
            for m in map(LINE.match, self.text()[self.mark:].splitlines()):
                if m:
                    by_device.setdefault(m[2], []).append(m[3])
            self.parsed = (key, by_device)
        return self.parsed[1].get(address, [])

    def set_mark(self):
        self.mark = len(self.text())

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait(5)


def ips(prefix, first, count):
    return [f"{prefix}.{n}" for n in range(first, first + count)]


def span(first, count):
    """`count` consecutive IPv4 addresses from `first`, across octets."""
    return [str(ipaddress.IPv4Address(first) + n) for n in range(count)]
