#!/usr/bin/env python3
"""`page eval` round trip: one request on the control socket of a running
demo (`tavero run --headless`) until its answer, against the same round trip
for a command that does not reach the page (`events badge`), alternating on
one connection. Prints the medians of RUNS each.

    bench/page_eval.py BUILD_DIR [RUNS]
"""
import json, os, shutil, socket, statistics, subprocess, sys, tempfile, time

build = sys.argv[1] if len(sys.argv) > 1 else "build"
runs = int(sys.argv[2]) if len(sys.argv) > 2 else 100
root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
tavero = os.path.join(root, build, "src", "app", "tavero")
home = tempfile.mkdtemp(prefix="tavero-bench-eval-")


def request(connection, reader, words, failing_ok=False):
    started = time.perf_counter()
    connection.sendall((json.dumps({"arguments": words}) + "\n").encode())
    answer = json.loads(reader.readline())
    elapsed = (time.perf_counter() - started) * 1000
    if "error" in answer and not failing_ok:
        sys.exit("error: " + answer["error"])
    return None if "error" in answer else elapsed


shell = subprocess.Popen([tavero, "run", os.path.join(root, "examples", "demo"), "--headless", "--port", "0",
                          "--home", home], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
try:
    connection = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    connection.settimeout(30)
    for _ in range(300):
        try:
            connection.connect(os.path.join(home, "control.sock"))
            break
        except OSError:
            time.sleep(0.1)
    reader = connection.makefile("r")
    for _ in range(300):  # the start page is there and loaded
        if request(connection, reader, ["page", "wait", "document.readyState === 'complete'"], True) is not None:
            break
        time.sleep(0.1)
    evals, baseline = [], []
    for _ in range(runs):
        evals.append(request(connection, reader, ["page", "eval", "document.title"]))
        baseline.append(request(connection, reader, ["events", "badge"]))
    print(f"page eval round trip:   median {statistics.median(evals):.3f} ms over {runs}")
    print(f"events badge (no page): median {statistics.median(baseline):.3f} ms over {runs}")
finally:
    shell.terminate()
    shell.wait(timeout=30)
    shutil.rmtree(home, ignore_errors=True)
