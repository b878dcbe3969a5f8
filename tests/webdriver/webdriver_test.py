#!/usr/bin/env python3
"""The demo driven through WebDriver, as an app author's test would drive
it: WebKitWebDriver on a free loopback port starts `tavero run DEMO
--automation --headless` for a Selenium session, which finds elements,
clicks, types and reads what the page shows; then `tavero device` plays the
device (an alert's button pressed, a position sent) while Selenium drives
the page.

    webdriver_test.py TAVERO DEMO_BUNDLE

Exits 77 (skipped) when WebKitWebDriver or Selenium is missing. Every wait
is bounded and the whole run ends itself after a few minutes.
"""
import json, os, shutil, signal, socket, subprocess, sys, tempfile, time

SKIP = 77

tavero, demo = sys.argv[1], sys.argv[2]
driver_binary = shutil.which("WebKitWebDriver")
if not driver_binary:
    print("skipped: WebKitWebDriver is missing (Debian package webkit2gtk-driver)")
    sys.exit(SKIP)
try:
    from selenium import webdriver
    from selenium.common.exceptions import StaleElementReferenceException, WebDriverException
    from selenium.webdriver.common.by import By
    from selenium.webdriver.remote.remote_connection import RemoteConnection
    from selenium.webdriver.support.ui import WebDriverWait
    from selenium.webdriver.webkitgtk.options import Options
except ImportError as error:
    print(f"skipped: Selenium is missing ({error}; Debian package python3-selenium)")
    sys.exit(SKIP)

signal.alarm(240)  # a test that hangs ends itself
RemoteConnection.set_timeout(60)  # each WebDriver request


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def wait_for_listener(port, limit=30):
    deadline = time.monotonic() + limit
    while True:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return
        except OSError:
            if time.monotonic() > deadline:
                raise AssertionError(f"WebKitWebDriver does not listen on port {port}")
            time.sleep(0.1)


def device(home, *words):
    """Runs `tavero device --home HOME WORDS...`; its standard output."""
    done = subprocess.run([tavero, "device", "--home", home, *words], capture_output=True, text=True, timeout=60)
    if done.returncode != 0:
        raise AssertionError(f"tavero device {' '.join(words)}: {done.stderr.strip()}")
    return done.stdout.strip()


class DemoSession:
    """WebKitWebDriver and a session whose browser is the demo in tavero."""

    def __enter__(self):
        self.home = tempfile.mkdtemp(prefix="tavero-webdriver-")
        port = free_port()
        self.server = subprocess.Popen([driver_binary, "--host=127.0.0.1", f"--port={port}"],
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        options = Options()
        options.set_capability("browserName", "tavero")  # the name tavero reports, not MiniBrowser
        options.binary_location = tavero
        for argument in ["run", demo, "--automation", "--headless", "--port", "0", "--home", self.home]:
            options.add_argument(argument)
        self.driver = None
        try:
            wait_for_listener(port)
            self.driver = webdriver.Remote(command_executor=f"http://127.0.0.1:{port}", options=options)
        except BaseException:
            self.__exit__()  # the driver and an app it may have started end here too
            raise
        # The demo redraws its lists when an answer comes: an element found
        # just before a redraw is stale, and the wait looks again.
        self.wait = WebDriverWait(self.driver, 15, ignored_exceptions=[StaleElementReferenceException])
        return self

    def __exit__(self, *exception):
        try:
            if self.driver:
                self.driver.quit()
        except WebDriverException:
            pass  # the app ends with its window; the driver may report it gone
        subprocess.run([tavero, "device", "--home", self.home, "app", "terminate"], capture_output=True, timeout=30)
        self.server.terminate()
        try:
            self.server.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.server.kill()
        shutil.rmtree(self.home, ignore_errors=True)


def clicking_typing_and_a_service(session):
    driver, wait = session.driver, session.wait
    assert driver.title == "Tavero Demo", driver.title
    assert driver.execute_script("return typeof Kio.sql.openDatabase") == "function"  # the page client is there
    text = lambda element_id: driver.find_element(By.ID, element_id).text
    driver.find_element(By.ID, "vibrate-button").click()
    wait.until(lambda _: text("vibration").startswith("Vibrated 1 time"))
    assert len(json.loads(device(session.home, "events", "vibrations"))) == 1  # the device recorded it
    # A note goes through the bridge into the encrypted database and back.
    driver.find_element(By.ID, "note").send_keys("written by Selenium")
    driver.find_element(By.CSS_SELECTOR, "#note-form button").click()
    wait.until(lambda _: driver.find_element(By.CSS_SELECTOR, "#notes li").text.startswith("written by Selenium"))
    assert driver.find_element(By.ID, "note").get_attribute("value") == ""
    png = driver.get_screenshot_as_png()
    assert png.startswith(b"\x89PNG"), png[:8]


def the_device_played_by_tavero_device(session):
    driver, wait, home = session.driver, session.wait, session.home
    text = lambda element_id: driver.find_element(By.ID, element_id).text
    # A native dialog: WebDriver cannot see it; tavero device answers it.
    driver.find_element(By.ID, "alert-button").click()
    wait.until(lambda _: "Hello from Tavero" in device(home, "alert", "list"))
    assert device(home, "alert", "press", "1") == 'pressed "No" on alert 1'
    wait.until(lambda _: text("alert").startswith('You pressed "no"'))
    # A position sent by the device reaches the page.
    device(home, "geo", "fix", "48.8584", "2.2945")
    wait.until(lambda _: text("position").startswith("48.8584, 2.2945"))


failures = 0
for test in (clicking_typing_and_a_service, the_device_played_by_tavero_device):
    started = time.monotonic()
    try:
        with DemoSession() as session:
            test(session)
        print(f"ok   {test.__name__} ({time.monotonic() - started:.1f} s)")
    except Exception as error:  # report every test, then fail
        failures += 1
        print(f"FAIL {test.__name__}: {type(error).__name__}: {error}")
sys.exit(1 if failures else 0)
