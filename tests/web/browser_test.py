#!/usr/bin/python3
"""The web view in headless Chromium against tarvel-cli watch --http over tarvel-sim.

    browser_test.py TARVEL_CLI TARVEL_SIM [--screenshots DIR]

The overview shows what the simulator's controllers hold, a controller that does not answer
raises an alarm the page acknowledges in the operator's name, a load's report downloads as a
PDF, and off loopback the page is refused without the login. With --screenshots it only takes
the pictures for docs/ (overview, controller page, phone width)."""

import base64
import os
import re
import shutil
import socket
import ssl
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.request

if not shutil.which("chromedriver") or not os.path.exists("/usr/bin/chromium"):
    print("skipped: chromium and chromium-driver are not installed (scripts/deps.sh)")
    sys.exit(77)
try:
    from selenium import webdriver
except ImportError:
    print("skipped: python3-selenium is not installed (scripts/deps.sh)")
    sys.exit(77)

from selenium.webdriver.chrome.service import Service as ChromeService
from selenium.common.exceptions import StaleElementReferenceException
from selenium.webdriver.common.by import By
from selenium.webdriver.support import expected_conditions as EC
from selenium.webdriver.support.ui import WebDriverWait as SeleniumWait

CLI, SIM = sys.argv[1], sys.argv[2]
SHOTS = sys.argv[sys.argv.index("--screenshots") + 1] if "--screenshots" in sys.argv else None
WAIT = 60  # seconds: a loaded machine is slow, never a reason to fail

PROFILE_CSV = ("Seg,Start Time,Duration,Action,Start Temp,End Temp,Ramp Rate,Error Limits,Command,\"Notify t,T\"\n"
               "1,0,60,r,70,250,3.00,10,,\n2,60.00,120,h,250,250,0,10,,\n3,180.00,,e,250,,,,,\n")


def WebDriverWait(driver, seconds):
    # The pages redraw as readings come: an element found a moment ago may be gone.
    return SeleniumWait(driver, seconds, ignored_exceptions=[StaleElementReferenceException])


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def cli(home, *args, port=None):
    cmd = [CLI, "--home", home] + (["--port", port] if port else []) + list(args)
    run = subprocess.run(cmd, capture_output=True, text=True, timeout=120)
    if run.returncode != 0:
        raise AssertionError(f"{' '.join(args)}: exit {run.returncode}\n{run.stdout}{run.stderr}")
    return run.stdout


class Line:
    """A simulator with units 1 and 2, a home mapping them and channel 3 (an address nobody
    answers), and the watch serving the web view."""

    def __init__(self, http, extra=()):
        self.home = tempfile.mkdtemp(prefix="tarvel-web-")
        self.sim = subprocess.Popen([SIM, "--units", "1,2", "--turnaround", "1", "--speed", "60"],
                                    stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.device = self.sim.stdout.readline().strip()
        assert self.device.startswith("/dev/pts/"), self.device
        for channel, name in (("1", "Kiln"), ("2", "Oven"), ("3", "Dryer")):
            cli(self.home, "channel", "add", channel, channel, name)
        self.watch = subprocess.Popen([CLI, "--home", self.home, "--port", self.device, "watch", "--every", "1",
                                       "--no-reply-after", "2", "--http", http] + list(extra),
                                      stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        # The watch says where the view is once it listens.
        for line in self.watch.stderr:
            if "web view on " in line:
                self.url = line.split("web view on ", 1)[1].strip()
                break
        else:
            raise AssertionError("the watch did not start its web view")

    def close(self):
        for process in (self.watch, self.sim):
            process.terminate()
            process.wait(timeout=30)
        shutil.rmtree(self.home, ignore_errors=True)


def browser(downloads=None, width=1280, height=900):
    options = webdriver.ChromeOptions()
    for arg in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", f"--window-size={width},{height}",
                "--ignore-certificate-errors"):
        options.add_argument(arg)
    if downloads:
        options.add_experimental_option("prefs", {"download.default_directory": downloads,
                                                  "download.prompt_for_download": False})
    return webdriver.Chrome(service=ChromeService("/usr/bin/chromedriver"), options=options)


def field(driver, channel, name):
    return driver.find_element(By.CSS_SELECTOR, f'[id="c-/{channel}"] [data-field="{name}"]').text


def overview_equals_the_simulator(line, driver):
    driver.get(line.url)
    wait = WebDriverWait(driver, WAIT)
    for channel in (1, 2):
        # What the controller holds, read through the watch's service as tarvel-cli reads it.
        state = cli(line.home, "state", str(channel), port=line.device)
        pv = re.search(r"^Process value:\s+(-?\d+)$", state, re.M)
        sp = re.search(r"^Profile set point:\s+(-?\d+)$", state, re.M)
        assert pv and sp, state
        wait.until(lambda d: [field(d, channel, f) for f in ("processValue", "setPoint", "step")] ==
                   [pv.group(1), sp.group(1), "1"])


def alarm_appears_and_is_acknowledged(line, driver):
    driver.get(line.url + "alarms")
    wait = WebDriverWait(driver, WAIT)
    operator = wait.until(EC.presence_of_element_located((By.ID, "operator")))
    operator.clear()
    operator.send_keys("Ann Smith")
    driver.execute_script("localStorage.setItem('operator', 'Ann Smith')")
    # Channel 3 has never answered: its "no reply" alarm comes within seconds.
    wait.until(lambda d: d.find_element(By.CSS_SELECTOR, 'button.ack[data-channel="3"]').click() or True)
    wait.until(lambda d: "by Ann Smith" in d.find_element(By.CSS_SELECTOR, 'tr[data-channel="3"] .acked').text)
    listed = cli(line.home, "alarm", "list")
    assert "ch 3" in listed and "acknowledged by Ann Smith" in listed, listed


def report_downloads(line, driver, downloads):
    folder = os.path.join(line.home, "Profiles")
    with open(os.path.join(line.home, "cure.csv"), "w") as out:
        out.write(PROFILE_CSV)
    cli(line.home, "profile", "build", "--sensor", "K", "--temp", "F", "--time", "M",
        os.path.join(line.home, "cure.csv"), os.path.join(folder, "cure.txt"))
    cli(line.home, "upload", "1", "cure.txt", "1", "--yes", port=line.device)
    cli(line.home, "select", "1", "cure.txt", "--yes", port=line.device)
    cli(line.home, "start", "1", "--front-panel", "--operator", "Ann Smith", port=line.device)
    driver.get(line.url + "loads")
    WebDriverWait(driver, WAIT).until(lambda d: d.find_element(By.CSS_SELECTOR, "#loads a.pdf").click() or True)
    deadline = time.time() + WAIT
    while time.time() < deadline:
        done = [f for f in os.listdir(downloads) if f.endswith(".pdf")]
        if done:
            with open(os.path.join(downloads, done[0]), "rb") as pdf:
                data = pdf.read()
            assert data.startswith(b"%PDF-") and b"%%EOF" in data[-1024:], data[:64]
            return
        time.sleep(0.2)
    raise AssertionError("no PDF was downloaded")


def login_is_refused_off_loopback():
    work = tempfile.mkdtemp(prefix="tarvel-tls-")
    key, cert, passwords = (os.path.join(work, n) for n in ("key.pem", "cert.pem", "users"))
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=localhost",
                    "-days", "1", "-keyout", key, "-out", cert], check=True, capture_output=True)
    with open(passwords, "w") as out:
        out.write("ann:correct horse\n")
    # Refused at the start without a password file.
    home = tempfile.mkdtemp(prefix="tarvel-web-")
    refused = subprocess.run([CLI, "--home", home, "--port", "/dev/null", "watch", "--http", "0.0.0.0:8443"],
                             capture_output=True, text=True, timeout=60)
    assert refused.returncode == 2 and "give --http-password-file FILE" in refused.stderr, refused.stderr
    line = Line(f"0.0.0.0:{free_port()}", ["--http-password-file", passwords, "--http-cert", cert, "--http-key", key])
    driver = browser()
    try:
        url = line.url.replace("0.0.0.0", "127.0.0.1")
        assert url.startswith("https://"), url
        # The browser asks for the login and shows nothing of the page meanwhile.
        driver.get(url)
        assert not driver.find_elements(By.ID, "main"), driver.page_source
        context = ssl.create_default_context(cafile=cert)
        context.check_hostname = False
        request = urllib.request.Request(url + "api/controllers")
        try:
            urllib.request.urlopen(request, context=context)
            raise AssertionError("the controllers were given without the login")
        except urllib.error.HTTPError as e:
            assert e.code == 401 and "needs a login" in e.read().decode(), e.code
        request.add_header("Authorization", "Basic " + base64.b64encode(b"ann:correct horse").decode())
        deadline = time.time() + WAIT
        while b'"channel":1' not in urllib.request.urlopen(request, context=context).read():
            assert time.time() < deadline, "no reading with the login"
            time.sleep(0.2)
        request.headers["Authorization"] = "Basic " + base64.b64encode(b"ann:wrong").decode()
        try:
            urllib.request.urlopen(request, context=context)
            raise AssertionError("a wrong password was let in")
        except urllib.error.HTTPError as e:
            assert e.code == 401
    finally:
        driver.quit()
        line.close()
        shutil.rmtree(work, ignore_errors=True)
        shutil.rmtree(home, ignore_errors=True)


def screenshots(line, folder):
    os.makedirs(folder, exist_ok=True)
    driver = browser()
    try:
        overview_equals_the_simulator(line, driver)
        time.sleep(5)  # a few readings for the sparklines: a picture, not a test
        driver.save_screenshot(os.path.join(folder, "web-overview.png"))
        driver.get(line.url + "controller?channel=1")
        WebDriverWait(driver, WAIT).until(EC.presence_of_element_located((By.CSS_SELECTOR, "svg.trend")))
        driver.save_screenshot(os.path.join(folder, "web-controller.png"))
        driver.set_window_size(390, 844)
        driver.get(line.url)
        WebDriverWait(driver, WAIT).until(EC.presence_of_element_located((By.CSS_SELECTOR, ".card")))
        driver.save_screenshot(os.path.join(folder, "web-phone.png"))
    finally:
        driver.quit()


def main():
    line = Line(str(free_port()))
    try:
        if SHOTS:
            report_downloads_dir = tempfile.mkdtemp()
            driver = browser(report_downloads_dir)
            report_downloads(line, driver, report_downloads_dir)  # a load under way for the trend
            driver.quit()
            screenshots(line, SHOTS)
            return
        downloads = tempfile.mkdtemp(prefix="tarvel-dl-")
        driver = browser(downloads)
        try:
            overview_equals_the_simulator(line, driver)
            alarm_appears_and_is_acknowledged(line, driver)
            report_downloads(line, driver, downloads)
        finally:
            driver.quit()
            shutil.rmtree(downloads, ignore_errors=True)
    finally:
        line.close()
    login_is_refused_off_loopback()
    print("browser test: ok")


if __name__ == "__main__":
    main()
