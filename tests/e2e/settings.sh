#!/usr/bin/env bash
# The settings file through the real program: a run ended by SIGTERM keeps its port, a restored
# layout is written back, and of two runs on one file the one that ends last decides.
set -u
source "$(dirname "$0")/support/own-name.sh" "$1"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp" "$own_dir"' EXIT

timeout 100 python3 - "$bin" "$tmp" <<'EOF'
import os, pty, re, shutil, signal, subprocess, sys, threading, time, tty

binary, tmp = sys.argv[1], sys.argv[2]
settings = os.path.join(tmp, "cfg", "Telmora.ini")
failed = False

def check(name, ok, detail=""):
    global failed
    print(("ok: " if ok else "FAIL: ") + name + ("" if ok else "\n" + detail))
    failed |= not ok

def device():
    """A pseudo-terminal that keeps sending records, so that --trace tells when a run is up."""
    master, slave = pty.openpty()
    tty.setraw(slave)
    os.set_blocking(master, False)
    def send():
        while True:
            try:
                os.write(master, b"#1M1<")
            except BlockingIOError:
                pass
            except OSError:
                return
            time.sleep(0.02)
    threading.Thread(target=send, daemon=True).start()
    return os.ttyname(slave)

def named(name):
    """The program under a name of its own: copies under other names are no second start."""
    path = os.path.join(tmp, "%s-%d" % (name, os.getpid()))
    if not os.path.exists(path):
        try:
            os.link(binary, path)
        except OSError:
            shutil.copy2(binary, path)
    return path

def start(port, program=binary):
    p = subprocess.Popen([program, "--settings", settings, "--port", port, "--connect", "--trace"],
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                         env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
    line = p.stdout.readline()  # the first record handled: the window is up and restored
    check("a run on " + port + " comes up", line.startswith("#1M1<"), line + p.stderr.read() if not line else "")
    return p

def stop(p):
    p.send_signal(signal.SIGTERM)
    try:
        rc = p.wait(timeout=20)
    except subprocess.TimeoutExpired:
        p.kill()
        rc = "hang"
    return rc

def stored(key):
    with open(settings, "rb") as f:
        for line in f.read().decode().split("\r\n"):
            if line.startswith(key + "="):
                return line[len(key) + 1:]
    return None

a, b = device(), device()
rc = stop(start(a))
check("SIGTERM ends the run with status 0", rc == 0, str(rc))
check("the run wrote the settings file with its port", os.path.exists(settings) and stored("ComPort1_Port") == a)

# A layout the user left (edited here by hand) is restored and written back by the next run.
with open(settings, "rb") as f:
    text = re.sub(r"Instr3_Left=\d+\r\n", "Instr3_Left=300\r\n", f.read().decode()).replace(
        "Instr3_Visible=FALSE\r\n", "Instr3_Visible=TRUE\r\n")
with open(settings, "wb") as f:
    f.write(text.encode())
stop(start(a))
check("a restored layout is written back", stored("Instr3_Left") == "300" and stored("Instr3_Visible") == "TRUE",
      str((stored("Instr3_Left"), stored("Instr3_Visible"))))

# Two runs on one file: whichever ends last decides.
for first, last in ((a, b), (b, a)):
    p_first, p_last = start(first, named("telmora-one")), start(last, named("telmora-two"))
    stop(p_first)
    stop(p_last)
    check("of two runs the one that ends last decides (" + last + ")", stored("ComPort1_Port") == last,
          str(stored("ComPort1_Port")))
sys.exit(1 if failed else 0)
EOF
