#include "KxNameRecord.h"

#include <cstring>

#include "KxDriverRequests.h"
#include "KxWire.h"

bool KxBuildNameRecord(std::vector<unsigned char>& record, int port, const char* name, uint32_t capacity)
{
    size_t length = strnlen(name, KX_NAMEREC_NAME_SIZE);
    if (length >= KX_NAMEREC_NAME_SIZE)
        return false;
    record.assign(KX_NAMEREC_SIZE, 0);
    KxPutI32(record.data(), 0, port);
    memcpy(record.data() + KX_NAMEREC_NAME_OFFSET, name, length);
    KxPutU32(record.data(), KX_NAMEREC_CAPACITY_OFFSET, capacity);
    KxPutU32(record.data(), 72, KX_LIB_VERSION_MAJOR);
    KxPutU32(record.data(), 76, KX_LIB_VERSION_MINOR);
    KxPutU32(record.data(), 80, KX_LIB_VERSION_PATCH);
    return true;
}

KXAPI_RESULT KxParsePropertyAnswer(const unsigned char* answer, uint32_t size, int64_t& value, std::string* text)
{
    if (size < 16)
        return KXAPI_E_DEV_DRIVER;
    uint32_t type = KxGetU32(answer, 0);
    if (type == KX_PROPERTY_TYPE_STRING) {
        if (text == nullptr)
            return KXAPI_E_INVALID_TYPE;
        uint32_t length = KxGetU32(answer, 4);
        if (length > size - 8)
            return KXAPI_E_DEV_DRIVER;
        text->assign(reinterpret_cast<const char*>(answer + 8), strnlen(reinterpret_cast<const char*>(answer + 8), length));
        return KXAPI_OK;
    }
    if (type != KX_PROPERTY_TYPE_INT || text != nullptr)
        return KXAPI_E_INVALID_TYPE;
    value = KxGetI64(answer, 8);
    return KXAPI_OK;
}

uint32_t KxTableAnswerSize(int capacity)
{
    return 8 + static_cast<uint32_t>(capacity < 0 ? 0 : capacity) * KX_TABLE_ENTRY_SIZE;
}

KXAPI_RESULT KxParseTableAnswer(const unsigned char* answer, uint32_t size, int capacity, _KxTableEntry* entries,
                                int& numEntries)
{
    if (size < 8)
        return KXAPI_E_DEV_DRIVER;
    uint32_t count = KxGetU32(answer, 0);
    if (count > 0x100000u)
        return KXAPI_E_DEV_DRIVER;
    numEntries = static_cast<int>(count);
    if (static_cast<int>(count) > capacity)
        return KXAPI_E_BUF_TOO_SMALL;
    if (8 + count * KX_TABLE_ENTRY_SIZE > size)
        return KXAPI_E_DEV_DRIVER;
    for (uint32_t i = 0; i < count; i++) {
        entries[i].X = KxGetI64(answer, 8 + i * 16);
        entries[i].Y = KxGetI64(answer, 16 + i * 16);
    }
    return KXAPI_OK;
}
