#include "network/KxeManager.h"

#include "KxServiceDefs.h"
#include "ServiceVersionHandler.h"

KxeManager::KxeManager()
    : m_Acceptor([](IXpPipeConnection* connection) -> PipeServerImpl* {
          return new (std::nothrow) ServiceVersionHandler(connection);
      })
{
}

KxeManager::~KxeManager() = default;

bool KxeManager::Init()
{
    return m_Acceptor.Init(KXE_SERVICE_PIPE_NAME);
}

bool KxeManager::Start()
{
    return m_Acceptor.Start();
}

void KxeManager::Stop()
{
    m_Acceptor.Stop();
}
