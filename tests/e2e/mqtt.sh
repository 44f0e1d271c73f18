#!/usr/bin/env bash
# Two telmora processes and a real mosquitto: one reads the simulator's pseudo-terminal and
# publishes, the other is a remote panel of the same values. Both recordings hold the same values
# in the same order; a broker restart mid-stream is survived; a killed publisher leaves "offline"
# behind (its last will); a wrong password is told once, the password never; bad options exit 2.
set -u
source "$(dirname "$0")/support/own-name.sh" "$1"
panel="$own_dir/telmora-panel-$$"
ln "$1" "$panel" 2>/dev/null || cp "$1" "$panel"
sim="$(dirname "$1")/../tools/telmora-sim"
python3 - "$bin" "$panel" "$sim" <<'EOF'
import os, re, signal, socket, subprocess, sys, tempfile, threading, time

pub_bin, panel_bin, sim_bin = sys.argv[1:4]
tmp = tempfile.mkdtemp()
os.chmod(tmp, 0o755)
failures = 0


def check(what, ok, detail=""):
    global failures
    print(("ok: " if ok else "FAIL: ") + what + ("" if ok else " " + detail))
    if not ok:
        failures += 1


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Proc:
    """A child whose output lines are collected on a thread; waits are on those lines."""

    def __init__(self, args, env=None, stdin=None):
        self.lines, self.cond = [], threading.Condition()
        self.p = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, stdin=stdin,
                                  env=env, text=True, errors="replace")
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.p.stdout:
            with self.cond:
                self.lines.append(line.rstrip("\n"))
                self.cond.notify_all()
        with self.cond:
            self.cond.notify_all()

    def wait_for(self, test, timeout=30):
        with self.cond:
            return self.cond.wait_for(lambda: test(self.lines), timeout)

    def count(self, pattern):
        with self.cond:
            return sum(1 for l in self.lines if re.search(pattern, l))

    def stop(self, sig=signal.SIGTERM):
        if self.p.poll() is None:
            self.p.send_signal(sig)
        try:
            return self.p.wait(20)
        except subprocess.TimeoutExpired:
            self.p.kill()
            return None


class Broker:
    def __init__(self, extra=""):
        self.port = free_port()
        self.conf = os.path.join(tmp, "mosquitto-%d.conf" % self.port)
        user = subprocess.run(["id", "-un"], capture_output=True, text=True).stdout.strip()
        with open(self.conf, "w") as f:
            f.write("user %s\nlistener %d 127.0.0.1\nlog_dest stderr\nlog_type all\n%s" % (user, self.port, extra))
        self.proc = None

    def start(self):
        self.proc = Proc(["mosquitto", "-c", self.conf])
        if not self.proc.wait_for(lambda ls: any(" running" in l for l in ls), 10):
            sys.exit("mosquitto did not start: %s" % self.proc.lines)

    def url(self, prefix="", user=""):
        return "mqtt://%s127.0.0.1:%d%s" % (user + "@" if user else "", self.port, "/" + prefix if prefix else "")


def values(csv):
    """Instrument and value of every line of a recording, in order."""
    with open(csv, encoding="utf-8") as f:
        return [tuple(l.rstrip("\r\n").split(",")[1:3]) for l in f.readlines()[1:]]


def env_with(**kw):
    e = dict(os.environ)
    e.update(kw)
    return e


# Bad command lines end at once with status 2 and a message.
for args, words in [(["--mqtt", "http://host"], "mqtt:// or mqtts://"),
                    (["--mqtt", "mqtt://me:pw@host"], "password does not belong"),
                    (["--mqtt-source", "mqtt://host", "--connect"], "cannot be combined"),
                    (["--mqtt", "mqtt://a", "--mqtt-source", "mqtt://b"], "give one of them"),
                    (["--mqtt", "mqtt://a", "--mqtt-password-file", tmp + "/none"], "cannot read the password file"),
                    (["--mqtt", "mqtts://a", "--mqtt-cafile", tmp + "/none"], "cannot read the CA file")]:
    r = subprocess.run([pub_bin] + args, capture_output=True, text=True, timeout=30)
    check("%s exits 2 saying %r" % (" ".join(args), words), r.returncode == 2 and words in r.stderr, "%d %s" % (r.returncode, r.stderr))

broker = Broker("allow_anonymous true\n")
broker.start()

# A panel first, then the board's publisher: the same values in the same order.
panel = Proc([panel_bin, "--settings", tmp + "/panel.ini", "--mqtt-source", broker.url("e2e"), "--record",
              tmp + "/panel.csv", "--trace"])
check("the panel connects", panel.wait_for(lambda ls: any(l.startswith("MQTT connected") for l in ls)), str(panel.lines[-5:]))
sim = Proc([sim_bin, "--rate", "500", "--count", "1500"])
sim.wait_for(lambda ls: len(ls) > 0, 10)
pty = sim.lines[0]
started = time.monotonic()
pub = Proc([pub_bin, "--settings", tmp + "/pub.ini", "--port", pty, "--connect", "--mqtt", broker.url("e2e"), "--record",
            tmp + "/pub.csv", "--trace"])
first = panel.wait_for(lambda ls: any(" -> Instr" in l for l in ls), 10)
print("first value on the panel %.2f s after the publisher started" % (time.monotonic() - started))
check("the panel shows the board's values", first)
check("all 1500 reach the panel", panel.wait_for(lambda ls: sum(" -> Instr" in l for l in ls) >= 1500, 30),
      "%d" % panel.count(" -> Instr"))
sim.stop()
check("the publisher ends cleanly", pub.stop() == 0)
check("the panel sees the publisher go offline", panel.wait_for(lambda ls: any("source offline" in l for l in ls), 10))
check("the panel ends cleanly", panel.stop() == 0)
a, b = values(tmp + "/pub.csv"), values(tmp + "/panel.csv")
check("both recordings hold the same 1500 values in the same order", len(a) == 1500 and a == b, "%d %d" % (len(a), len(b)))
check("no password, no broker state in the settings of a run without one",
      "EditMqttBroker_Text=" + broker.url("e2e") in open(tmp + "/pub.ini", encoding="utf-8").read())

# The broker goes away mid-stream and comes back: both reconnect and the values carry on.
panel = Proc([panel_bin, "--settings", tmp + "/panel.ini", "--record", tmp + "/panel2.csv", "--trace"])
check("the panel takes its broker from its settings", panel.wait_for(lambda ls: any(l.startswith("MQTT connected") for l in ls)))
sim = Proc([sim_bin, "--rate", "200", "--duration", "12"])
sim.wait_for(lambda ls: len(ls) > 0, 10)
pub = Proc([pub_bin, "--settings", tmp + "/pub.ini", "--port", sim.lines[0], "--connect", "--record",
            tmp + "/pub2.csv", "--trace"])
check("the publisher takes its broker from its settings",
      pub.wait_for(lambda ls: any(l.startswith("MQTT connected") for l in ls), 30))
check("values flow before the outage", panel.wait_for(lambda ls: sum(" -> Instr" in l for l in ls) >= 200, 30))
broker.proc.stop(signal.SIGKILL)
check("the publisher tells the broker is gone", pub.wait_for(lambda ls: any("MQTT disconnected" in l for l in ls), 20))
time.sleep(1)  # the broker stays away for a second
broker.start()
before = panel.count(" -> Instr")
check("the publisher connects again", pub.wait_for(lambda ls: sum(l.startswith("MQTT connected") for l in ls) >= 2, 40),
      str([l for l in pub.lines if "MQTT" in l]))
check("values reach the panel again", panel.wait_for(lambda ls: sum(" -> Instr" in l for l in ls) > before + 100, 40),
      "%d -> %d" % (before, panel.count(" -> Instr")))
sim.wait_for(lambda ls: False, 0)
sim.p.wait(30)
panel.wait_for(lambda ls: False, 1)
check("the publisher ends cleanly after the restart", pub.stop() == 0)
check("the panel ends cleanly after the restart", panel.stop() == 0)
a, b = values(tmp + "/pub2.csv"), values(tmp + "/panel2.csv")
it = iter(a)
check("the panel's values are the publisher's, in order, with the outage's gap",
      len(b) > 0 and all(v in it for v in b) and len(b) < len(a) + 1, "%d of %d" % (len(b), len(a)))

# A publisher that dies leaves "offline" behind: the broker sends its last will.
sim = Proc([sim_bin, "--rate", "50"])
sim.wait_for(lambda ls: len(ls) > 0, 10)
pub = Proc([pub_bin, "--settings", tmp + "/pub.ini", "--port", sim.lines[0], "--connect", "--trace"])
check("a third publisher connects", pub.wait_for(lambda ls: any(l.startswith("MQTT connected") for l in ls)))
watch = Proc(["mosquitto_sub", "-p", str(broker.port), "-t", "e2e/status", "-v"])
check("its status is online", watch.wait_for(lambda ls: "e2e/status online" in ls, 10), str(watch.lines))
pub.stop(signal.SIGKILL)
check("killed, its status turns offline", watch.wait_for(lambda ls: "e2e/status offline" in ls, 30), str(watch.lines))
watch.stop()
sim.stop()

# Hostile payloads on the panel's topics: dropped with a reason, and the panel lives on.
panel = Proc([panel_bin, "--settings", tmp + "/panel.ini", "--trace"])
panel.wait_for(lambda ls: any(l.startswith("MQTT connected") for l in ls))
with open(tmp + "/big", "wb") as f:
    f.write(b"\x00\xff" * 1000000)
for args in [["-m", "nan"], ["-m", "1e99"], ["-f", tmp + "/big"], ["-m", "\x1b[2J"], ["-n"], ["-m", "7", "-t", "e2e/99"]]:
    topic = [] if "-t" in args else ["-t", "e2e/4"]
    subprocess.run(["mosquitto_pub", "-p", str(broker.port)] + topic + args, timeout=30)
subprocess.run(["mosquitto_pub", "-p", str(broker.port), "-t", "e2e/4", "-m", "42"], timeout=30)
check("the panel takes a good value after the hostile ones", panel.wait_for(lambda ls: "e2e/4 42 -> Instr4 = 42" in ls, 20),
      str(panel.lines[-8:]))
check("each hostile one dropped with a reason", panel.count(r"-> dropped: ") >= 4, str(panel.lines[-8:]))
check("no control byte reaches the trace", not any("\x1b" in l for l in panel.lines))
check("the panel ends cleanly after hostile payloads", panel.stop() == 0)
broker.proc.stop()

# A wrong password is told once, whatever the retries; the password is shown and stored nowhere.
with open(tmp + "/pw", "w") as f:
    f.write("right horse\n")
secured = Broker("allow_anonymous false\npassword_file %s/passwd\n" % tmp)
subprocess.run(["mosquitto_passwd", "-b", "-c", tmp + "/passwd", "alice", "right horse"], check=True)
os.chmod(tmp + "/passwd", 0o644)
secured.start()
wrong = Proc([pub_bin, "--settings", tmp + "/pw.ini", "--mqtt", secured.url("e2e", "alice")],
             env=env_with(TELMORA_MQTT_PASSWORD="wrong battery"))
check("the broker turns away two attempts",
      secured.proc.wait_for(lambda ls: sum("not authorised" in l or "bad user name or password" in l.lower() for l in ls) >= 2, 30),
      str(secured.proc.lines[-5:]))
wrong.wait_for(lambda ls: False, 0.5)
wrong.stop()
check("the refusal is told once", wrong.count("MQTT disconnected: not authorised") == 1, str(wrong.lines))
right = Proc([pub_bin, "--settings", tmp + "/pw.ini", "--mqtt", secured.url("e2e", "alice"), "--mqtt-password-file",
              tmp + "/pw", "--trace"])
check("the right password connects", right.wait_for(lambda ls: any(l.startswith("MQTT connected") for l in ls)), str(right.lines))
right.stop()
settings = open(tmp + "/pw.ini", encoding="utf-8").read()
check("the password is never stored or shown",
      "horse" not in settings and "battery" not in settings and not any("horse" in l or "battery" in l for l in wrong.lines + right.lines))
secured.proc.stop()
subprocess.run(["rm", "-rf", tmp])
sys.exit(1 if failures else 0)
EOF
