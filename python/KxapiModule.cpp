// The extension module kxapi._kxapi: the device API library for Python. The package kxapi
// (kxapi/__init__.py) re-exports it; see the README's "Scripting from Python".
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "CrossPlatform.h"
#include "KxDevice.h"
#include "KxGlobalSvcClient.h"
#include "KxModelTable.h"
#include "KxPyDemodPort.h"
#include "KxPyErrors.h"
#include "KxPyStatistic.h"
#include "KxStatistic.h"
#include "SimControlProtocol.h"

namespace py = pybind11;
using KxPy::Check;
using KxPy::PyDemodPort;

namespace {

constexpr int MAX_DEVICES = 150; // 50 driver nodes of each of the three families
constexpr unsigned int VERSION_REPLY_TIMEOUT_MS = 5000;

py::tuple ServiceVersion()
{
    KxServiceVersion version;
    KXAPI_RESULT result;
    {
        py::gil_scoped_release release;
        KxGlobalSvcClient client;
        client.SetReplyTimeout(VERSION_REPLY_TIMEOUT_MS);
        result = client.GetServiceVersion(version);
    }
    Check(result, "service version");
    return py::make_tuple(version.m_Major, version.m_Minor, version.m_Revision, version.m_Build);
}

void SetFifoDirectory(const std::string& directory)
{
    Check(Xp::SetIpcDirectory(directory.c_str()), "FIFO directory");
}

// One line "model sub-type serial family" of the simulator's card list.
struct SimCardLine {
    int m_Model = 0;
    int m_SubType = 0;
    int64_t m_Serial = 0;
    std::string m_Family;
};

std::vector<SimCardLine> ParseSimList(const std::string& text)
{
    std::vector<SimCardLine> cards;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        start = end == std::string::npos ? text.size() : end + 1;
        SimCardLine card;
        long long serial = 0;
        char family[64] = {};
        int fields = sscanf(line.c_str(), "%d %d %lld %63s", &card.m_Model, &card.m_SubType, &serial, family);
        if (fields < 3)
            continue;
        card.m_Serial = serial;
        card.m_Family = fields == 4 ? family : "";
        cards.push_back(card);
    }
    return cards;
}

py::dict CardDict(int64_t serial, int model, int subType, int firmware)
{
    const KxModelInfo* pModel = KxFindModel(model, subType);
    py::dict card;
    card["serial"] = serial;
    card["model"] = model;
    card["sub_type"] = subType;
    card["firmware"] = firmware < 0 ? py::object(py::none()) : py::object(py::int_(firmware));
    card["ports"] = pModel != nullptr ? pModel->m_NumPorts : 0;
    return card;
}

// The cards of a running KxapiServiceSim, else the library's device scan of this machine.
py::list ListCards()
{
    std::string text;
    KXAPI_RESULT simResult;
    std::vector<KxDeviceDesc> descs(MAX_DEVICES);
    int found = 0;
    KXAPI_RESULT scanResult = KXAPI_OK;
    {
        py::gil_scoped_release release;
        SimControlClient simulator;
        simResult = simulator.List(text);
        if (simResult != KXAPI_OK)
            scanResult = KxapiDeviceScan(MAX_DEVICES, found, descs.data(), false, 1);
    }
    py::list cards;
    if (simResult == KXAPI_OK) {
        for (const SimCardLine& card : ParseSimList(text))
            cards.append(CardDict(card.m_Serial, card.m_Model, card.m_SubType, -1));
        return cards;
    }
    if (scanResult != KXAPI_E_BUF_TOO_SMALL)
        Check(scanResult, "device scan");
    for (int i = 0; i < found && i < MAX_DEVICES; i++) {
        const KxDeviceDesc& desc = descs[static_cast<size_t>(i)];
        cards.append(CardDict(desc.m_Serial, desc.m_TypeNumber, desc.m_SubType, desc.m_FirmwareVersion));
    }
    return cards;
}

py::list StatisticTable()
{
    py::list rows;
    for (size_t row = 0; row < Kxapi::KxStatisticCount(); row++)
        rows.append(KxPy::StatisticInfoToDict(Kxapi::KxStatisticRow(row)));
    return rows;
}

// kxapi.Simulator: the control FIFO of a running KxapiServiceSim.
class PySimulator {
public:
    py::list List()
    {
        std::string text;
        KXAPI_RESULT result;
        {
            py::gil_scoped_release release;
            result = m_Client.List(text);
        }
        Check(result, "simulator list");
        py::list cards;
        for (const SimCardLine& line : ParseSimList(text)) {
            py::dict card;
            card["model"] = line.m_Model;
            card["sub_type"] = line.m_SubType;
            card["serial"] = line.m_Serial;
            card["family"] = line.m_Family;
            cards.append(card);
        }
        return cards;
    }
    void Plug(const std::string& cardJson) { Run([&] { return m_Client.Plug(cardJson); }, "simulator plug"); }
    void Unplug(int64_t serial) { Run([&] { return m_Client.Unplug(serial); }, "simulator unplug"); }
    void Power(int64_t serial, bool on) { Run([&] { return m_Client.Power(serial, on); }, "simulator power"); }
    void CarrierAdd(int64_t serial, int input, const std::string& carrierJson)
    {
        Run([&] { return m_Client.Carrier(serial, input, SIM_CARRIER_ADD, 0, 0, carrierJson); }, "carrier add");
    }
    void CarrierRemove(int64_t serial, int input, int64_t freqHz)
    {
        Run([&] { return m_Client.Carrier(serial, input, SIM_CARRIER_REMOVE, freqHz, 0, ""); }, "carrier remove");
    }
    void CarrierMove(int64_t serial, int input, int64_t fromHz, int64_t toHz)
    {
        Run([&] { return m_Client.Carrier(serial, input, SIM_CARRIER_MOVE, fromHz, toHz, ""); }, "carrier move");
    }
    void CarrierClear(int64_t serial, int input)
    {
        Run([&] { return m_Client.Carrier(serial, input, SIM_CARRIER_CLEAR, 0, 0, ""); }, "carrier clear");
    }

private:
    template <class Call> void Run(Call call, const char* operation)
    {
        KXAPI_RESULT result;
        {
            py::gil_scoped_release release;
            result = call();
        }
        Check(result, operation);
    }
    SimControlClient m_Client;
};

} // namespace

PYBIND11_MODULE(_kxapi, module)
{
    module.doc() = "The Kxapi device API: receiver ports of KxapiService, its version and the simulator's controls.";
    KxPy::RegisterErrors(module);

    module.def("service_version", &ServiceVersion,
               "The service's version as (major, minor, revision, build), read through its global FIFO.");
    module.def("set_fifo_dir", &SetFifoDirectory, py::arg("directory"),
               "Reaches a service started with --fifo-dir DIRECTORY (FIFOs and key files there instead of "
               "/tmp/ and /dev/shm/). Call it before opening any port.");
    module.def("list_cards", &ListCards,
               "The receiver cards: those of a running KxapiServiceSim, else the device scan of this machine "
               "(dicts with serial, model, sub_type, firmware, ports).");
    module.def("statistic_table", &StatisticTable,
               "Every statistic the protocol knows (dicts with id, name, description, value_type, unit, raw_unit).");
    module.def("result_name", [](uint32_t code) { return std::string(KxapiResult2Str(code)); }, py::arg("code"),
               "The name of a result code (\"KXAPI_E_TIMEOUT\").");

    module.attr("EVENT_FREQUENCY") = Kxapi::DEMOD_EVENT_MASK_FREQ;
    module.attr("EVENT_PARAMETERS") = Kxapi::DEMOD_EVENT_MASK_PARS;

    py::class_<PyDemodPort>(module, "DemodPort",
                            "One receiver port of the service: attach, tune, parameters, statistics, events, scans.")
        .def(py::init<int64_t, int32_t, double>(), py::arg("serial"), py::arg("port_index"),
             py::arg("reply_timeout") = 10.0,
             "Attaches to port port_index (0-based) of the card serial; reply_timeout (seconds, 0: none) bounds "
             "each request.")
        .def("close", &PyDemodPort::Close, "Detaches from the port (also when the object goes).")
        .def_property_readonly("is_open", &PyDemodPort::IsOpen)
        .def_property_readonly("serial", &PyDemodPort::Serial)
        .def_property_readonly("port_index", &PyDemodPort::PortIndex)
        .def("tune", &PyDemodPort::Tune, py::arg("frequency"), py::arg("mod_type"), py::arg("x0") = 0,
             py::arg("x1") = 0, py::arg("x2") = 0,
             "Tunes to frequency (Hz) with the four-integer parameters (modulation type and three codes).")
        .def("tune_xml", &PyDemodPort::TuneXml, py::arg("frequency"), py::arg("parameters"),
             "Tunes to frequency (Hz) with a KxDemodPars XML element.")
        .def("parameters", &PyDemodPort::Parameters, "The demodulation parameters as a KxDemodPars XML element.")
        .def("set_parameters", &PyDemodPort::SetParameters, py::arg("parameters"))
        .def("frequency", &PyDemodPort::Frequency, "The tuner frequency (Hz).")
        .def("statistics", &PyDemodPort::Statistics, py::arg("which") = py::none(),
             "One read of statistics: a name or id, a list of them, or None for every supported one. Each is a dict "
             "with id, name, description, value (in unit), unit, raw (as the service reports it), raw_unit, result "
             "and error.")
        .def("supported_statistics", &PyDemodPort::SupportedStatistics)
        .def("wait_lock", &PyDemodPort::WaitLock, py::arg("timeout") = 3.0,
             "Polls Lock every 100 ms; True once locked, False after timeout seconds.")
        .def("on_event", &PyDemodPort::OnEvent, py::arg("callback"),
             py::arg("mask") = Kxapi::DEMOD_EVENT_MASK_FREQ | Kxapi::DEMOD_EVENT_MASK_PARS,
             "callback(event) on the library's event thread when another client changes the frequency or the "
             "parameters; None unregisters.")
        .def("blind_scan", &PyDemodPort::BlindScan, py::arg("start"), py::arg("end"), py::arg("step"),
             py::arg("progress") = py::none(), py::arg("parameters") = std::wstring(),
             "Blind scan (Hz; start/end -1: the port's limits); progress(step) per step, returning False cancels. "
             "Returns the transmitters found.")
        .def("spectrum_scan", &PyDemodPort::SpectrumScan, py::arg("start"), py::arg("end"), py::arg("step"),
             py::arg("scan_type") = 5, py::arg("progress") = py::none(),
             "Spectrum scan (type 5 channel level, 6 narrow band); progress(point) per step. Returns the levels.");

    py::class_<PySimulator>(module, "Simulator", "The control FIFO of a running KxapiServiceSim.")
        .def(py::init<>())
        .def("list", &PySimulator::List, "The virtual cards (dicts with model, sub_type, serial, family).")
        .def("plug", &PySimulator::Plug, py::arg("card_json"))
        .def("unplug", &PySimulator::Unplug, py::arg("serial"))
        .def("power", &PySimulator::Power, py::arg("serial"), py::arg("on") = true)
        .def("carrier_add", &PySimulator::CarrierAdd, py::arg("serial"), py::arg("input"), py::arg("carrier_json"))
        .def("carrier_remove", &PySimulator::CarrierRemove, py::arg("serial"), py::arg("input"), py::arg("frequency"))
        .def("carrier_move", &PySimulator::CarrierMove, py::arg("serial"), py::arg("input"), py::arg("frequency"),
             py::arg("new_frequency"))
        .def("carrier_clear", &PySimulator::CarrierClear, py::arg("serial"), py::arg("input"));
}
