#include "KxPyDemodPort.h"

#include <chrono>
#include <thread>
#include <vector>

#include "DemodPars.h"
#include "KxPyErrors.h"
#include "KxPyStatistic.h"
#include "KxScanProgress.h"
#include "XpInterfaces.h"

namespace py = pybind11;
using Kxapi::DemodEvent;
using Kxapi::KxDemodPars;
using Kxapi::KxStatistic;

namespace KxPy {

namespace {

constexpr int32_t MAX_SUPPORTED = 256;
constexpr unsigned int SCAN_WAIT_SLICE_MS = 100;
// Without any report for this long a scan is given up (a step waits at most 1 s for lock).
constexpr unsigned int SCAN_SILENCE_LIMIT_MS = 30000;
constexpr unsigned int LOCK_POLL_MS = 100;
constexpr int32_t STAT_LOCK = 512;
constexpr int32_t STAT_RF_LVL_CHAN_QS = 21;
constexpr int32_t STAT_RF_LVL_NARROW_QS = 22;

py::tuple ParsTuple(const Kxapi::OldStyleParsWire& pars)
{
    return py::make_tuple(pars.m_ModType, pars.m_ParXtra0, pars.m_ParXtra1, pars.m_ParXtra2);
}

py::dict EventToDict(const DemodEvent& event)
{
    py::dict entry;
    entry["kind"] = event.m_Kind == Kxapi::DEMOD_EVENT_FREQ_CHANGED ? "frequency" : "parameters";
    entry["serial"] = event.m_Serial;
    entry["port_index"] = event.m_Port - 1;
    entry["old_frequency"] = event.m_OldFreqHz;
    entry["new_frequency"] = event.m_NewFreqHz;
    if (event.m_Kind == Kxapi::DEMOD_EVENT_PARS_CHANGED) {
        entry["old_parameters"] = ParsTuple(event.m_OldPars);
        entry["new_parameters"] = ParsTuple(event.m_NewPars);
    }
    return entry;
}

KxDemodPars ParsFromXml(const std::wstring& parsXml)
{
    KxDemodPars pars;
    if (!parsXml.empty())
        Check(pars.FromXml(parsXml), "parameters XML");
    return pars;
}

// Calls progress(step) when given; false when it returned False (cancel).
bool Report(const py::object& progress, const py::dict& step)
{
    if (progress.is_none())
        return true;
    py::object answer = progress(step);
    return answer.is_none() || answer.cast<bool>();
}

} // namespace

void ScanProgressQueue::Expect(uint32_t kind)
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_Kind = kind;
    m_Texts.clear();
}

void ScanProgressQueue::Push(const DemodEvent& event)
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    if (m_Kind == 0 || event.m_Kind != m_Kind)
        return;
    m_Texts.push_back(event.m_Xml);
    m_Ready.notify_one();
}

bool ScanProgressQueue::Pop(std::wstring& text, unsigned int timeoutMs)
{
    std::unique_lock<std::mutex> lock(m_Mutex);
    if (!m_Ready.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return !m_Texts.empty(); }))
        return false;
    text = std::move(m_Texts.front());
    m_Texts.pop_front();
    return true;
}

PyDemodPort::PyDemodPort(int64_t serial, int32_t portIndex, double replyTimeoutS)
{
    KXAPI_RESULT result;
    {
        py::gil_scoped_release release;
        m_Client.SetReplyTimeout(replyTimeoutS > 0 ? static_cast<unsigned int>(replyTimeoutS * 1000.0) : XP_INFINITE);
        result = m_Client.Init(serial, portIndex);
        if (result == KXAPI_OK) {
            // Scan progress always reaches Dispatch; mask 0 until a Python callback asks for more.
            result = m_Client.CallbackRegisterEvents([this](const DemodEvent& event) { Dispatch(event); }, 0);
            if (result != KXAPI_OK)
                m_Client.Close();
        }
    }
    Check(result, "attach");
}

PyDemodPort::~PyDemodPort()
{
    Close();
}

void PyDemodPort::Close()
{
    {
        // The event thread may be waiting for the GIL inside Dispatch: closing joins it.
        py::gil_scoped_release release;
        m_Client.Close();
    }
    m_Callback = py::none();
}

void PyDemodPort::CheckOpen() const
{
    if (!m_Client.IsOpen())
        Check(KXAPI_E_NOT_INITIALIZED, "port closed");
}

void PyDemodPort::Dispatch(const DemodEvent& event)
{
    if (event.m_Kind == Kxapi::DEMOD_EVENT_BLIND_SCAN || event.m_Kind == Kxapi::DEMOD_EVENT_SPECTRUM_SCAN) {
        m_Scan.Push(event);
        return;
    }
    if (!Py_IsInitialized() || _Py_IsFinalizing())
        return;
    py::gil_scoped_acquire acquire;
    if (m_Callback.is_none())
        return;
    try {
        m_Callback(EventToDict(event));
    } catch (py::error_already_set& error) {
        // An exception of the callback cannot reach anyone on this thread: report it like
        // Python reports exceptions in finalizers and go on.
        error.discard_as_unraisable("kxapi.DemodPort event callback");
    }
}

void PyDemodPort::Register(uint64_t mask)
{
    KXAPI_RESULT result;
    {
        py::gil_scoped_release release;
        result = m_Client.CallbackRegisterEvents([this](const DemodEvent& event) { Dispatch(event); }, mask);
    }
    Check(result, "event registration");
}

void PyDemodPort::OnEvent(const py::object& callback, uint64_t mask)
{
    CheckOpen();
    if (!callback.is_none() && !PyCallable_Check(callback.ptr()))
        throw py::type_error("the event callback must be callable or None");
    m_Callback = callback;
    Register(callback.is_none() ? 0 : mask);
}

void PyDemodPort::Tune(int64_t freqHz, int32_t modType, int32_t parXtra0, int32_t parXtra1, int32_t parXtra2)
{
    CheckOpen();
    Kxapi::OldStyleParsWire pars{modType, parXtra0, parXtra1, parXtra2};
    KXAPI_RESULT result;
    {
        py::gil_scoped_release release;
        result = m_Client.Svc().TuneOld(freqHz, pars);
    }
    Check(result, "tune");
}

void PyDemodPort::TuneXml(int64_t freqHz, const std::wstring& parsXml)
{
    CheckOpen();
    KxDemodPars pars = ParsFromXml(parsXml);
    KXAPI_RESULT result;
    {
        py::gil_scoped_release release;
        result = m_Client.Svc().Tune(freqHz, pars);
    }
    Check(result, "tune");
}

std::wstring PyDemodPort::Parameters()
{
    CheckOpen();
    KxDemodPars pars;
    KXAPI_RESULT result;
    {
        py::gil_scoped_release release;
        result = m_Client.Svc().ControlGet(pars);
    }
    Check(result, "parameters");
    std::wstring text;
    Check(pars.ToXml(text), "parameters XML");
    return text;
}

void PyDemodPort::SetParameters(const std::wstring& parsXml)
{
    CheckOpen();
    KxDemodPars pars = ParsFromXml(parsXml);
    KXAPI_RESULT result;
    {
        py::gil_scoped_release release;
        result = m_Client.Svc().ControlSet(pars);
    }
    Check(result, "set parameters");
}

int64_t PyDemodPort::Frequency()
{
    CheckOpen();
    int64_t freqHz = 0;
    KXAPI_RESULT result;
    {
        py::gil_scoped_release release;
        result = m_Client.Svc().TunerFreqGetOld(freqHz);
    }
    Check(result, "frequency");
    return freqHz;
}

py::list PyDemodPort::Statistics(const py::object& which)
{
    CheckOpen();
    std::vector<KxStatistic> stats;
    if (which.is_none()) {
        KXAPI_RESULT result;
        {
            py::gil_scoped_release release;
            result = m_Client.Svc().GetSupportedStatistics(MAX_SUPPORTED, stats);
        }
        Check(result, "supported statistics");
        for (KxStatistic& stat : stats)
            stat.UnqualifyForRead();
    } else if (py::isinstance<py::str>(which) || py::isinstance<py::int_>(which)) {
        stats.emplace_back(StatisticIdFrom(which));
    } else {
        for (py::handle item : which)
            stats.emplace_back(StatisticIdFrom(item));
    }
    if (!stats.empty()) {
        KXAPI_RESULT result;
        {
            py::gil_scoped_release release;
            result = m_Client.Svc().GetStatistics(stats.data(), static_cast<int>(stats.size()));
        }
        Check(result, "statistics");
    }
    py::list list;
    for (const KxStatistic& stat : stats)
        list.append(StatisticToDict(stat));
    return list;
}

py::list PyDemodPort::SupportedStatistics()
{
    CheckOpen();
    std::vector<KxStatistic> stats;
    KXAPI_RESULT result;
    {
        py::gil_scoped_release release;
        result = m_Client.Svc().GetSupportedStatistics(MAX_SUPPORTED, stats);
    }
    Check(result, "supported statistics");
    py::list list;
    for (const KxStatistic& stat : stats) {
        if (const Kxapi::KxStatisticInfo* pInfo = Kxapi::KxFindStatistic(stat.m_StatisticId))
            list.append(StatisticInfoToDict(*pInfo));
    }
    return list;
}

bool PyDemodPort::WaitLock(double timeoutS)
{
    CheckOpen();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutS);
    for (;;) {
        KxStatistic lock(STAT_LOCK);
        KXAPI_RESULT result;
        {
            py::gil_scoped_release release;
            result = m_Client.Svc().GetStatistics(&lock, 1);
        }
        Check(result, "lock");
        bool locked = false;
        if (lock.GetValue(locked) == KXAPI_OK && locked)
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        {
            py::gil_scoped_release release;
            std::this_thread::sleep_for(std::chrono::milliseconds(LOCK_POLL_MS));
        }
        if (PyErr_CheckSignals() != 0)
            throw py::error_already_set();
    }
}

template <class Progress, class OnStep>
KXAPI_RESULT PyDemodPort::FollowScan(bool blind, bool& cancelled, OnStep onStep)
{
    bool cancelSent = false;
    cancelled = false;
    unsigned int silentMs = 0;
    auto cancel = [&] {
        if (cancelSent)
            return;
        cancelSent = true;
        py::gil_scoped_release release;
        if (blind)
            m_Client.Svc().BlindScanCancel();
        else
            m_Client.Svc().SpectrumScanCancel();
    };
    for (;;) {
        if (PyErr_CheckSignals() != 0) {
            // Ctrl-C: the scan is cancelled and the interrupt goes on to the caller.
            py::error_already_set interrupt;
            cancel();
            m_Scan.Expect(0);
            throw interrupt;
        }
        std::wstring text;
        bool got;
        {
            py::gil_scoped_release release;
            got = m_Scan.Pop(text, SCAN_WAIT_SLICE_MS);
        }
        if (!got) {
            silentMs += SCAN_WAIT_SLICE_MS;
            if (silentMs >= SCAN_SILENCE_LIMIT_MS) {
                cancel();
                m_Scan.Expect(0);
                return KXAPI_E_TIMEOUT;
            }
            continue;
        }
        silentMs = 0;
        Progress step;
        if (step.FromXml(text) != KXAPI_OK)
            continue;
        if (step.IsFinal()) {
            m_Scan.Expect(0);
            return static_cast<KXAPI_RESULT>(step.m_Result);
        }
        bool goOn;
        try {
            goOn = onStep(step);
        } catch (...) {
            cancel();
            m_Scan.Expect(0);
            throw;
        }
        if (!goOn) {
            cancelled = true;
            cancel();
        }
    }
}

py::list PyDemodPort::BlindScan(int64_t startHz, int64_t endHz, int64_t stepHz, const py::object& progress,
                                const std::wstring& parsXml)
{
    CheckOpen();
    KxDemodPars pars = ParsFromXml(parsXml); // no type: the receiver's own blind-scan parameters
    m_Scan.Expect(Kxapi::DEMOD_EVENT_BLIND_SCAN);
    KXAPI_RESULT result;
    {
        py::gil_scoped_release release;
        result = m_Client.Svc().BlindScan(pars, stepHz, startHz, endHz);
    }
    if (KxapiFailed(result))
        m_Scan.Expect(0);
    Check(result, "blind scan");
    py::list found;
    bool cancelled = false;
    result = FollowScan<Kxapi::KxBsProgress>(true, cancelled, [&](const Kxapi::KxBsProgress& step) {
        py::dict entry;
        entry["frequency"] = step.m_FreqHz;
        entry["found"] = step.m_ChannelFound;
        std::wstring xml;
        if (step.m_ChannelFound && step.m_DemodPars.ToXml(xml) == KXAPI_OK)
            entry["parameters"] = xml;
        else
            entry["parameters"] = py::none();
        entry["mod_type"] = step.m_DemodPars.ModType();
        if (step.m_ChannelFound)
            found.append(entry);
        return Report(progress, entry);
    });
    if (!cancelled) // a scan the progress callback cancelled returns what it found so far
        Check(result, "blind scan");
    return found;
}

py::list PyDemodPort::SpectrumScan(int64_t startHz, int64_t endHz, int64_t stepHz, int32_t scanType,
                                   const py::object& progress)
{
    CheckOpen();
    m_Scan.Expect(Kxapi::DEMOD_EVENT_SPECTRUM_SCAN);
    KXAPI_RESULT result;
    {
        py::gil_scoped_release release;
        result = m_Client.Svc().SpectrumScan(scanType, stepHz, startHz, endHz);
    }
    if (KxapiFailed(result))
        m_Scan.Expect(0);
    Check(result, "spectrum scan");
    const StatUnit unit = StatUnitOf((scanType & ~16) == 5 ? STAT_RF_LVL_CHAN_QS : STAT_RF_LVL_NARROW_QS);
    py::list points;
    bool cancelled = false;
    result = FollowScan<Kxapi::KxSpsProgress>(false, cancelled, [&](const Kxapi::KxSpsProgress& step) {
        py::dict entry;
        entry["frequency"] = step.m_FreqHz;
        entry["result"] = static_cast<uint32_t>(step.m_Result);
        if (KxapiSucceeded(static_cast<KXAPI_RESULT>(step.m_Result))) {
            entry["raw"] = step.m_Level;
            entry["value"] = ScaleValue(step.m_Level, unit.m_Scale);
            entry["error"] = py::none();
        } else {
            entry["raw"] = py::none();
            entry["value"] = py::none();
            entry["error"] = KxapiResult2Str(static_cast<KXAPI_RESULT>(step.m_Result));
        }
        entry["unit"] = unit.m_Unit;
        entry["raw_unit"] = unit.m_RawUnit;
        points.append(entry);
        return Report(progress, entry);
    });
    if (!cancelled)
        Check(result, "spectrum scan");
    return points;
}

} // namespace KxPy
