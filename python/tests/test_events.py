"""Event callbacks from the library's event thread: the GIL is taken for the callback and
released by every call that can wait for that thread."""

import sys
import threading
import time

import kxapi
from conftest import wait_until


def test_frequency_and_parameter_changes_reach_the_other_client(sim):
    events = []
    threads = set()

    def on_event(event):
        threads.add(threading.get_ident())
        events.append(event)

    with kxapi.DemodPort(3460000001, 0) as watcher, kxapi.DemodPort(3460000001, 0) as tuner:
        tuner.tune(474_000_000, 15)
        watcher.on_event(on_event)
        tuner.tune(306_000_000, 15)
        assert wait_until(lambda: any(e["kind"] == "frequency" for e in events))
        change = next(e for e in events if e["kind"] == "frequency")
        assert change["serial"] == 3460000001 and change["port_index"] == 0
        assert change["new_frequency"] == 306_000_000
        assert threading.get_ident() not in threads  # delivered on the event thread
        for event in events:
            if event["kind"] == "parameters":
                assert event["new_parameters"][0] == 15


def test_mask_selects_event_kinds_and_none_unregisters(sim):
    events = []
    with kxapi.DemodPort(3460000001, 0) as watcher, kxapi.DemodPort(3460000001, 0) as tuner:
        watcher.on_event(events.append, kxapi.EVENT_PARAMETERS)
        tuner.tune(474_000_000, 15)
        tuner.tune(306_000_000, 15)
        assert wait_until(lambda: events)
        time.sleep(0.3)
        assert {e["kind"] for e in events} == {"parameters"}
        watcher.on_event(None)
        events.clear()
        tuner.tune(474_000_000, 15)
        time.sleep(0.5)
        assert events == []


def test_callback_exception_is_reported_and_events_go_on(sim, monkeypatch):
    reported = []
    monkeypatch.setattr(sys, "unraisablehook", lambda info: reported.append(info.exc_value))
    events = []

    def failing(event):
        events.append(event)
        raise ValueError("callback failed")

    with kxapi.DemodPort(3460000001, 0) as watcher, kxapi.DemodPort(3460000001, 0) as tuner:
        watcher.on_event(failing, kxapi.EVENT_FREQUENCY)
        tuner.tune(474_000_000, 15)
        tuner.tune(306_000_000, 15)
        assert wait_until(lambda: len(events) >= 1 and reported)
        tuner.tune(474_000_000, 15)
        assert wait_until(lambda: len(events) >= 2)
    assert isinstance(reported[0], ValueError)


def test_close_while_a_callback_runs(sim):
    """close() stops the event thread while the callback is running: close must give the GIL
    up while it waits for that thread, or the callback can never finish."""
    entered = threading.Event()
    finished = []

    def slow(event):
        entered.set()
        time.sleep(0.5)  # gives the GIL up; it needs it back to return
        finished.append(event)

    with kxapi.DemodPort(3460000001, 0) as tuner:
        watcher = kxapi.DemodPort(3460000001, 0)
        watcher.on_event(slow, kxapi.EVENT_FREQUENCY)
        tuner.tune(474_000_000, 15)
        tuner.tune(306_000_000, 15)
        assert entered.wait(2.0)
        closer = threading.Thread(target=watcher.close, daemon=True)
        closer.start()
        closer.join(3.0)
        assert not closer.is_alive(), "close did not return within 3 s"
        assert not watcher.is_open
        assert finished


def test_other_threads_run_while_a_call_waits(sim):
    """Calls that wait on the service release the GIL: a Python thread keeps counting."""
    counter = [0]
    stop = threading.Event()

    def count():
        while not stop.is_set():
            counter[0] += 1

    with kxapi.DemodPort(3460000001, 0) as port:
        port.tune(474_000_000, 15)
        worker = threading.Thread(target=count)
        worker.start()
        try:
            before = counter[0]
            port.wait_lock(0.5)
            for _ in range(20):
                port.statistics("Lock")
            assert counter[0] > before
        finally:
            stop.set()
            worker.join()
