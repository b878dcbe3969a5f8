#!/usr/bin/env python3
"""Launch to start page loaded: `tavero run` against a bare WebKitGTK window
(bare_webview) loading the same one-line page, alternating, on one private X
display. Each run is timed from spawning the process to the line that says
the page has loaded; the process is then stopped. Prints medians and the
ratio.

    bench/launch_vs_bare.py BUILD_DIR [RUNS]
"""
import os, shutil, statistics, subprocess, sys, tempfile, time

build = sys.argv[1] if len(sys.argv) > 1 else "build-bench"
runs = int(sys.argv[2]) if len(sys.argv) > 2 else 15
root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
bundle = os.path.join(root, "bench", "launch-app")
page = "file://" + os.path.join(bundle, "webapp", "index.html")
tavero = os.path.join(root, build, "src", "app", "tavero")
bare = os.path.join(root, build, "bench", "bare_webview")


def start_display():
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x800x24", "-nolisten", "tcp"],
                            pass_fds=[write_end], stderr=subprocess.DEVNULL)
    os.close(write_end)
    number = os.read(read_end, 16).decode().strip()
    os.close(read_end)
    return xvfb, ":" + number


def timed(command, marker, stream):
    started = time.monotonic()
    process = subprocess.Popen(command, stdout=subprocess.PIPE if stream == "stdout" else subprocess.DEVNULL,
                               stderr=subprocess.PIPE if stream == "stderr" else subprocess.DEVNULL, text=True)
    pipe = process.stdout if stream == "stdout" else process.stderr
    elapsed = None
    deadline = started + 30
    for line in pipe:
        if marker in line:
            elapsed = (time.monotonic() - started) * 1000
            break
        if time.monotonic() > deadline:
            break
    process.terminate()
    try:
        process.wait(timeout=10)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
    if elapsed is None:
        sys.exit("no load reported by: " + " ".join(command))
    return elapsed


def main():
    xvfb, display = start_display()
    os.environ.update(DISPLAY=display, NO_AT_BRIDGE="1", GDK_BACKEND="x11")
    home = tempfile.mkdtemp(prefix="tavero-launch-")
    tavero_ms, bare_ms = [], []
    try:
        for run in range(runs):
            bare_ms.append(timed([bare, page], "loaded", "stdout"))
            tavero_ms.append(timed([tavero, "run", bundle, "--home", home], "start page loaded", "stderr"))
            print(f"run {run + 1}: bare {bare_ms[-1]:.0f} ms, tavero {tavero_ms[-1]:.0f} ms", flush=True)
    finally:
        xvfb.terminate()
        shutil.rmtree(home, ignore_errors=True)
    b, t = statistics.median(bare_ms), statistics.median(tavero_ms)
    print(f"\nmedian of {runs} runs: bare WebKitGTK window {b:.0f} ms, tavero run {t:.0f} ms, ratio {t / b:.2f}")


main()
