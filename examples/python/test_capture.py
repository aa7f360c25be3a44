"""A hardware-in-the-loop test: the device's log is decoded line by line as it arrives, and the
test asserts on what the firmware logged: messages, levels and values.

On a bench the lines come from the device's serial port (kivlog-uart turns its bytes into lines)
or from the host's kernel log; here they come from the capture of the QEMU run of the firmware
sample in examples/firmware, so that the test runs anywhere:

    python3 -m pytest examples/python/test_capture.py
"""
from pathlib import Path

import kivlog
import pytest

FIRMWARE = Path(__file__).resolve().parent.parent / "firmware"


def signed(value):
    """A record's 32-bit value as the firmware's int32_t."""
    return value - (1 << 32) if value >= 1 << 31 else value


class DeviceLog:
    """The decoded log of a capture, fed one line at a time as the device writes it."""

    def __init__(self, lines, elf):
        self.lines = iter(lines)
        self.decoder = kivlog.Decoder(elf=elf)
        self.events = []

    def records(self, device):
        return [e for e in self.events if "message" in e and e.get("device") == device]

    def wait_for(self, predicate, within=200):
        """Reads up to `within` more lines until an event satisfies `predicate`; returns it."""
        for _ in range(within):
            line = next(self.lines, None)
            if line is None:
                break
            new = self.decoder.decode(line)
            self.events.extend(new)
            for event in new:
                if predicate(event):
                    return event
        pytest.fail("not seen in time")

    def read_to_end(self):
        for line in self.lines:
            self.events.extend(self.decoder.decode(line))


@pytest.fixture
def device_log():
    # A serial reader would yield each line as it arrives, without its line end.
    with open(FIRMWARE / "raw.log", "rb") as capture:
        yield DeviceLog((line.rstrip(b"\r\n") for line in capture), FIRMWARE / "kiv_log.elf")


def test_the_device_runs_the_firmware_under_test(device_log):
    announced = device_log.wait_for(lambda e: e.get("device") == "wlan0" and "umac" in e)
    assert announced["compatible"]
    assert announced["umac"].startswith("KIV-UMAC.4.4.0.0031 ")
    assert announced["lmac"].startswith("KIV-LMAC.4.4.0.0031 ")


def test_both_cores_come_up_first(device_log):
    device_log.wait_for(lambda e: e.get("message", "").startswith("lmac up"))
    first, second, third = device_log.records("wlan0")[:3]
    assert (first["type"], first["level"]) == ("UMAC", "ALWAYS")
    assert first["message"] == "umac up, firmware 4.4"
    assert second["level"] == "INFO1"
    assert (third["type"], third["message"]) == ("LMAC", "lmac up, 4 queues")


def test_calibration_gain_steps_stay_within_limits(device_log):
    device_log.wait_for(lambda e: e.get("message", "").startswith("scan complete"))
    steps = [r for r in device_log.records("wlan0") if r["format"].startswith("gain step")]
    assert len(steps) == 6
    assert [r["values"][0] for r in steps] == [0, 1, 2, 0, 1, 2]
    assert all(-6 <= signed(r["values"][1]) <= 10 for r in steps)


def test_a_scan_finds_the_access_points(device_log):
    done = device_log.wait_for(lambda e: e.get("message", "").startswith("scan complete"))
    results, milliseconds = done["values"]
    assert results >= 1
    assert milliseconds < 100
    assert done["message"] == f"scan complete, {results} results in {milliseconds} ms"


def test_only_known_errors_are_logged(device_log):
    device_log.read_to_end()
    known = ("rx queue overflow", "beacon miss count", "calibration drift", "watchdog fed late")
    errors = [r for r in device_log.records("wlan0") if r["level"] in ("ERROR", "CRITICAL")]
    assert errors, "the sample logs errors on purpose"
    unknown = [r["message"] for r in errors if not r["message"].startswith(known)]
    assert unknown == []
    dropped = [r["values"][0] for r in errors if r["message"].startswith("rx queue overflow")]
    assert sum(dropped) == 7


def test_the_second_device_reports_its_other_lmac_build(device_log):
    announced = device_log.wait_for(lambda e: e.get("device") == "wlan1" and "umac" in e)
    assert not announced["compatible"]
    assert announced["lmac"].startswith("KIV-LMAC.4.3.9.0007 ")
