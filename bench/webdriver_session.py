#!/usr/bin/env python3
"""Time to start a WebDriver session on the demo (`tavero run --automation
--headless` started by WebKitWebDriver) and run one click, median of RUNS,
against the same session without the click (the click's own share) in the
same run. Needs webkit2gtk-driver and python3-selenium (run it with
/usr/bin/python3).

    bench/webdriver_session.py BUILD_DIR [RUNS]
"""
import os, shutil, socket, statistics, subprocess, sys, tempfile, time

from selenium import webdriver
from selenium.webdriver.common.by import By
from selenium.webdriver.webkitgtk.options import Options

build = sys.argv[1] if len(sys.argv) > 1 else "build"
runs = int(sys.argv[2]) if len(sys.argv) > 2 else 10
root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
tavero = os.path.join(root, build, "src", "app", "tavero")
demo = os.path.join(root, "examples", "demo")

with socket.socket() as probe:
    probe.bind(("127.0.0.1", 0))
    port = probe.getsockname()[1]
server = subprocess.Popen(["WebKitWebDriver", "--host=127.0.0.1", f"--port={port}"],
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def session_and_click(click):
    home = tempfile.mkdtemp(prefix="tavero-bench-wd-")
    options = Options()
    options.set_capability("browserName", "tavero")
    options.binary_location = tavero
    for argument in ["run", demo, "--automation", "--headless", "--port", "0", "--home", home]:
        options.add_argument(argument)
    started = time.perf_counter()
    driver = webdriver.Remote(command_executor=f"http://127.0.0.1:{port}", options=options)
    if click:
        driver.find_element(By.ID, "vibrate-button").click()
    elapsed = (time.perf_counter() - started) * 1000
    try:
        driver.quit()
    except Exception:
        pass
    subprocess.run([tavero, "device", "--home", home, "app", "terminate"], capture_output=True, timeout=30)
    shutil.rmtree(home, ignore_errors=True)
    return elapsed


try:
    time.sleep(0.5)
    with_click, without = [], []
    for _ in range(runs):
        with_click.append(session_and_click(True))
        without.append(session_and_click(False))
    print(f"session + one click: median {statistics.median(with_click):.0f} ms over {runs}")
    print(f"session alone:       median {statistics.median(without):.0f} ms over {runs}")
finally:
    server.terminate()
    server.wait(timeout=10)
