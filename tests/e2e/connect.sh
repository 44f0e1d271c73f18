#!/usr/bin/env bash
# Connecting from the command line: a pseudo-terminal stands in for the microcontroller and keeps
# sending records while the program opens it with --port … --connect.
set -u
source "$(dirname "$0")/support/own-name.sh" "$1"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp" "$own_dir"' EXIT

timeout 60 python3 - "$bin" "$tmp" <<'EOF'
import os, pty, re, subprocess, sys, threading, time, tty

binary, tmp = sys.argv[1], sys.argv[2]
failed = False

def check(name, ok, detail=""):
    global failed
    print(("ok: " if ok else "FAIL: ") + name + ("" if ok else "\n" + detail))
    failed |= not ok

# The slave stays open here too (raw, so nothing is echoed back), so the line never drops while
# the program opens and closes it.
master, slave = pty.openpty()
tty.setraw(slave)
path = os.ttyname(slave)
os.set_blocking(master, False)

stop = threading.Event()
def send():
    n = 0
    while not stop.wait(0.01):
        try:
            # Now and then a record for a missing instrument, one that is no record at all, text.
            extra = b"#12M1<#3MX<zz" if n % 5 == 0 else b""
            os.write(master, b"#3M%d.5<#7M%d<" % (n % 100, (n * 7) % 100) + extra)
        except BlockingIOError:
            pass  # nobody reads yet: the queue is full
        n += 1
writer = threading.Thread(target=send)
writer.start()

def run(*args):
    return subprocess.run([binary, *args], capture_output=True, text=True, timeout=40)

try:
    shot = os.path.join(tmp, "connected.png")
    r = run("--port", path, "--connect", "--page", "Schnittstelle", "--screenshot", shot)
    check("--port PTY --connect exits 0", r.returncode == 0, r.stderr)
    check("--port PTY --connect reports no failure", "Unable" not in r.stderr and "failed" not in r.stderr, r.stderr)
    with open(shot, "rb") as f:
        check("the screenshot is a PNG", f.read(8) == b"\x89PNG\r\n\x1a\n")

    # The same page without --connect differs only by the unlit lamp.
    closed = os.path.join(tmp, "closed.png")
    r = run("--port", path, "--page", "Schnittstelle", "--screenshot", closed)
    check("--port PTY alone exits 0", r.returncode == 0, r.stderr)
    again = os.path.join(tmp, "closed-again.png")
    run("--port", path, "--page", "Schnittstelle", "--screenshot", again)
    with open(shot, "rb") as a, open(closed, "rb") as b, open(again, "rb") as c:
        closed_bytes = b.read()
        check("the closed page is drawn the same each time", closed_bytes == c.read())
        check("the connected page differs from the closed one (lamp lit)", a.read() != closed_bytes)

    # The values themselves, through the running program: --trace prints each record it handled.
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    p = subprocess.Popen([binary, "--port", path, "--connect", "--trace"], stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE, text=True, env=env)
    lines, deadline = [], time.monotonic() + 20
    while time.monotonic() < deadline and len(lines) < 60:
        line = p.stdout.readline()
        if not line:
            break
        lines.append(line.rstrip("\n"))
    p.terminate()
    p.wait(timeout=10)
    detail = "\n".join(lines[:20])
    check("--trace shows records arriving", len(lines) >= 60, detail + p.stderr.read())
    set3 = [l for l in lines if l.startswith("#3M") and "-> Instr3 = " in l]
    check("each value for instrument 3 is the one its record carried",
          set3 and all(re.fullmatch(r"#3M(\d+\.5)< -> Instr3 = \1", l) for l in set3), detail)
    check("instrument 3 moves", len({l.split(" = ")[1] for l in set3}) > 1, detail)
    check("instrument 7 gets its own values",
          any(re.fullmatch(r"#7M(\d+)< -> Instr7 = \1", l) for l in lines), detail)
    check("a record for a missing instrument is dropped", "#12M1< -> dropped: no instrument 12 (instruments are 1 to 10)" in lines, detail)
    check("a record without a number is dropped", "#3MX< -> dropped: 'X' is not a value" in lines, detail)
    check("text outside records is reported with its size", "2 bytes discarded: text outside records" in lines, detail)

    # A port that does not exist: the failure is reported with what to do, the picture is still
    # taken, and the status tells a script.
    missing = os.path.join(tmp, "missing.png")
    r = run("--port", "/dev/telmora-no-such-port", "--connect", "--screenshot", missing)
    check("--connect to a missing port exits 1", r.returncode == 1, r.stderr)
    check("--connect to a missing port says why",
          "Unable to open com port (Error: 2)\nThere is no port /dev/telmora-no-such-port" in r.stderr, r.stderr)
    with open(missing, "rb") as f:
        check("the screenshot is still written", f.read(8) == b"\x89PNG\r\n\x1a\n")
    r = run("--port", "/dev/null", "--connect", "--screenshot", os.path.join(tmp, "null.png"))
    check("--connect to /dev/null exits 1 and says it is no serial port",
          r.returncode == 1 and "/dev/null is not a serial port." in r.stderr, r.stderr)

    # A reader that stops after three lines (telmora --trace | head -3): the next write finds the
    # pipe closed, and the program must carry on without tracing rather than die of SIGPIPE.
    p = subprocess.Popen([binary, "--port", path, "--connect", "--trace"], stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL, env=env)
    first = [p.stdout.readline() for _ in range(3)]
    p.stdout.close()
    try:
        p.wait(timeout=1.5)  # records keep coming: a write hits the closed pipe well within this
    except subprocess.TimeoutExpired:
        pass
    code = p.poll()
    p.terminate()
    p.wait(timeout=10)
    check("--trace outlives a reader that closes the pipe", code is None and all(first),
          "exit status %s, first lines %r" % (code, first))

    r = run("--port", path, "--baud", "250000", "--connect", "--screenshot", os.path.join(tmp, "custom.png"))
    check("a custom rate opens the pty", r.returncode == 0 and "Unable" not in r.stderr, r.stderr)

    r = run("--baud", "fast", "--connect")
    check("--baud fast is a bad command line", r.returncode == 2 and "invalid baud rate 'fast'" in r.stderr, r.stderr)
finally:
    stop.set()
    writer.join()
    os.close(master)
    os.close(slave)
sys.exit(1 if failed else 0)
EOF
