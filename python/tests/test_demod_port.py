"""A receiver port through the package: tuning, parameters, statistics with units, scans."""

import pytest

import kxapi


def test_statistics_carry_value_unit_and_raw(tuned_3460):
    stats = tuned_3460.statistics_by_name()
    assert set(stats) == {"Lock", "RfLvlUncalib", "TempTuner"}
    assert stats["Lock"]["value"] is True and stats["Lock"]["unit"] == ""
    level = stats["RfLvlUncalib"]
    assert level["unit"] == "dBmV" and level["raw_unit"] == "0.1 dBmV"
    assert isinstance(level["raw"], int)
    assert level["value"] == level["raw"] / 10  # exactly: -12 reads -1.2, not -1.2000000000000002
    assert level["text"] == f"{level['value']:.1f} dBmV"
    assert -3.0 < level["value"] < 0.5  # a -50 dBm carrier reads about -1.2 dBmV
    temperature = stats["TempTuner"]
    assert temperature["unit"] == "degC" and temperature["value"] == temperature["raw"]
    assert 40 <= temperature["value"] <= 45
    assert all(stat["error"] is None and stat["result"] < 4096 for stat in stats.values())


def test_statistics_by_name_id_or_list(tuned_3460):
    by_name = tuned_3460.statistics("rflvluncalib")
    by_id = tuned_3460.statistics(7)
    both = tuned_3460.statistics(["Lock", 9])
    assert [s["id"] for s in by_name] == [7] and [s["id"] for s in by_id] == [7]
    assert [s["name"] for s in both] == ["Lock", "TempTuner"]
    with pytest.raises(ValueError):
        tuned_3460.statistics("NoSuchStatistic")
    with pytest.raises(ValueError):
        tuned_3460.statistics(99999)


def test_unsupported_statistic_reports_its_error(tuned_3460):
    (mer,) = tuned_3460.statistics("MER")
    assert mer["value"] is None and mer["raw"] is None
    assert mer["error"] == kxapi.result_name(mer["result"]) and mer["error"].startswith("KXAPI_E_")
    assert mer["unit"] == "dB" and mer["raw_unit"] == "0.1 dB"


def test_supported_statistics_name_their_units(tuned_3460):
    supported = {row["name"]: row for row in tuned_3460.supported_statistics()}
    assert supported["RfLvlUncalib"]["unit"] == "dBmV"
    table = {row["id"]: row for row in kxapi.statistic_table()}
    for row in supported.values():
        assert table[row["id"]] == row


def test_tune_forms_and_parameters(sim):
    with kxapi.DemodPort(3460000001, 0) as port:
        port.tune_xml(306_000_000, '<KxDemodPars mod="15"><Iq bw="8000000" iqdt="0" samp="0"/></KxDemodPars>')
        assert port.wait_lock(5.0)
        assert port.frequency() == 306_000_000
        assert port.parameters().startswith('<KxDemodPars mod="15"')
        with pytest.raises(kxapi.Error) as raised:
            port.tune(2_000_000_000, 15)  # above the 3460's 870 MHz
        assert raised.value.operation == "tune"
        with pytest.raises(kxapi.Error) as raised:
            port.tune_xml(474_000_000, "<NotParameters/>")
        assert raised.value.operation == "parameters XML"
        assert port.frequency() == 306_000_000  # refused tunes changed nothing


def test_closed_port_refuses_calls(sim):
    port = kxapi.DemodPort(3460000001, 0)
    port.close()
    port.close()
    assert not port.is_open
    with pytest.raises(kxapi.Error) as raised:
        port.frequency()
    assert raised.value.name == "KXAPI_E_NOT_INITIALIZED"


def _scanning_port():
    """A port of a card whose receiver scans, or None."""
    for card in kxapi.list_cards():
        for index in range(card["ports"]):
            try:
                port = kxapi.DemodPort(card["serial"], index)
            except kxapi.Error:
                continue
            try:
                port.spectrum_scan(-1, -1, 50_000_000)
                return port
            except kxapi.Error:
                port.close()
    return None


def test_refused_scan_raises_and_leaves_the_port_usable(tuned_3460):
    steps = []
    for scan in (lambda: tuned_3460.spectrum_scan(100_000_000, 200_000_000, 1_000_000, progress=steps.append),
                 lambda: tuned_3460.blind_scan(100_000_000, 200_000_000, 8_000_000, progress=steps.append)):
        with pytest.raises(kxapi.Error) as raised:
            scan()
        assert raised.value.name == "KXAPI_E_NOT_SUPPORTED"
    assert steps == []
    assert tuned_3460.statistics("Lock")[0]["value"] is True


def test_spectrum_scan_reports_progress_and_can_be_cancelled(sim):
    port = _scanning_port()
    if port is None:
        pytest.skip("no receiver model of this build scans (the virtual 3460 refuses scans)")
    with port:
        steps = []
        points = port.spectrum_scan(-1, -1, 10_000_000, progress=steps.append)
        assert points and steps == points
        assert all(p["unit"] == "dBmV" for p in points)
        frequencies = [p["frequency"] for p in points]
        assert frequencies == sorted(frequencies)
        seen = []
        partial = port.spectrum_scan(-1, -1, 10_000_000, progress=lambda p: seen.append(p) or len(seen) < 2)
        assert len(partial) < len(points)
