// The demod FIFO protocol: command codes and the per-command property table that decides how
// the service accepts and runs each port command (queued or not, waited for, statistics
// suspension, scan class, minimum request size, the operation it asks for and the form its
// request and reply take).
#pragma once

#include <cstddef>
#include <cstdint>

#include "KxapiResult.h"

namespace Kxapi {

// Command codes of the demod FIFO ("DemodRecvPipe"). OLD marks the fixed-layout forms.
enum KxapiDemodSvcCmd : uint32_t {
    DEMOD_CMD_SERVICE_VERSION = 0,
    DEMOD_CMD_ATTACH = 1,
    DEMOD_CMD_DETACH = 2,
    DEMOD_CMD_INIT_DEMODULATOR = 3,
    DEMOD_CMD_CONSTEL_GET_OLD = 5,
    DEMOD_CMD_CONTROL_GET_OLD = 6,
    DEMOD_CMD_LOCK_MER_GET_OLD = 7,
    DEMOD_CMD_UNSUPPORTED_8 = 8,
    DEMOD_CMD_UNSUPPORTED_9 = 9,
    DEMOD_CMD_UNSUPPORTED_10 = 10,
    DEMOD_CMD_TUNE_PARS_GET = 11,
    DEMOD_CMD_TUNE_PARS_SET = 12,
    DEMOD_CMD_TUNER_FREQ_GET_OLD = 13,
    DEMOD_CMD_TUNER_FREQ_SET_OLD = 14,
    DEMOD_CMD_CONTROL_SET_OLD = 15,
    DEMOD_CMD_LNB_ENABLE = 16,
    DEMOD_CMD_LNB_VOLTAGE_SET = 17,
    DEMOD_CMD_LNB_TONE_ENABLE = 18,
    DEMOD_CMD_LNB_BURST_SEND = 19,
    DEMOD_CMD_LNB_DISEQC_SEND = 20,
    DEMOD_CMD_BLIND_SCAN_OLD = 24,
    DEMOD_CMD_ANT_POWER_SET = 25,
    DEMOD_CMD_EVENT_PIPE_REGISTER = 26,
    DEMOD_CMD_TUNE_OLD = 27,
    DEMOD_CMD_STATISTICS_GET_OLD = 30,
    DEMOD_CMD_SUPPORTED_STATS_GET_OLD = 31,
    DEMOD_CMD_STATS_MODE_SET = 32,
    DEMOD_CMD_AGC_RESET = 34,
    DEMOD_CMD_CONTROL_GET = 35,
    DEMOD_CMD_CONTROL_SET = 36,
    DEMOD_CMD_TUNE = 37,
    DEMOD_CMD_GET_STATISTICS = 38,
    DEMOD_CMD_STREAM_SEL_GET_C2 = 39,
    DEMOD_CMD_STREAM_SEL_SET_C2 = 40,
    DEMOD_CMD_STREAM_SEL_GET_T2 = 41,
    DEMOD_CMD_STREAM_SEL_SET_T2 = 42,
    DEMOD_CMD_EQUALISE = 43,
    DEMOD_CMD_TUNER_FREQ_GET = 45,
    DEMOD_CMD_TUNER_FREQ_SET = 46,
    DEMOD_CMD_TUNING_MODE_SET = 47,
    DEMOD_CMD_STATS_POLLING_ENABLE = 49,
    DEMOD_CMD_BLIND_SCAN = 50,
    DEMOD_CMD_BLIND_SCAN_CANCEL = 51,
    DEMOD_CMD_SPECTRUM_SCAN = 52,
    DEMOD_CMD_SPECTRUM_SCAN_CANCEL = 53,
    DEMOD_CMD_GET_SUPPORTED_STATS = 54,
    DEMOD_CMD_GET_ATTRIBUTE = 55,
    DEMOD_CMD_CONSTEL_POINTS_GET = 56,
    DEMOD_CMD_OPEN_STREAM = 57,
    DEMOD_CMD_CLOSE_STREAM = 58,
    DEMOD_CMD_STREAM_SEL_GET_LIST = 59,
    DEMOD_CMD_CLOSE = 0xFFFFFFFFu,
};

// Scan classes: a new command of class 1 cancels a running scan; queued commands of class 1
// or 2 at the tail of the queue are superseded by a newer one.
enum : int32_t { DEMOD_SCAN_CLASS_NONE = 0, DEMOD_SCAN_CLASS_BLIND = 1, DEMOD_SCAN_CLASS_TUNING = 2 };

// The operation a port command asks for. Several codes may ask for one operation in the two
// forms of the protocol (the constellation read is code 5 in fixed layout and 56 as text).
// The service decodes every request into the typed request of its operation; the values
// number those types, so they are dense and start at 1.
enum DemodOp : uint8_t {
    DEMOD_OP_NONE = 0,
    DEMOD_OP_INIT,
    DEMOD_OP_EVENT_REGISTER,
    DEMOD_OP_CONSTELLATION,
    DEMOD_OP_CONTROL_GET,
    DEMOD_OP_CONTROL_SET,
    DEMOD_OP_TUNE,
    DEMOD_OP_LOCK_MER,
    DEMOD_OP_UNSUPPORTED,
    DEMOD_OP_TUNE_PARS_GET,
    DEMOD_OP_TUNE_PARS_SET,
    DEMOD_OP_FREQ_GET,
    DEMOD_OP_FREQ_SET,
    DEMOD_OP_LNB_ENABLE,
    DEMOD_OP_LNB_VOLTAGE,
    DEMOD_OP_LNB_TONE,
    DEMOD_OP_LNB_BURST,
    DEMOD_OP_LNB_DISEQC,
    DEMOD_OP_ANT_POWER,
    DEMOD_OP_STATS_MODE,
    DEMOD_OP_AGC_RESET,
    DEMOD_OP_TUNING_MODE,
    DEMOD_OP_STATISTICS,
    DEMOD_OP_SUPPORTED_STATS,
    DEMOD_OP_STREAM_SEL_GET_C2,
    DEMOD_OP_STREAM_SEL_GET_T2,
    DEMOD_OP_STREAM_SEL_SET_C2,
    DEMOD_OP_STREAM_SEL_SET_T2,
    DEMOD_OP_STREAM_LIST,
    DEMOD_OP_OPEN_STREAM,
    DEMOD_OP_CLOSE_STREAM,
    DEMOD_OP_EQUALISE,
    DEMOD_OP_POLLING_ENABLE,
    DEMOD_OP_ATTRIBUTE,
    DEMOD_OP_BLIND_SCAN,
    DEMOD_OP_BLIND_SCAN_CANCEL,
    DEMOD_OP_SPECTRUM_SCAN,
    DEMOD_OP_SPECTRUM_SCAN_CANCEL,
    DEMOD_OP_COUNT
};

// The form of a request and of its reply: a fixed layout, or a generic command whose
// request (when it carries text) and reply are wide XML text.
enum DemodForm : uint8_t { DEMOD_FORM_FIXED = 0, DEMOD_FORM_GENERIC = 1 };

// One row of the port-command property table.
struct DemodCmdProperties {
    uint32_t m_Cmd;
    bool m_Queued;        // executed by the port's worker thread
    bool m_WaitDone;      // the handler waits for the worker, which sends the reply
    bool m_SuspendsStats; // statistics caching suspended until run; success marks a re-tune
    int32_t m_ScanClass;
    uint32_t m_MinSize;   // minimum request size in bytes
    DemodOp m_Op;
    DemodForm m_Form;
    // Generic requests with text: the elements the text must carry (null-terminated, possibly
    // empty); null for a request whose body is not read as text.
    const char* const* m_pRequiredElems;
};

// The table in its defined order, and its length.
extern const DemodCmdProperties CommandProperties[];
extern const size_t CommandPropertiesCount;

// The row of a port command; null for a code that is not a port command.
const DemodCmdProperties* DemodFindCmdProperties(uint32_t cmd);

// Every request starts with the u32 command code; every reply with code and result.
constexpr size_t DEMOD_REQUEST_HEADER_SIZE = 4;
constexpr size_t DEMOD_REPLY_HEADER_SIZE = 8;

} // namespace Kxapi
