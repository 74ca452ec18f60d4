#include "DemodDeviceController.h"

#include <new>

#include "DemodHal.h"
#include "XpUtil.h"

namespace {
// AbortInit and CleanUpOnAbort poll every 10 ms, at most 1000 times (10 s).
constexpr int ABORT_POLL_MS = 10;
constexpr int ABORT_POLL_COUNT = 1000;
} // namespace

DemodDeviceController::DemodDeviceController(long long serial) : m_Serial(serial) {}

DemodDeviceController::~DemodDeviceController()
{
    CleanUp();
}

bool DemodDeviceController::Init()
{
    if (!KxapiSucceeded(m_Device.AttachToSerial(m_Serial, false))) {
        CleanUp();
        return false;
    }
    m_pHal = NewDemodHal(m_Device.TypeNumber(), m_Device.SubType(), m_Serial, m_Device);
    if (m_pHal == nullptr) { // not a receiver model
        CleanUp();
        return false;
    }
    if (AbortRequested()) {
        CleanUpOnAbort();
        return false;
    }
    // May take seconds (chip start-up); an abort request is honoured right after it.
    if (KxapiFailed(m_pHal->Init())) {
        CleanUp();
        return false;
    }
    if (AbortRequested()) {
        CleanUpOnAbort();
        return false;
    }
    int numPorts = m_pHal->NumDemodPorts();
    if (numPorts < 0)
        numPorts = 0;
    for (int i = 0; i < numPorts; i++) {
        auto* port = new (std::nothrow) DemodPortController();
        if (port == nullptr) {
            CleanUp();
            return false;
        }
        m_Ports.push_back(port);
    }
    m_NumPorts = numPorts;
    if (numPorts == 0)
        m_InitBusy = 0;
    for (int port = 1; port <= numPorts; port++) {
        if (AbortRequested()) {
            CleanUpOnAbort();
            return false;
        }
        if (!m_Ports[port - 1]->Init(port, m_pHal)) {
            CleanUp();
            return false;
        }
    }
    // A port's start-up may be the slow part (the tuner of a one-port model): an abort
    // requested meanwhile is honoured here rather than handing out a removed device.
    if (AbortRequested()) {
        CleanUpOnAbort();
        return false;
    }
    m_InitBusy = 0;
    return true;
}

void DemodDeviceController::CleanUp()
{
    if (m_pCallbackId != nullptr) {
        m_Device.UnregisterCallback(m_pCallbackId);
        m_pCallbackId = nullptr;
    }
    // Each port stops its worker thread before the HAL it uses goes away.
    for (DemodPortController* port : m_Ports)
        delete port;
    m_Ports.clear();
    m_NumPorts = 0;
    delete m_pHal;
    m_pHal = nullptr;
    if (m_Device.IsAttached())
        m_Device.Detach();
    m_InitBusy = 0;
}

void DemodDeviceController::CleanUpOnAbort()
{
    CleanUp();
    for (int i = 0; i < ABORT_POLL_COUNT && m_AbortState.load() == ABORT_REQUESTED; i++)
        XpUtil::Sleep(ABORT_POLL_MS);
}

void DemodDeviceController::AbortInit(long long serial)
{
    if (serial != m_Serial)
        return;
    m_AbortState = ABORT_REQUESTED;
    for (int i = 0; i < ABORT_POLL_COUNT && m_InitBusy.load() != 0; i++)
        XpUtil::Sleep(ABORT_POLL_MS);
    m_AbortState = ABORT_COMPLETED;
}

bool DemodDeviceController::RegisterEventCallBackFunction(KxEventCallback callback, void* context)
{
    if (m_pCallbackId != nullptr)
        return false;
    void* id = nullptr;
    if (m_Device.RegisterCallback(callback, context, KX_DEVICE_EVENT_POWER, &id) != KXAPI_OK)
        return false;
    m_pCallbackId = id;
    return true;
}

bool DemodDeviceController::Attach(int port)
{
    if (!ValidPort(port))
        return false;
    return m_Ports[port - 1]->Attach();
}

bool DemodDeviceController::Detach(int port, IDemodPortClient* pClient, bool counted)
{
    if (!ValidPort(port))
        return false;
    return m_Ports[port - 1]->Detach(pClient, counted);
}

void DemodDeviceController::ProcessDemodMsg(const void* pMsg, int size, int port, IDemodPortClient* pClient,
                                            DemodRequestReuse* pReuse)
{
    if (!ValidPort(port))
        return;
    m_Ports[port - 1]->ProcessDemodMsg(pMsg, size, pClient, pReuse);
}
