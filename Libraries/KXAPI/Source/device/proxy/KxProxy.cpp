#include "KxProxy.h"

#include <iterator>
#include <vector>

#include "KxBlockRequest.h"
#include "KxDriverRequests.h"
#include "KxWire.h"

KXAPI_RESULT KxProxy::ExclusiveAccess(int cmd)
{
    if (cmd < KX_EXCL_ACQUIRE || cmd > KX_EXCL_CHECK)
        return KXAPI_E_NOT_SUPPORTED;
    if (m_pDriver == nullptr)
        return KXAPI_E_DEV_DRIVER;
    KxBlockRequest request(m_InstanceId, m_Port, static_cast<uint32_t>(cmd - 1));
    std::vector<unsigned char> answer;
    int raw = 0;
    uint32_t size = 4;
    answer.assign(4, 0);
    KXAPI_RESULT result = m_pDriver->IoCtl(KXP_REQ_EXCL_ACCESS, request.Bytes().data(),
                                           static_cast<uint32_t>(request.Bytes().size()), answer.data(), &size, &raw);
    if (result == KXAPI_OK || result == KXAPI_E_COMMUNICATION || cmd == KX_EXCL_RELEASE)
        return result;
    if (static_cast<uint32_t>(-raw) == KX_DRV_STATUS_IN_USE)
        return KXAPI_E_IN_USE;
    return result;
}

KXAPI_RESULT KxProxy::Command(uint32_t request, uint32_t command, const uint32_t* words, unsigned int numWords,
                              uint32_t* answer, unsigned int answerWords)
{
    if (m_pDriver == nullptr)
        return KXAPI_E_DEV_DRIVER;
    KxBlockRequest message(m_InstanceId, m_Port, command);
    for (unsigned int i = 0; i < numWords; i++)
        message.PutU32(words[i]);
    std::vector<unsigned char> bytes;
    KXAPI_RESULT result = message.Send(*m_pDriver, request, bytes, answerWords * 4);
    if (KxapiFailed(result))
        return result;
    for (unsigned int i = 0; i < answerWords; i++)
        answer[i] = KxGetU32(bytes.data(), i * 4);
    return result;
}

KxProxy* KxProxyCollection::operator[](int index) const
{
    if (index < 0 || index >= Count())
        return nullptr;
    return std::next(m_Proxies.begin(), index)->second;
}

KxProxyType KxProxyCollection::GetType(int index) const
{
    return std::next(m_Proxies.begin(), index)->first.m_Type;
}

std::string KxProxyCollection::GetRole(int index) const
{
    return std::next(m_Proxies.begin(), index)->first.m_Role;
}

KxProxy* KxProxyCollection::Get(const KxProxyId& id) const
{
    auto it = m_Proxies.find(id);
    return it == m_Proxies.end() ? nullptr : it->second;
}

void KxProxyCollection::Destroy()
{
    for (auto& entry : m_Proxies)
        delete entry.second;
    m_Proxies.clear();
}
