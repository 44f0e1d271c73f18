#!/usr/bin/env bash
# One copy per user and desktop, with the real program: a later start raises the first and ends,
# a renamed copy runs, and a killed first leaves nothing that turns the next start away. Each run
# uses the program under a file name of its own, so it meets neither other tests nor a user's copy.
set -u
bin="$1"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

timeout 110 python3 - "$bin" "$tmp" <<'EOF'
import os, select, shutil, signal, subprocess, sys, time

binary, tmp = sys.argv[1], sys.argv[2]
failed = False
ready_line = "instance: first copy"

def check(name, ok, detail=""):
    global failed
    print(("ok: " if ok else "FAIL: ") + name + ("" if ok else "\n" + str(detail)))
    failed |= not ok

def place(folder, name):
    os.makedirs(os.path.join(tmp, folder), exist_ok=True)
    path = os.path.join(tmp, folder, name)
    try:
        os.link(binary, path)
    except OSError:
        shutil.copy2(binary, path)
    return path

name = "telmora-e2e-%d" % os.getpid()
prog = place("a", name)

def start(path, env):
    # Unbuffered, so that select() sees every line that has not been read yet.
    return subprocess.Popen([path, "--trace"], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                            bufsize=0, env=env)

def line_from(p, limit=20):
    """The next line the process prints on stderr (Qt's own notes left out), or None in time."""
    while True:
        r, _, _ = select.select([p.stderr], [], [], limit)
        line = p.stderr.readline().decode().rstrip("\n") if r else None
        if line is None or not line.startswith("QStandardPaths"):
            return line

def stop(p):
    p.terminate()
    try:
        p.wait(timeout=10)
    except subprocess.TimeoutExpired:
        p.kill()
        p.wait()

def later_start(path, env, *args):
    r = subprocess.run([path, *args], capture_output=True, text=True, env=env, timeout=30)
    # Qt's own note on a missing runtime folder is not ours.
    err = "\n".join(l for l in r.stderr.splitlines() if not l.startswith("QStandardPaths"))
    return r.returncode, r.stdout + err

env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
first = start(prog, env)
check("the first start runs as the first copy", (line_from(first) or "").startswith(ready_line))

for label, path in [("the same file again", prog),
                    ("the same name from another folder", place("b", name)),
                    ("the name in capital letters", place("c", name.upper()))]:
    rc, out = later_start(path, env)
    check(label + ": ends with 0 and says nothing", rc == 0 and out == "", (rc, out))
    check(label + ": the first copy's window is raised",
          line_from(first) == "raise request: window normal, active")

# A later start asked to connect never opens the port: a failure would be reported and wait for
# the message box to be closed.
rc, out = later_start(prog, env, "--port", "/dev/telmora-no-such-port", "--connect", "--trace")
check("a later start with --connect ends at once without touching the port", rc == 0 and out == "", (rc, out))
check("a later start with --connect raises the first copy too", line_from(first) == "raise request: window normal, active")

other = start(place("a", name + "-copy"), env)
check("a copy under another file name runs on its own", (line_from(other) or "").startswith(ready_line))
stop(other)

first.send_signal(signal.SIGKILL)
first.wait()
again = start(prog, env)
check("after the first was killed the next start runs", (line_from(again) or "").startswith(ready_line))
stop(again)

# The same under a real X server: the raised window ends up normal and active.
if shutil.which("Xvfb"):
    r, w = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(w), "-nolisten", "tcp", "-screen", "0", "1280x1024x24"],
                            pass_fds=(w,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(w)
    rs, _, _ = select.select([r], [], [], 20)
    display = os.read(r, 32).decode().strip() if rs else ""
    if display:
        xenv = dict(os.environ, QT_QPA_PLATFORM="xcb", DISPLAY=":" + display)
        xenv.pop("WAYLAND_DISPLAY", None)
        first = start(prog, xenv)
        check("X11: the first start runs as the first copy", (line_from(first) or "").startswith(ready_line))
        rc, out = later_start(prog, xenv)
        check("X11: a later start ends with 0", rc == 0, (rc, out))
        check("X11: the first window is normal and active", line_from(first) == "raise request: window normal, active")
        stop(first)
    else:
        check("Xvfb starts", False)
    xvfb.terminate()
    xvfb.wait()
sys.exit(1 if failed else 0)
EOF
