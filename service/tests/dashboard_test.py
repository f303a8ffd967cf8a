#!/usr/bin/python3
"""The dashboard in a real browser: headless Chromium (Selenium) against a
varnakd on 127.0.0.1 that decodes generated stations, two of them fed live
through pipes at the bit rate so that the test can change what they send.

Checks: the table lists the stations with their PS; a PS change reaches the
page within a second of the service knowing it; raised alarms show their
badges; a radiotext holding markup stays text; the station page plots the
quality history; the page says so when the connection drops; a phone-wide
window needs no sideways scrolling.

    dashboard_test.py --varnakd BIN --rdsgen BIN --web DIR [--screenshot PNG]

Exit status 77 (skipped) when Chromium, its driver or Selenium is missing.
"""

import argparse
import datetime
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.error
import urllib.request

SKIP = 77
CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
BIT_RATE = 1187.5
GROUP_BITS = 104

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.common.exceptions import TimeoutException
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError:
    webdriver = None

# The stations: frequency -> (description, how it is received).
KESTREL = """pi 0xC2A1
pty 10
tp 1
ps "KESTREL "
af 97.4 89.1
rt A "<script>window.injected=1</script><b>Kestrel</b> & co"
ct 2026-12-08 19:55:57 +1
"""
FALCON = KESTREL.replace('"KESTREL "', '"FALCON  "').replace(
    '"<script>window.injected=1</script><b>Kestrel</b> & co"', '"Falcon Drive Time - the best music on the coast"')
# Sends a PI other than its profile's: the PI alarm.
HARRIER = """pi 0xC2A2
pty 3
tp 0
ps "HARRIER "
rt A "Harrier Info - news and weather on the hour"
"""
OSPREY = """pi 0xD3C1
pty 14
tp 0
ps "OSPREY  "
rt A "Osprey Classic - Brahms, Piano Concerto No. 2"
"""
WREN = """pi 0xC5A3
pty 1
tp 0
ps "WREN    "
rt A "Wren Talk - phone-in until midnight"
"""
MERLIN = """pi 0xC4B2
pty 5
tp 1
ps "MERLIN  "
rt A "Merlin 89.1 - traffic and travel every 20 minutes"
"""


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def iso(t):
    return datetime.datetime.fromtimestamp(t, datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ")


class Feeder(threading.Thread):
    """Writes bit text into a FIFO at 1187.5 bit/s, as a receiver would;
    switch() goes over to other bits at the next group boundary."""

    def __init__(self, path, bits):
        super().__init__(daemon=True)
        self.path, self.bits, self.pos = path, bits, 0
        self.lock = threading.Lock()
        self.stop = threading.Event()
        self.switched_at = None

    def switch(self, bits):
        with self.lock:
            self.pos = -(-self.pos // GROUP_BITS) * GROUP_BITS
            self.bits = bits
            self.switched_at = time.monotonic()

    def run(self):
        try:
            with open(self.path, "wb", buffering=0) as out:
                began, sent = time.monotonic(), 0
                while not self.stop.is_set():
                    due = int((time.monotonic() - began) * BIT_RATE) - sent
                    if due > 0:
                        with self.lock:
                            chunk = self.bits[self.pos:self.pos + due]
                            if len(chunk) < due:  # loop the recording
                                self.pos = 0
                                continue
                            self.pos += due
                        out.write(chunk)
                        sent += due
                    time.sleep(0.02)
        except (BrokenPipeError, OSError):
            pass


class Check:
    failures = 0
    began = time.monotonic()

    @classmethod
    def that(cls, ok, what):
        print(f"{time.monotonic() - cls.began:5.1f} s  " + ("ok    " if ok else "FAIL  ") + what, flush=True)
        if not ok:
            cls.failures += 1
        return ok


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--varnakd", required=True)
    p.add_argument("--rdsgen", required=True)
    p.add_argument("--web", required=True, help="the dashboard folder")
    p.add_argument("--screenshot", help="also save the dashboard at 1280x800 here")
    p.add_argument("--keep", action="store_true", help="keep the scratch folder")
    args = p.parse_args()
    if webdriver is None or not os.access(CHROMIUM, os.X_OK) or not os.access(CHROMEDRIVER, os.X_OK):
        print("skipped: needs chromium, chromium-driver and python3-selenium")
        return SKIP

    tmp = tempfile.mkdtemp(prefix="varnak-dash-")
    varnakd = driver = None
    feeders = []
    try:
        def generate(name, description, *options):
            with open(os.path.join(tmp, name + ".rds"), "w") as f:
                f.write(description)
            out = os.path.join(tmp, name + (".wav" if "--mpx" in options else ".txt"))
            subprocess.run([args.rdsgen, os.path.join(tmp, name + ".rds"), "-o", out, *options], check=True)
            return out

        def bits(name, description, seconds):
            with open(generate(name, description, "-d", str(seconds)), "rb") as f:
                return f.read()

        now = time.time()
        kestrel, falcon = bits("kestrel", KESTREL, 60), bits("falcon", FALCON, 60)
        harrier = bits("harrier", HARRIER, 60)
        # Ten minutes two hours ago, a few errors: the history to plot.
        osprey = generate("osprey", OSPREY, "-d", "600", "--error-rate", "0.004")
        merlin = generate("merlin", MERLIN, "--mpx", "-d", "8", "--cnr", "28")
        wren = generate("wren", WREN, "-d", "30", "--error-rate", "0.01")
        fifos = {}
        for name in ("kestrel", "harrier"):
            fifos[name] = os.path.join(tmp, name + ".pipe")
            os.mkfifo(fifos[name])

        port = free_port()
        config = os.path.join(tmp, "varnakd.conf")
        with open(config, "w") as f:
            # (source, kind, file, frequency, what else)
            sources = [("kestrel", "bits", fifos["kestrel"], "98.5", "live = yes\nretry = 0.2"),
                       ("harrier", "bits", fifos["harrier"], "101.1", "live = yes\nretry = 0.2"),
                       ("osprey", "bits", osprey, "104.3", "start = " + iso(now - 7200)),
                       ("merlin", "mpx", merlin, "89.1", "start = " + iso(now - 10)),
                       ("wren", "bits", wren, "93.7", "start = " + iso(now - 30))]
            f.write(f"[service]\nsite = north\nstate = {tmp}\n"
                    f"[web]\nlisten = 127.0.0.1:{port}\ndashboard = {args.web}\n")
            for name, kind, path, freq, more in sources:
                f.write(f"[source {name}]\nkind = {kind}\npath = {path}\nfrequency = {freq}\n{more}\n")
            f.write("[station 98.5]\npi = C2A1\nps = KESTREL\nhold = 0\n[station 101.1]\npi = C2A1\nhold = 0\n")
        log = open(os.path.join(tmp, "varnakd.log"), "w")
        base = f"http://127.0.0.1:{port}/"

        def api(path):
            with urllib.request.urlopen(base + path, timeout=5) as r:
                return json.load(r)

        def start_varnakd():
            process = subprocess.Popen([args.varnakd, "--config", config], stderr=log)
            deadline = time.monotonic() + 20
            while True:
                try:
                    api("api/health")
                    return process
                except urllib.error.HTTPError:
                    return process  # it answers, if only to ask for the token
                except (urllib.error.URLError, ConnectionError):
                    if process.poll() is not None or time.monotonic() > deadline:
                        raise RuntimeError("varnakd did not answer; its log: " + open(log.name).read())
                    time.sleep(0.1)

        varnakd = start_varnakd()
        feeders = [Feeder(fifos["kestrel"], kestrel), Feeder(fifos["harrier"], harrier)]
        for feeder in feeders:
            feeder.start()

        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for a in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                  "--window-size=1280,800", "--force-device-scale-factor=1", "--lang=en"):
            options.add_argument(a)
        driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
        wait = WebDriverWait(driver, 15, poll_frequency=0.05)
        driver.get(base)

        # Read in one script: the page replaces rows as states arrive.
        def texts(selector):
            return driver.execute_script(
                "return [...document.querySelectorAll(arguments[0])].map((n) => n.innerText.trimEnd())", selector)

        def cell(freq, column):
            found = texts(f'tr[data-id="north/{freq}"] td.{column}')
            return found[0] if found else None

        def count(selector):
            return driver.execute_script("return document.querySelectorAll(arguments[0]).length", selector)

        def eventually(condition):
            try:
                return bool(wait.until(lambda d: condition()))
            except TimeoutException:
                return False

        # Every station with its PS, in the order of their frequencies.
        expected = {"89.1": "MERLIN", "93.7": "WREN", "98.5": "KESTREL", "101.1": "HARRIER", "104.3": "OSPREY"}
        eventually(lambda: all(cell(f, "ps-cell") == ps for f, ps in expected.items()))
        for f, ps in expected.items():
            Check.that(cell(f, "ps-cell") == ps, f"station {f} listed with PS {ps} (shows {cell(f, 'ps-cell')!r})")
        Check.that(texts("#connection") == ["Live"], "the status line says Live")
        order = driver.execute_script(
            "return [...document.querySelectorAll('#stations tbody tr')].map((r) => r.dataset.id)")
        Check.that(order == ["north/" + f for f in expected], f"sorted by frequency: {order}")

        # The radiotext's markup stays text.
        eventually(lambda: "<script>" in (cell("98.5", "rt") or ""))
        rt = cell("98.5", "rt") or ""
        Check.that(rt == "<script>window.injected=1</script><b>Kestrel</b> & co", f"radiotext shown as text: {rt!r}")
        Check.that(driver.execute_script("return window.injected === undefined") and
                   count("td.rt b, td.rt script") == 0, "no markup from the radiotext")

        # The PI alarm's badge; the signal bar of the multiplex station.
        Check.that(eventually(lambda: count('tr[data-id="north/101.1"] .badge.alarm-pi')), "PI alarm badge on 101.1")
        signal = cell("89.1", "signal-cell") or ""
        Check.that(signal.startswith("C/N "), f"89.1 signal shows C/N: {signal!r}")

        # PS change: the page must follow the service within a second.
        feeders[0].switch(falcon)
        api_seen = page_seen = None
        end = time.monotonic() + 15
        while time.monotonic() < end and page_seen is None:
            if api_seen is None:
                s = next((s for s in api("api/stations")["stations"] if s.get("name") == "98.5"), {})
                if s.get("ps", "").strip() == "FALCON":
                    api_seen = time.monotonic()
            if cell("98.5", "ps-cell") == "FALCON":
                page_seen = time.monotonic()
            time.sleep(0.03)
        Check.that(page_seen is not None, "the new PS FALCON shows on the page")
        if page_seen is not None:
            lag = page_seen - (api_seen or page_seen)
            print(f"      the stream changed {page_seen - feeders[0].switched_at:.2f} s before the page showed it, "
                  f"the API {lag:.2f} s before it")
            Check.that(lag < 1.0, f"page within a second of the API ({lag:.2f} s)")
        Check.that(eventually(lambda: count('tr[data-id="north/98.5"] .badge.alarm-ps')), "PS alarm badge on 98.5")
        if args.screenshot:
            eventually(lambda: (cell("98.5", "rt") or "").startswith("Falcon"))
            driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                                   {"width": 1280, "height": 800, "deviceScaleFactor": 1, "mobile": False})
            driver.save_screenshot(args.screenshot)
            driver.execute_cdp_cmd("Emulation.clearDeviceMetricsOverride", {})
            print("      screenshot", args.screenshot)
        driver.find_element(By.ID, "nav-alarms").click()
        Check.that(eventually(lambda: count("#active-alarms tbody tr") >= 2), "the alarm page lists the active alarms")

        # The station page plots the recording's quality history.
        driver.get(base + "#/station/north/104.3")

        def plotted():
            return driver.execute_script("return [...document.querySelectorAll('#quality-plot .ber polyline')]"
                                         ".reduce((n, p) => n + p.points.numberOfItems, 0)")

        eventually(lambda: plotted() >= 8)
        Check.that(plotted() >= 8, f"block errors plotted from the history ({plotted()} points)")
        eventually(lambda: any("OSPREY" in t for t in texts("#texts tbody tr")))
        listed = texts("#texts tbody tr")
        Check.that(any("OSPREY" in t for t in listed), f"texts over time list the PS: {listed}")

        # A phone: no sideways scrolling.
        driver.set_window_size(390, 844)
        driver.get(base + "#/")
        eventually(lambda: count("#stations tbody tr") == len(expected))
        width = driver.execute_script("return [document.documentElement.scrollWidth, window.innerWidth]")
        Check.that(width[0] <= width[1], f"phone width fits ({width[0]} <= {width[1]})")

        # The service goes away: the page says so.
        varnakd.terminate()
        Check.that(varnakd.wait(20) == 0, f"varnakd stops cleanly (exit status {varnakd.returncode})")
        eventually(lambda: texts("#connection")[0].startswith("Connection lost"))
        status = texts("#connection")[0]
        Check.that(status.startswith("Connection lost"), f"connection loss shown: {status!r}")

        # It comes back wanting a token: the open page asks for it, then goes
        # live with it (the WebSocket carries it as a query parameter).
        token = "dashboard-test-token-4f1c9a"
        with open(os.path.join(tmp, "token"), "w") as f:
            f.write(token + "\n")
        with open(config) as f:
            text = f.read()
        with open(config, "w") as f:
            f.write(text.replace("[web]\n", f"[web]\ntoken-file = {tmp}/token\n"))
        varnakd = start_varnakd()
        Check.that(eventually(lambda: count("#token")), "the page asks for the token")
        driver.find_element(By.ID, "token").send_keys(token + "\n")
        Check.that(eventually(lambda: texts("#connection") == ["Live"] and count("#stations tbody tr") >= 3),
                   f"live again with the token: {texts('#connection')}, {count('#stations tbody tr')} stations")
    finally:
        for feeder in feeders:
            feeder.stop.set()
        if driver:
            driver.quit()
        if varnakd and varnakd.poll() is None:
            varnakd.terminate()
            try:
                varnakd.wait(10)
            except subprocess.TimeoutExpired:
                varnakd.kill()
                varnakd.wait()
        if varnakd and Check.failures:
            print("varnakd log:\n" + open(os.path.join(tmp, "varnakd.log")).read()[-4000:])
        if args.keep:
            print("kept", tmp)
        else:
            shutil.rmtree(tmp, ignore_errors=True)
    print("failures:", Check.failures)
    return 1 if Check.failures else 0


if __name__ == "__main__":
    sys.exit(main())
