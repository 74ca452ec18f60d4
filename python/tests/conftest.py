"""Shared fixtures: KxapiServiceSim in the foreground on a private FIFO directory, started the
way tests/support starts it (--no-daemon --fifo-dir DIR), and the package pointed at it."""

import ctypes
import os
import shutil
import signal
import subprocess
import tempfile
import time

import pytest

import kxapi

SIM_BINARY = os.environ.get("KX_SIM_BINARY", "build/sim/KxapiServiceSim")
LISTENERS = ("DemodRecvPipe", "KxeRecvPipe", "KxGlobalRecvPipe", "KxSimCtrlPipe")
START_LIMIT_S = 10.0


def _end_with_parent():
    """In the child before exec: SIGTERM when the test process dies (a test run killed by its
    time-out leaves no service behind)."""
    PR_SET_PDEATHSIG = 1
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGTERM)


class SimProcess:
    def __init__(self, directory):
        self.dir = directory
        self.log_path = os.path.join(directory, "service.log")
        self._log = open(self.log_path, "wb")
        self.process = subprocess.Popen([SIM_BINARY, "--no-daemon", "--fifo-dir", directory],
                                        stdout=self._log, stderr=subprocess.STDOUT,
                                        preexec_fn=_end_with_parent)
        deadline = time.monotonic() + START_LIMIT_S
        while not all(os.path.exists(os.path.join(directory, name)) for name in LISTENERS):
            if self.process.poll() is not None or time.monotonic() > deadline:
                self.stop()
                raise RuntimeError("KxapiServiceSim did not start: " + self.log())
            time.sleep(0.02)

    def log(self):
        with open(self.log_path, "rb") as log:
            return log.read().decode(errors="replace")

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self._log.close()
        return self.process.returncode

    def remove(self):
        shutil.rmtree(self.dir, ignore_errors=True)


_current_dir = [None]  # the directory the package is pointed at


def _use(directory):
    kxapi.set_fifo_dir(directory)
    _current_dir[0] = directory


def _start():
    # A short path directly in /tmp: a connection request carries each FIFO path in 100 bytes.
    directory = tempfile.mkdtemp(prefix="kxpy-")
    try:
        sim = SimProcess(directory)
    except Exception:
        shutil.rmtree(directory, ignore_errors=True)
        raise
    _use(directory)
    # The service initialises its cards after its FIFOs exist: wait for the 3460's port.
    if not wait_until(_port_ready, START_LIMIT_S):
        sim.stop()
        sim.remove()
        raise RuntimeError("the virtual 3460 was not ready: " + sim.log())
    return sim


def _port_ready():
    try:
        with kxapi.DemodPort(3460000001, 0):
            return True
    except kxapi.Error:
        return False


@pytest.fixture(scope="module")
def sim():
    """One simulator for the tests of a module that leave its cards as they found them."""
    service = _start()
    yield service
    status = service.stop()
    assert status == 0, service.log()
    service.remove()


@pytest.fixture
def fresh_sim():
    """A simulator of its own, for tests that plug, unplug or move carriers; the package is
    pointed back at the module's simulator afterwards."""
    previous = _current_dir[0]
    service = _start()
    yield service
    if previous is not None and os.path.isdir(previous):
        _use(previous)
    status = service.stop()
    assert status == 0, service.log()
    service.remove()


@pytest.fixture
def tuned_3460(sim):
    """The virtual 3460's I/Q port tuned to its carrier at 474 MHz and locked."""
    with kxapi.DemodPort(3460000001, 0) as port:
        port.tune(474_000_000, 15)
        assert port.wait_lock(5.0), "the virtual 3460 does not lock on its carrier"
        yield port


def wait_until(predicate, limit_s=2.0):
    deadline = time.monotonic() + limit_s
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(0.01)
    return predicate()
