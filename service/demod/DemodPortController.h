// DemodPortController: one receiver port. Accepts the port commands of its clients (one at a
// time under the command lock), queues those that change the hardware for its worker thread,
// runs the port's state machine every 100 ms, keeps the statistics cache filled, runs blind
// and spectrum scans and notifies registered event FIFOs.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
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
#include "XpInterfaces.h"

class DemodHal;

class DemodPortController {
public:
    DemodPortController();
    // Runs CleanUp.
    virtual ~DemodPortController();
    DemodPortController(const DemodPortController&) = delete;
    DemodPortController& operator=(const DemodPortController&) = delete;

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
    // through pClient.
    void ProcessDemodMsg(const void* pMsg, int size, IDemodPortClient* pClient);
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
    KXAPI_RESULT EventPipeRegister(const std::wstring& name, IDemodPortClient* pClient);
    KXAPI_RESULT SetEventFlags(const std::map<Kxapi::KxapiSvcEvent, bool>& flags, const std::wstring& name);
    void SetEventFlags(const std::map<Kxapi::KxapiSvcEvent, bool>& flags, IDemodPortClient* pClient);
    bool RemoveEventHandler(IDemodPortClient* pClient);
    void FireTuneFreqHasChangedEvent(IDemodPortClient* pClient, int64_t oldFreqHz, int64_t newFreqHz);
    void FireTuneParsHaveChangedEvent(IDemodPortClient* pClient, int64_t oldFreqHz,
                                      const Kxapi::KxDemodPars& oldPars, int64_t newFreqHz,
                                      const Kxapi::KxDemodPars& newPars);
    void FireBsProgressEvent(IDemodPortClient* pClient, const Kxapi::KxBsProgress& progress);
    void FireSpsProgressEvent(IDemodPortClient* pClient, const Kxapi::KxSpsProgress& progress);
    void DeleteEventMessengers();

    // ---- Command processing (DemodPortCommands.cpp) ----
    bool ProcessDemodCommand(PortCmdType& cmd, bool execute, bool reply);
    KXAPI_RESULT ExecuteCommand(PortCmdType& cmd, bool execute, Kxapi::DemodMsg& replyMsg, int64_t& newFreqHz,
                                Kxapi::KxDemodPars& newPars, int& tunerId);
    KXAPI_RESULT ExecuteGenericCommand(PortCmdType& cmd, bool execute, Kxapi::DemodMsg& replyMsg,
                                       int64_t& newFreqHz, Kxapi::KxDemodPars& newPars, int& tunerId);
    void SendReply(IDemodPortClient* pClient, const Kxapi::DemodMsg& msg);
    static void SendResult(IDemodPortClient* pClient, uint32_t code, KXAPI_RESULT result);
    void CancelScansFor(const PortCmdType& cmd);
    void WaitForDone(const PortCmdType* cmd, uint32_t code, IDemodPortClient* pClient);

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

    IXpCritSec* m_pCmdLock = nullptr;
    IXpThread* m_pThread = nullptr;
    IXpEvent* m_pDoneEvent = nullptr;
    IXpEvent* m_pQueueEvent = nullptr;
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
    IXpCritSec* m_pEventLock = nullptr;
    std::map<std::wstring, DemodEventMessenger*> m_EventMessengers;
    int m_NumEventMessengers = 0;
    IXpCritSec* m_pParsLock = nullptr;
    Kxapi::KxDemodPars m_TunePars;
    int64_t m_TuneFreqHz = 0;
};
