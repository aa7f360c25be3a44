"""Writes a fleet of captures for fleet.py to decode: COUNT logs of devices that ran one of three
firmware builds, made from the QEMU firmware sample's capture (examples/firmware/raw.log).

    python3 make_fleet.py FOLDER [COUNT]

Each capture is one boot session of one device (dev-000 ... ; a device has several sessions, and
some were updated between them): its host lines, its firmware's announcement of the build it
runs, and a part of the sample's records, so that the counts differ from capture to capture. The
same COUNT gives the same files.
"""
import random
import re
import sys
from pathlib import Path

SAMPLE = Path(__file__).resolve().parent.parent / "firmware" / "raw.log"
BUILDS = ["4.4.0.0031", "4.4.0.0030", "4.3.9.0007"]
SESSIONS_PER_DEVICE = 3


def main():
    folder = Path(sys.argv[1])
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 240
    lines = SAMPLE.read_bytes().splitlines()
    # The sample's first device: its lines, and the host's.
    own = [line for line in lines if b"[ID:" not in line or b"[ID:wlan0]" in line]
    folder.mkdir(parents=True, exist_ok=True)
    for old in folder.glob("*.log"):
        old.unlink()
    chance = random.Random(count)
    for capture in range(count):
        device = f"dev-{capture // SESSIONS_PER_DEVICE:03d}".encode()
        build = chance.choice(BUILDS).encode()
        keep = chance.uniform(0.3, 1.0)
        out = []
        for line in own:
            if b"[FW_ELF_VER]" in line:
                line = re.sub(rb"\[\d+\.\d+\.\d+\.\d+\]", b"[" + build + b"]", line)
            elif b"[FW_LOG-R]" in line and chance.random() > keep:
                continue
            out.append(line.replace(b"[ID:wlan0]", b"[ID:" + device + b"]")
                       .replace(b"wlan0", device))
        session = capture % SESSIONS_PER_DEVICE
        (folder / f"{device.decode()}-{session}.log").write_bytes(b"\n".join(out) + b"\n")


if __name__ == "__main__":
    main()
