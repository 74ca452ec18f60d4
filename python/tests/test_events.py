"""Event callbacks from the library's event thread: the GIL is taken for the callback and
released by every call that can wait for that thread."""

import sys
import threading
import time

import kxapi
from conftest import wait_until


def settle(port, frequency):
    """Tunes and waits until the port has executed it, so the next tune is a change (a tune
    still waiting in the port's queue is replaced by a newer one)."""
    port.tune(frequency, 15)
    assert port.wait_lock(5.0)


def test_frequency_and_parameter_changes_reach_the_other_client(sim):
    events = []
    threads = set()

    def on_event(event):
        threads.add(threading.get_ident())
        events.append(event)

    with kxapi.DemodPort(3460000001, 0) as watcher, kxapi.DemodPort(3460000001, 0) as tuner:
        settle(tuner, 474_000_000)
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
        settle(tuner, 474_000_000)
        watcher.on_event(events.append, kxapi.EVENT_PARAMETERS)
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
        settle(tuner, 474_000_000)
        watcher.on_event(failing, kxapi.EVENT_FREQUENCY)
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
        settle(tuner, 474_000_000)
        watcher.on_event(slow, kxapi.EVENT_FREQUENCY)
        tuner.tune(306_000_000, 15)
        assert entered.wait(2.0)
        closer = threading.Thread(target=watcher.close, daemon=True)
        closer.start()
        closer.join(3.0)
        assert not closer.is_alive(), "close did not return within 3 s"
        assert not watcher.is_open
        assert finished


def test_registration_while_a_callback_runs(sim):
    """The library holds the port's callback lock while the callback runs; changing the
    registration meanwhile must give the GIL up while it waits for that lock, or neither side
    can go on."""
    entered = threading.Event()
    calls = []

    def slow(event):
        calls.append(event)
        entered.set()
        time.sleep(0.5)  # gives the GIL up; it needs it back to return

    with kxapi.DemodPort(3460000001, 0) as watcher, kxapi.DemodPort(3460000001, 0) as tuner:
        settle(tuner, 474_000_000)
        watcher.on_event(slow, kxapi.EVENT_FREQUENCY)
        tuner.tune(306_000_000, 15)
        assert entered.wait(2.0)
        changer = threading.Thread(target=watcher.on_event, args=(None,), daemon=True)
        changer.start()
        changer.join(3.0)
        assert not changer.is_alive(), "on_event did not return within 3 s"
        count = len(calls)
        tuner.tune(474_000_000, 15)
        time.sleep(0.5)
        assert len(calls) == count  # unregistered: no more calls
