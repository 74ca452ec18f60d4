#include "ClientAcceptor.h"

#include <vector>

#include "CritSecAutoLockSvc.h"
#include "CrossPlatform.h"
#include "XpUtil.h"

ClientAcceptor::ClientAcceptor(HandlerFactory factory) : m_Factory(std::move(factory)) {}

ClientAcceptor::~ClientAcceptor()
{
    Stop();
    Close();
}

bool ClientAcceptor::Init(const wchar_t* pipeName)
{
    if (m_Initialised)
        return false;
    char name[100];
    if (XpUtil::WsToCs(name, pipeName, sizeof(name)) != KXAPI_OK)
        return false;
    m_pListener = Xp::Instance()->MakePipeListener(name);
    m_pClientListLock = Xp::Instance()->MakeCritSec();
    m_pReaperWake = Xp::Instance()->MakeEvent(false);
    if (m_pListener == nullptr || m_pClientListLock == nullptr || m_pReaperWake == nullptr) {
        Close();
        return false;
    }
    // Thread names hold at most 15 characters.
    m_AcceptName = std::string("A:").append(name).substr(0, 15);
    m_ReaperName = std::string("R:").append(name).substr(0, 15);
    m_ClientName = std::string("C:").append(name).substr(0, 15);
    m_Initialised = true;
    return true;
}

bool ClientAcceptor::Start()
{
    if (!m_Initialised || m_Running.load())
        return false;
    if (m_pAcceptThread == nullptr)
        m_pAcceptThread = Xp::Instance()->MakeThread();
    if (m_pAcceptThread == nullptr)
        return false;
    if (m_ReapPeriodMs != 0) {
        m_ReaperStop = false;
        m_pReaperThread = Xp::Instance()->MakeThread();
        if (m_pReaperThread == nullptr ||
            m_pReaperThread->Create(StaticReaperRun, this) != KXAPI_OK) {
            m_pReaperThread.reset();
            return false;
        }
        m_pReaperThread->SetName(m_ReaperName.c_str());
    }
    m_Running = true;
    if (m_pAcceptThread->Create(StaticClientConnectRun, this) != KXAPI_OK) {
        m_Running = false;
        StopReaper();
        return false;
    }
    m_pAcceptThread->SetName(m_AcceptName.c_str());
    return true;
}

void ClientAcceptor::Stop()
{
    if (!m_Initialised || !m_Running.exchange(false))
        return;
    m_pListener->StopWaiting();
    m_pAcceptThread->WaitFinished();
    m_pAcceptThread->Close();
    StopReaper();
}

void ClientAcceptor::StopReaper()
{
    if (m_pReaperThread == nullptr)
        return;
    m_ReaperStop = true;
    m_pReaperWake->Set();
    m_pReaperThread.reset(); // joins
}

void ClientAcceptor::CloseClients()
{
    if (m_pClientListLock == nullptr)
        return;
    std::list<PipeServerImpl*> clients;
    {
        CritSecAutoLockSvc lock(m_pClientListLock);
        clients.swap(m_Clients);
    }
    // Outside the list lock: a handler on its way out may take locks of its owner that the
    // owner holds while it asks for the client count.
    for (PipeServerImpl* client : clients)
        client->Stop();
    for (PipeServerImpl* client : clients) {
        client->WaitStopped();
        delete client;
    }
}

void ClientAcceptor::Close()
{
    if (m_pAcceptThread != nullptr) {
        m_Running = false;
        if (m_pListener != nullptr)
            m_pListener->StopWaiting();
        m_pAcceptThread.reset(); // joins
    }
    StopReaper();
    m_pListener.reset(); // removes the listener FIFO
    CloseClients();
    m_pClientListLock.reset();
    m_pReaperWake.reset();
    m_Initialised = false;
}

void ClientAcceptor::StaticClientConnectRun(void* self)
{
    static_cast<ClientAcceptor*>(self)->ClientConnectRun();
}

void ClientAcceptor::ClientConnectRun()
{
    while (m_Running.load()) {
        IXpPipeConnection* connection = nullptr;
        if (m_pListener->WaitConnection(connection) != KXAPI_OK || connection == nullptr)
            continue;
        if (m_PruneOnConnect)
            CleanClientList();
        PipeServerImpl* client = m_Factory(connection);
        if (client == nullptr) {
            delete connection;
            continue;
        }
        if (!client->Init()) {
            delete client;
            continue;
        }
        client->SetFinishedSignal(m_pReaperWake.get());
        client->SetThreadName(m_ClientName.c_str());
        // Listed and started under the lock: pruning never sees a handler that is listed but
        // not yet running (it would take it for a finished one), and a running handler is never
        // missing from the list. Start returns as soon as the thread runs, before Run does
        // anything, so a handler that takes this lock itself cannot hold it up.
        bool started;
        {
            CritSecAutoLockSvc lock(m_pClientListLock);
            m_Clients.push_back(client);
            started = client->Start();
            if (!started)
                m_Clients.remove(client);
        }
        if (!started)
            delete client;
    }
}

void ClientAcceptor::StaticReaperRun(void* self)
{
    static_cast<ClientAcceptor*>(self)->ReaperRun();
}

void ClientAcceptor::ReaperRun()
{
    while (!m_ReaperStop.load()) {
        m_pReaperWake->WaitTimeout(m_ReapPeriodMs);
        if (m_ReaperStop.load())
            break;
        CleanClientList();
    }
}

void ClientAcceptor::CleanClientList()
{
    if (m_pClientListLock == nullptr)
        return;
    std::vector<PipeServerImpl*> finished;
    {
        CritSecAutoLockSvc lock(m_pClientListLock);
        for (auto it = m_Clients.begin(); it != m_Clients.end();) {
            if (!(*it)->Running()) {
                finished.push_back(*it);
                it = m_Clients.erase(it);
            } else {
                ++it;
            }
        }
    }
    // Joined outside the lock: a finished handler's thread ends without taking it.
    for (PipeServerImpl* client : finished)
        delete client;
}

size_t ClientAcceptor::ClientCount()
{
    if (m_pClientListLock == nullptr)
        return 0;
    CritSecAutoLockSvc lock(m_pClientListLock);
    return m_Clients.size();
}
