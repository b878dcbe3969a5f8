"""What the Python benchmarks share: a private X display, processes' peak
memory from /proc, and the BENCH line that scripts/bench collects
(bench/README.md)."""
import collections
import os
import random
import subprocess
import sys
import threading
import time


def start_display():
    """Starts Xvfb; returns the process and ":N". The number is drawn at random
    from a high range, away from the displays tests start."""
    for _ in range(20):
        number = random.randrange(200, 900)
        read_end, write_end = os.pipe()
        xvfb = subprocess.Popen(["Xvfb", f":{number}", "-displayfd", str(write_end), "-screen", "0", "1280x800x24",
                                 "-nolisten", "tcp"], pass_fds=[write_end], stderr=subprocess.DEVNULL)
        os.close(write_end)
        # Read up to the line's end: Xvfb may write the number and the line
        # feed separately, and a pipe closed in between kills it (SIGPIPE).
        written = b""
        while not written.endswith(b"\n"):
            chunk = os.read(read_end, 16)
            if not chunk:
                break
            written += chunk
        os.close(read_end)
        written = written.decode().strip()
        if written == str(number):
            return xvfb, ":" + written
        xvfb.wait()
    sys.exit("Xvfb did not start")


def peak_kib(pid):
    """The process's peak resident memory (VmHWM) in KiB, or 0 once it is gone."""
    try:
        with open(f"/proc/{pid}/status") as status:
            for line in status:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def descendants(pid):
    """The ids of every process below pid."""
    children = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as stat:
                parent = int(stat.read().rsplit(")", 1)[1].split()[1])
        except (OSError, IndexError, ValueError):
            continue
        children.setdefault(parent, []).append(int(entry))
    found, pending = [], [pid]
    while pending:
        for child in children.get(pending.pop(), []):
            found.append(child)
            pending.append(child)
    return found


def bench_line(name, median, unit, baseline_name=None, baseline_median=None):
    """Prints the figure in the form scripts/bench collects."""
    if baseline_name is None:
        print(f"BENCH {name} {median:.4g} {unit} - - -", flush=True)
    elif baseline_median <= 0:
        print(f"BENCH {name} {median:.4g} {unit} {baseline_name} {baseline_median:.4g} -", flush=True)
    else:
        print(f"BENCH {name} {median:.4g} {unit} {baseline_name} {baseline_median:.4g} {median / baseline_median:.3f}",
              flush=True)


class Launched:
    """A process started with its standard output and error in one pipe, read
    until a line marks that its page has loaded; the rest of its output is
    drained on a thread, so that it never blocks on a full pipe."""

    def __init__(self, command, is_marker, limit_seconds=30):
        self.command = command
        started = time.monotonic()
        self.process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                                        errors="replace")
        self.tail = collections.deque(maxlen=20)
        self.elapsed_ms = None
        deadline = started + limit_seconds
        for line in self.process.stdout:
            self.tail.append(line)
            if is_marker(line):
                self.elapsed_ms = (time.monotonic() - started) * 1000
                break
            if time.monotonic() > deadline:
                break
        threading.Thread(target=self._drain, daemon=True).start()

    def _drain(self):
        for line in self.process.stdout:
            self.tail.append(line)

    def stop(self):
        self.process.terminate()
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()

    def fail(self):
        """Ends the benchmark with the command and the last lines it wrote."""
        self.stop()
        sys.exit("no load reported by: " + " ".join(self.command) + "\n" + "".join(self.tail))


def bare_loaded(line):
    return line == "loaded\n"


def tavero_loaded(line):
    return "start page loaded" in line
