#include "demod/DemodManager.h"

#include "KxServiceDefs.h"
#include "ServiceVersionHandler.h"

DemodManager::DemodManager()
    : m_Acceptor([](IXpPipeConnection* connection) -> PipeServerImpl* {
          return new (std::nothrow) ServiceVersionHandler(connection);
      })
{
}

DemodManager::~DemodManager() = default;

bool DemodManager::Init()
{
    return m_Acceptor.Init(DEMOD_SERVICE_PIPE_NAME);
}

bool DemodManager::Start()
{
    return m_Acceptor.Start();
}

void DemodManager::Stop()
{
    m_Acceptor.Stop();
}
