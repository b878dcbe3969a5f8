#!/usr/bin/env python3
"""Reload time of `tavero run --watch`: from a file of webapp/ written to the
first script of the reloaded page, over N edits of one running app, beside
the floor the web view itself sets in the same run: the page reloading
itself (location.reload()) to its first script.

    bench/live_reload.py [BUILD_DIR] [RUNS]
"""
import os
import re
import queue
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from benchutil import bench_line

build_dir = sys.argv[1] if len(sys.argv) > 1 else "build"
runs = int(sys.argv[2]) if len(sys.argv) > 2 else 12
tavero = os.path.join(build_dir, "src/app/tavero")
if not os.access(tavero, os.X_OK):
    sys.exit("build tavero first")

# Each edit gives the page a new mark. Its first script says when it ran
# (ms since the epoch, the clock this script reads too), then reloads the
# page once by itself and says how long that took.
PAGE = """<!DOCTYPE html><html><body><script>
  const mark = '%s';
  console.log('first-script ' + mark + ' ' + Date.now());
  const key = 'self-' + mark;
  const started = sessionStorage.getItem(key);
  if (started === null) {
    sessionStorage.setItem(key, String(Date.now()));
    location.reload();
  } else if (started !== 'done') {
    console.log('self-reload ' + mark + ' ' + (Date.now() - Number(started)));
    sessionStorage.setItem(key, 'done');
  }
</script></body></html>"""

work = tempfile.mkdtemp(prefix="tavero-reload-bench-")
bundle = os.path.join(work, "app")
os.makedirs(os.path.join(bundle, "webapp"))
with open(os.path.join(bundle, "Info.plist"), "w") as f:
    f.write('<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><dict>'
            "<key>CFBundleIdentifier</key><string>org.tavero.bench.reload</string></dict></plist>")
with open(os.path.join(bundle, "webapp", "app.json"), "w") as f:
    f.write("{}")
index = os.path.join(bundle, "webapp", "index.html")


def write_page(mark):
    scratch = index + ".new"
    with open(scratch, "w") as f:
        f.write(PAGE % mark)
    os.rename(scratch, index)  # as editors save


write_page("start")
shell = subprocess.Popen([tavero, "run", bundle, "--watch", "--headless", "--port", "0",
                          "--home", os.path.join(work, "home")],
                         stderr=subprocess.PIPE, stdout=subprocess.DEVNULL, text=True)
lines = queue.Queue()
threading.Thread(target=lambda: [lines.put(line) for line in shell.stderr], daemon=True).start()


def wait_for(pattern, limit=30.0):
    end = time.time() + limit
    while time.time() < end:
        try:
            line = lines.get(timeout=max(0.01, end - time.time()))
        except queue.Empty:
            break
        match = re.search(pattern, line)
        if match:
            return match
    sys.exit("no line matching %r" % pattern)


try:
    wait_for(r"self-reload start ")
    watched, itself = [], []
    for run in range(runs):
        mark = "m%d" % run
        written = time.time() * 1000
        write_page(mark)
        first = wait_for(r"first-script %s (\d+)" % mark)
        watched.append(int(first.group(1)) - written)
        itself.append(int(wait_for(r"self-reload %s (\d+)" % mark).group(1)))
        time.sleep(0.3)  # the next edit is a burst of its own
    print("reload after a file write (watch): median %.0f ms (min %.0f, max %.0f) over %d edits"
          % (statistics.median(watched), min(watched), max(watched), runs))
    print("page reloading itself (floor):    median %.0f ms (min %.0f, max %.0f)"
          % (statistics.median(itself), min(itself), max(itself)))
    bench_line("live_reload", statistics.median(watched), "ms", "page_self_reload", statistics.median(itself))
finally:
    shell.terminate()
    shell.wait(timeout=30)
    shutil.rmtree(work, ignore_errors=True)
