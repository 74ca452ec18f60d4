#include "PipeServerImpl.h"

#include "CrossPlatform.h"

PipeServerImpl::PipeServerImpl(IXpPipeConnection* connection)
    : PipeMessenger(connection), m_pThread(Xp::Instance()->NewThread())
{
}

PipeServerImpl::~PipeServerImpl()
{
    WaitStopped();
    delete m_pThread;
    Disconnect();
}

void PipeServerImpl::StaticRun(void* self)
{
    static_cast<PipeServerImpl*>(self)->Run();
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
