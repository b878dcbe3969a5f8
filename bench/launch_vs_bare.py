#!/usr/bin/env python3
"""Launch to start page loaded: `tavero run` against a bare WebKitGTK window
(bare_webview) loading the same one-line page, alternating, on one private X
display. Each run is timed from spawning the process to the line that says
the page has loaded; the process is then stopped. Prints medians and the
ratio, and the BENCH line.

    bench/launch_vs_bare.py BUILD_DIR [RUNS]
"""
import os, shutil, statistics, subprocess, sys, tempfile, time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from benchutil import Launched, bare_loaded, bench_line, start_display, tavero_loaded

build = sys.argv[1] if len(sys.argv) > 1 else "build-bench"
runs = int(sys.argv[2]) if len(sys.argv) > 2 else 15
root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
bundle = os.path.join(root, "bench", "launch-app")
page = "file://" + os.path.join(bundle, "webapp", "index.html")
tavero = os.path.join(root, build, "src", "app", "tavero")
bare = os.path.join(root, build, "bench", "bare_webview")


def timed(command, is_marker):
    launched = Launched(command, is_marker)
    if launched.elapsed_ms is None:
        launched.fail()
    launched.stop()
    return launched.elapsed_ms


def main():
    xvfb, display = start_display()
    os.environ.update(DISPLAY=display, NO_AT_BRIDGE="1", GDK_BACKEND="x11")
    home = tempfile.mkdtemp(prefix="tavero-launch-")
    tavero_ms, bare_ms = [], []
    try:
        for run in range(runs):
            bare_ms.append(timed([bare, page], bare_loaded))
            tavero_ms.append(timed([tavero, "run", bundle, "--home", home], tavero_loaded))
            print(f"run {run + 1}: bare {bare_ms[-1]:.0f} ms, tavero {tavero_ms[-1]:.0f} ms", flush=True)
    finally:
        xvfb.terminate()
        shutil.rmtree(home, ignore_errors=True)
    b, t = statistics.median(bare_ms), statistics.median(tavero_ms)
    print(f"\nmedian of {runs} runs: bare WebKitGTK window {b:.0f} ms, tavero run {t:.0f} ms, ratio {t / b:.2f}")
    bench_line("launch", t, "ms", "bare_webview", b)


main()
