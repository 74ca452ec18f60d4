#include "KxServiceConnection.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "CritSecAutoLock.h"
#include "CrossPlatform.h"
#include "KxServiceDefs.h"
#include "KxWire.h"

KxServiceConnection::KxServiceConnection(const wchar_t* pipeName, ReconnectPolicy policy)
    : m_PipeName(pipeName != nullptr ? pipeName : L""), m_Policy(policy), m_pLock(Xp::Instance()->MakeCritSec())
{
}

KxServiceConnection::~KxServiceConnection()
{
    Close();
}

KXAPI_RESULT KxServiceConnection::Open()
{
    KXAPI_RESULT result = KXAPI_OK;
    m_pMessenger.reset(PipeConnectService(m_PipeName.c_str(), result));
    m_SetUpPending = false;
    m_StaleReplyPossible = false;
    return result;
}

void KxServiceConnection::Drop()
{
    m_pMessenger.reset(); // closes the connection
    m_SetUpPending = false;
}

void KxServiceConnection::RunSetUp()
{
    m_SetUpPending = false;
    if (!m_SetUp || m_pMessenger == nullptr)
        return;
    switch (m_SetUp(*this)) {
    case SetUpResult::READY:
        break;
    case SetUpResult::RETRY:
        m_SetUpPending = true;
        break;
    case SetUpResult::DROP:
        Drop();
        break;
    }
}

KXAPI_RESULT KxServiceConnection::Connect()
{
    if (m_pLock == nullptr)
        return KXAPI_E_OUT_OF_MEM;
    CritSecAutoLock lock(m_pLock);
    return m_pMessenger != nullptr ? KXAPI_OK : Open();
}

bool KxServiceConnection::IsConnected()
{
    CritSecAutoLock lock(m_pLock);
    return m_pMessenger != nullptr;
}

bool KxServiceConnection::Exchange(const void* request, size_t size, std::vector<uint8_t>& reply)
{
    reply.clear();
    CritSecAutoLock lock(m_pLock);
    if (m_pMessenger == nullptr || size > INT_MAX)
        return false;
    // Whatever an exchange that gave up on its reply left is not this request's reply. Only
    // such an exchange can leave something: the check costs a system call, so it is made
    // only after one.
    if (m_StaleReplyPossible) {
        m_pMessenger->ClearRxPipe();
        m_StaleReplyPossible = false;
    }
    if (!m_pMessenger->WriteMsg(static_cast<const char*>(request), static_cast<int>(size)))
        return false;
    // Straight into the caller's buffer (its capacity kept from earlier replies).
    size_t replySize = 0;
    if (!m_pMessenger->ReadMsg(reply, replySize, m_ReplyTimeoutMs)) {
        reply.clear();
        m_StaleReplyPossible = true;
        return false;
    }
    reply.resize(replySize);
    return true;
}

KXAPI_RESULT KxServiceConnection::Transfer(const void* request, size_t size, std::vector<uint8_t>& reply)
{
    reply.clear();
    if (m_pLock == nullptr)
        return KXAPI_E_OUT_OF_MEM;
    CritSecAutoLock lock(m_pLock);
    if (m_pMessenger == nullptr && m_Policy == ReconnectPolicy::ON_NEXT_REQUEST) {
        KXAPI_RESULT result = Open();
        if (result != KXAPI_OK)
            return result;
    }
    // A set-up the service refused (for example while it initialises a device after a
    // restart) is repeated before the next request.
    if (m_SetUpPending)
        RunSetUp();
    if (Exchange(request, size, reply))
        return KXAPI_OK;
    // The reply (if any) of this request is lost with the connection.
    reply.clear();
    Drop();
    if (m_Policy == ReconnectPolicy::AFTER_FAILURE) {
        ++m_Reconnects;
        if (Open() == KXAPI_OK)
            RunSetUp();
    }
    return KXAPI_E_CONNECT_TO_SERVICE;
}

KXAPI_RESULT KxServiceConnection::TransferExact(const void* request, size_t size, void* reply, size_t replySize)
{
    std::vector<uint8_t> answer;
    KXAPI_RESULT result = Transfer(request, size, answer);
    if (result != KXAPI_OK)
        return result;
    if (answer.size() != replySize)
        return KXAPI_E_INTERNAL;
    if (replySize > 0)
        memcpy(reply, answer.data(), replySize);
    return KXAPI_OK;
}

void KxServiceConnection::Close()
{
    if (m_pLock == nullptr)
        return;
    CritSecAutoLock lock(m_pLock);
    if (m_pMessenger == nullptr)
        return;
    char close[4];
    KxPutU32(close, 0, KXAPI_SVC_CMD_CLOSE);
    m_pMessenger->WriteMsg(close, sizeof(close));
    Drop();
}
