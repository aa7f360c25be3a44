"""Decodes a fleet's captures across the workers of a Dask cluster and counts the errors and
warnings that the firmware logged, per device and per firmware version, in pandas DataFrames.

    python3 fleet.py CAPTURES [--elf FILE] [--scheduler ADDRESS] [--workers N]

Without --scheduler it starts a LocalCluster of N worker processes (default 2) on this machine.
Given the address of a running Dask scheduler (tcp://host:8786), the same code runs on that
cluster's workers, on as many machines as it has; every worker must be able to import kivlog and
read the captures and the ELF file under the same paths (a shared file system).
"""
import argparse
import collections
from pathlib import Path

import pandas
from distributed import Client, LocalCluster

import kivlog

ERROR_LEVELS = {"CRITICAL", "ERROR"}


def summarise(capture, elf):
    """One row per device of a capture: its firmware and how many records, errors and warnings
    it logged. Runs on a worker; the decoder releases the GIL while it reads the file."""
    firmware = {}
    counts = collections.defaultdict(collections.Counter)
    for event in kivlog.Decoder(elf=elf).decode_file(capture):
        device = event.get("device", "")
        if "umac" in event:
            # "KIV-UMAC.4.4.0.0031 sample build ...": the build is its first word's version.
            firmware[device] = event["umac"].split()[0].split(".", 1)[-1]
        elif "message" in event:
            counts[device]["records"] += 1
            if event["level"] in ERROR_LEVELS:
                counts[device]["errors"] += 1
            elif event["level"] == "WARNING":
                counts[device]["warnings"] += 1
    return [{"capture": Path(capture).name, "device": device,
             "firmware": firmware.get(device, "unknown"), "records": c["records"],
             "errors": c["errors"], "warnings": c["warnings"]} for device, c in counts.items()]


def fleet_table(client, captures, elf):
    futures = client.map(summarise, captures, elf=elf)
    rows = [row for rows in client.gather(futures) for row in rows]
    return pandas.DataFrame(rows, columns=["capture", "device", "firmware", "records", "errors",
                                           "warnings"])


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("captures", type=Path, help="a folder of raw logs (*.log)")
    parser.add_argument("--elf", type=Path,
                        default=Path(__file__).resolve().parent.parent / "firmware" / "kiv_log.elf")
    parser.add_argument("--scheduler", help="a Dask scheduler's address; default: a local cluster")
    parser.add_argument("--workers", type=int, default=2, help="the local cluster's processes")
    args = parser.parse_args()
    captures = sorted(str(p.resolve()) for p in args.captures.glob("*.log"))
    elf = str(args.elf.resolve())

    if args.scheduler:
        client = Client(args.scheduler)
    else:
        client = Client(LocalCluster(n_workers=args.workers, threads_per_worker=1,
                                     dashboard_address=None))
    with client:
        table = fleet_table(client, captures, elf)

    per_device = table.groupby("device")[["records", "errors", "warnings"]].sum()
    per_firmware = table.groupby("firmware").agg(
        devices=("device", "nunique"), captures=("capture", "nunique"), records=("records", "sum"),
        errors=("errors", "sum"), warnings=("warnings", "sum"))
    pandas.set_option("display.width", 120)
    print(f"{len(captures)} captures, {table['device'].nunique()} devices")
    print("\nMost errors per device:")
    print(per_device.sort_values(["errors", "warnings"], ascending=False).head(10).to_string())
    print("\nPer firmware version:")
    print(per_firmware.to_string())


if __name__ == "__main__":
    main()
