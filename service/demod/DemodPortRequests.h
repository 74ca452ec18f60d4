// Typed port requests: every port command, in fixed layout or as generic text, is decoded once
// into the request of its operation (the row of the command property table names it). The port
// controller has one handler per operation; the request encodes the handler's result as the
// reply, in the form the request came in.
//
// Decode refuses what the body cannot carry with the code the client is answered with: a short
// or inconsistent fixed layout, a count beyond its bound or beyond one reply, text that is not
// well-formed or lacks a required element. Decoding depends on the body alone, so a request
// decoded once may be run again (the check before queueing, then the run on the worker).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "DemodPars.h"
#include "DemodSvcLayouts.h"
#include "DemodSvcProtocol.h"
#include "IDemodPortClient.h"
#include "KxDemodTypes.h"
#include "KxStatistic.h"
#include "KxStreamSel.h"
#include "KxapiResult.h"

namespace Kxapi {
class Markup;
}

// A reply travels with a 16-bit size.
constexpr size_t DEMOD_MAX_REPLY_SIZE = 65535;

// The body of one request as the decoders see it.
struct DemodRequestBody {
    const uint8_t* m_pBody = nullptr;
    size_t m_Size = 0;
    Kxapi::DemodForm m_Form = Kxapi::DEMOD_FORM_FIXED;
    // Generic requests with text: the parsed text, every required element present.
    const Kxapi::Markup* m_pDoc = nullptr;
    bool Generic() const { return m_Form == Kxapi::DEMOD_FORM_GENERIC; }
    // The text of a generic request as a wide string (KXAPI_E_INTERNAL when it has none).
    KXAPI_RESULT Text(std::wstring& text) const;
    // A required integer element of the text (KXAPI_E_INTERNAL when missing or not a number).
    KXAPI_RESULT Int(const char* name, int64_t& value) const;
    KXAPI_RESULT Int(const char* name, int32_t& value) const;
};

// What a reply is built for: the command code and the form of its request.
struct DemodReplyForm {
    uint32_t m_Code = 0;
    Kxapi::DemodForm m_Form = Kxapi::DEMOD_FORM_FIXED;
    bool Generic() const { return m_Form == Kxapi::DEMOD_FORM_GENERIC; }
};

// The reply of a request that answers with its result alone.
struct NoResult {};

// Every request names its operation; a request whose data the reply carries also after a
// failure sets REPLY_ON_FAILURE (the caller builds no data reply for a failure otherwise).
template <Kxapi::DemodOp O, bool REPLY_ALWAYS = false> struct DemodOpTag {
    static constexpr Kxapi::DemodOp OP = O;
    static constexpr bool REPLY_ON_FAILURE = REPLY_ALWAYS;
};

// A request without parameters (anything after the command code is ignored).
template <Kxapi::DemodOp O, class R = NoResult, bool REPLY_ALWAYS = false>
struct DemodBodylessReq : DemodOpTag<O, REPLY_ALWAYS> {
    using Result = R;
    KXAPI_RESULT Decode(const DemodRequestBody&) { return KXAPI_OK; }
};

// A fixed-layout request with one 32-bit word at offset 4.
template <Kxapi::DemodOp O> struct DemodWordReq : DemodOpTag<O> {
    using Result = NoResult;
    uint32_t m_Value = 0;
    KXAPI_RESULT Decode(const DemodRequestBody& in)
    {
        return Kxapi::DemodParseWordReq(in.m_pBody, in.m_Size, m_Value);
    }
};

// A fixed-layout request with one flag in byte 4.
template <Kxapi::DemodOp O> struct DemodFlagReq : DemodOpTag<O> {
    using Result = NoResult;
    bool m_On = false;
    KXAPI_RESULT Decode(const DemodRequestBody& in) { return Kxapi::DemodParseBoolReq(in.m_pBody, in.m_Size, m_On); }
};

// ---- Results shared by several requests ----------------------------------------------------

struct DemodParsResult {
    Kxapi::KxDemodPars m_Pars;
};

struct TuneParsResult {
    Kxapi::KxTunePars m_Pars;
};

struct LockMerResult {
    bool m_Locked = false;
    int32_t m_MerTenthsDb = 0;
};

// The frequency range of a scan, in Hz.
struct DemodScanRange {
    int64_t m_StepHz = 0;
    int64_t m_StartFreqHz = 0;
    int64_t m_EndFreqHz = 0;
    // From the elements of a generic request's text.
    KXAPI_RESULT Decode(const DemodRequestBody& in);
};

// ---- Requests, one per operation -----------------------------------------------------------

using InitReq = DemodBodylessReq<Kxapi::DEMOD_OP_INIT>;
using BlindScanCancelReq = DemodBodylessReq<Kxapi::DEMOD_OP_BLIND_SCAN_CANCEL>;
using SpectrumScanCancelReq = DemodBodylessReq<Kxapi::DEMOD_OP_SPECTRUM_SCAN_CANCEL>;
using LnbEnableReq = DemodFlagReq<Kxapi::DEMOD_OP_LNB_ENABLE>;
using LnbToneReq = DemodFlagReq<Kxapi::DEMOD_OP_LNB_TONE>;
using LnbVoltageReq = DemodWordReq<Kxapi::DEMOD_OP_LNB_VOLTAGE>;
using LnbBurstReq = DemodWordReq<Kxapi::DEMOD_OP_LNB_BURST>;
using AntPowerReq = DemodWordReq<Kxapi::DEMOD_OP_ANT_POWER>;
using AgcResetReq = DemodWordReq<Kxapi::DEMOD_OP_AGC_RESET>;
using TuningModeReq = DemodWordReq<Kxapi::DEMOD_OP_TUNING_MODE>;

struct EventRegisterReq : DemodOpTag<Kxapi::DEMOD_OP_EVENT_REGISTER> {
    using Result = NoResult;
    std::wstring m_Name;
    uint64_t m_Mask = 0;
    KXAPI_RESULT Decode(const DemodRequestBody& in);
};

struct ConstelReq : DemodOpTag<Kxapi::DEMOD_OP_CONSTELLATION> {
    struct Result {
        std::vector<Kxapi::KxConstelPoint> m_Points;
    };
    int32_t m_Count = 0;
    int32_t m_StreamId = -1; // the fixed layout reads the default stream
    KXAPI_RESULT Decode(const DemodRequestBody& in);
    void Encode(const DemodReplyForm& form, const Result& res, KXAPI_RESULT& result, Kxapi::DemodMsg& reply) const;
};

struct ControlGetReq : DemodBodylessReq<Kxapi::DEMOD_OP_CONTROL_GET, DemodParsResult> {
    void Encode(const DemodReplyForm& form, const Result& res, KXAPI_RESULT& result, Kxapi::DemodMsg& reply) const;
};

struct ControlSetReq : DemodOpTag<Kxapi::DEMOD_OP_CONTROL_SET> {
    using Result = NoResult;
    Kxapi::KxDemodPars m_Pars;
    KXAPI_RESULT Decode(const DemodRequestBody& in);
};

struct TuneReq : DemodOpTag<Kxapi::DEMOD_OP_TUNE> {
    using Result = NoResult;
    int64_t m_FreqHz = 0;
    Kxapi::KxDemodPars m_Pars;
    KXAPI_RESULT Decode(const DemodRequestBody& in);
};

// Lock and MER: the reply carries both also when the cache could not give them.
struct LockMerReq : DemodBodylessReq<Kxapi::DEMOD_OP_LOCK_MER, LockMerResult, true> {
    void Encode(const DemodReplyForm& form, const Result& res, KXAPI_RESULT& result, Kxapi::DemodMsg& reply) const;
};

// Codes kept for old clients: answered "not supported" with their fixed reply size.
struct UnsupportedReq : DemodBodylessReq<Kxapi::DEMOD_OP_UNSUPPORTED, NoResult, true> {
    void Encode(const DemodReplyForm& form, const Result& res, KXAPI_RESULT& result, Kxapi::DemodMsg& reply) const;
};

struct TuneParsGetReq : DemodBodylessReq<Kxapi::DEMOD_OP_TUNE_PARS_GET, TuneParsResult> {
    void Encode(const DemodReplyForm& form, const Result& res, KXAPI_RESULT& result, Kxapi::DemodMsg& reply) const;
};

// The reply carries the parameters as the hardware took them, also after a failure.
struct TuneParsSetReq : DemodOpTag<Kxapi::DEMOD_OP_TUNE_PARS_SET, true> {
    using Result = TuneParsResult;
    Kxapi::KxTunePars m_Pars;
    KXAPI_RESULT Decode(const DemodRequestBody& in);
    void Encode(const DemodReplyForm& form, const Result& res, KXAPI_RESULT& result, Kxapi::DemodMsg& reply) const;
};

struct FreqGetReq : DemodOpTag<Kxapi::DEMOD_OP_FREQ_GET> {
    struct Result {
        long long m_FreqHz = 0;
    };
    int32_t m_TunerId = -1;
    KXAPI_RESULT Decode(const DemodRequestBody& in);
    void Encode(const DemodReplyForm& form, const Result& res, KXAPI_RESULT& result, Kxapi::DemodMsg& reply) const;
};

struct FreqSetReq : DemodOpTag<Kxapi::DEMOD_OP_FREQ_SET> {
    using Result = NoResult;
    int64_t m_FreqHz = 0;
    int32_t m_TunerId = -1;
    KXAPI_RESULT Decode(const DemodRequestBody& in);
};

struct DiseqcReq : DemodOpTag<Kxapi::DEMOD_OP_LNB_DISEQC> {
    struct Result {
        std::vector<uint8_t> m_Answer;
    };
    int32_t m_Capacity = 0;
    std::vector<uint8_t> m_Message;
    KXAPI_RESULT Decode(const DemodRequestBody& in);
    void Encode(const DemodReplyForm& form, const Result& res, KXAPI_RESULT& result, Kxapi::DemodMsg& reply) const;
};

struct StatsModeReq : DemodOpTag<Kxapi::DEMOD_OP_STATS_MODE> {
    using Result = NoResult;
    int32_t m_Mode0 = 0;
    int32_t m_Mode1 = 0;
    KXAPI_RESULT Decode(const DemodRequestBody& in);
};

// The statistics read, polled constantly: the fixed layout names ids, the text whole keys.
struct StatisticsReq : DemodOpTag<Kxapi::DEMOD_OP_STATISTICS> {
    struct Result {
        std::vector<Kxapi::KxStatistic> m_Stats;
    };
    std::vector<Kxapi::KxStatistic> m_Stats;
    KXAPI_RESULT Decode(const DemodRequestBody& in);
    void Encode(const DemodReplyForm& form, const Result& res, KXAPI_RESULT& result, Kxapi::DemodMsg& reply) const;
};

struct SupportedStatsReq : DemodOpTag<Kxapi::DEMOD_OP_SUPPORTED_STATS> {
    struct Result {
        std::vector<Kxapi::KxStatistic> m_List;
    };
    int32_t m_Capacity = 0;
    KXAPI_RESULT Decode(const DemodRequestBody& in);
    void Encode(const DemodReplyForm& form, const Result& res, KXAPI_RESULT& result, Kxapi::DemodMsg& reply) const;
};

template <class Sel, Kxapi::DemodOp O> struct StreamSelGetReq : DemodBodylessReq<O> {
    struct Result {
        Sel m_Sel;
    };
    void Encode(const DemodReplyForm& form, const Result& res, KXAPI_RESULT& result, Kxapi::DemodMsg& reply) const;
};
using StreamSelGetC2Req = StreamSelGetReq<Kxapi::KxDvbC2StreamSelPars, Kxapi::DEMOD_OP_STREAM_SEL_GET_C2>;
using StreamSelGetT2Req = StreamSelGetReq<Kxapi::KxDvbT2StreamSelPars, Kxapi::DEMOD_OP_STREAM_SEL_GET_T2>;

template <class Sel, Kxapi::DemodOp O> struct StreamSelSetReq : DemodOpTag<O> {
    using Result = NoResult;
    Sel m_Sel;
    KXAPI_RESULT Decode(const DemodRequestBody& in);
};
using StreamSelSetC2Req = StreamSelSetReq<Kxapi::KxDvbC2StreamSelPars, Kxapi::DEMOD_OP_STREAM_SEL_SET_C2>;
using StreamSelSetT2Req = StreamSelSetReq<Kxapi::KxDvbT2StreamSelPars, Kxapi::DEMOD_OP_STREAM_SEL_SET_T2>;
using OpenStreamReq = StreamSelSetReq<Kxapi::KxStreamSelPars, Kxapi::DEMOD_OP_OPEN_STREAM>;

struct StreamListReq : DemodBodylessReq<Kxapi::DEMOD_OP_STREAM_LIST> {
    struct Result {
        std::vector<Kxapi::KxStreamSelPars> m_List;
    };
    void Encode(const DemodReplyForm& form, const Result& res, KXAPI_RESULT& result, Kxapi::DemodMsg& reply) const;
};

struct CloseStreamReq : DemodOpTag<Kxapi::DEMOD_OP_CLOSE_STREAM> {
    using Result = NoResult;
    int64_t m_StreamId = 0;
    KXAPI_RESULT Decode(const DemodRequestBody& in);
};

struct EqualiseReq : DemodOpTag<Kxapi::DEMOD_OP_EQUALISE> {
    using Result = NoResult;
    int32_t m_Setting = 0;
    KXAPI_RESULT Decode(const DemodRequestBody& in);
};

struct PollingEnableReq : DemodOpTag<Kxapi::DEMOD_OP_POLLING_ENABLE> {
    using Result = NoResult;
    bool m_Enable = false;
    KXAPI_RESULT Decode(const DemodRequestBody& in);
};

struct AttributeReq : DemodOpTag<Kxapi::DEMOD_OP_ATTRIBUTE> {
    struct Result {
        int m_Value = 0;
    };
    int32_t m_Id = 0;
    KXAPI_RESULT Decode(const DemodRequestBody& in);
    void Encode(const DemodReplyForm& form, const Result& res, KXAPI_RESULT& result, Kxapi::DemodMsg& reply) const;
};

// The fixed layout returns what it found (also after a failure, with the full count); the
// text form reports its progress as events and answers with the result alone.
struct BlindScanReq : DemodOpTag<Kxapi::DEMOD_OP_BLIND_SCAN, true> {
    struct Result {
        int m_Count = 0;
        std::vector<Kxapi::KxTransmitter> m_Found;
    };
    int32_t m_MaxTransmitters = 0;
    DemodScanRange m_Range;
    Kxapi::KxDemodPars m_Pars; // none in the fixed layout: the HAL's automatic parameters
    bool m_ReportsProgress = false;
    KXAPI_RESULT Decode(const DemodRequestBody& in);
    void Encode(const DemodReplyForm& form, const Result& res, KXAPI_RESULT& result, Kxapi::DemodMsg& reply) const;
};

struct SpectrumScanReq : DemodOpTag<Kxapi::DEMOD_OP_SPECTRUM_SCAN> {
    using Result = NoResult;
    int32_t m_ScanType = 0;
    DemodScanRange m_Range;
    KXAPI_RESULT Decode(const DemodRequestBody& in);
};

// What a handler works with besides its request: who sent it, whether it runs or is only
// checked before queueing, the form of the reply, and what a tuning command leaves as the
// port's new tuning (the current one unless the command changes it; tuner 1 leaves it alone).
struct PortCmdRun {
    IDemodPortClient* m_pClient = nullptr;
    bool m_Execute = false;
    DemodReplyForm m_Reply;
    int64_t m_NewFreqHz = 0;
    Kxapi::KxDemodPars m_NewPars;
    int m_TunerId = -1;
};

// Indexed by DemodOp: alternative i is the request of operation i.
using DemodRequest =
    std::variant<std::monostate, InitReq, EventRegisterReq, ConstelReq, ControlGetReq, ControlSetReq, TuneReq,
                 LockMerReq, UnsupportedReq, TuneParsGetReq, TuneParsSetReq, FreqGetReq, FreqSetReq, LnbEnableReq,
                 LnbVoltageReq, LnbToneReq, LnbBurstReq, DiseqcReq, AntPowerReq, StatsModeReq, AgcResetReq,
                 TuningModeReq, StatisticsReq, SupportedStatsReq, StreamSelGetC2Req, StreamSelGetT2Req,
                 StreamSelSetC2Req, StreamSelSetT2Req, StreamListReq, OpenStreamReq, CloseStreamReq, EqualiseReq,
                 PollingEnableReq, AttributeReq, BlindScanReq, BlindScanCancelReq, SpectrumScanReq,
                 SpectrumScanCancelReq>;

// Decodes a request of the command described by props (body and size: the whole request,
// code included). A generic request with text is parsed and checked for its required
// elements first (KXAPI_E_INTERNAL otherwise). On failure request is left empty (monostate)
// and the result is the code the client is answered with; KXAPI_E_OUT_OF_MEM when memory ran
// out on the way.
KXAPI_RESULT DemodDecodeRequest(const Kxapi::DemodCmdProperties& props, const uint8_t* body, size_t size,
                                DemodRequest& request);
