#include "global/KxGlobalManager.h"

#include <string>

#include "KxServiceDefs.h"
#include "XpUtil.h"
#include "global/KxGlobalClient.h"

KxGlobalManager::KxGlobalManager()
    : m_Acceptor([this](IXpPipeConnection* connection) -> PipeServerImpl* {
          return new (std::nothrow) KxGlobalClient(this, connection);
      })
{
}

KxGlobalManager::~KxGlobalManager() = default;

bool KxGlobalManager::Init()
{
    return m_Acceptor.Init(KXGLOBAL_SERVICE_PIPE_NAME);
}

bool KxGlobalManager::Start()
{
    return m_Acceptor.Start();
}

void KxGlobalManager::Stop()
{
    m_Acceptor.Stop();
}

KXAPI_RESULT KxGlobalManager::SetDeviceState(char* name, bool state)
{
    return XpUtil::ChangeDeviceState(std::string(name != nullptr ? name : ""), state);
}
