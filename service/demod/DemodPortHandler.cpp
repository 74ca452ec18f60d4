#include "DemodPortHandler.h"

#include <cstdlib>

#include "CritSecAutoLockSvc.h"
#include "CrossPlatform.h"
#include "DemodDeviceController.h"
#include "DemodManager.h"
#include "DemodSvcProtocol.h"
#include "KxServiceDefs.h"
#include "KxWire.h"

using Kxapi::DEMOD_CMD_ATTACH;
using Kxapi::DEMOD_CMD_DETACH;
using Kxapi::DEMOD_CMD_SERVICE_VERSION;

namespace {
// Attach request: code, reserved, serial (i64) at 8, 1-based port (i32) at 16, ignored word.
constexpr int ATTACH_REQUEST_SIZE = 24;
constexpr unsigned int ATTACH_SERIAL_OFFSET = 8;
constexpr unsigned int ATTACH_PORT_OFFSET = 16;
constexpr int DETACH_REQUEST_SIZE = 4;
constexpr int CONNECTION_REPLY_SIZE = 8;
} // namespace

DemodPortHandler::DemodPortHandler(DemodManager* pManager, IXpPipeConnection* connection)
    : PipeServerImpl(connection), m_pManager(pManager)
{
}

DemodPortHandler::~DemodPortHandler()
{
    WaitStopped();
    // Only when the thread never ran its exit path (never started): leave the port so that
    // it keeps no reference to this client.
    DetachAndRelease();
}

bool DemodPortHandler::Init()
{
    if (!PipeServerImpl::Init())
        return false;
    m_Ready = true;
    return true;
}

bool DemodPortHandler::ServeRequest(const char* body, int size)
{
    uint32_t command = KxGetU32(body, 0);
    switch (command) {
    case DEMOD_CMD_ATTACH:
        HandleAttach(body, size);
        return true;
    case DEMOD_CMD_DETACH:
        HandleDetach(size);
        return true;
    case DEMOD_CMD_SERVICE_VERSION: {
        char reply[KXAPI_SVC_VERSION_REPLY_SIZE];
        KxBuildVersionReply(reply, command);
        WriteMsg(reply, sizeof(reply));
        return true;
    }
    default:
        if (m_pController == nullptr)
            Reply(command, KXAPI_E_NOT_ATTACHED);
        else
            m_pController->ProcessDemodMsg(body, size, m_Port, this, &m_Reuse);
        return true;
    }
}

void DemodPortHandler::HandleAttach(const char* body, int size)
{
    if (size != ATTACH_REQUEST_SIZE) {
        Reply(DEMOD_CMD_ATTACH, KXAPI_E_INVALID_PARS);
        return;
    }
    // A second attach on one connection first leaves the port attached so far.
    DetachAndRelease();
    long long serial = KxGetI64(body, ATTACH_SERIAL_OFFSET);
    int port = KxGetI32(body, ATTACH_PORT_OFFSET);
    DemodDeviceController* controller = m_pManager->GetDemodDeviceController(serial);
    if (controller == nullptr) {
        Reply(DEMOD_CMD_ATTACH, KXAPI_E_NO_SUCH_DEVICE);
        return;
    }
    if (port < 1 || port > controller->NumPorts()) {
        m_pManager->ReleaseDemodDeviceController(serial);
        Reply(DEMOD_CMD_ATTACH, KXAPI_E_NO_SUCH_PORT);
        return;
    }
    m_pController = controller;
    m_Serial = serial;
    m_Port = port;
    // A port whose HAL refuses its first user still answers OK; it then counts no user for
    // this client, and its port commands are answered by the port as for an idle port.
    m_Counted = controller->Attach(port);
    Reply(DEMOD_CMD_ATTACH, KXAPI_OK);
}

void DemodPortHandler::HandleDetach(int size)
{
    if (size != DETACH_REQUEST_SIZE) {
        Reply(DEMOD_CMD_DETACH, KXAPI_E_INVALID_PARS);
        return;
    }
    if (m_pController == nullptr) {
        Reply(DEMOD_CMD_DETACH, KXAPI_E_NOT_ATTACHED);
        return;
    }
    DetachAndRelease();
    Reply(DEMOD_CMD_DETACH, KXAPI_OK);
}

void DemodPortHandler::DetachAndRelease()
{
    if (m_pController == nullptr)
        return;
    DemodDeviceController* controller = m_pController;
    m_pController = nullptr;
    m_Reuse.Forget();
    controller->Detach(m_Port, this, m_Counted);
    m_Counted = false;
    m_pManager->ReleaseDemodDeviceController(m_Serial);
}

void DemodPortHandler::Reply(uint32_t command, KXAPI_RESULT result)
{
    char reply[CONNECTION_REPLY_SIZE];
    KxPutU32(reply, 0, command);
    KxPutU32(reply, 4, result);
    WriteMsg(reply, sizeof(reply));
}

void DemodPortHandler::DemodCmdProcessedCB(const void* msg, unsigned short size)
{
    WriteMsg(static_cast<const char*>(msg), size);
}
