// kxapi.DemodPort: one receiver port of the service for Python, over the library's
// DemodPortClient. Every call into the library runs with the GIL released; the library's
// event thread takes the GIL only to call the Python event callback, never while the port's
// own locks are wanted by a thread that holds the GIL.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

#include <pybind11/pybind11.h>

#include "DemodPortClient.h"

namespace KxPy {

// Scan-progress texts handed from the event thread to the thread that runs the scan.
class ScanProgressQueue {
public:
    // Accepts progress of `kind` only (DEMOD_EVENT_BLIND_SCAN or DEMOD_EVENT_SPECTRUM_SCAN)
    // from now on and drops what is queued; kind 0 accepts nothing.
    void Expect(uint32_t kind);
    void Push(const Kxapi::DemodEvent& event);
    // The next text, or false after timeoutMs.
    bool Pop(std::wstring& text, unsigned int timeoutMs);

private:
    std::mutex m_Mutex;
    std::condition_variable m_Ready;
    uint32_t m_Kind = 0;
    std::deque<std::wstring> m_Texts;
};

class PyDemodPort {
public:
    // Attaches to port `portIndex` (0-based) of the device `serial`; raises kxapi.Error.
    // replyTimeoutS bounds each request's wait for its reply (0: no limit).
    PyDemodPort(int64_t serial, int32_t portIndex, double replyTimeoutS);
    // Close().
    ~PyDemodPort();
    PyDemodPort(const PyDemodPort&) = delete;
    PyDemodPort& operator=(const PyDemodPort&) = delete;

    // Detaches and stops the event thread; safe to call twice.
    void Close();
    bool IsOpen() const { return m_Client.IsOpen(); }
    int64_t Serial() const { return m_Client.Serial(); }
    int32_t PortIndex() const { return m_Client.PortIndex(); }

    // Tunes with the four-integer form (modulation type and three extra codes).
    void Tune(int64_t freqHz, int32_t modType, int32_t parXtra0, int32_t parXtra1, int32_t parXtra2);
    // Tunes with a "KxDemodPars" XML element.
    void TuneXml(int64_t freqHz, const std::wstring& parsXml);
    // The demodulation parameters as a "KxDemodPars" element, and setting them.
    std::wstring Parameters();
    void SetParameters(const std::wstring& parsXml);
    // The tuner frequency (Hz).
    int64_t Frequency();
    // One read of the named statistics (ids or names; None: every supported one).
    pybind11::list Statistics(const pybind11::object& which);
    // The port's supported statistics (the statistic table's rows with their units).
    pybind11::list SupportedStatistics();
    // Polls "Lock" every 100 ms until it reads true; false after timeoutS.
    bool WaitLock(double timeoutS);

    // callback(event_dict) on the library's event thread for frequency (mask bit 0) and
    // parameter (bit 1) changes made by other clients of the port; None unregisters.
    void OnEvent(const pybind11::object& callback, uint64_t mask);

    // Blind scan from startHz to endHz (-1: the port's limits) in stepHz steps; progress
    // (optional) is called on this thread with each step's dict and cancels the scan by
    // returning False. Returns the transmitters found.
    pybind11::list BlindScan(int64_t startHz, int64_t endHz, int64_t stepHz, const pybind11::object& progress,
                             const std::wstring& parsXml);
    // Spectrum scan (type 5 channel level, 6 narrow band, +16 the variant); returns the levels.
    pybind11::list SpectrumScan(int64_t startHz, int64_t endHz, int64_t stepHz, int32_t scanType,
                                const pybind11::object& progress);

private:
    // The one callback the library calls, on its event thread.
    void Dispatch(const Kxapi::DemodEvent& event);
    // Registers Dispatch with the mask of the Python callback.
    void Register(uint64_t mask);
    // Follows the scan's progress until its final report; onStep(step) returns false to
    // cancel the scan (cancelled is then set). The final report's result.
    template <class Progress, class OnStep>
    KXAPI_RESULT FollowScan(bool blind, bool& cancelled, OnStep onStep);
    void CheckOpen() const;

    Kxapi::DemodPortClient m_Client;
    ScanProgressQueue m_Scan;
    pybind11::object m_Callback; // read and written with the GIL held
};

} // namespace KxPy
