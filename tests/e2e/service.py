#!/usr/bin/env python3
"""End-to-end checks of lumacast2d: a real Mosquitto broker (plain, then TLS
with a password), the simulator's devices on loopback addresses, the service
itself, and mosquitto_pub and mosquitto_sub as the outside clients. The frames
each device received and how its connections ended come from the devices' log.

Run it as root; it moves into a network namespace of its own first, e.g.
    . scripts/lib.sh; lc_in_private_net tests/e2e/service.py --service S --sim S
"""

import argparse
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from fleet import Group  # noqa: E402
from harness import cannot_run, SKIPPED, Failure, check, enter_own_namespace, frame, wait_for  # noqa: E402

PLAIN_PORT, TLS_PORT = 18830, 18831
A, B, C = "127.0.0.10", "127.0.0.11", "127.0.0.12"  # the main service's devices
D = "127.0.0.20"  # stopped and started again
T1, T2 = "127.0.0.30", "127.0.0.31"  # the TLS services' own
USER, PASSWORD = "lc", "s3cret-word"


class Local:
    """The simulators run in this namespace itself."""

    @staticmethod
    def command(*cmd):
        return list(cmd)


def logged(field):
    """How the simulator logs the frame that carries `field`."""
    return "frame " + frame(field + " ").hex(" ")


IDLE = logged("    ")


def text(path):
    with open(path, errors="replace") as f:
        return f.read()


class Broker:
    def __init__(self, workdir, port, tls=False):
        self.workdir, self.port, self.tls = workdir, port, tls
        self.conf = os.path.join(workdir, f"mosquitto-{port}.conf")
        lines = [f"listener {port} 127.0.0.1", "user root", "persistence false"]
        if tls:
            lines += [f"cafile {workdir}/ca.pem", f"certfile {workdir}/server.pem", f"keyfile {workdir}/server.key",
                      f"password_file {workdir}/passwords", "allow_anonymous false"]
        else:
            lines += ["allow_anonymous true"]
        with open(self.conf, "w") as f:
            f.write("\n".join(lines) + "\n")
        self.log_path = os.path.join(workdir, f"mosquitto-{port}.log")
        self.start()

    def start(self):
        self.proc = subprocess.Popen(["mosquitto", "-v", "-c", self.conf], stdout=open(self.log_path, "a"),
                                     stderr=subprocess.STDOUT)
        wait_for(lambda: "running" in text(self.log_path) or self.proc.poll() is not None, 5, "mosquitto")
        check(self.proc.poll() is None, "mosquitto did not start:\n" + text(self.log_path))

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait(5)

    def client_args(self, user=USER, password=PASSWORD):
        args = ["-h", "127.0.0.1", "-p", str(self.port)]
        if self.tls:
            args += ["--cafile", f"{self.workdir}/ca.pem", "-u", user, "-P", password]
        return args

    def pub(self, topic, payload, *extra):
        subprocess.run(["mosquitto_pub", *self.client_args(), "-q", "1", "-t", topic, *payload_args(payload), *extra],
                       check=True, timeout=10)

    def retained(self, pattern, count):
        """The retained messages on `pattern`: {topic: payload}."""
        out = subprocess.run(["mosquitto_sub", *self.client_args(), "-t", pattern, "--retained-only", "-W", "2",
                              "-F", "%t %p"], capture_output=True, text=True, timeout=10).stdout
        got = dict(line.split(" ", 1) if " " in line else (line, "") for line in out.splitlines())
        check(len(got) >= count, f"{len(got)} retained on {pattern}, expected {count}: {got}")
        return got


def payload_args(payload):
    if payload == b"":
        return ["-n"]
    if isinstance(payload, bytes):
        return ["-m", payload.decode("utf-8", "surrogateescape")]
    return ["-m", payload]


class Subscriber:
    """Everything under the service's topics, with the retained flag: '1 topic payload'."""

    def __init__(self, broker, workdir, name):
        self.path = os.path.join(workdir, name + ".sub")
        self.proc = subprocess.Popen(["mosquitto_sub", *broker.client_args(), "-v", "-F", "%r %t %p", "-t",
                                      "lumacast2/#", "-t", "homeassistant/#"], stdout=open(self.path, "w"),
                                     stderr=subprocess.STDOUT)
        self.mark = 0

    def lines(self):
        return [line for line in text(self.path)[self.mark:].splitlines() if line]

    def on(self, topic):
        return [line.split(" ", 2)[2] if line.count(" ") >= 2 else "" for line in self.lines()
                if line.split(" ")[1:2] == [topic]]

    def set_mark(self):
        self.mark = len(text(self.path))

    def stop(self):
        self.proc.terminate()


class Service:
    def __init__(self, binary, workdir, name, *args):
        self.log_path = os.path.join(workdir, name + ".log")
        self.proc = subprocess.Popen([binary, "--verbose", *args], stdout=subprocess.DEVNULL,
                                     stderr=open(self.log_path, "w"))
        self.mark = 0

    def log(self):
        return text(self.log_path)[self.mark:]

    def set_mark(self):
        self.mark = len(text(self.log_path))

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()


def make_certificates(workdir):
    def openssl(*args):
        subprocess.run(["openssl", *args], check=True, capture_output=True, cwd=workdir)
    ec = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
    openssl("req", "-x509", *ec, "-keyout", "ca.key", "-out", "ca.pem", "-days", "2", "-subj", "/CN=lc-test-ca")
    openssl("req", *ec, "-keyout", "server.key", "-out", "server.csr", "-subj", "/CN=127.0.0.1")
    with open(os.path.join(workdir, "san"), "w") as f:
        f.write("subjectAltName=IP:127.0.0.1\n")
    openssl("x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
            "-out", "server.pem", "-days", "2", "-extfile", "san")
    subprocess.run(["mosquitto_passwd", "-c", "-b", os.path.join(workdir, "passwords"), USER, PASSWORD], check=True)
    with open(os.path.join(workdir, "password"), "w") as f:
        f.write(PASSWORD + "\n")


class Suite:
    def __init__(self, binary, sim, ctl, workdir):
        self.binary, self.sim, self.ctl, self.workdir = binary, sim, ctl, workdir
        self.groups = {}
        self.closers = []

    def group(self, name, addresses):
        g = Group(Local, self.sim, self.workdir, name, addresses, [])
        self.groups[name] = g
        self.closers.append(g.stop)
        return g

    def frames(self, address):
        g = next(g for g in self.groups.values() if address in g.addresses)
        return [e for e in g.events(address) if e.startswith("frame ")]

    def set_marks(self):
        for g in self.groups.values():
            g.set_mark()
        self.sub.set_mark()
        self.service.set_mark()

    def start(self):
        make_certificates(self.workdir)
        self.broker = Broker(self.workdir, PLAIN_PORT)
        self.closers.append(self.broker.stop)
        self.group("room", [A, B, C])
        self.group("restarted", [D])
        self.group("tls", [T1, T2])
        self.sub = Subscriber(self.broker, self.workdir, "plain")
        self.closers.append(self.sub.stop)
        time.sleep(0.3)
        # Left by a device configured before: the service empties its entities.
        self.broker.pub("homeassistant/switch/lumacast2/gone_power/config", '{"name": "Power"}', "-r")
        self.config = os.path.join(self.workdir, "lumacast2d.conf")
        with open(self.config, "w") as f:
            f.write(f"broker = mqtt://127.0.0.1:{PLAIN_PORT}\n\n[device a]\naddress = {A}\ninputs = HDMI 1, , VGA\n"
                    f"[device b]\naddress = {B}\n[device c]\naddress = {C}\n[device d]\naddress = {D}\n")
        self.service = Service(self.binary, self.workdir, "service", "--config", self.config)
        self.closers.append(self.service.stop)
        wait_for(lambda: all(self.sub.on(f"lumacast2/{i}/availability")[-1:] == ["online"] for i in "abcd"), 5,
                 "every device online")

    # ---- the cases, in the order they run

    def case_retained_state_and_entities(self):
        states = self.broker.retained("lumacast2/+/state", 4)
        check('"connected": true' in states["lumacast2/a/state"] and '"raw": "0001"' in states["lumacast2/a/state"],
              f"state of a: {states['lumacast2/a/state']}")
        configs = self.broker.retained("homeassistant/+/lumacast2/+/config", 20)
        check(sum(t.startswith("homeassistant/") and "/a_" in t for t in configs) == 5, f"configs {sorted(configs)}")
        check('"options": ["HDMI 1", "2", "VGA", "4", "5"]' in configs["homeassistant/select/lumacast2/a_input/config"],
              "the select's options")
        wait_for(lambda: "" in self.sub.on("homeassistant/switch/lumacast2/gone_power/config"), 3,
                 "the gone device's entity emptied")
        check(self.sub.on("lumacast2/bridge/availability")[-1:] == ["online"], "bridge online")

    def case_commands_give_their_frame_once(self):
        for topic, payload, field in [("a/power/set", "ON", "1   "), ("a/lamp/set", "on", " 1  "),
                                      ("b/mute/set", "On", "  1 "), ("b/input/set", "3", "   3"),
                                      ("a/input/set", "VGA", "   3"), ("a/lamp/set", "OFF", " 0  ")]:
            self.set_marks()
            device = A if topic.startswith("a/") else B
            started = time.monotonic()
            self.broker.pub("lumacast2/" + topic, payload)
            wait_for(lambda: logged(field) in self.frames(device), 3, f"{topic} {payload}: its frame")
            took = time.monotonic() - started
            time.sleep(0.7)
            got = self.frames(device)
            check(got.count(logged(field)) == 1 and set(got) == {logged(field), IDLE},
                  f"{topic} {payload}: frames {got}")
            check(took < 1.5, f"{topic} {payload}: {took:.2f} s to the wire")
            check("carried" in self.service.log(), "the command carried is not logged")

    def case_state_change_is_one_retained_message(self):
        self.set_marks()
        self.broker.pub("lumacast2/c/mute/set", "ON")
        wait_for(lambda: any('"mute": "on"' in s for s in self.sub.on("lumacast2/c/state")), 1.0,
                 "c's state within one cycle")
        time.sleep(1.0)
        states = self.sub.on("lumacast2/c/state")
        check(len(states) == 1, f"c's state messages {states}")
        check('"mute": "on"' in self.broker.retained("lumacast2/c/state", 1)["lumacast2/c/state"], "not retained")

    def case_bad_payloads_change_nothing(self):
        with open(os.path.join(self.workdir, "latin1"), "wb") as f:
            f.write(b"O\xc0\x80N")
        bad = [("lumacast2/a/power/set", ["-m", "MAYBE"], "is not ON or OFF"),
               ("lumacast2/a/power/set", ["-n"], "empty"),
               ("lumacast2/a/lamp/set", ["-m", "O" * 65], "longer than 64"),
               ("lumacast2/a/mute/set", ["-f", os.path.join(self.workdir, "latin1")], "not UTF-8"),
               ("lumacast2/a/input/set", ["-m", "6"], "neither an input"),
               ("lumacast2/a/volume/set", ["-m", "ON"], "no such command"),
               ("lumacast2/zz/power/set", ["-m", "ON"], "no device 'zz'")]
        self.set_marks()
        for topic, args, _ in bad:
            subprocess.run(["mosquitto_pub", *self.broker.client_args(), "-q", "1", "-t", topic, *args], check=True)
            time.sleep(0.25)  # within the five lines a second that are told one by one
        # A flood: 3000 refusals as fast as one client sends them.
        flood = "\n".join("MAYBE" for _ in range(3000)) + "\n"
        subprocess.run(["mosquitto_pub", *self.broker.client_args(), "-q", "1", "-t", "lumacast2/a/power/set", "-l"],
                       input=flood, text=True, check=True, timeout=20)
        time.sleep(1.5)
        for device in (A, B):
            got = self.frames(device)
            check(set(got) == {IDLE}, f"{device}: frames {got}")
        log = self.service.log()
        refused = [line for line in log.splitlines() if " refused lumacast2/" in line]
        for topic, _, why in bad:
            check(any(topic in line and why in line for line in refused), f"no refusal of {topic} ({why}):\n{log}")
        check(len(refused) < 40, f"{len(refused)} refusal lines for a flood")
        check("more refused commands" in log, "the flood's count is not told")
        self.set_marks()
        self.broker.pub("lumacast2/a/mute/set", "ON")
        wait_for(lambda: logged("  1 ") in self.frames(A), 3, "a command after the flood")

    def case_homeassistant_online_republishes(self):
        self.set_marks()
        self.broker.pub("homeassistant/status", "online")
        wait_for(lambda: sum(line.split(" ")[1].endswith("/config") for line in self.sub.lines()) >= 20, 3,
                 "the configurations again")

    def case_device_stopped_and_started(self):
        g = self.groups["restarted"]
        self.set_marks()
        g.stop()
        wait_for(lambda: "offline" in self.sub.on("lumacast2/d/availability"), 4, "d offline")
        check('"connected": false' in self.sub.on("lumacast2/d/state")[-1], "d's state not marked")
        check(f"d ({D}): lost: " in self.service.log(), "the loss is not logged:\n" + self.service.log())
        time.sleep(1.0)
        started = time.monotonic()
        self.group("restarted", [D])
        wait_for(lambda: "online" in self.sub.on("lumacast2/d/availability"), 8, "d online again")
        check(time.monotonic() - started < 7, "d came back after the back-off")

    def case_broker_restarted(self):
        self.set_marks()
        self.broker.stop()
        wait_for(lambda: "lost" in self.service.log(), 3, "the broker's loss logged")
        self.broker.start()
        wait_for(lambda: self.service.log().count("connected") >= 1 and "broker" in self.service.log(), 5,
                 "the service back on the broker")
        states = self.broker.retained("lumacast2/+/state", 4)
        check('"mute": "on"' in states["lumacast2/c/state"], "the state after the restart")
        self.broker.retained("homeassistant/+/lumacast2/+/config", 20)
        check(self.broker.retained("lumacast2/bridge/availability", 1)["lumacast2/bridge/availability"] == "online",
              "bridge offline after the restart")
        self.set_marks()
        self.broker.pub("lumacast2/c/mute/set", "OFF")
        wait_for(lambda: logged("  0 ") in self.frames(C), 3, "a command after the restart")

    def case_tls_with_password(self):
        broker = Broker(self.workdir, TLS_PORT, tls=True)
        self.closers.append(broker.stop)
        good_conf = os.path.join(self.workdir, "tls.conf")
        with open(good_conf, "w") as f:
            f.write(f"broker = mqtts://127.0.0.1:{TLS_PORT}\nusername = {USER}\npassword-file = "
                    f"{self.workdir}/password\nca-file = {self.workdir}/ca.pem\nmqtt-version = 5\nbase = tls\n")
        good = Service(self.binary, self.workdir, "tls-good", "--config", good_conf, "--device", f"t1={T1}")
        self.closers.append(good.stop)
        wait_for(lambda: "\"connected\": true" in broker.retained("tls/t1/state", 0).get("tls/t1/state", ""), 6,
                 "t1's state over TLS")
        with open(os.path.join(self.workdir, "wrong"), "w") as f:
            f.write("not-the-password\n")
        for version in ("3.1.1", "5"):
            wrong_conf = os.path.join(self.workdir, f"wrong-{version}.conf")
            with open(wrong_conf, "w") as f:
                f.write(open(good_conf).read().replace(f"{self.workdir}/password", f"{self.workdir}/wrong")
                        .replace("mqtt-version = 5", f"mqtt-version = {version}").replace("base = tls", "base = w"))
            seen = len(text(broker.log_path))
            wrong = Service(self.binary, self.workdir, f"tls-wrong-{version}", "--config", wrong_conf,
                            "--device", f"t2={T2}")
            self.closers.append(wrong.stop)
            time.sleep(4.5)
            log = wrong.log()
            lines = [line for line in log.splitlines() if "broker" in line and "refused" in line]
            check(len(lines) == 1 and "not authori" in lines[0], f"MQTT {version}: refusal lines {lines}:\n{log}")
            attempts = text(broker.log_path)[seen:].count("not authori")
            check(attempts >= 3, f"MQTT {version}: {attempts} tries in 4.5 s")
            check(PASSWORD not in log and "not-the-password" not in log, "a password in the log")
            check(wrong.proc.poll() is None, "the service ended on a refusal")
            wrong.stop()

    def case_configuration_errors(self):
        rows = [("[device A]\naddress = 1.2.3.4\n", [], ":1: 'A' is not a device id"),
                ("[device a]\naddress = 1.2.3.4\n[device a]\naddress = 1.2.3.5\n", [], ":3: the device id 'a'"),
                ("[device a]\naddress = 1.2.3.4\n[device b]\naddress = 1.2.3.4\n", [], ":3: the address"),
                ("broker = http://x\n[device a]\naddress = 1.2.3.4\n", [], ":1: broker: 'http://x'"),
                ("colour = blue\n", [], ":1: colour: unknown setting"),
                ("username = u\npassword-file = /nonexistent\n[device a]\naddress=1.2.3.4\n", [], "password-file"),
                ("", ["--device", "a=1.2.3.4", "--device", "b=1.2.3.4"], "the address '1.2.3.4' is given twice"),
                ("", ["--broker", "mqtt://h:0"], "--broker 'mqtt://h:0'"),
                ("", [], "no device to watch")]
        for i, (content, args, expected) in enumerate(rows):
            path = os.path.join(self.workdir, f"bad{i}.conf")
            with open(path, "w") as f:
                f.write(content)
            proc = subprocess.run([self.binary, "--config", path, *args], capture_output=True, text=True, timeout=5)
            lines = proc.stderr.splitlines()
            check(proc.returncode == 2 and len(lines) == 1 and expected in lines[0] and
                  (lines[0].startswith(f"lumacast2d: {path}:") or args),
                  f"row {i}: exit {proc.returncode}, {proc.stderr!r}, expected {expected!r}")
        proc = subprocess.run([self.binary, "--config", self.config, "--check-config"], capture_output=True, text=True)
        check(proc.returncode == 0 and "good" in proc.stdout, f"--check-config: {proc.returncode} {proc.stderr}")

    def case_ctl_goes_through_the_service(self):
        broker = ["--broker", f"mqtt://127.0.0.1:{PLAIN_PORT}"]

        def ctl(*args):
            return subprocess.run([self.ctl, *args, *broker], capture_output=True, text=True, timeout=20)

        listed = ctl("status", "--all", "--json")
        rows = {r["address"]: r for r in json.loads(listed.stdout)}
        check(listed.returncode == 0 and set(rows) == {A, B, C, D} and all(r["ok"] for r in rows.values()),
              f"status --all: {listed.returncode} {listed.stdout} {listed.stderr}")
        self.set_marks()
        switched = ctl("lamp", "on", "c", "--wait", "3", "--json")
        check(switched.returncode == 0 and json.loads(switched.stdout)[0]["lamp"] == "on",
              f"lamp on --wait: {switched.returncode} {switched.stdout} {switched.stderr}")
        got = self.frames(C)
        check(got.count(logged(" 1  ")) == 1 and "connection" not in "".join(self.groups["room"].events(C)),
              f"the command took the service's own connection: {got}")
        missing = ctl("status", "127.0.0.99")
        check(missing.returncode == 1 and "not watched by the service" in missing.stderr, missing.stderr)

    def case_sigterm_ends_in_order(self):
        self.set_marks()
        started = time.monotonic()
        self.service.proc.send_signal(signal.SIGTERM)
        code = self.service.proc.wait(5)
        took = time.monotonic() - started
        check(code == 0 and took < 1.0, f"exit {code} after {took:.2f} s")
        wait_for(lambda: self.sub.on("lumacast2/bridge/availability")[-1:] == ["offline"], 2, "bridge offline")
        for device in (A, B, C, D):
            g = next(g for g in self.groups.values() if device in g.addresses)
            wait_for(lambda: any("released: no reset followed" in e for e in g.events(device)), 3,
                     f"{device}: the end of its connection")
            check(not any("reset by peer" in e for e in g.events(device)), f"{device}: reset")
        check(self.broker.retained("lumacast2/a/availability", 1)["lumacast2/a/availability"] == "offline",
              "a not offline")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--service", required=True)
    parser.add_argument("--sim", required=True)
    parser.add_argument("--ctl", required=True)
    parser.add_argument("-k", help="run only the cases whose name contains this (the start always runs)")
    why = cannot_run("service e2e", ("unshare", "ip", "mosquitto", "mosquitto_sub", "mosquitto_pub", "mosquitto_passwd", "openssl"))
    if why:
        print(why, file=sys.stderr)
        return SKIPPED
    enter_own_namespace()
    args = parser.parse_args()
    workdir = tempfile.mkdtemp(prefix="lc-service-e2e-")
    suite = Suite(os.path.abspath(args.service), os.path.abspath(args.sim), os.path.abspath(args.ctl), workdir)
    failed = 0
    started = time.monotonic()
    cases = [getattr(Suite, n) for n in Suite.__dict__ if n.startswith("case_")]
    try:
        suite.start()
        for case in cases:
            if args.k and args.k not in case.__name__:
                continue
            case_started = time.monotonic()
            try:
                case(suite)
                status = "ok"
            except Failure as e:
                failed += 1
                status = f"FAILED: {e}"
            print(f"{case.__name__[5:]} ({time.monotonic() - case_started:.1f} s): {status}", flush=True)
    except Failure as e:
        failed += 1
        print(f"start: FAILED: {e}")
    finally:
        for close in reversed(suite.closers):
            close()
        if failed:
            for name in ("service.log", "tls-good.log"):
                path = os.path.join(workdir, name)
                if os.path.exists(path):
                    print(f"--- {name}\n" + text(path)[-3000:])
        shutil.rmtree(workdir, ignore_errors=True)
    print(f"{len(cases)} cases in {time.monotonic() - started:.1f} s")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
