#!/usr/bin/env python3
"""Peak memory of `tavero run` on the demo against a bare WebKitGTK window
(bare_webview) loading the demo's start page, alternating, on one private X
display. Each process runs until its page has loaded and then a settle time
more (the page's first scripts, timers and paints), then its peak resident
memory (VmHWM) is read: of the UI process alone and summed with the WebKit
processes it started. Prints medians and their ratios.

    bench/memory_vs_bare.py BUILD_DIR [RUNS]
"""
import os, shutil, statistics, sys, tempfile, time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from benchutil import Launched, bare_loaded, bench_line, descendants, peak_kib, start_display, tavero_loaded

build = sys.argv[1] if len(sys.argv) > 1 else "build-bench"
runs = int(sys.argv[2]) if len(sys.argv) > 2 else 7
root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
demo = os.path.join(root, "examples", "demo")
page = "file://" + os.path.join(demo, "webapp", "index.html")
tavero = os.path.join(root, build, "src", "app", "tavero")
bare = os.path.join(root, build, "bench", "bare_webview")
SETTLE_SECONDS = 2.0


def peaks(command, is_marker):
    """(UI process MiB, UI and its descendants MiB) at the end of the settle time."""
    launched = Launched(command, is_marker)
    if launched.elapsed_ms is None:
        launched.fail()
    time.sleep(SETTLE_SECONDS)
    pid = launched.process.pid
    ui = peak_kib(pid)
    total = ui + sum(peak_kib(child) for child in descendants(pid))
    launched.stop()
    return ui / 1024, total / 1024


def main():
    xvfb, display = start_display()
    os.environ.update(DISPLAY=display, NO_AT_BRIDGE="1", GDK_BACKEND="x11")
    home = tempfile.mkdtemp(prefix="tavero-memory-")
    bare_ui, bare_total, tavero_ui, tavero_total = [], [], [], []
    try:
        for run in range(runs):
            ui, total = peaks([bare, page, "--stay"], bare_loaded)
            bare_ui.append(ui)
            bare_total.append(total)
            ui, total = peaks([tavero, "run", demo, "--home", home], tavero_loaded)
            tavero_ui.append(ui)
            tavero_total.append(total)
            print(f"run {run + 1}: bare UI {bare_ui[-1]:.1f} MiB, with WebKit's {bare_total[-1]:.1f} MiB; "
                  f"tavero UI {tavero_ui[-1]:.1f} MiB, with WebKit's {tavero_total[-1]:.1f} MiB", flush=True)
    finally:
        xvfb.terminate()
        shutil.rmtree(home, ignore_errors=True)
    m = statistics.median
    print(f"\nmedian of {runs} runs, peak resident memory after the demo loaded and {SETTLE_SECONDS:.0f} s more:")
    print(f"  UI process:              bare {m(bare_ui):.1f} MiB, tavero {m(tavero_ui):.1f} MiB")
    print(f"  with WebKit's processes: bare {m(bare_total):.1f} MiB, tavero {m(tavero_total):.1f} MiB")
    bench_line("memory_ui", m(tavero_ui), "MiB", "bare_webview_ui", m(bare_ui))
    bench_line("memory_with_webkit", m(tavero_total), "MiB", "bare_webview_with_webkit", m(bare_total))


main()
