// Fixed-layout bodies of the demod FIFO protocol: builders and parsers shared by the client
// (requests out, replies in) and the service (requests in, replies out). Little-endian;
// every i64 stands at a multiple of 8; reserved bytes are written as zero and ignored.
// Request parsers of the service check every count against the request size and a bound
// before anything is allocated; reply parsers of the client check the exact length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "KxDemodTypes.h"
#include "KxStatistic.h"
#include "KxapiResult.h"

namespace Kxapi {

using DemodMsg = std::vector<uint8_t>;

// Records: KxConstelPoint, KxTransmitter and KxTunePars (KxDemodTypes.h) and TStatPars
// (KxStatistic.h) carry their own wire forms; the four-integer parameter form is here.
struct OldStyleParsWire { // the four-integer form of the demodulation parameters
    int32_t m_ModType = 0;
    int32_t m_ParXtra0 = 0;
    int32_t m_ParXtra1 = 0;
    int32_t m_ParXtra2 = 0;
    void Encode(void* body, unsigned int offset) const; // 16 bytes
    static OldStyleParsWire Decode(const void* body, unsigned int offset);
    bool operator==(const OldStyleParsWire&) const = default;
};

// Sizes of the fixed layouts.
constexpr size_t DEMOD_ATTACH_REQ_SIZE = 24;
constexpr size_t DEMOD_VERSION_REPLY_SIZE = 24;
constexpr size_t DEMOD_CONTROL_GET_OLD_REPLY_SIZE = 24;
constexpr size_t DEMOD_LOCK_MER_REPLY_SIZE = 20;
constexpr size_t DEMOD_TUNE_PARS_REQ_SIZE = 40;
constexpr size_t DEMOD_TUNE_PARS_REPLY_SIZE = 44;
constexpr size_t DEMOD_FREQ_GET_REPLY_SIZE = 16;
constexpr size_t DEMOD_FREQ_SET_REQ_SIZE = 16;
constexpr size_t DEMOD_CONTROL_SET_OLD_REQ_SIZE = 20;
constexpr size_t DEMOD_WORD_REQ_SIZE = 8;
constexpr size_t DEMOD_STATS_MODE_REQ_SIZE = 12;
constexpr size_t DEMOD_BLIND_SCAN_OLD_REQ_SIZE = 32;
constexpr size_t DEMOD_EVENT_REGISTER_REQ_SIZE = 272;
constexpr size_t DEMOD_EVENT_PIPE_NAME_CHARS = 64;
constexpr size_t DEMOD_TUNE_OLD_REQ_SIZE = 32;

// Bounds on client-supplied counts (requests beyond them are refused with KXAPI_E_INVALID_PARS).
constexpr int32_t DEMOD_MAX_CONSTEL_POINTS = 65536;
constexpr int32_t DEMOD_MAX_TRANSMITTERS = 4096;
constexpr int32_t DEMOD_MAX_STATISTICS = 1024;
constexpr int32_t DEMOD_MAX_DISEQC_BYTES = 1024;

// ---- Common -----------------------------------------------------------------------------
// A request that is the command code alone (4 bytes).
DemodMsg DemodBuildCodeOnly(uint32_t cmd);
// A reply of 8 + dataSize bytes: code, result, then zeroed data for the caller to fill.
DemodMsg DemodBuildReply(uint32_t cmd, KXAPI_RESULT result, size_t dataSize = 0);
// Client-side check of a reply: KXAPI_E_INTERNAL when shorter than 8 bytes, for another
// command, or neither expectedSize bytes long nor an 8-byte failure reply; otherwise the
// reply's result code (the data is present only when the size is expectedSize).
KXAPI_RESULT DemodCheckReply(const uint8_t* body, size_t size, uint32_t cmd, size_t expectedSize);

// ---- Connection commands (0, 1, 2) -----------------------------------------------------
DemodMsg DemodBuildAttach(int64_t serial, int32_t port, uint32_t xtra);
// KXAPI_E_INVALID_PARS unless exactly 24 bytes.
KXAPI_RESULT DemodParseAttach(const uint8_t* body, size_t size, int64_t& serial, int32_t& port, uint32_t& xtra);
// Command 2 must be exactly 4 bytes: KXAPI_E_INVALID_PARS otherwise.
KXAPI_RESULT DemodParseDetach(const uint8_t* body, size_t size);
DemodMsg DemodBuildVersionReply(uint32_t major, uint32_t minor, uint32_t revision, uint32_t build);
KXAPI_RESULT DemodParseVersionReply(const uint8_t* body, size_t size, uint32_t (&version)[4]);

// ---- 5: constellation read ---------------------------------------------------------------
DemodMsg DemodBuildConstelReq(int32_t count);
KXAPI_RESULT DemodParseConstelReq(const uint8_t* body, size_t size, int32_t& count);
DemodMsg DemodBuildConstelReply(KXAPI_RESULT result, const std::vector<KxConstelPoint>& points);
KXAPI_RESULT DemodParseConstelReply(const uint8_t* body, size_t size, int32_t count, std::vector<KxConstelPoint>& points);

// ---- 6 / 15: four-integer parameters -------------------------------------------------------
DemodMsg DemodBuildControlGetOldReply(KXAPI_RESULT result, const OldStyleParsWire& pars);
KXAPI_RESULT DemodParseControlGetOldReply(const uint8_t* body, size_t size, OldStyleParsWire& pars);
DemodMsg DemodBuildControlSetOldReq(const OldStyleParsWire& pars);
KXAPI_RESULT DemodParseControlSetOldReq(const uint8_t* body, size_t size, OldStyleParsWire& pars);

// ---- 7: lock and MER ---------------------------------------------------------------------
DemodMsg DemodBuildLockMerReply(KXAPI_RESULT result, bool locked, int32_t merTenthsDb);
KXAPI_RESULT DemodParseLockMerReply(const uint8_t* body, size_t size, bool& locked, int32_t& merTenthsDb);

// ---- 8, 9, 10: not supported (12, 12 and 16 bytes) ------------------------------------------
DemodMsg DemodBuildNotSupportedReply(uint32_t cmd);

// ---- 11 / 12: tuner parameters -----------------------------------------------------------
DemodMsg DemodBuildTuneParsReply(uint32_t cmd, KXAPI_RESULT result, const KxTunePars& pars);
KXAPI_RESULT DemodParseTuneParsReply(const uint8_t* body, size_t size, uint32_t cmd, KxTunePars& pars);
DemodMsg DemodBuildTuneParsSetReq(const KxTunePars& pars);
KXAPI_RESULT DemodParseTuneParsSetReq(const uint8_t* body, size_t size, KxTunePars& pars);

// ---- 13 / 14: tuner frequency ------------------------------------------------------------
DemodMsg DemodBuildFreqGetReply(KXAPI_RESULT result, int64_t freqHz);
KXAPI_RESULT DemodParseFreqGetReply(const uint8_t* body, size_t size, int64_t& freqHz);
DemodMsg DemodBuildFreqSetReq(int64_t freqHz);
KXAPI_RESULT DemodParseFreqSetReq(const uint8_t* body, size_t size, int64_t& freqHz);

// ---- 16..19, 25, 34, 47: one word at offset 4 (bools in byte 4) ---------------------------
DemodMsg DemodBuildWordReq(uint32_t cmd, uint32_t value);
KXAPI_RESULT DemodParseWordReq(const uint8_t* body, size_t size, uint32_t& value);
KXAPI_RESULT DemodParseBoolReq(const uint8_t* body, size_t size, bool& value);

// ---- 20: DiSEqC message --------------------------------------------------------------------
DemodMsg DemodBuildDiseqcReq(int32_t replyCapacity, const std::vector<uint8_t>& message);
// KXAPI_E_INVALID_PARS when the message length does not fit the request or a length is
// negative or above DEMOD_MAX_DISEQC_BYTES.
KXAPI_RESULT DemodParseDiseqcReq(const uint8_t* body, size_t size, int32_t& replyCapacity, std::vector<uint8_t>& message);
DemodMsg DemodBuildDiseqcReply(KXAPI_RESULT result, const std::vector<uint8_t>& reply);
// The reply length must fit the client's capacity and the message.
KXAPI_RESULT DemodParseDiseqcReply(const uint8_t* body, size_t size, int32_t replyCapacity, std::vector<uint8_t>& reply);

// ---- 24: blind scan ------------------------------------------------------------------------
struct BlindScanOldReq {
    int32_t m_MaxTransmitters = 0;
    int64_t m_StepHz = 0;
    int64_t m_StartFreqHz = 0;
    int64_t m_EndFreqHz = 0;
};
DemodMsg DemodBuildBlindScanOldReq(const BlindScanOldReq& req);
KXAPI_RESULT DemodParseBlindScanOldReq(const uint8_t* body, size_t size, BlindScanOldReq& req);
// 16 + 16 x maxTransmitters bytes; found.size() must not exceed maxTransmitters.
DemodMsg DemodBuildBlindScanOldReply(KXAPI_RESULT result, int32_t maxTransmitters, const std::vector<KxTransmitter>& found);
// numFound: the transmitters the scan found. A count above maxTransmitters comes only with
// KXAPI_E_BUF_TOO_SMALL: found then holds the first maxTransmitters records and the result is
// passed on; with any other result it marks a broken reply (KXAPI_E_INTERNAL).
KXAPI_RESULT DemodParseBlindScanOldReply(const uint8_t* body, size_t size, int32_t maxTransmitters,
                                         std::vector<KxTransmitter>& found, int32_t& numFound);

// ---- 26: event FIFO registration -------------------------------------------------------------
// The name is at most 63 characters (KXAPI_E_INVALID_ARG otherwise).
KXAPI_RESULT DemodBuildEventRegisterReq(const std::wstring& pipeName, uint64_t eventMask, DemodMsg& msg);
// The name ends at its first wide NUL; KXAPI_E_INVALID_PARS when none of the 64 is NUL.
KXAPI_RESULT DemodParseEventRegisterReq(const uint8_t* body, size_t size, std::wstring& pipeName, uint64_t& eventMask);

// ---- 27: tune with four integers -------------------------------------------------------------
DemodMsg DemodBuildTuneOldReq(int64_t freqHz, const OldStyleParsWire& pars);
KXAPI_RESULT DemodParseTuneOldReq(const uint8_t* body, size_t size, int64_t& freqHz, OldStyleParsWire& pars);

// ---- 30: statistics read -------------------------------------------------------------------
DemodMsg DemodBuildStatsOldReq(const std::vector<int32_t>& statisticIds);
// KXAPI_E_INVALID_PARS when the count is negative, above DEMOD_MAX_STATISTICS or longer than the request.
KXAPI_RESULT DemodParseStatsOldReq(const uint8_t* body, size_t size, std::vector<int32_t>& statisticIds);
DemodMsg DemodBuildStatsOldReply(KXAPI_RESULT result, const std::vector<TStatPars>& stats);
KXAPI_RESULT DemodParseStatsOldReply(const uint8_t* body, size_t size, int32_t count, std::vector<TStatPars>& stats);

// ---- 31: supported statistics ----------------------------------------------------------------
DemodMsg DemodBuildSupportedOldReq(int32_t capacity);
KXAPI_RESULT DemodParseSupportedOldReq(const uint8_t* body, size_t size, int32_t& capacity);
// 12 + 4 x capacity bytes; at most capacity ids are written, count holds the number written.
DemodMsg DemodBuildSupportedOldReply(KXAPI_RESULT result, int32_t capacity, const std::vector<int32_t>& ids);
KXAPI_RESULT DemodParseSupportedOldReply(const uint8_t* body, size_t size, int32_t capacity, std::vector<int32_t>& ids);

// ---- 32: statistics mode -----------------------------------------------------------------------
DemodMsg DemodBuildStatsModeReq(int32_t mode0, int32_t mode1);
KXAPI_RESULT DemodParseStatsModeReq(const uint8_t* body, size_t size, int32_t& mode0, int32_t& mode1);

} // namespace Kxapi
