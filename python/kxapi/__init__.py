"""The Kxapi device API for Python: receiver ports of KxapiService, its version, and the
controls of the simulator KxapiServiceSim.

    import kxapi
    kxapi.set_fifo_dir("/tmp/kxsim")          # only for a service started with --fifo-dir
    print(kxapi.service_version())            # (3, 8, 7, 96)
    with kxapi.DemodPort(3460000001, 0) as port:
        port.tune(474_000_000, 15)
        port.wait_lock(3.0)
        for stat in port.statistics():
            print(stat["name"], stat["value"], stat["unit"])

Failed calls raise kxapi.Error (attributes code, name, operation).
"""

import atexit
import json
import weakref

from ._kxapi import (EVENT_FREQUENCY, EVENT_PARAMETERS, Error, list_cards, result_name,
                     service_version, set_fifo_dir, statistic_table)
from . import _kxapi

__all__ = ["DemodPort", "Simulator", "Error", "EVENT_FREQUENCY", "EVENT_PARAMETERS", "list_cards",
           "result_name", "service_version", "set_fifo_dir", "statistic_table"]

# Ports still open when the interpreter ends are closed before it tears down, so their event
# threads never wait for an interpreter that is gone.
_open_ports = weakref.WeakSet()


class DemodPort(_kxapi.DemodPort):
    __doc__ = _kxapi.DemodPort.__doc__

    def __init__(self, serial, port_index, reply_timeout=10.0):
        super().__init__(serial, port_index, reply_timeout)
        _open_ports.add(self)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def statistics_by_name(self, which=None):
        """statistics(which) as a dict keyed by statistic name."""
        return {stat["name"]: stat for stat in self.statistics(which)}

    def __repr__(self):
        state = "open" if self.is_open else "closed"
        return f"<kxapi.DemodPort {self.serial} port {self.port_index} ({state})>"


class Simulator(_kxapi.Simulator):
    __doc__ = _kxapi.Simulator.__doc__

    def plug(self, card):
        """Plugs a virtual card: its scenario JSON as text or as a dict."""
        super().plug(card if isinstance(card, str) else json.dumps(card))

    def carrier_add(self, serial, input, carrier):
        """Adds a carrier to an input: its JSON as text or as a dict."""
        super().carrier_add(serial, input, carrier if isinstance(carrier, str) else json.dumps(carrier))


@atexit.register
def _close_open_ports():
    for port in list(_open_ports):
        port.close()
