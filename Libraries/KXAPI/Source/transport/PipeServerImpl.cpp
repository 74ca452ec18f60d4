#include "PipeServerImpl.h"

#include <cstdlib>

#include "CritSecAutoLock.h"
#include "CrossPlatform.h"
#include "KxServiceDefs.h"
#include "KxWire.h"

PipeServerImpl::PipeServerImpl(IXpPipeConnection* connection)
    : PipeMessenger(connection), m_pThread(Xp::Instance()->MakeThread()), m_pWriteLock(Xp::Instance()->MakeCritSec())
{
}

PipeServerImpl::~PipeServerImpl()
{
    WaitStopped();
    m_pThread.reset();
    Disconnect();
}

bool PipeServerImpl::Init()
{
    return PipeMessenger::Init() && m_pThread != nullptr && m_pWriteLock != nullptr;
}

void PipeServerImpl::StaticRun(void* self)
{
    static_cast<PipeServerImpl*>(self)->Run();
}

void PipeServerImpl::Run()
{
    while (Running()) {
        char* body = nullptr;
        int size = 0;
        if (!ReadMsg(body, size, XP_INFINITE))
            break;
        bool keepServing = true;
        if (size >= COMMAND_SIZE) // shorter messages carry no command and get no reply
            keepServing = KxGetU32(body, 0) != KXAPI_SVC_CMD_CLOSE && ServeRequest(body, size);
        free(body);
        // A client that does not take its replies is not served any further.
        if (!keepServing || WriteFailed())
            break;
    }
    // Stop() also ends the loop: what the client holds is released all the same.
    OnServeEnd();
    {
        // A reply from another thread never meets a connection half closed.
        CritSecAutoLock lock(m_pWriteLock);
        m_WriteFailed = true;
        Disconnect();
    }
    SetFinished();
}

bool PipeServerImpl::WriteMsg(const char* buffer, int size)
{
    CritSecAutoLock lock(m_pWriteLock);
    if (m_WriteFailed.load())
        return false;
    const bool written = PipeMessenger::WriteMsg(buffer, size);
    if (!written)
        m_WriteFailed = true;
    return written;
}

bool PipeServerImpl::Start()
{
    if (m_Running.load() || m_pThread == nullptr)
        return false;
    m_Running = true;
    if (m_pThread->Create(StaticRun, this) != KXAPI_OK) {
        m_Running = false;
        return false;
    }
    return true;
}

void PipeServerImpl::Stop()
{
    if (m_Running.exchange(false))
        StopRW();
}

void PipeServerImpl::WaitStopped()
{
    Stop();
    if (m_pThread != nullptr) {
        m_pThread->WaitFinished();
        m_pThread->Close();
    }
}

bool PipeServerImpl::Running()
{
    return m_Running.load();
}
