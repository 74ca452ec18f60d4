#include "KxProxyCore.h"

#include <cstring>
#include <vector>

#include "KxBlockRequest.h"
#include "KxDriverRequests.h"
#include "KxNameRecord.h"
#include "KxWire.h"

constexpr uint32_t CORE_INSTANCE_ID = 0;
constexpr uint32_t TOD_CMD_GET_TIME = 3;

KXAPI_RESULT KxProxyCORE_PROPS::GetProperty(const char* name, int port, int64_t& value, std::string* text)
{
    std::vector<unsigned char> record;
    if (!KxBuildNameRecord(record, port, name, 0))
        return KXAPI_E_BUF_TOO_SMALL;
    KxBlockRequest request(m_InstanceId, port, KXP_PROPS_CMD_GET);
    request.PutBytes(record.data(), static_cast<unsigned int>(record.size()));
    std::vector<unsigned char> answer;
    KXAPI_RESULT result = request.Send(*m_pDriver, KXP_REQ_PROPS, answer, KX_PROPERTY_ANSWER_SIZE);
    if (KxapiFailed(result))
        return result;
    return KxParsePropertyAnswer(answer.data(), static_cast<uint32_t>(answer.size()), value, text);
}

KXAPI_RESULT KxProxyCORE_PROPS::GetTable(int port, const char* name, int capacity, _KxTableEntry* entries,
                                         int& numEntries)
{
    std::vector<unsigned char> record;
    if (!KxBuildNameRecord(record, port, name, static_cast<uint32_t>(capacity)))
        return KXAPI_E_TOO_LONG;
    KxBlockRequest request(m_InstanceId, port, KXP_PROPS_CMD_TABLE);
    request.PutBytes(record.data(), static_cast<unsigned int>(record.size()));
    std::vector<unsigned char> answer;
    KXAPI_RESULT result = request.Send(*m_pDriver, KXP_REQ_PROPS, answer, KxTableAnswerSize(capacity));
    if (KxapiFailed(result))
        return result;
    return KxParseTableAnswer(answer.data(), static_cast<uint32_t>(answer.size()), capacity, entries, numEntries);
}

KXAPI_RESULT KxProxyCORE_PROPS::GetVpd(int port, const char* keyword, unsigned char* buffer, int& length)
{
    KxBlockRequest request(m_InstanceId, port, KXP_PROPS_CMD_VPD);
    request.PutI32(port);
    char key[4] = {};
    memcpy(key, keyword, strnlen(keyword, sizeof(key))); // zero-padded, not terminated
    request.PutBytes(key, 4);
    std::vector<unsigned char> answer;
    KXAPI_RESULT result = request.Send(*m_pDriver, KXP_REQ_PROPS, answer, 4 + KX_VPD_MAX);
    if (KxapiFailed(result))
        return result;
    uint32_t size = KxGetU32(answer.data(), 0);
    if (size > KX_VPD_MAX)
        return KXAPI_E_DEV_DRIVER;
    if (static_cast<int>(size) > length) {
        length = static_cast<int>(size);
        return KXAPI_E_BUF_TOO_SMALL;
    }
    memcpy(buffer, answer.data() + 4, size);
    length = static_cast<int>(size);
    return KXAPI_OK;
}

KXAPI_RESULT KxProxyCORE_DEBUG::RegRead(uint32_t address, uint32_t& value)
{
    return Command(KXP_REQ_DEBUG, KXP_DEBUG_CMD_REG_READ, &address, 1, &value, 1);
}

KXAPI_RESULT KxProxyCORE_DEBUG::RegWrite(uint32_t address, uint32_t value)
{
    uint32_t words[2] = {address, value};
    return Command(KXP_REQ_DEBUG, KXP_DEBUG_CMD_REG_WRITE, words, 2, nullptr, 0);
}

KXAPI_RESULT KxProxyCORE_TOD::GetTime(uint64_t& timeOfDay, uint32_t& extra)
{
    uint32_t answer[3] = {};
    KXAPI_RESULT result = Command(KXP_REQ_TOD, TOD_CMD_GET_TIME, nullptr, 0, answer, 3);
    if (KxapiFailed(result))
        return result;
    timeOfDay = static_cast<uint64_t>(answer[0]) | (static_cast<uint64_t>(answer[1]) << 32);
    extra = answer[2];
    return result;
}

uint32_t KxProxyCORE_EVENT::EventRequest() const
{
    return KXP_REQ_EVENT_WAIT;
}

KxProxyCORE::KxProxyCORE(XpDriver* driver, const int driverVersion[4], int driverType)
    : KxProxyBase(driver, "", -1, CORE_INSTANCE_ID), m_Props(driver, "PROPS", -1, CORE_INSTANCE_ID),
      m_Debug(driver, "DEBUG", -1, CORE_INSTANCE_ID), m_Tod(driver, "TOD", -1, CORE_INSTANCE_ID),
      m_Event(driver, "EVENT", -1, CORE_INSTANCE_ID), m_DriverType(driverType)
{
    for (int i = 0; i < 4; i++)
        m_DriverVersion[i] = driverVersion[i];
}
