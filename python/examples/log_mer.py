#!/usr/bin/env python3
"""Logs the MER of every locked receiver port to CSV, once per interval.

    python3 log_mer.py [--fifo-dir DIR] [--interval SECONDS] [--count N] [--output FILE]

Columns: time (ISO 8601, UTC), serial, port (0-based), mer_db, mer_raw (tenths of a dB as the
service reports them). Only ports that report Lock are logged; a port that is locked but does
not report MER gets empty MER columns. Cards come from kxapi.list_cards(): those of a running
KxapiServiceSim, else this machine's device scan. Ctrl-C stops.
"""

import argparse
import csv
import datetime
import sys
import time

import kxapi


def open_ports():
    """Every port the service serves; the others are counted by the reason they were refused."""
    ports = []
    refused = {}
    for card in kxapi.list_cards():
        for index in range(card["ports"]):
            try:
                ports.append(kxapi.DemodPort(card["serial"], index))
            except kxapi.Error as error:
                refused.setdefault(error.name, []).append(f"{card['serial']}/{index}")
    for name, where in sorted(refused.items()):
        print(f"log_mer: {len(where)} port(s) not served ({name}): {' '.join(where[:4])}"
              f"{' ...' if len(where) > 4 else ''}", file=sys.stderr)
    return ports


def log_once(ports, writer):
    now = datetime.datetime.now(datetime.timezone.utc).isoformat(timespec="milliseconds")
    for port in ports:
        stats = port.statistics_by_name(["Lock", "MER"])
        if stats["Lock"]["value"] is not True:
            continue
        mer = stats["MER"]
        writer.writerow([now, port.serial, port.port_index,
                         "" if mer["value"] is None else f"{mer['value']:.1f}",
                         "" if mer["raw"] is None else mer["raw"]])


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--fifo-dir", help="the --fifo-dir of the service to reach")
    parser.add_argument("--interval", type=float, default=1.0, help="seconds between samples")
    parser.add_argument("--count", type=int, default=0, help="number of samples (0: until Ctrl-C)")
    parser.add_argument("--output", help="CSV file (default: standard output)")
    args = parser.parse_args(argv)
    if args.fifo_dir:
        kxapi.set_fifo_dir(args.fifo_dir)

    out = open(args.output, "w", newline="") if args.output else sys.stdout
    writer = csv.writer(out)
    writer.writerow(["time", "serial", "port", "mer_db", "mer_raw"])
    ports = open_ports()
    try:
        sample = 0
        while args.count == 0 or sample < args.count:
            if sample:
                time.sleep(args.interval)
            log_once(ports, writer)
            out.flush()
            sample += 1
    except KeyboardInterrupt:
        pass
    finally:
        for port in ports:
            port.close()
        if out is not sys.stdout:
            out.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
