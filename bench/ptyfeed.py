#!/usr/bin/env python3
"""Feeds a pseudo-terminal to a serial reader started as a child and reports its CPU and rate.

  ptyfeed.py flood [--bytes N]            N bytes of LF-terminated text as fast as they are taken
  ptyfeed.py paced [--rate R] [--seconds S]
                                          R records/s written once per millisecond for S seconds
  ptyfeed.py read PORT                    the minimal reader: one read() per wake-up, discarded

Options before the command: --also PID (a process whose CPU is reported beside, e.g. the X
server), --label TEXT, --settle SECONDS (quiet time after the reader switched the line to raw
mode, which is how its open is noticed), --threads 1 (CPU and wake-ups of each thread too),
--exclude NAME[,NAME] (processes of the tree whose CPU is left out). After "--" comes the reader's command line;
"{PORT}" in it is replaced by the pseudo-terminal's path. Prints one line:
  label  MB/s  CPU%  [also-CPU%]  seconds
CPU is of the reader's whole process tree, in percent of one core.
"""
import os
import signal
import subprocess
import sys
import termios
import time
import tty


def tree_pids(root):
    """The root and all its descendants, from /proc."""
    children = {}
    for entry in os.listdir('/proc'):
        if not entry.isdigit():
            continue
        try:
            with open(f'/proc/{entry}/stat', 'rb') as f:
                stat = f.read()
        except OSError:
            continue
        # The command name may hold spaces and parentheses: the fields follow the last ')'.
        fields = stat[stat.rindex(b')') + 2:].split()
        children.setdefault(int(fields[1]), []).append(int(entry))
    pids, todo = [], [root]
    while todo:
        pid = todo.pop()
        pids.append(pid)
        todo.extend(children.get(pid, []))
    return pids


def cpu_seconds(pid):
    """CPU time of every thread of pid (nanosecond run times, not 10 ms ticks)."""
    total = 0
    try:
        tasks = os.listdir(f'/proc/{pid}/task')
    except OSError:
        return 0.0
    for task in tasks:
        try:
            with open(f'/proc/{pid}/task/{task}/schedstat') as f:
                total += int(f.read().split()[0])
        except (OSError, ValueError, IndexError):
            pass
    return total / 1e9


EXCLUDED = set()


def process_name(pid):
    try:
        with open(f'/proc/{pid}/comm') as f:
            return f.read().strip()
    except OSError:
        return ''


def tree_cpu(root):
    """CPU of the tree, less the wrappers named by --exclude (e.g. the terminal a console program
    is given), which are measurement gear and not the program."""
    return sum(cpu_seconds(p) for p in tree_pids(root) if process_name(p) not in EXCLUDED)


def thread_figures(root):
    """Per thread of the tree: (name, CPU seconds, voluntary context switches)."""
    figures = {}
    for pid in tree_pids(root):
        try:
            tasks = os.listdir(f'/proc/{pid}/task')
        except OSError:
            continue
        for task in tasks:
            try:
                with open(f'/proc/{pid}/task/{task}/status') as f:
                    status = dict(l.split(':', 1) for l in f if ':' in l)
                with open(f'/proc/{pid}/task/{task}/schedstat') as f:
                    cpu = int(f.read().split()[0]) / 1e9
            except (OSError, ValueError, IndexError):
                continue
            figures[int(task)] = (status['Name'].strip(), cpu, int(status['voluntary_ctxt_switches']))
    return figures


def wait_raw(master, child, timeout=30.0):
    """Waits until the reader has taken the line out of canonical mode (it opened and set it up)."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if child.poll() is not None:
            sys.exit(f'reader ended before opening the port (status {child.returncode})')
        lflag = termios.tcgetattr(master)[3]
        if not lflag & termios.ICANON:
            return
        time.sleep(0.02)
    sys.exit('reader did not open the port in time')


def drain_master(master):
    """Reads whatever the reader wrote back, so that it never blocks on a full pty."""
    blocking = os.get_blocking(master)
    os.set_blocking(master, False)
    try:
        while os.read(master, 65536):
            pass
    except (BlockingIOError, OSError):
        pass
    os.set_blocking(master, blocking)


def text_block(size):
    """LF-terminated lines of printable text, numbered, about 64 bytes each."""
    lines, n, total = [], 0, 0
    while total < size:
        line = b'%08d the quick brown fox jumps over the lazy dog 0123456789\n' % n
        lines.append(line)
        total += len(line)
        n += 1
    return b''.join(lines)[:size]


def record(seq):
    return b'#%dM%d.%d<\n' % (1 + seq % 10, (seq % 1000) // 10, seq % 10)


def flood(master, slave, total):
    block = text_block(1 << 20)
    os.set_blocking(master, True)
    sent = 0
    start = time.monotonic()
    while sent < total:
        chunk = block[:min(len(block), total - sent)]
        view = memoryview(chunk)
        while view:
            n = os.write(master, view[:65536])
            view = view[n:]
            sent += n
    # Written means taken into the line's buffers; drained means the reader read them too.
    buf = bytearray(4)
    import fcntl
    while True:
        fcntl.ioctl(slave, termios.FIONREAD, buf)
        if int.from_bytes(buf, sys.byteorder) == 0:
            break
        time.sleep(0.0005)
    return sent, time.monotonic() - start


def paced(master, rate, seconds):
    os.set_blocking(master, False)
    seq, sent = 0, 0
    start = time.monotonic()
    tick = 0
    while True:
        tick += 1
        due_time = start + tick / 1000.0
        now = time.monotonic()
        if now >= start + seconds:
            break
        if due_time > now:
            time.sleep(due_time - now)
        due = int(tick * rate / 1000.0)
        data = b''.join(record(i) for i in range(seq, due))
        seq = due
        view = memoryview(data)
        while view:
            try:
                n = os.write(master, view)
                view = view[n:]
                sent += n
            except BlockingIOError:
                time.sleep(0.0005)
        drain_master(master)
    return sent, time.monotonic() - start


def minimal_reader(port):
    fd = os.open(port, os.O_RDWR | os.O_NOCTTY)
    tty.setraw(fd)
    while True:
        try:
            if not os.read(fd, 65536):
                return
        except OSError:
            return


def main(argv):
    if len(argv) >= 2 and argv[0] == 'read':
        minimal_reader(argv[1])
        return
    mode = argv[0]
    opts = {'--bytes': str(16 << 20), '--rate': '37500', '--seconds': '10', '--also': '',
            '--label': '', '--settle': '1.0', '--threads': '', '--exclude': ''}
    i = 1
    while i < len(argv) and argv[i] != '--':
        if argv[i] not in opts:
            sys.exit(f'unknown option {argv[i]}')
        opts[argv[i]] = argv[i + 1]
        i += 2
    command = argv[i + 1:]
    EXCLUDED.update(n for n in opts['--exclude'].split(',') if n)
    if not command:
        sys.exit('no reader command after --')
    master, slave = os.openpty()
    port = os.ttyname(slave)
    command = [a.replace('{PORT}', port) for a in command]
    child = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL, start_new_session=True)
    try:
        wait_raw(master, child)
        time.sleep(float(opts['--settle']))
        drain_master(master)
        also = int(opts['--also']) if opts['--also'] else 0
        cpu0, also0 = tree_cpu(child.pid), cpu_seconds(also) if also else 0
        threads0 = thread_figures(child.pid)
        if mode == 'flood':
            sent, elapsed = flood(master, slave, int(opts['--bytes']))
        elif mode == 'paced':
            sent, elapsed = paced(master, float(opts['--rate']), float(opts['--seconds']))
        else:
            sys.exit(f'unknown mode {mode}')
        cpu = (tree_cpu(child.pid) - cpu0) / elapsed * 100
        line = f'{opts["--label"] or command[0]:<28} {sent / elapsed / 1e6:8.2f} MB/s {cpu:6.2f} %CPU'
        if also:
            line += f' {(cpu_seconds(also) - also0) / elapsed * 100:6.2f} %X'
        alive = child.poll() is None
        print(line + f' {elapsed:6.2f} s' + ('' if alive else ' (reader ended!)'), flush=True)
        if opts['--threads']:
            # Where the time goes, and how often each thread went to sleep (its wake-ups).
            for tid, (name, cpu, switches) in sorted(thread_figures(child.pid).items()):
                name0, cpu_0, switches0 = threads0.get(tid, (name, 0.0, 0))
                if cpu - cpu_0 > 0.001 * elapsed:
                    print(f'    {name:<16} {tid:>7} {(cpu - cpu_0) / elapsed * 100:6.2f} %CPU '
                          f'{(switches - switches0) / elapsed:9.0f} wake-ups/s', flush=True)
    finally:
        if child.poll() is None:
            os.killpg(child.pid, signal.SIGTERM)
            try:
                child.wait(10)
            except subprocess.TimeoutExpired:
                os.killpg(child.pid, signal.SIGKILL)
                child.wait()


if __name__ == '__main__':
    main(sys.argv[1:])
