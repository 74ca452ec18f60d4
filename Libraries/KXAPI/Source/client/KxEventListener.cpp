#include "KxEventListener.h"

#include <cstdlib>
#include <memory>
#include <new>

#include "CritSecAutoLock.h"
#include "CrossPlatform.h"

KxEventListener::KxEventListener() : m_pReaderLock(Xp::Instance()->MakeCritSec()) {}

KxEventListener::~KxEventListener()
{
    Stop();
}

KXAPI_RESULT KxEventListener::Start(const char* name, MessageHandler handler, unsigned int maxMessageSize)
{
    if (m_pThread != nullptr)
        return KXAPI_E_IN_USE;
    Xp* xp = Xp::Instance();
    m_Handler = std::move(handler);
    m_MaxMessageSize = maxMessageSize;
    m_pListener = xp->MakePipeListener(name, XP_INFINITE); // events may never come
    m_pConnected = xp->MakeEvent(true);
    XpThreadPtr thread = xp->MakeThread();
    if (m_pReaderLock == nullptr || m_pListener == nullptr || m_pConnected == nullptr || thread == nullptr ||
        m_pListener->WaitPipeCreated() != KXAPI_OK) {
        Stop();
        return KXAPI_E_INTERNAL;
    }
    m_Run = true;
    if (thread->Create(StaticRun, this) != KXAPI_OK) {
        Stop();
        return KXAPI_E_INTERNAL;
    }
    m_pThread = std::move(thread);
    return KXAPI_OK;
}

bool KxEventListener::WaitConnected(unsigned int timeoutMs)
{
    return m_pConnected != nullptr && m_pConnected->WaitTimeout(timeoutMs) == KXAPI_OK;
}

void KxEventListener::Stop()
{
    m_Run = false;
    if (m_pListener != nullptr)
        m_pListener->StopWaiting();
    {
        CritSecAutoLock lock(m_pReaderLock);
        if (m_pReader != nullptr)
            m_pReader->StopRW();
    }
    m_pThread.reset(); // joins
    m_pListener.reset(); // removes the FIFO
    m_pConnected.reset();
    m_Handler = nullptr;
}

void KxEventListener::StaticRun(void* self)
{
    static_cast<KxEventListener*>(self)->Run();
}

// One connection at a time: when it ends (the service dropped this client, or it restarted),
// the thread waits for the next one on the same FIFO, which the service makes when the
// client registers again.
void KxEventListener::Run()
{
    while (m_Run.load()) {
        IXpPipeConnection* connection = nullptr;
        if (m_pListener->WaitConnection(connection) != KXAPI_OK || connection == nullptr)
            continue; // a stop request ends the loop; a dropped request is waited past
        std::unique_ptr<PipeMessenger> reader(new (std::nothrow) PipeMessenger(connection));
        if (reader == nullptr) {
            delete connection;
            continue;
        }
        reader->SetMaxMessageSize(m_MaxMessageSize);
        {
            CritSecAutoLock lock(m_pReaderLock);
            m_pReader = reader.get();
        }
        // Stop may have missed the reader it had no pointer to yet.
        if (m_Run.load()) {
            m_pConnected->Set();
            for (;;) {
                char* body = nullptr;
                int size = 0;
                if (!m_Run.load() || !reader->ReadMsg(body, size, XP_INFINITE))
                    break;
                m_Handler(body, size);
                free(body);
            }
            m_pConnected->Reset();
        }
        CritSecAutoLock lock(m_pReaderLock);
        m_pReader = nullptr;
    }
}
