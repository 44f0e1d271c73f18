#!/usr/bin/env bash
# The serial simulator as a user and the benchmarks meet it: its options, the records it sends on
# its own pseudo-terminal or into a given tty, and a clean end by count, duration or signal.
set -u
sim="$(dirname "$1")/../tools/telmora-sim"
fail=0
check() { if ! eval "$2"; then echo "FAIL: $1"; fail=1; else echo "ok: $1"; fi; }

if [ ! -x "$sim" ]; then
  echo "FAIL: telmora-sim not built at $sim"
  exit 1
fi

out=$("$sim" --help); rc=$?
check "--help exits 0 and shows usage" '[ $rc -eq 0 ] && [[ "$out" == *"--rate N"* ]] && [[ "$out" == *"--device PATH"* ]]'
out=$("$sim" --version); rc=$?
check "--version prints the version" '[ $rc -eq 0 ] && [[ "$out" == telmora-sim\ * ]]'
err=$("$sim" --bogus 2>&1 >/dev/null); rc=$?
check "unknown option exits 2 with a message on stderr" '[ $rc -eq 2 ] && [[ "$err" == *"unknown option '"'"'--bogus'"'"'"* ]]'
err=$("$sim" --rate 0 2>&1 >/dev/null); rc=$?
check "a bad rate exits 2" '[ $rc -eq 2 ] && [[ "$err" == *"invalid rate"* ]]'
err=$("$sim" --fast --noise 2>&1 >/dev/null); rc=$?
check "--fast with --noise exits 2" '[ $rc -eq 2 ] && [[ "$err" == *"--fast cannot be combined"* ]]'
err=$("$sim" --device /nonexistent/ttyX --count 1 2>&1 >/dev/null); rc=$?
check "a missing device exits 1 with its name" '[ $rc -eq 1 ] && [[ "$err" == *"/nonexistent/ttyX"* ]]'

# reader MODE ARGS...: starts the simulator, reads what it sends until it ends, checks the records.
reader() {
  python3 - "$sim" "$@" <<'EOF'
import os, re, select, signal, subprocess, sys, time, tty

sim, mode, args = sys.argv[1], sys.argv[2], sys.argv[3:]
deadline = time.monotonic() + 30

def fail(msg):
    print(msg)
    sys.exit(1)

def drain(fd, until):
    """Reads fd until it hangs up or until(data) holds; a hung-up pty reads as EIO or b''."""
    data = bytearray()
    while time.monotonic() < deadline and not until(data):
        r, _, _ = select.select([fd], [], [], max(0.0, deadline - time.monotonic()))
        if not r:
            break
        try:
            chunk = os.read(fd, 1 << 20)
        except OSError:
            break
        if not chunk:
            break
        data += chunk
    return bytes(data)

records = lambda data: re.findall(rb"#([^#<]*)<", data)

if mode == "device":
    master, slave = os.openpty()
    tty.setraw(slave)
    path = os.ttyname(slave)
    p = subprocess.Popen([sim, "--device", path] + args, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    first = p.stdout.readline().decode().strip()
    if first != path:
        fail(f"first line {first!r} is not the device {path!r}")
    count = int(args[args.index("--count") + 1])
    data = drain(master, lambda d: len(records(d)) >= count)
else:
    p = subprocess.Popen([sim] + args, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    path = p.stdout.readline().decode().strip()
    if not path.startswith("/dev/pts/") or not os.path.exists(path):
        fail(f"first line {path!r} is not a pseudo-terminal")
    fd = os.open(path, os.O_RDONLY | os.O_NOCTTY | os.O_NONBLOCK)
    if mode == "signal":
        data = drain(fd, lambda d: len(records(d)) >= 20)
        started = time.monotonic()
        p.send_signal(signal.SIGTERM)
        p.wait(timeout=5)
        if time.monotonic() - started > 2:
            fail("SIGTERM took more than 2 s")
    else:
        data = drain(fd, lambda d: False)

rc = p.wait(timeout=10)
if rc != 0:
    fail(f"exit status {rc}: {p.stderr.read().decode()}")
recs = records(data)

sep = "," if "--comma" in args else "."
good = [r for r in recs if re.fullmatch(rb"(10|[1-9])M\d+(" + re.escape(sep.encode()) + rb"\d{1,2})?", r)]

if mode == "fast":
    want = int(args[args.index("--count") + 1])
    if len(recs) != want:
        fail(f"{len(recs)} records instead of {want}")
    for seq, r in enumerate(recs):
        if r != b"%dM%d" % (1 + seq % 10, seq % 10000000):
            fail(f"record {seq} is {r!r}")
    print(f"{want} sequence numbers in order")
    sys.exit(0)

if mode in ("plain", "device", "duration"):
    if good != recs:
        bad = [r for r in recs if r not in good][:3]
        fail(f"records that do not parse: {bad!r}")
    if data != b"".join(b"#" + r + b"<" for r in recs):
        fail("bytes outside the records")
if mode == "plain" or mode == "device":
    want = int(args[args.index("--count") + 1])
    if len(good) != want:
        fail(f"{len(good)} records instead of {want}")
if mode == "duration":
    # 100 records a second for 0.3 s: those due at 0, 10 … 290 ms.
    if len(good) != 30:
        fail(f"{len(good)} records instead of 30")
if mode == "noise":
    want = int(args[args.index("--count") + 1])
    if len(good) != want:
        fail(f"{len(good)} good records instead of {want}")
    if len(recs) == len(good) or len(data) == sum(len(r) + 2 for r in recs):
        fail("no noise in the stream")

for k, r in enumerate(good):
    n, v = r.split(b"M")
    if mode != "signal" and int(n) != 1 + k % 10:
        fail(f"record {k} is for instrument {int(n)}")
    value = float(v.replace(b",", b"."))
    if not (0 <= value <= 100 or (int(n) == 10 and value == 130)):
        fail(f"value {value} out of range on instrument {int(n)}")
if sep == "," and b"." in b"".join(good):
    fail("a '.' in a record while ',' was asked for")
print(f"{len(good)} records parsed")
EOF
}

out=$(reader plain --count 100 --rate 10000 2>&1); rc=$?
check "100 records at 10000/s on its own pty: all parse, instruments in turn ($out)" '[ $rc -eq 0 ]'
out=$(reader plain --count 60 --rate 5000 --comma 2>&1); rc=$?
check "--comma writes ',' as the decimal separator ($out)" '[ $rc -eq 0 ]'
out=$(reader noise --count 300 --rate 20000 --noise --split 2>&1); rc=$?
check "--noise --split: every good record arrives among the noise ($out)" '[ $rc -eq 0 ]'
out=$(reader fast --count 200000 --fast 2>&1); rc=$?
check "--fast: sequence numbers contiguous ($out)" '[ $rc -eq 0 ]'
out=$(reader duration --duration 0.3 --rate 100 2>&1); rc=$?
check "--duration ends the run by itself ($out)" '[ $rc -eq 0 ]'
out=$(reader device --count 50 --rate 5000 2>&1); rc=$?
check "--device writes into a given tty ($out)" '[ $rc -eq 0 ]'
out=$(reader signal --rate 1000 2>&1); rc=$?
check "SIGTERM ends an endless run with status 0 ($out)" '[ $rc -eq 0 ]'
exit $fail
