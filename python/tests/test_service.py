"""The service version, failures as kxapi.Error, and the simulator's controls."""

import os
import tempfile

import pytest

import kxapi
from conftest import wait_until


def test_version_is_the_built_service_version(sim):
    version = kxapi.service_version()
    assert len(version) == 4 and all(isinstance(part, int) for part in version)
    expected = os.environ.get("KX_PROJECT_VERSION")
    if expected:
        assert ".".join(str(part) for part in version[:3]) == expected


def test_no_service_raises_connect_error(sim, tmp_path):
    kxapi.set_fifo_dir(str(tmp_path))
    try:
        with pytest.raises(kxapi.Error) as raised:
            kxapi.service_version()
        assert raised.value.name == "KXAPI_E_CONNECT_TO_SERVICE"
        assert raised.value.code == 4212
        assert kxapi.result_name(raised.value.code) == raised.value.name
        assert raised.value.operation == "service version"
    finally:
        kxapi.set_fifo_dir(sim.dir)


@pytest.mark.parametrize("serial, port_index, name", [
    (1234, 0, "KXAPI_E_NO_SUCH_DEVICE"),     # no card has this serial
    (3460000001, 1, "KXAPI_E_NO_SUCH_PORT"),  # the 3460 has one port
    (3460000001, 7, "KXAPI_E_NO_SUCH_PORT"),
])
def test_attach_refusals_raise_the_service_code(sim, serial, port_index, name):
    with pytest.raises(kxapi.Error) as raised:
        kxapi.DemodPort(serial, port_index)
    assert raised.value.name == name


def test_set_fifo_dir_of_a_missing_directory_raises(sim):
    with pytest.raises(kxapi.Error) as raised:
        kxapi.set_fifo_dir(os.path.join(sim.dir, "missing"))
    assert raised.value.name == "KXAPI_E_NOT_FOUND"
    assert kxapi.service_version()  # the previous directory is still in use


def test_cards_of_the_simulator_match_its_list(sim):
    simulated = {card["serial"]: card for card in kxapi.Simulator().list()}
    cards = {card["serial"]: card for card in kxapi.list_cards()}
    assert simulated.keys() == cards.keys()
    assert cards[3460000001]["model"] == 3460 and cards[3460000001]["ports"] == 1
    for serial, card in cards.items():
        assert card["model"] == simulated[serial]["model"]
        assert card["sub_type"] == simulated[serial]["sub_type"]


def attach_error(serial):
    """None when port 0 of the card attaches, else the error's name."""
    try:
        with kxapi.DemodPort(serial, 0):
            return None
    except kxapi.Error as error:
        return error.name


def test_unplug_and_plug_back(fresh_sim):
    simulator = kxapi.Simulator()
    serials = {card["serial"] for card in simulator.list()}
    assert 3460000001 in serials
    simulator.unplug(3460000001)
    assert wait_until(lambda: 3460000001 not in {c["serial"] for c in kxapi.list_cards()})
    assert wait_until(lambda: attach_error(3460000001) == "KXAPI_E_NO_SUCH_DEVICE")

    card = {"model": 3460, "serial": 3460000009,
            "properties": [{"name": "MOD_FREQ_MIN", "value": 42}, {"name": "MOD_FREQ_MAX", "value": 870}],
            "inputs": [[{"freqHz": 474000000, "standard": "DVB-T", "constellation": 64,
                         "bandwidthHz": 7610000, "levelDbm": -50.0, "cnDb": 26.0}]]}
    simulator.plug(card)
    assert 3460000009 in {c["serial"] for c in simulator.list()}
    assert wait_until(lambda: attach_error(3460000009) is None, 5.0)


def test_moved_carrier_locks_at_its_new_frequency(fresh_sim):
    simulator = kxapi.Simulator()
    simulator.carrier_move(3460000001, 0, 474_000_000, 482_000_000)
    with kxapi.DemodPort(3460000001, 0) as port:
        port.tune(474_000_000, 15)
        assert not port.wait_lock(1.0)
        port.tune(482_000_000, 15)
        assert port.wait_lock(5.0)
        assert port.frequency() == 482_000_000
    with pytest.raises(kxapi.Error):
        simulator.carrier_remove(3460000001, 0, 474_000_000)  # nothing is left there
