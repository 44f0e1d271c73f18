#!/usr/bin/env bash
# Hostile settings files and recordings through the real program: each one is refused or read
# with a message, none hangs the start, and no settings file the program could not read is
# changed. Prints one table row per input: exit code, message, the file afterwards.
set -u
source "$(dirname "$0")/support/own-name.sh" "$1"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp" "$own_dir"' EXIT

timeout 280 python3 - "$bin" "$tmp" <<'EOF'
import hashlib, os, pty, shutil, signal, stat, subprocess, sys, threading, time, tty

binary, tmp = sys.argv[1], sys.argv[2]
# One run is nobody's: it must reach the program and its files.
os.chmod(tmp, 0o755)
os.chmod(os.path.dirname(binary), 0o755)
runtime = os.path.join(tmp, "run")
os.makedirs(runtime, mode=0o700)
failed = False
MiB = 1 << 20

def check(name, ok, detail=""):
    global failed
    print(("ok: " if ok else "FAIL: ") + name + ("" if ok else "\n    " + detail))
    failed |= not ok

masters = {}

def device():
    """A pseudo-terminal that keeps sending records, so that --trace tells when a run is up. Any
    user may open it: one of the runs is not root's."""
    master, slave = pty.openpty()
    masters[os.ttyname(slave)] = master
    tty.setraw(slave)
    os.set_blocking(master, False)
    os.chmod(os.ttyname(slave), 0o666)
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

def fingerprint(path):
    """What a file is afterwards: its type and, for a regular file, size and digest."""
    try:
        st = os.lstat(path)
    except FileNotFoundError:
        return "missing"
    if stat.S_ISFIFO(st.st_mode):
        return "FIFO"
    if stat.S_ISDIR(st.st_mode):
        return "folder"
    if stat.S_ISCHR(st.st_mode):
        return "device"
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(MiB), b""):
            h.update(block)
    return "%d bytes %s" % (st.st_size, h.hexdigest()[:12])

def stored(path, key):
    with open(path, "rb") as f:
        for line in f.read().decode("utf-8", "replace").split("\r\n"):
            if line.startswith(key + "="):
                return line[len(key) + 1:]
    return None

def row(what, rc, message, after):
    said = " / ".join(l for l in message.splitlines() if l.startswith("telmora:")) or "-"
    print("| %-34s | %-4s | %-44s | %s" % (what, rc, after, said), flush=True)

port = device()

def run_settings(path, user=None):
    """Starts on a settings file, waits until records are handled (the window is up), ends the run
    with SIGTERM while any message box is still open. Exit code, stderr and seconds to come up."""
    cmd = [binary, "--settings", path, "--port", port, "--connect", "--trace"]
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", XDG_RUNTIME_DIR=runtime)
    if user:
        home = os.path.join(tmp, "home-" + user)
        os.makedirs(home, mode=0o700, exist_ok=True)
        shutil.chown(home, user)
        env.update(HOME=home, XDG_CONFIG_HOME=home, XDG_RUNTIME_DIR=home)
        cmd = ["setpriv", "--reuid=" + user, "--regid=nogroup", "--clear-groups", "--"] + cmd
    t0 = time.monotonic()
    p = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=env,
                         errors="replace")
    first = p.stdout.readline()
    up = time.monotonic() - t0
    p.send_signal(signal.SIGTERM)
    try:
        _, err = p.communicate(timeout=30)
        rc = p.returncode
    except subprocess.TimeoutExpired:
        p.kill()
        _, err = p.communicate()
        rc = "hang"
    return rc, err.strip(), up, first.startswith("#1M1<")

def settings_case(what, make, user=None, kept=True, message=""):
    path = make()
    before = fingerprint(path)
    rc, err, up, came_up = run_settings(path, user)
    after = fingerprint(path)
    row(what, rc, err, (after if after != before else "unchanged (" + before + ")") + ", up in %.1f s" % up)
    check(what + ": comes up and ends with status 0 on SIGTERM", came_up and rc == 0, "rc %s, stderr: %s" % (rc, err))
    check(what + ": says " + (message or "nothing"), message in err if message else "cannot be read" not in err, err)
    if kept:
        check(what + ": the file is left as it was", after == before, before + " -> " + after)
    if os.path.isfile(path) and os.path.getsize(path) > MiB:
        os.unlink(path)  # the big ones go at once: the disk holds one at a time
    return path

def file_with(name, data, mode=0o644):
    path = os.path.join(tmp, name)
    with open(path, "wb") as f:
        f.write(data)
    os.chmod(path, mode)
    return path

print("| settings input                     | exit | file afterwards                              | message")
# A settings file with a stored layout, then the same file without read permission for its owner.
good = os.path.join(tmp, "good", "Telmora.ini")
os.makedirs(os.path.dirname(good))
rc, err, _, _ = run_settings(good)
check("a first run writes the settings file", rc == 0 and os.path.exists(good), err)
unreadable = os.path.join(tmp, "nobody", "Telmora.ini")
os.makedirs(os.path.dirname(unreadable))
shutil.copy(good, unreadable)
# Root reads any file: as root the run is nobody's, who owns the 0200 file and may not read it.
as_root = os.geteuid() == 0
if as_root:
    shutil.chown(os.path.dirname(unreadable), "nobody")
    shutil.chown(unreadable, "nobody")
os.chmod(unreadable, 0o200)
settings_case("0200 file of the user" + (" (as nobody)" if as_root else ""), lambda: unreadable,
              user="nobody" if as_root else None,
              message="cannot read its settings file: cannot open " + unreadable + ": Permission denied")
settings_case("folder", lambda: (os.makedirs(os.path.join(tmp, "dir.ini"), exist_ok=True), os.path.join(tmp, "dir.ini"))[1],
              message="it is a folder")
settings_case("FIFO", lambda: (os.mkfifo(os.path.join(tmp, "fifo.ini")), os.path.join(tmp, "fifo.ini"))[1],
              message="not a regular file")
settings_case("/dev/zero itself", lambda: "/dev/zero", message="not a regular file")
settings_case("/dev/zero copy, 100 MB", lambda: file_with("zero.ini", bytes(100 * MiB)),
              message="line 1 is longer than 1048576 bytes")
settings_case("100 MB single line", lambda: file_with("line.ini", b"[FormMain]\r\n" + b"x" * (100 * MiB)),
              message="line 2 is longer than 1048576 bytes")
# Nothing usable in them: the first-start layout, written at exit.
for what, data in (("empty file", b""), ("random bytes", os.urandom(4096)),
                   ("placement keys only", b"[FormMain]\r\nFormVersion=0\r\nShowCmd=1\r\n")):
    path = settings_case(what, lambda: file_with(what.replace(" ", "-") + ".ini", data), kept=False)
    check(what + ": first-start layout written", stored(path, "Instr1_Height") == "306", str(stored(path, "Instr1_Height")))
# Sizes beyond the bound are held, the rest of the file kept. (The folder is part of the stored
# keys' section names: the file stays where it was written.)
with open(good, "rb") as f:
    text = f.read().decode()
huge = good
with open(huge, "wb") as f:
    f.write(text.replace("Instr1_Width=116", "Instr1_Width=30000").replace("Instr1_Height=306", "Instr1_Height=16777215")
            .replace("Instr1_Visible=FALSE", "Instr1_Visible=TRUE").encode())
rc, err, up, came_up = run_settings(huge)
row("meter 30000 x 16777215", rc, err, "Width=%s Height=%s Port=%s, up in %.1f s" % (
    stored(huge, "Instr1_Width"), stored(huge, "Instr1_Height"), stored(huge, "ComPort1_Port"), up))
check("a huge meter is held to 4096 x 4096 and the rest of the file kept",
      rc == 0 and stored(huge, "Instr1_Width") == "4096" and stored(huge, "Instr1_Height") == "4096" and
      stored(huge, "ComPort1_Port") == port, "rc %s: %s" % (rc, err))

# A signal and the port's hang-up in the same instant, in both orders: the failure report that
# arrives while closing goes to stderr, no message box keeps the process alive, the settings are saved.
for order in ("signal first", "hang-up first"):
    for attempt in range(3):
        line = device()
        path = os.path.join(tmp, "hangup", "Telmora.ini")
        os.makedirs(os.path.dirname(path), exist_ok=True)
        # Without reconnecting, a hang-up is a failure the window reports in a message box.
        with open(path, "wb") as f:
            f.write(b"[FormMain\\%s/]\r\nCheckBoxAutomatischNeuVerbinden_Checked=FALSE\r\n" % os.path.dirname(path).encode())
        p = subprocess.Popen([binary, "--settings", path, "--port", line, "--connect", "--trace"], stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True, errors="replace",
                             env=dict(os.environ, QT_QPA_PLATFORM="offscreen", XDG_RUNTIME_DIR=runtime))
        came_up = p.stdout.readline().startswith("#1M1<")
        if order == "signal first":
            p.send_signal(signal.SIGTERM)
            os.close(masters.pop(line))
        else:
            os.close(masters.pop(line))
            p.send_signal(signal.SIGTERM)
        try:
            _, err = p.communicate(timeout=20)
            rc = p.returncode
        except subprocess.TimeoutExpired:
            p.kill()
            _, err = p.communicate()
            rc = "hang"
        if attempt == 0:
            row("SIGTERM and hang-up, " + order, rc, err, "port kept: %s" % (stored(path, "ComPort1_Port") == line))
        check("SIGTERM and hang-up, %s (%d): exits 0 and keeps the port" % (order, attempt + 1),
              came_up and rc == 0 and stored(path, "ComPort1_Port") == line, "rc %s: %s" % (rc, err))

print()
print("| recording                          | exit | seconds                                      | message")
header = b"Zeit,Instrument,Wert,Einheit\r\n"
def replay_case(what, path, rc_want, message, extra=()):
    t0 = time.monotonic()
    try:
        p = subprocess.run([binary, "--replay", path, "--screenshot", os.path.join(tmp, "r.png")] + list(extra),
                           capture_output=True, text=True, errors="replace", timeout=60,
                           env=dict(os.environ, QT_QPA_PLATFORM="offscreen", XDG_RUNTIME_DIR=runtime))
        rc, err = p.returncode, p.stderr.strip()
    except subprocess.TimeoutExpired:
        rc, err = "hang", ""
    secs = time.monotonic() - t0
    row(what, rc, err, "%.1f" % secs)
    check(what + ": exit %s" % rc_want, rc == rc_want, "rc %s: %s" % (rc, err))
    check(what + ": says " + (message or "nothing"), message in err if message else "angehalten" not in err, err)
    if os.path.isfile(path) and os.path.getsize(path) > MiB:
        os.unlink(path)

replay_case("FIFO", (os.mkfifo(os.path.join(tmp, "fifo.csv")), os.path.join(tmp, "fifo.csv"))[1], 1, "not a regular file")
replay_case("/dev/zero", "/dev/zero", 1, "not a regular file")
replay_case("folder", tmp, 1, "it is a folder")
replay_case("100 MB single line", file_with("line.csv", b"x" * (100 * MiB)), 1, "Line 1 of")
record = b"2024-05-01T14:03:07.000+02:00,1,25.5,%\r\n"
replay_case("unclosed quote at 2 MB", file_with("quote.csv", header + record * 2 + b'2024-05-01T14:03:08.000+02:00,1,"25.5\r\n' +
            b"2024-05-01T14:03:09.000+02:00,1,25.5,%\r\n" * (2 * MiB // 40)), 0, "Zeile 4 von")
backwards = header + b"".join(b"%04d-05-01T14:03:07.000+02:00,%d,25.5,%%\r\n" % (y, 1 + y % 10)
                              for y in (2024, 1624, 2424, 1000, 9999))
replay_case("time going backwards, 400 years apart", file_with("back.csv", backwards), 0, "")
replay_case("the same at --speed 1e-300", os.path.join(tmp, "back.csv"), 0, "", ["--speed", "1e-300"])
sys.exit(1 if failed else 0)
EOF
