#!/usr/bin/python3
"""One plant view over two PCs: each runs tarvel-cli watch on its own simulated line and
publishes to its hall's broker, the second hall's broker is bridged to the plant's, and a third
tarvel-cli watch --from-mqtt serves the plant's web view. Both lines' controllers are shown,
each with its own line, nickname and the values its controller holds.

    plant_test.py TARVEL_CLI TARVEL_SIM"""

import json
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request

MOSQUITTO = shutil.which("mosquitto") or ("/usr/sbin/mosquitto" if os.path.exists("/usr/sbin/mosquitto") else None)
if not MOSQUITTO:
    print("skipped: mosquitto is not installed (scripts/deps.sh)")
    sys.exit(77)

CLI, SIM = sys.argv[1], sys.argv[2]
WAIT = 90  # seconds: a loaded machine is slow, never a reason to fail
processes, folders = [], []


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start(cmd, **kw):
    p = subprocess.Popen(cmd, **kw)
    processes.append(p)
    return p


def broker(extra=""):
    port = free_port()
    folder = tempfile.mkdtemp(prefix="tarvel-plant-broker-")
    folders.append(folder)
    conf = os.path.join(folder, "mosquitto.conf")
    with open(conf, "w") as f:
        f.write(f"listener {port} 127.0.0.1\nallow_anonymous true\npersistence false\n{extra}")
    start([MOSQUITTO, "-c", conf], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.time() + WAIT
    while time.time() < deadline:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return port
        except OSError:
            time.sleep(0.1)
    raise AssertionError("mosquitto did not listen")


def cli(home, *args, port=None):
    cmd = [CLI, "--home", home] + (["--port", port] if port else []) + list(args)
    run = subprocess.run(cmd, capture_output=True, text=True, timeout=120)
    assert run.returncode == 0, f"{' '.join(args)}: exit {run.returncode}\n{run.stdout}{run.stderr}"
    return run.stdout


def pc(nickname, broker_port, prefix):
    """A PC with one controller on its own simulated line, publishing under prefix."""
    home = tempfile.mkdtemp(prefix="tarvel-plant-")
    folders.append(home)
    sim = start([SIM, "--units", "1", "--turnaround", "1"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                text=True)
    device = sim.stdout.readline().strip()
    assert device.startswith("/dev/pts/"), device
    cli(home, "channel", "add", "1", "1", nickname)
    start([CLI, "--home", home, "--port", device, "watch", "--every", "1", "--mqtt",
           f"mqtt://127.0.0.1:{broker_port}/{prefix}"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return home, device


def main():
    plant = broker()
    hall = broker(f"connection plant\naddress 127.0.0.1:{plant}\ntopic plant/# out 1\n")
    lines = {"plant/hall1": pc("Kiln", plant, "plant/hall1"), "plant/hall2": pc("Oven", hall, "plant/hall2")}

    view_home = tempfile.mkdtemp(prefix="tarvel-plant-view-")
    folders.append(view_home)
    view = start([CLI, "--home", view_home, "watch", "--from-mqtt", f"mqtt://127.0.0.1:{plant}/plant", "--http",
                  str(free_port())], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    for line in view.stderr:
        if "web view on " in line:
            url = line.split("web view on ", 1)[1].split()[0]
            break
    else:
        raise AssertionError("the plant view did not start its web view")

    deadline, shown = time.time() + WAIT, {}
    while time.time() < deadline:
        with urllib.request.urlopen(url + "api/controllers", timeout=10) as answer:
            controllers = json.load(answer)
        shown = {c["line"]: c for c in controllers if c.get("channel") == 1 and c.get("processValue") is not None}
        if set(shown) == set(lines):
            break
        time.sleep(0.5)
    assert set(shown) == set(lines), f"lines shown: {sorted(shown)}"

    for prefix, nickname in (("plant/hall1", "Kiln"), ("plant/hall2", "Oven")):
        home, device = lines[prefix]
        assert shown[prefix]["nickName"] == nickname, shown[prefix]
        # What the controller holds, read through that PC's watch as tarvel-cli reads it.
        state = cli(home, "state", "1", port=device)
        sp = int(re.search(r"^Profile set point:\s+(-?\d+)$", state, re.M).group(1))
        assert shown[prefix]["setPoint"] == sp, (prefix, shown[prefix], state)
    print("plant view: both halls' channel 1 shown apart, with their controllers' values")


try:
    main()
finally:
    for p in reversed(processes):
        p.terminate()
        try:
            p.wait(timeout=30)
        except subprocess.TimeoutExpired:
            p.kill()
    for folder in folders:
        shutil.rmtree(folder, ignore_errors=True)
