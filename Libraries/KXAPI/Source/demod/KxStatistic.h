// KxStatistic: one receiver statistic (id, qualifying extra ids, result and typed value) as it
// crosses the demod protocol; element "kxstat".
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "KxStatisticValues.h"
#include "KxapiResult.h"
#include "Markup.h"

namespace Kxapi {

// Value types; the structured ones are numbered 4 to 21 in the order of KxStatistic::Value.
enum KxStatValueType : int32_t {
    KX_STAT_VT_NONE = 0, KX_STAT_VT_BOOL = 1, KX_STAT_VT_DOUBLE = 2, KX_STAT_VT_INT = 3,
    KX_STAT_VT_FIRST_STRUCT = 4, KX_STAT_VT_LAST = 21,
};

// Named statistic ids: X(enumerator, id, table name), one per row of the statistic table (a test
// checks each pair against the table).
#define KX_STATISTIC_IDS(X) \
    X(KX_STAT_BAD_PCK_CNT, 3, "BadPckCnt") \
    X(KX_STAT_AGC1, 1, "Agc1") \
    X(KX_STAT_AGC2, 2, "Agc2") \
    X(KX_STAT_RF_LVL_CHAN, 5, "RfLvlChan") \
    X(KX_STAT_RF_LVL_NARROW, 6, "RfLvlNarrow") \
    X(KX_STAT_RF_LVL_UNCALIB, 7, "RfLvlUncalib") \
    X(KX_STAT_RS, 8, "RS") \
    X(KX_STAT_TEMP_TUNER, 9, "TempTuner") \
    X(KX_STAT_RELOCK_CNT, 10, "RelockCnt") \
    X(KX_STAT_T2MI_OVFS, 11, "T2miOvfs") \
    X(KX_STAT_T2_L1_PRE_ERR_CNT, 12, "T2L1PreErrCnt") \
    X(KX_STAT_T2_L1_POST_ERR_CNT, 13, "T2L1PostErrCnt") \
    X(KX_STAT_C2_L1_HDR_ERR_CNT, 14, "C2L1HdrErrCnt") \
    X(KX_STAT_C2_L1_PART2_ERR_CNT, 15, "C2L1Part2ErrCnt") \
    X(KX_STAT_C2_DSLICE_DISC_CNT, 16, "C2DSliceDiscCnt") \
    X(KX_STAT_RF_LVL_CHAN_QS, 21, "RfLvlChanQs") \
    X(KX_STAT_RF_LVL_NARROW_QS, 22, "RfLvlNarrowQs") \
    X(KX_STAT_TEMP_ENCODER, 23, "TempEncoder") \
    X(KX_STAT_VIDEO_STATUS, 24, "VideoStatus") \
    X(KX_STAT_VID_FRAMES_CAPT, 25, "VidFramesCapt") \
    X(KX_STAT_VID_FRAMES_ENC, 26, "VidFramesEnc") \
    X(KX_STAT_VID_BYTES_ENC, 27, "VidBytesEnc") \
    X(KX_STAT_AUD_SAMPLES_ENC, 28, "AudSamplesEnc") \
    X(KX_STAT_AUD_FRAMES_ENC, 29, "AudFramesEnc") \
    X(KX_STAT_MUX_NUM_BYTES, 30, "MuxNumBytes") \
    X(KX_STAT_ATSC3_L1B_ERR_CNT, 31, "Atsc3L1BErrCnt") \
    X(KX_STAT_ATSC3_L1D_ERR_CNT, 32, "Atsc3L1DErrCnt") \
    X(KX_STAT_LOCK_PERC, 33, "LockPerc") \
    X(KX_STAT_MER_PL_HEADERS, 34, "MerPlHeaders") \
    X(KX_STAT_BER_POST_BCH, 256, "BerPostBCH") \
    X(KX_STAT_BER_POST_LDPC, 257, "BerPostLDPC") \
    X(KX_STAT_BER_POST_VIT, 258, "BerPostVit") \
    X(KX_STAT_BER_PRE_RS, 259, "BerPreRS") \
    X(KX_STAT_BER_PRE_VIT, 260, "BerPreVit") \
    X(KX_STAT_CNR, 261, "CNR") \
    X(KX_STAT_MER, 262, "MER") \
    X(KX_STAT_SNR, 263, "SNR") \
    X(KX_STAT_PER, 264, "PER") \
    X(KX_STAT_RF_LVL_UNCALIB_DBM, 266, "RfLvlUncalibDbm") \
    X(KX_STAT_FREQ_SHIFT, 267, "FreqShift") \
    X(KX_STAT_SAMP_RATE_OFFSET, 268, "SampRateOffset") \
    X(KX_STAT_BER_PRE_BCH, 269, "BerPreBCH") \
    X(KX_STAT_BER_PRE_LDPC, 270, "BerPreLDPC") \
    X(KX_STAT_LINK_MARGIN, 271, "LinkMargin") \
    X(KX_STAT_ES_N0, 272, "Es/N0") \
    X(KX_STAT_EB_N0, 273, "Eb/N0") \
    X(KX_STAT_OCCUPIED_BANDWIDTH, 274, "OccupiedBandwidth") \
    X(KX_STAT_ROLL_OFF_FACTOR, 275, "RollOffFactor") \
    X(KX_STAT_SYNTAX_ERR_CNT, 276, "SyntaxErrCnt") \
    X(KX_STAT_OVERFLOW_ERR_CNT, 277, "OverflowErrCnt") \
    X(KX_STAT_FER_POST_BCH, 278, "FerPostBCH") \
    X(KX_STAT_FER_POST_LDPC, 279, "FerPostLDPC") \
    X(KX_STAT_LOCK, 512, "Lock") \
    X(KX_STAT_CARRIER_LOCK, 513, "CarrierLock") \
    X(KX_STAT_FEC_LOCK, 514, "FECLock") \
    X(KX_STAT_PACKET_LOCK, 515, "PacketLock") \
    X(KX_STAT_VIT_LOCK, 516, "VitLock") \
    X(KX_STAT_SPECTRUM_INV, 517, "SpectrumInv") \
    X(KX_STAT_PL_HEADER_LOCK, 518, "PlHeaderLock") \
    X(KX_STAT_STREAM_LOCK, 519, "StreamLock") \
    X(KX_STAT_C2_L1_PART2, 768, "C2L1Part2") \
    X(KX_STAT_DVBC2_PLP_SIG_DATA, 769, "DVBC2-PlpSigData") \
    X(KX_STAT_T2_L1_DATA, 770, "T2L1Data") \
    X(KX_STAT_ISDBT_PARS, 771, "ISDBT-PARS") \
    X(KX_STAT_LDPC_STATS, 772, "LdpcStats") \
    X(KX_STAT_MA_DATA, 773, "MaData") \
    X(KX_STAT_MA_STATS, 774, "MaStats") \
    X(KX_STAT_PLP_NUM_BLOCKS, 775, "PlpNumBlocks") \
    X(KX_STAT_VIT_STATS, 777, "VitStats") \
    X(KX_STAT_DAB_ENSEMBLE, 776, "DAB-Ensemble") \
    X(KX_STAT_RS_STATS, 778, "RsStats") \
    X(KX_STAT_TPS, 779, "TPS") \
    X(KX_STAT_DAB_TII, 780, "DAB-TII") \
    X(KX_STAT_A3_L1_DATA, 781, "A3L1Data") \
    X(KX_STAT_T2_TXID, 782, "T2-TXID") \
    X(KX_STAT_A3_TX_ID_INFO, 783, "A3TxIdInfo") \
    X(KX_STAT_DVBS2_ISI, 784, "DVBS2-Isi") \
    X(KX_STAT_S2_ISI_SIG, 785, "S2IsiSig")

enum KxStatId : int32_t {
#define KX_STAT_ENUMERATOR(name, id, tableName) name = id,
    KX_STATISTIC_IDS(KX_STAT_ENUMERATOR)
#undef KX_STAT_ENUMERATOR
};

// What a statistic's extra ids stand for in a port's list of supported statistics (the list
// carries these markers; a read names the actual stream, sub-channel or layer).
enum KxStatXtraMarker : int32_t {
    STAT_XTRA_UNUSED = -1,
    // XtraId[0]: the four fixed sub-channels -1, 1, 2 and 4.
    STAT_XTRA_SUBCHANNELS = 0,
    // XtraId[0]: one value per id of the port's stream (PLP, ISI) list.
    STAT_XTRA_PER_PLP = 1,
    STAT_XTRA_PER_PLP_ALT = 3,
    // XtraId[1]: four layers -1, 0, 1 and 2 (the satellite receiver's time windows: -1 the
    // instantaneous value, 0 short, 1 medium, 2 long).
    STAT_XTRA_LAYERS = 2,
};

// One row of the statistic table. A scalar value times m_Scale is the reading in m_pUnit
// ("dB", "dBm", "dBmV", "%", "ratio", "count", "degC", "Hz", "MHz", "ppm", "steps"; "" for flags
// and structured values).
struct KxStatisticInfo {
    int32_t m_Id;
    int32_t m_ValueType;
    const char* m_pName;
    const char* m_pDescription;
    const char* m_pUnit = "";
    double m_Scale = 1.0;
};

// The statistic table, searched linearly; nullptr for an id not in it.
const KxStatisticInfo* KxFindStatistic(int32_t id);
// Number of rows and row access (for listing).
size_t KxStatisticCount();
const KxStatisticInfo& KxStatisticRow(size_t index);

class KxStatistic {
public:
    using Value = std::variant<std::monostate, bool, double, int32_t, KxDvbC2L1Part2, KxDvbC2PlpSigData,
                               KxDvbT2L1Data, KxIsdbtPars, KxLdpcStats, KxT2C2MaData, KxMaStats, KxPlpNumBlocks,
                               KxVitStats, KxDabEnsemble, KxRsStats, KxDvbTTps, KxDabTii, KxAtsc3L1Data, KxT2TxId,
                               KxAtsc3TxIdInfo, KxDvbS2IsiList, KxDvbS2IsiSigData>;

    KxStatistic() = default;
    // Sets the id (see SetId); an unknown id leaves the statistic without id and value.
    explicit KxStatistic(int32_t id) { SetId(id); }
    virtual ~KxStatistic() = default;
    KxStatistic(const KxStatistic&) = default;
    KxStatistic& operator=(const KxStatistic&) = default;

    // Looks the id up, stores it and its value type and resets the value;
    // KXAPI_E_NOT_FOUND for an id not in the table (the statistic is unchanged).
    KXAPI_RESULT SetId(int32_t id);
    // A statistic of a port's supported list as a read: its extra ids there are markers of
    // what it takes (STAT_XTRA_*); the read asks for all streams and the instantaneous value.
    void UnqualifyForRead() { std::fill(std::begin(m_XtraId), std::end(m_XtraId), STAT_XTRA_UNUSED); }

    // Typed access: KXAPI_E_INVALID_TYPE when T is not the value type (a failed SetValue also
    // stores KXAPI_E_INVALID_TYPE in Result); GetValue of the right type answers Result.
    // A structured value (types 4 to 21) has no content until one is set: GetValue then gives
    // T's default, and the XML form carries no sub-element.
    template <typename T> KXAPI_RESULT GetValue(T& value) const
    {
        if (const T* stored = std::get_if<T>(&m_Value)) {
            value = *stored;
            return m_Result;
        }
        if (!IsUnsetOf<T>())
            return KXAPI_E_INVALID_TYPE;
        value = T();
        return m_Result;
    }
    template <typename T> KXAPI_RESULT SetValue(const T& value)
    {
        if (!std::holds_alternative<T>(m_Value) && !IsUnsetOf<T>()) {
            m_Result = KXAPI_E_INVALID_TYPE;
            return KXAPI_E_INVALID_TYPE;
        }
        m_Value = value;
        return KXAPI_OK;
    }
    // False for a structured value that was never set (and for value type 0).
    bool HasValue() const { return !std::holds_alternative<std::monostate>(m_Value); }
    const Value& GetRawValue() const { return m_Value; }

    // Short name and description of the table row ("Lock", "General Lock");
    // KXAPI_E_NOT_FOUND when the id is not in the table.
    KXAPI_RESULT GetName(std::string& name, std::string& description) const;
    KXAPI_RESULT GetName(std::wstring& name, std::wstring& description) const;

    // Element "kxstat". ToXml: KXAPI_E_NOT_SUPPORTED for value types 8, 10 and 19,
    // KXAPI_E_INVALID_TYPE for 12, 13, 14, 16 and 18. FromXml reads the first "kxstat".
    KXAPI_RESULT ToXml(std::wstring& text) const;
    KXAPI_RESULT FromXml(const std::wstring& text);
    KXAPI_RESULT ToXmlElem(MarkupElem parent) const;
    KXAPI_RESULT FromXmlElem(MarkupElem elem);

    // A list is the concatenation of the elements, in order.
    static KXAPI_RESULT ToXml(const KxStatistic* stats, int count, std::wstring& text);
    // Appends the element (the same text as ToXml) to `out` as 4-byte little-endian
    // characters, the form text has in a demod message, without building a string. Only for
    // plain values (none, bool, int, double): false, with nothing appended, for the others.
    bool AppendWireXml(std::vector<uint8_t>& out) const;
    // Parses every "kxstat" element of text into stats (replaced); at most maxCount elements
    // (KXAPI_E_TOO_LONG above).
    static KXAPI_RESULT FromXml(const std::wstring& text, std::vector<KxStatistic>& stats,
                                size_t maxCount = KX_STAT_MAX_LIST);
    // As above, from the top-level "kxstat" elements of a parsed document.
    static KXAPI_RESULT FromXml(const Markup& doc, std::vector<KxStatistic>& stats,
                                size_t maxCount = KX_STAT_MAX_LIST);

    bool operator==(const KxStatistic& other) const = default;

    int32_t m_Result = 0;
    int32_t m_StatisticId = 0;
    int32_t m_XtraId[4] = {-1, -1, -1, -1};
    int32_t m_ValueType = KX_STAT_VT_NONE;

private:
    // Index of T in Value (the value type it stands for).
    template <typename T, size_t I = 0> static constexpr size_t IndexOf()
    {
        if constexpr (I == std::variant_size_v<Value>)
            return I;
        else if constexpr (std::is_same_v<T, std::variant_alternative_t<I, Value>>)
            return I;
        else
            return IndexOf<T, I + 1>();
    }
    // A structured value of type T not set yet.
    template <typename T> bool IsUnsetOf() const
    {
        return IndexOf<T>() >= KX_STAT_VT_FIRST_STRUCT && static_cast<int32_t>(IndexOf<T>()) == m_ValueType &&
               std::holds_alternative<std::monostate>(m_Value);
    }
    // Resets the value of a value type (0 to 21): the plain types to their zero, the
    // structured ones to no content.
    void ResetValue(int32_t valueType);
    // The default content of a value type, also of a structured one (the XML reader fills it).
    void EmplaceValue(int32_t valueType);

    Value m_Value;
};

// Legacy 16-byte statistic record of the fixed-layout statistics read.
struct TStatPars {
    uint8_t m_Value[8] = {}; // bool in byte 0, int32 in bytes 0-3, or double
    int32_t m_StatisticId = 0;
    uint32_t m_Result = 0;
    // Fills the record from a statistic of value type bool, int or double (others: value 0).
    static TStatPars FromStatistic(const KxStatistic& stat);
    void Encode(void* body, unsigned int offset) const;
    static TStatPars Decode(const void* body, unsigned int offset);
};
constexpr unsigned int TSTATPARS_SIZE = 16;

} // namespace Kxapi
