"""python/examples/log_mer.py against the simulator: one row per locked port."""

import csv
import io
import os
import subprocess
import sys

import kxapi

EXAMPLE = os.path.join(os.environ.get("KX_EXAMPLES_DIR", os.path.join(os.path.dirname(__file__), "..", "examples")),
                       "log_mer.py")


def run_example(sim, *extra):
    result = subprocess.run([sys.executable, EXAMPLE, "--fifo-dir", sim.dir, "--interval", "0.1", *extra],
                            capture_output=True, text=True, timeout=60, env=dict(os.environ))
    assert result.returncode == 0, result.stderr
    return list(csv.reader(io.StringIO(result.stdout)))


def test_locked_port_is_logged_and_unlocked_ones_are_not(sim):
    with kxapi.DemodPort(3460000001, 0) as port:
        port.tune(474_000_000, 15)
        assert port.wait_lock(5.0)
        rows = run_example(sim, "--count", "2")
        assert rows[0] == ["time", "serial", "port", "mer_db", "mer_raw"]
        assert [row[1:3] for row in rows[1:]] == [["3460000001", "0"]] * 2
        # The 3460 reports no MER: its columns stay empty.
        assert all(row[3] == "" and row[4] == "" for row in rows[1:])
        port.tune(600_000_000, 15)  # no carrier there
        assert not port.wait_lock(1.0)
        assert run_example(sim, "--count", "1")[1:] == []
