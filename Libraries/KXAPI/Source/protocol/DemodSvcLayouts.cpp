// Fixed-layout bodies of the demod FIFO protocol.
#include "DemodSvcLayouts.h"

#include <cstring>

#include "DemodSvcProtocol.h"
#include "KxCheckedMath.h"
#include "KxWire.h"

namespace Kxapi {

namespace {

DemodMsg Request(uint32_t cmd, size_t size)
{
    DemodMsg msg(size, 0);
    KxPutU32(msg.data(), 0, cmd);
    return msg;
}

// A request carrying one count at offset 4.
DemodMsg CountReq(uint32_t cmd, int32_t count)
{
    DemodMsg msg = Request(cmd, 8);
    KxPutI32(msg.data(), 4, count);
    return msg;
}

// The count at offset 4, between 0 and maxCount (KXAPI_E_INVALID_PARS otherwise).
KXAPI_RESULT ParseCountReq(const uint8_t* body, size_t size, int32_t maxCount, int32_t& count)
{
    if (size < 8)
        return KXAPI_E_INVALID_HEADER;
    count = KxGetI32(body, 4);
    return (count < 0 || count > maxCount) ? KXAPI_E_INVALID_PARS : KXAPI_OK;
}

// Request whose size must be at least minSize (the service has checked CommandProperties,
// the parsers check again so that they are safe on their own).
bool AtLeast(size_t size, size_t minSize) { return size >= minSize; }

} // namespace

void OldStyleParsWire::Encode(void* body, unsigned int offset) const
{
    KxPutI32(body, offset, m_ModType);
    KxPutI32(body, offset + 4, m_ParXtra0);
    KxPutI32(body, offset + 8, m_ParXtra1);
    KxPutI32(body, offset + 12, m_ParXtra2);
}

OldStyleParsWire OldStyleParsWire::Decode(const void* body, unsigned int offset)
{
    return {KxGetI32(body, offset), KxGetI32(body, offset + 4), KxGetI32(body, offset + 8), KxGetI32(body, offset + 12)};
}

DemodMsg DemodBuildCodeOnly(uint32_t cmd)
{
    return Request(cmd, 4);
}

DemodMsg DemodBuildReply(uint32_t cmd, KXAPI_RESULT result, size_t dataSize)
{
    DemodMsg msg(DEMOD_REPLY_HEADER_SIZE + dataSize, 0);
    KxPutU32(msg.data(), 0, cmd);
    KxPutU32(msg.data(), 4, result);
    return msg;
}

KXAPI_RESULT DemodCheckReply(const uint8_t* body, size_t size, uint32_t cmd, size_t expectedSize)
{
    if (body == nullptr || size < DEMOD_REPLY_HEADER_SIZE || KxGetU32(body, 0) != cmd)
        return KXAPI_E_INTERNAL;
    const KXAPI_RESULT result = KxGetU32(body, 4);
    if (size == expectedSize)
        return result;
    if (size == DEMOD_REPLY_HEADER_SIZE && KxapiFailed(result))
        return result;
    return KXAPI_E_INTERNAL;
}

DemodMsg DemodBuildAttach(int64_t serial, int32_t port, uint32_t xtra)
{
    DemodMsg msg = Request(DEMOD_CMD_ATTACH, DEMOD_ATTACH_REQ_SIZE);
    KxPutI64(msg.data(), 8, serial);
    KxPutI32(msg.data(), 16, port);
    KxPutU32(msg.data(), 20, xtra);
    return msg;
}

KXAPI_RESULT DemodParseAttach(const uint8_t* body, size_t size, int64_t& serial, int32_t& port, uint32_t& xtra)
{
    if (size != DEMOD_ATTACH_REQ_SIZE)
        return KXAPI_E_INVALID_PARS;
    serial = KxGetI64(body, 8);
    port = KxGetI32(body, 16);
    xtra = KxGetU32(body, 20);
    return KXAPI_OK;
}

KXAPI_RESULT DemodParseDetach(const uint8_t*, size_t size)
{
    return size == 4 ? KXAPI_OK : KXAPI_E_INVALID_PARS;
}

DemodMsg DemodBuildVersionReply(uint32_t major, uint32_t minor, uint32_t revision, uint32_t build)
{
    DemodMsg msg = DemodBuildReply(DEMOD_CMD_SERVICE_VERSION, KXAPI_OK, 16);
    KxPutU32(msg.data(), 8, major);
    KxPutU32(msg.data(), 12, minor);
    KxPutU32(msg.data(), 16, revision);
    KxPutU32(msg.data(), 20, build);
    return msg;
}

KXAPI_RESULT DemodParseVersionReply(const uint8_t* body, size_t size, uint32_t (&version)[4])
{
    KXAPI_RESULT r = DemodCheckReply(body, size, DEMOD_CMD_SERVICE_VERSION, DEMOD_VERSION_REPLY_SIZE);
    if (size != DEMOD_VERSION_REPLY_SIZE)
        return KxapiFailed(r) ? r : KXAPI_E_INTERNAL;
    for (unsigned int i = 0; i < 4; i++)
        version[i] = KxGetU32(body, 8 + 4 * i);
    return r;
}

DemodMsg DemodBuildConstelReq(int32_t count)
{
    return CountReq(DEMOD_CMD_CONSTEL_GET_OLD, count);
}

KXAPI_RESULT DemodParseConstelReq(const uint8_t* body, size_t size, int32_t& count)
{
    return ParseCountReq(body, size, DEMOD_MAX_CONSTEL_POINTS, count);
}

DemodMsg DemodBuildConstelReply(KXAPI_RESULT result, const std::vector<KxConstelPoint>& points)
{
    DemodMsg msg = DemodBuildReply(DEMOD_CMD_CONSTEL_GET_OLD, result, 8 * points.size());
    for (size_t i = 0; i < points.size(); i++)
        points[i].Encode(msg.data(), static_cast<unsigned int>(8 + KXCONSTELPOINT_SIZE * i));
    return msg;
}

KXAPI_RESULT DemodParseConstelReply(const uint8_t* body, size_t size, int32_t count, std::vector<KxConstelPoint>& points)
{
    points.clear();
    if (count < 0 || count > DEMOD_MAX_CONSTEL_POINTS)
        return KXAPI_E_INVALID_ARG;
    const size_t expected = 8 + 8 * static_cast<size_t>(count);
    KXAPI_RESULT r = DemodCheckReply(body, size, DEMOD_CMD_CONSTEL_GET_OLD, expected);
    if (size != expected)
        return r;
    points.resize(static_cast<size_t>(count));
    for (size_t i = 0; i < points.size(); i++)
        points[i] = KxConstelPoint::Decode(body, static_cast<unsigned int>(8 + KXCONSTELPOINT_SIZE * i));
    return r;
}

DemodMsg DemodBuildControlGetOldReply(KXAPI_RESULT result, const OldStyleParsWire& pars)
{
    DemodMsg msg = DemodBuildReply(DEMOD_CMD_CONTROL_GET_OLD, result, 16);
    pars.Encode(msg.data(), 8);
    return msg;
}

KXAPI_RESULT DemodParseControlGetOldReply(const uint8_t* body, size_t size, OldStyleParsWire& pars)
{
    KXAPI_RESULT r = DemodCheckReply(body, size, DEMOD_CMD_CONTROL_GET_OLD, DEMOD_CONTROL_GET_OLD_REPLY_SIZE);
    if (size == DEMOD_CONTROL_GET_OLD_REPLY_SIZE && r != KXAPI_E_INTERNAL)
        pars = OldStyleParsWire::Decode(body, 8);
    return r;
}

DemodMsg DemodBuildControlSetOldReq(const OldStyleParsWire& pars)
{
    DemodMsg msg = Request(DEMOD_CMD_CONTROL_SET_OLD, DEMOD_CONTROL_SET_OLD_REQ_SIZE);
    pars.Encode(msg.data(), 4);
    return msg;
}

KXAPI_RESULT DemodParseControlSetOldReq(const uint8_t* body, size_t size, OldStyleParsWire& pars)
{
    if (!AtLeast(size, DEMOD_CONTROL_SET_OLD_REQ_SIZE))
        return KXAPI_E_INVALID_HEADER;
    pars = OldStyleParsWire::Decode(body, 4);
    return KXAPI_OK;
}

DemodMsg DemodBuildLockMerReply(KXAPI_RESULT result, bool locked, int32_t merTenthsDb)
{
    DemodMsg msg = DemodBuildReply(DEMOD_CMD_LOCK_MER_GET_OLD, result, 12);
    KxPutI32(msg.data(), 8, locked ? 1 : 0);
    KxPutI32(msg.data(), 12, locked ? 1 : 0);
    KxPutI32(msg.data(), 16, merTenthsDb);
    return msg;
}

KXAPI_RESULT DemodParseLockMerReply(const uint8_t* body, size_t size, bool& locked, int32_t& merTenthsDb)
{
    KXAPI_RESULT r = DemodCheckReply(body, size, DEMOD_CMD_LOCK_MER_GET_OLD, DEMOD_LOCK_MER_REPLY_SIZE);
    if (size == DEMOD_LOCK_MER_REPLY_SIZE && r != KXAPI_E_INTERNAL) {
        locked = KxGetI32(body, 8) != 0;
        merTenthsDb = KxGetI32(body, 16);
    }
    return r;
}

DemodMsg DemodBuildNotSupportedReply(uint32_t cmd)
{
    return DemodBuildReply(cmd, KXAPI_E_NOT_SUPPORTED, cmd == DEMOD_CMD_UNSUPPORTED_10 ? 8 : 4);
}

DemodMsg DemodBuildTuneParsReply(uint32_t cmd, KXAPI_RESULT result, const KxTunePars& pars)
{
    DemodMsg msg = DemodBuildReply(cmd, result, 36);
    pars.Encode(msg.data(), 8);
    return msg;
}

KXAPI_RESULT DemodParseTuneParsReply(const uint8_t* body, size_t size, uint32_t cmd, KxTunePars& pars)
{
    KXAPI_RESULT r = DemodCheckReply(body, size, cmd, DEMOD_TUNE_PARS_REPLY_SIZE);
    if (size == DEMOD_TUNE_PARS_REPLY_SIZE && r != KXAPI_E_INTERNAL)
        pars = KxTunePars::Decode(body, 8);
    return r;
}

DemodMsg DemodBuildTuneParsSetReq(const KxTunePars& pars)
{
    DemodMsg msg = Request(DEMOD_CMD_TUNE_PARS_SET, DEMOD_TUNE_PARS_REQ_SIZE);
    pars.Encode(msg.data(), 4);
    return msg;
}

KXAPI_RESULT DemodParseTuneParsSetReq(const uint8_t* body, size_t size, KxTunePars& pars)
{
    if (!AtLeast(size, DEMOD_TUNE_PARS_REQ_SIZE))
        return KXAPI_E_INVALID_HEADER;
    pars = KxTunePars::Decode(body, 4);
    return KXAPI_OK;
}

DemodMsg DemodBuildFreqGetReply(KXAPI_RESULT result, int64_t freqHz)
{
    DemodMsg msg = DemodBuildReply(DEMOD_CMD_TUNER_FREQ_GET_OLD, result, 8);
    KxPutI64(msg.data(), 8, freqHz);
    return msg;
}

KXAPI_RESULT DemodParseFreqGetReply(const uint8_t* body, size_t size, int64_t& freqHz)
{
    KXAPI_RESULT r = DemodCheckReply(body, size, DEMOD_CMD_TUNER_FREQ_GET_OLD, DEMOD_FREQ_GET_REPLY_SIZE);
    if (size == DEMOD_FREQ_GET_REPLY_SIZE && r != KXAPI_E_INTERNAL)
        freqHz = KxGetI64(body, 8);
    return r;
}

DemodMsg DemodBuildFreqSetReq(int64_t freqHz)
{
    DemodMsg msg = Request(DEMOD_CMD_TUNER_FREQ_SET_OLD, DEMOD_FREQ_SET_REQ_SIZE);
    KxPutI64(msg.data(), 8, freqHz);
    return msg;
}

KXAPI_RESULT DemodParseFreqSetReq(const uint8_t* body, size_t size, int64_t& freqHz)
{
    if (!AtLeast(size, DEMOD_FREQ_SET_REQ_SIZE))
        return KXAPI_E_INVALID_HEADER;
    freqHz = KxGetI64(body, 8);
    return KXAPI_OK;
}

DemodMsg DemodBuildWordReq(uint32_t cmd, uint32_t value)
{
    DemodMsg msg = Request(cmd, DEMOD_WORD_REQ_SIZE);
    KxPutU32(msg.data(), 4, value);
    return msg;
}

KXAPI_RESULT DemodParseWordReq(const uint8_t* body, size_t size, uint32_t& value)
{
    if (!AtLeast(size, DEMOD_WORD_REQ_SIZE))
        return KXAPI_E_INVALID_HEADER;
    value = KxGetU32(body, 4);
    return KXAPI_OK;
}

KXAPI_RESULT DemodParseBoolReq(const uint8_t* body, size_t size, bool& value)
{
    if (!AtLeast(size, DEMOD_WORD_REQ_SIZE))
        return KXAPI_E_INVALID_HEADER;
    value = body[4] != 0;
    return KXAPI_OK;
}

DemodMsg DemodBuildDiseqcReq(int32_t replyCapacity, const std::vector<uint8_t>& message)
{
    DemodMsg msg = Request(DEMOD_CMD_LNB_DISEQC_SEND, 12 + message.size());
    KxPutI32(msg.data(), 4, replyCapacity);
    KxPutI32(msg.data(), 8, static_cast<int32_t>(message.size()));
    if (!message.empty())
        std::memcpy(msg.data() + 12, message.data(), message.size());
    return msg;
}

KXAPI_RESULT DemodParseDiseqcReq(const uint8_t* body, size_t size, int32_t& replyCapacity, std::vector<uint8_t>& message)
{
    message.clear();
    if (!AtLeast(size, 12))
        return KXAPI_E_INVALID_HEADER;
    replyCapacity = KxGetI32(body, 4);
    const int32_t length = KxGetI32(body, 8);
    if (replyCapacity < 0 || replyCapacity > DEMOD_MAX_DISEQC_BYTES || length < 0 || length > DEMOD_MAX_DISEQC_BYTES ||
        static_cast<size_t>(length) > size - 12)
        return KXAPI_E_INVALID_PARS;
    message.assign(body + 12, body + 12 + length);
    return KXAPI_OK;
}

DemodMsg DemodBuildDiseqcReply(KXAPI_RESULT result, const std::vector<uint8_t>& reply)
{
    DemodMsg msg = DemodBuildReply(DEMOD_CMD_LNB_DISEQC_SEND, result, 4 + reply.size());
    KxPutI32(msg.data(), 8, static_cast<int32_t>(reply.size()));
    if (!reply.empty())
        std::memcpy(msg.data() + 12, reply.data(), reply.size());
    return msg;
}

KXAPI_RESULT DemodParseDiseqcReply(const uint8_t* body, size_t size, int32_t replyCapacity, std::vector<uint8_t>& reply)
{
    reply.clear();
    if (body == nullptr || size < 12)
        return DemodCheckReply(body, size, DEMOD_CMD_LNB_DISEQC_SEND, 12);
    const int32_t length = KxGetI32(body, 8);
    if (length < 0 || length > replyCapacity)
        return KXAPI_E_INTERNAL;
    KXAPI_RESULT r = DemodCheckReply(body, size, DEMOD_CMD_LNB_DISEQC_SEND, 12 + static_cast<size_t>(length));
    if (r != KXAPI_E_INTERNAL)
        reply.assign(body + 12, body + 12 + length);
    return r;
}

DemodMsg DemodBuildBlindScanOldReq(const BlindScanOldReq& req)
{
    DemodMsg msg = Request(DEMOD_CMD_BLIND_SCAN_OLD, DEMOD_BLIND_SCAN_OLD_REQ_SIZE);
    KxPutI32(msg.data(), 4, req.m_MaxTransmitters);
    KxPutI64(msg.data(), 8, req.m_StepHz);
    KxPutI64(msg.data(), 16, req.m_StartFreqHz);
    KxPutI64(msg.data(), 24, req.m_EndFreqHz);
    return msg;
}

KXAPI_RESULT DemodParseBlindScanOldReq(const uint8_t* body, size_t size, BlindScanOldReq& req)
{
    if (!AtLeast(size, DEMOD_BLIND_SCAN_OLD_REQ_SIZE))
        return KXAPI_E_INVALID_HEADER;
    req.m_MaxTransmitters = KxGetI32(body, 4);
    req.m_StepHz = KxGetI64(body, 8);
    req.m_StartFreqHz = KxGetI64(body, 16);
    req.m_EndFreqHz = KxGetI64(body, 24);
    if (req.m_MaxTransmitters < 0 || req.m_MaxTransmitters > DEMOD_MAX_TRANSMITTERS)
        return KXAPI_E_INVALID_PARS;
    return KXAPI_OK;
}

DemodMsg DemodBuildBlindScanOldReply(KXAPI_RESULT result, int32_t maxTransmitters, const std::vector<KxTransmitter>& found)
{
    const size_t room = maxTransmitters > 0 ? static_cast<size_t>(maxTransmitters) : 0;
    const size_t n = found.size() < room ? found.size() : room;
    DemodMsg msg = DemodBuildReply(DEMOD_CMD_BLIND_SCAN_OLD, result, 8 + 16 * room);
    KxPutI32(msg.data(), 8, static_cast<int32_t>(n));
    for (size_t i = 0; i < n; i++) {
        found[i].Encode(msg.data(), static_cast<unsigned int>(16 + KXTRANSMITTER_SIZE * i));
    }
    return msg;
}

KXAPI_RESULT DemodParseBlindScanOldReply(const uint8_t* body, size_t size, int32_t maxTransmitters,
                                         std::vector<KxTransmitter>& found, int32_t& numFound)
{
    found.clear();
    numFound = 0;
    if (maxTransmitters < 0 || maxTransmitters > DEMOD_MAX_TRANSMITTERS)
        return KXAPI_E_INVALID_ARG;
    const size_t expected = 16 + 16 * static_cast<size_t>(maxTransmitters);
    KXAPI_RESULT r = DemodCheckReply(body, size, DEMOD_CMD_BLIND_SCAN_OLD, expected);
    if (size != expected)
        return r;
    const int32_t n = KxGetI32(body, 8);
    if (n < 0 || (n > maxTransmitters && r != KXAPI_E_BUF_TOO_SMALL))
        return KXAPI_E_INTERNAL;
    numFound = n;
    for (int32_t i = 0; i < n && i < maxTransmitters; i++) {
        found.push_back(KxTransmitter::Decode(body, static_cast<unsigned int>(16 + KXTRANSMITTER_SIZE * i)));
    }
    return r;
}

KXAPI_RESULT DemodBuildEventRegisterReq(const std::wstring& pipeName, uint64_t eventMask, DemodMsg& msg)
{
    if (pipeName.size() >= DEMOD_EVENT_PIPE_NAME_CHARS)
        return KXAPI_E_INVALID_ARG;
    msg = Request(DEMOD_CMD_EVENT_PIPE_REGISTER, DEMOD_EVENT_REGISTER_REQ_SIZE);
    for (size_t i = 0; i < pipeName.size(); i++)
        KxPutU32(msg.data(), static_cast<unsigned int>(4 + 4 * i), static_cast<uint32_t>(pipeName[i]));
    KxPutU64(msg.data(), 264, eventMask);
    return KXAPI_OK;
}

KXAPI_RESULT DemodParseEventRegisterReq(const uint8_t* body, size_t size, std::wstring& pipeName, uint64_t& eventMask)
{
    pipeName.clear();
    if (!AtLeast(size, DEMOD_EVENT_REGISTER_REQ_SIZE))
        return KXAPI_E_INVALID_HEADER;
    for (unsigned int i = 0; i < DEMOD_EVENT_PIPE_NAME_CHARS; i++) {
        const uint32_t c = KxGetU32(body, 4 + 4 * i);
        if (c == 0) {
            eventMask = KxGetU64(body, 264);
            return KXAPI_OK;
        }
        pipeName.push_back(static_cast<wchar_t>(c));
    }
    pipeName.clear();
    return KXAPI_E_INVALID_PARS;
}

DemodMsg DemodBuildTuneOldReq(int64_t freqHz, const OldStyleParsWire& pars)
{
    DemodMsg msg = Request(DEMOD_CMD_TUNE_OLD, DEMOD_TUNE_OLD_REQ_SIZE);
    KxPutI64(msg.data(), 8, freqHz);
    pars.Encode(msg.data(), 16);
    return msg;
}

KXAPI_RESULT DemodParseTuneOldReq(const uint8_t* body, size_t size, int64_t& freqHz, OldStyleParsWire& pars)
{
    if (!AtLeast(size, DEMOD_TUNE_OLD_REQ_SIZE))
        return KXAPI_E_INVALID_HEADER;
    freqHz = KxGetI64(body, 8);
    pars = OldStyleParsWire::Decode(body, 16);
    return KXAPI_OK;
}

DemodMsg DemodBuildStatsOldReq(const std::vector<int32_t>& statisticIds)
{
    DemodMsg msg = Request(DEMOD_CMD_STATISTICS_GET_OLD, 8 + 4 * statisticIds.size());
    KxPutI32(msg.data(), 4, static_cast<int32_t>(statisticIds.size()));
    for (size_t i = 0; i < statisticIds.size(); i++)
        KxPutI32(msg.data(), static_cast<unsigned int>(8 + 4 * i), statisticIds[i]);
    return msg;
}

KXAPI_RESULT DemodParseStatsOldReq(const uint8_t* body, size_t size, std::vector<int32_t>& statisticIds)
{
    statisticIds.clear();
    if (!AtLeast(size, 8))
        return KXAPI_E_INVALID_HEADER;
    const int32_t count = KxGetI32(body, 4);
    size_t needed = 0;
    if (!KxCheckedRecordSize(count, DEMOD_MAX_STATISTICS, 8, 4, size, needed))
        return KXAPI_E_INVALID_PARS;
    statisticIds.resize(static_cast<size_t>(count));
    for (size_t i = 0; i < statisticIds.size(); i++)
        statisticIds[i] = KxGetI32(body, static_cast<unsigned int>(8 + 4 * i));
    return KXAPI_OK;
}

DemodMsg DemodBuildStatsOldReply(KXAPI_RESULT result, const std::vector<TStatPars>& stats)
{
    DemodMsg msg = DemodBuildReply(DEMOD_CMD_STATISTICS_GET_OLD, result, 16 * stats.size());
    for (size_t i = 0; i < stats.size(); i++) {
        stats[i].Encode(msg.data(), static_cast<unsigned int>(8 + TSTATPARS_SIZE * i));
    }
    return msg;
}

KXAPI_RESULT DemodParseStatsOldReply(const uint8_t* body, size_t size, int32_t count, std::vector<TStatPars>& stats)
{
    stats.clear();
    if (count < 0 || count > DEMOD_MAX_STATISTICS)
        return KXAPI_E_INVALID_ARG;
    const size_t expected = 8 + 16 * static_cast<size_t>(count);
    KXAPI_RESULT r = DemodCheckReply(body, size, DEMOD_CMD_STATISTICS_GET_OLD, expected);
    if (size != expected)
        return r;
    stats.resize(static_cast<size_t>(count));
    for (size_t i = 0; i < stats.size(); i++) {
        stats[i] = TStatPars::Decode(body, static_cast<unsigned int>(8 + TSTATPARS_SIZE * i));
    }
    return r;
}

DemodMsg DemodBuildSupportedOldReq(int32_t capacity)
{
    return CountReq(DEMOD_CMD_SUPPORTED_STATS_GET_OLD, capacity);
}

KXAPI_RESULT DemodParseSupportedOldReq(const uint8_t* body, size_t size, int32_t& capacity)
{
    return ParseCountReq(body, size, DEMOD_MAX_STATISTICS, capacity);
}

DemodMsg DemodBuildSupportedOldReply(KXAPI_RESULT result, int32_t capacity, const std::vector<int32_t>& ids)
{
    const size_t room = capacity > 0 ? static_cast<size_t>(capacity) : 0;
    const size_t n = ids.size() < room ? ids.size() : room;
    DemodMsg msg = DemodBuildReply(DEMOD_CMD_SUPPORTED_STATS_GET_OLD, result, 4 + 4 * room);
    KxPutI32(msg.data(), 8, static_cast<int32_t>(n));
    for (size_t i = 0; i < n; i++)
        KxPutI32(msg.data(), static_cast<unsigned int>(12 + 4 * i), ids[i]);
    return msg;
}

KXAPI_RESULT DemodParseSupportedOldReply(const uint8_t* body, size_t size, int32_t capacity, std::vector<int32_t>& ids)
{
    ids.clear();
    if (capacity < 0 || capacity > DEMOD_MAX_STATISTICS)
        return KXAPI_E_INVALID_ARG;
    const size_t expected = 12 + 4 * static_cast<size_t>(capacity);
    KXAPI_RESULT r = DemodCheckReply(body, size, DEMOD_CMD_SUPPORTED_STATS_GET_OLD, expected);
    if (size != expected)
        return r;
    const int32_t n = KxGetI32(body, 8);
    if (n < 0 || n > capacity)
        return KXAPI_E_INTERNAL;
    for (int32_t i = 0; i < n; i++)
        ids.push_back(KxGetI32(body, static_cast<unsigned int>(12 + 4 * i)));
    return r;
}

DemodMsg DemodBuildStatsModeReq(int32_t mode0, int32_t mode1)
{
    DemodMsg msg = Request(DEMOD_CMD_STATS_MODE_SET, DEMOD_STATS_MODE_REQ_SIZE);
    KxPutI32(msg.data(), 4, mode0);
    KxPutI32(msg.data(), 8, mode1);
    return msg;
}

KXAPI_RESULT DemodParseStatsModeReq(const uint8_t* body, size_t size, int32_t& mode0, int32_t& mode1)
{
    if (!AtLeast(size, DEMOD_STATS_MODE_REQ_SIZE))
        return KXAPI_E_INVALID_HEADER;
    mode0 = KxGetI32(body, 4);
    mode1 = KxGetI32(body, 8);
    return KXAPI_OK;
}

} // namespace Kxapi
