#!/usr/bin/env python3
"""kovex-server --web --web-from-mqtt against a real mosquitto and a second kovex-server publishing station
"a": in headless Chromium the page's meters read what the publisher's topics (and its panels' TCP reads)
say, /stations lists "a" online with those values, and once the publisher stops both say it is offline
and show no values.

usage: webfeed_test.py KOVEX-SERVER
Exit 77 (skipped) when mosquitto or chromium is not installed.
"""
import os
import shutil
import sys

sys.dont_write_bytecode = True
here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, here)
sys.path.insert(0, os.path.join(here, "..", "web"))
from mqttproc import Broker, Server, Subscriber, wait_until  # noqa: E402
from publish_test import FROZEN, expected_payloads  # noqa: E402
import serverproc  # noqa: E402

SERVER = sys.argv[1]
QUANTITIES = {"fuel flow": "fuel_flow_kgph", "oil pressure": "oil_pressure_psi",
              "oil temperature": "oil_temperature_c"}
METERS = "Object.fromEntries([...document.querySelectorAll('[role=meter]')].map(m => " \
         "[m.getAttribute('aria-label'), m.getAttribute('aria-valuetext')]))"
STATIONS = "[...document.querySelectorAll('.station')].map(s => [s.dataset.name, " \
           "s.querySelector('.status').textContent, [...s.querySelectorAll('td')].map(t => t.textContent)])"
LIVE = "!document.getElementById('panel').classList.contains('stale')"


def wait_shows(browser, expression, want, what):
    """Waits until the page's expression gives want; a page still loading may throw meanwhile."""
    def shows():
        try:
            return browser.eval(expression) == want
        except RuntimeError:
            return False
    wait_until(shows, what, 30)


def main():
    if not all(shutil.which(p) for p in ("mosquitto", "mosquitto_sub", "chromium")):
        print("mosquitto or chromium is not installed; skipped")
        return 77
    from browser import Browser
    broker = Broker()
    sub = Subscriber(broker, "kovexfuel/a/#")
    publisher = Server(SERVER, f"mqtt://127.0.0.1:{broker.port}", "--mqtt-station", "a", *FROZEN)
    web = serverproc.Server(SERVER, "--web", "0", "--no-announce", "--lifetime", "200",
                            "--web-from-mqtt", f"mqtt://127.0.0.1:{broker.port}/a")
    browser = Browser()
    try:
        publisher.wait_line("mqtt: connected to")
        topics = {m[2][len("kovexfuel/a/"):]: m[3] for m in (sub.first(f"kovexfuel/a/engine{e}/{q}")
                  for e in (1, 2) for q in list(QUANTITIES.values()) + ["running"])}
        tcp = expected_payloads(publisher.port)
        for topic, payload in topics.items():
            want = tcp[topic]
            assert payload == (want if isinstance(want, str) else f"{want:.1f}"), (topic, payload, want)
        units = {"fuel_flow_kgph": " kg/h", "oil_pressure_psi": " psi", "oil_temperature_c": " °C"}
        meters = {f"Engine {e} {q}": str(float(topics[f"engine{e}/{t}"])).removesuffix(".0") + units[t]
                  for e in (1, 2) for q, t in QUANTITIES.items()}

        browser.call("Page.navigate", url=web.url + "stations")
        cells = [f"{float(topics[f'engine{e}/{t}']):.1f}" for t in QUANTITIES.values() for e in (1, 2)] + \
                ["yes" if topics[f"engine{e}/running"] == "true" else "no" for e in (1, 2)]
        wait_shows(browser, STATIONS, [["a", "online", cells]], "/stations listing station a online with its values")

        browser.call("Page.navigate", url=web.url)
        wait_shows(browser, f"{LIVE} && {METERS}", meters, f"the page live with the publisher's values {meters}")
        print("the page and /stations show station a live, with the values its topics and TCP reads give")

        assert publisher.stop() == 0
        browser.wait_for(f"!({LIVE}) && document.getElementById('note').textContent.includes('station a is offline')"
                         f" && Object.values({METERS}).every(t => t === 'no live value')",
                         "the page says station a is offline and drops its values", 30)
        browser.call("Page.navigate", url=web.url + "stations")
        wait_shows(browser, STATIONS, [["a", "offline", ["–"] * 8]], "/stations showing station a offline")
        print("once the publisher stops, the page and /stations say station a is offline, without values")
        assert web.stop() == 0
        return 0
    finally:
        browser.close()
        web.stop()
        publisher.stop()
        sub.close()
        broker.close()


if __name__ == "__main__":
    sys.exit(main())
