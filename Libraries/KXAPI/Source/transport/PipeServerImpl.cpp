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
    // One receive buffer per connection, reused from request to request; one that a large
    // message grew is given back afterwards, so that idle connections hold little.
    std::vector<uint8_t> request;
    while (Running()) {
        size_t size = 0;
        if (!ReadMsg(request, size, XP_INFINITE))
            break;
        const char* body = reinterpret_cast<const char*>(request.data());
        bool keepServing = true;
        if (size >= COMMAND_SIZE) // shorter messages carry no command and get no reply
            keepServing = KxGetU32(body, 0) != KXAPI_SVC_CMD_CLOSE && ServeRequest(body, static_cast<int>(size));
        if (request.size() > KEPT_REQUEST_BUFFER_SIZE)
            std::vector<uint8_t>().swap(request);
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
    // Taken first: once finished, the handler may be deleted at any moment (its owner then
    // waits for this thread to return).
    IXpEvent* const pFinished = m_pFinishedSignal;
    SetFinished();
    if (pFinished != nullptr)
        pFinished->Set();
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
    if (m_pThreadName != nullptr)
        m_pThread->SetName(m_pThreadName);
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
