// DemodPortController: one receiver port. Accepts the port commands of its clients (one at a
// time under the command lock), queues those that change the hardware for its worker thread,
// runs the port's state machine every 100 ms, keeps the statistics cache filled, runs blind
// and spectrum scans and notifies registered event FIFOs.
//
// Nothing is written to a client while a lock of the port is held: replies go out on the
// client's own thread after the command lock is released, events are queued per subscriber
// and sent by the port's event writer thread, and an event FIFO is connected before its
// messenger is entered under the event-handler lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "CmdQueue.h"
#include "DemodEventMessenger.h"
#include "DemodPars.h"
#include "IDemodPortClient.h"
#include "KxDemodTypes.h"
#include "KxScanProgress.h"
#include "KxStatistic.h"
#include "StatisticsCache.h"
#include "XpHandles.h"
#include "XpInterfaces.h"
#include "KxNonCopyable.h"

class DemodHal;
class DemodRequestReuse;

class DemodPortController : private KxNonCopyable {
public:
    // Event FIFOs one client may register on one port, and all clients together (room for a
    // test rig of a hundred clients on one port). A full event FIFO delays the events of the
    // port's other subscribers by one write deadline before it is dropped, so the port cap
    // also bounds that delay.
    static constexpr size_t MAX_EVENT_PIPES_PER_CLIENT = 8;
    static constexpr size_t MAX_EVENT_PIPES_PER_PORT = 128;

    DemodPortController();
    // Runs CleanUp.
    virtual ~DemodPortController();

    // Port (1-based) and the device's HAL (not owned; serial and type number come from it).
    // Initialises the port through the HAL and starts the worker thread; false on any failure.
    bool Init(int port, DemodHal* pHal);
    // Counts one more user; the first user must be accepted by the HAL (false otherwise).
    bool Attach();
    // Drops the client's events, queued commands and scans, and counts one user less.
    bool Detach(IDemodPortClient* pClient);
    // As above; counted false for a client whose Attach was refused (its events and queued
    // commands go, the user count and the port's other users are left alone).
    bool Detach(IDemodPortClient* pClient, bool counted);
    // Accepts one port command of a client (see the command table); every reply goes
    // through pClient, on the calling thread, once no lock of the port is held.
    void ProcessDemodMsg(const void* pMsg, int size, IDemodPortClient* pClient);
    // As above for a client connection that keeps its last read request decoded and its
    // reply buffer in pReuse (see DemodRequestReuse); null behaves as above.
    void ProcessDemodMsg(const void* pMsg, int size, IDemodPortClient* pClient, DemodRequestReuse* pReuse);
    // Registered event FIFOs: of pClient, or of every client when pClient is none.
    size_t EventMessengerCount(IDemodPortClient* pClient = nullptr);
    // Stops the worker thread and frees every resource; safe to call twice.
    void CleanUp();

    // State of the port: 0 created, 1 idle (no user), 2 acquiring, 3 locked.
    int State() const { return m_State.load(); }
    // Clients counted as users of the port.
    int UserCount() const { return m_UserCount.load(); }

    // The bandwidth a parameter set occupies, in Hz; -1 when it cannot be derived.
    static int64_t GetBandWidthHz(const Kxapi::KxDemodPars& pars);

private:
    // ---- Worker thread, state machine, statistics (DemodPortController.cpp) ----
    static void StaticPortControllerThread(void* pArg);
    void PortControllerThread();
    void StateMachine();
    bool GetLockedStatus(Kxapi::KxStatistic& stat);
    void SetStatisticPollEnable(bool enable);
    bool MustPollStatistics();
    void UpdateStatistics(Kxapi::KxStatistic& lock, bool forced);
    KXAPI_RESULT GetStatisticIdsToPoll(bool locked, std::vector<Kxapi::KxStatistic>& list);
    void InvalidateLockedStatistics();
    KXAPI_RESULT InitStatisticsCache();
    void CloseObjects();

    // ---- Event messengers (DemodPortController.cpp) ----
    using MessengerPtr = std::shared_ptr<DemodEventMessenger>;
    // Registers the client's event FIFO (connected without any lock of the port held) and,
    // when execute, sets its kinds 0 and 1 from mask bits 0 and 1. A name another client
    // registered answers KXAPI_E_IN_USE; beyond the caps KXAPI_E_OUT_OF_RESOURCES.
    KXAPI_RESULT EventPipeRegister(const std::wstring& name, uint64_t mask, IDemodPortClient* pClient, bool execute);
    // Under the event-handler lock: may pClient add or keep `name`? exists tells whether it has it.
    KXAPI_RESULT CheckRegistrationLocked(const std::wstring& name, IDemodPortClient* pClient, bool& exists) const;
    void SetEventFlags(const std::map<Kxapi::KxapiSvcEvent, bool>& flags, IDemodPortClient* pClient);
    // Drops every messenger of the client; queued events (a scan's final report) still go out.
    void RemoveEventHandlers(IDemodPortClient* pClient);
    static void StaticEventWriterThread(void* pArg);
    void EventWriterThread();
    void WakeEventWriter();
    void StopEventWriter();
    void FireTuneFreqHasChangedEvent(IDemodPortClient* pClient, int64_t oldFreqHz, int64_t newFreqHz);
    void FireTuneParsHaveChangedEvent(IDemodPortClient* pClient, int64_t oldFreqHz,
                                      const Kxapi::KxDemodPars& oldPars, int64_t newFreqHz,
                                      const Kxapi::KxDemodPars& newPars);
    void FireBsProgressEvent(IDemodPortClient* pClient, const Kxapi::KxBsProgress& progress);
    void FireSpsProgressEvent(IDemodPortClient* pClient, const Kxapi::KxSpsProgress& progress);
    void DeleteEventMessengers();

    // ---- Command processing (DemodPortCommands.cpp) ----
    // Takes the command lock; the reply to send (if any) is left in reply. cmd is deleted or
    // handed to the queue.
    void AcceptDemodMsg(PortCmdType* cmd, Kxapi::DemodMsg& reply);
    // Answers a read of the statistics cache (DemodRequestReuse::Reusable) without the
    // command lock.
    void ReadFromCache(PortCmdType& cmd, Kxapi::DemodMsg& reply);
    // Runs or checks one command; the reply is built into *pReply (its buffer reused) when
    // pReply is set.
    bool ProcessDemodCommand(PortCmdType& cmd, bool execute, Kxapi::DemodMsg* pReply);
    // The decoded request through its handler, and the handler's result into the reply (left
    // empty for a reply of the result alone).
    KXAPI_RESULT RunCommand(const PortCmdType& cmd, PortCmdRun& run, Kxapi::DemodMsg& reply);
    template <class Req> KXAPI_RESULT RunRequest(const Req& req, PortCmdRun& run, Kxapi::DemodMsg& reply);
    // The handler and the reply encoder of a request (what RunRequest does unless a request
    // has a more direct way).
    template <class Req> KXAPI_RESULT HandleAndEncode(const Req& req, PortCmdRun& run, Kxapi::DemodMsg& reply);
    // One handler per operation (DemodPortCommands.cpp): calls the HAL or reads the cache.
    template <class Req> KXAPI_RESULT Handle(const Req& req, PortCmdRun& run, typename Req::Result& res);
    static void SendReply(IDemodPortClient* pClient, const Kxapi::DemodMsg& msg);
    static void SendResult(IDemodPortClient* pClient, uint32_t code, KXAPI_RESULT result);
    static Kxapi::DemodMsg ResultMsg(uint32_t code, KXAPI_RESULT result);
    // Makes msg the 8-byte reply [code, result] in its own buffer.
    static void PutResultMsg(Kxapi::DemodMsg& msg, uint32_t code, KXAPI_RESULT result);
    void CancelScansFor(const PortCmdType& cmd);
    void WaitForDone(const PortCmdType* cmd, uint32_t code, Kxapi::DemodMsg& reply);
    // Waits (bounded) until no scan of the port runs, cancelling them.
    void EndScans();
    // Waits until `busy` clears, the port stops, or SCAN_END_WAIT_MS after startTick.
    void WaitWhileScanBusy(const std::atomic<bool>& busy, unsigned int startTick);

    // ---- Scans (DemodPortScans.cpp) ----
    void CancelBlindScan();
    KXAPI_RESULT ReadFreqAttributes(int64_t& absMinHz, int64_t& absMaxHz, int64_t& minHz, int64_t& maxHz);
    KXAPI_RESULT BlindScan(IDemodPortClient* pClient, int maxCount, int& found, Kxapi::KxTransmitter* transmitters,
                           Kxapi::KxDemodPars& pars, int64_t stepHz, int64_t startHz, int64_t endHz, bool execute);
    KXAPI_RESULT BlindScanSweep(IDemodPortClient* pClient, int maxCount, int& found,
                                Kxapi::KxTransmitter* transmitters, const Kxapi::KxDemodPars& pars, int64_t stepHz,
                                int64_t startHz, int64_t endHz);
    KXAPI_RESULT SpectrumScan(IDemodPortClient* pClient, int scanType, int64_t stepHz, int64_t startHz, int64_t endHz,
                              bool execute);
    KXAPI_RESULT SpectrumScanSweep(IDemodPortClient* pClient, int scanType, int tunerArg, int settleMs,
                                   int64_t offsetHz, int64_t stepHz, int64_t startHz, int64_t endHz,
                                   int64_t absMinHz, int64_t absMaxHz);

    XpCritSecPtr m_pCmdLock;
    IXpThread* m_pThread = nullptr;
    XpEventPtr m_pDoneEvent;
    XpEventPtr m_pQueueEvent;
    int m_Port = 0;
    DemodHal* m_pHal = nullptr;
    CmdQueue m_CmdQueue;
    StatisticsCache m_StatisticsCache;
    std::atomic<int> m_UserCount{0};
    std::atomic<int> m_PendingCount{0};
    std::atomic<int> m_State{0};
    std::atomic<bool> m_Initialised{false};
    std::atomic<bool> m_Retune{false};
    std::atomic<bool> m_Stop{false};
    bool m_ThreadStarted = false;
    unsigned int m_LastPollTime = 0;
    unsigned int m_PollPeriodMs = 100;
    std::atomic<bool> m_PollEnable{true};
    int m_PollCounter = 0;
    std::atomic<bool> m_BlindScanBusy{false};
    std::atomic<bool> m_BlindScanCancel{false};
    std::atomic<bool> m_SpectrumScanBusy{false};
    std::atomic<bool> m_SpectrumScanCancel{false};
    XpCritSecPtr m_pEventLock;
    std::map<std::wstring, MessengerPtr> m_EventMessengers;
    // Removed messengers whose queued events the writer still sends once.
    std::vector<MessengerPtr> m_RetiredMessengers;
    IXpThread* m_pEventThread = nullptr;
    XpEventPtr m_pEventWake;
    std::atomic<bool> m_EventStop{false};
    bool m_EventThreadStarted = false;
    // The reply the worker built for the one waitDone command a client waits for.
    std::mutex m_DoneMutex;
    Kxapi::DemodMsg m_DoneReply;
    XpCritSecPtr m_pParsLock;
    Kxapi::KxDemodPars m_TunePars;
    int64_t m_TuneFreqHz = 0;
};
