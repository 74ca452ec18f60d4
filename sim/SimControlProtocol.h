// The control FIFO of KxapiServiceSim: plug and unplug virtual cards, raise power events and
// change carriers while the service runs. Same framing and transport as the service's FIFOs.
//
// Request: u32 command, then the command's fields (little-endian). Reply: u32 command,
// u32 result, then the command's answer (LIST: the text).
//   PLUG    (1): the card as JSON text (scenario card format), at most 64 KiB.
//   UNPLUG  (2): i64 serial at 4.
//   POWER   (3): i64 serial at 4, u32 state at 12 (1 on, 0 off).
//   CARRIER (4): i64 serial at 4, i32 input at 12, u32 operation at 16, i64 frequency (Hz) at
//                20, i64 new frequency (Hz) at 28, then for ADD the carrier as JSON text.
//                Operations: ADD 0, REMOVE 1 (the carrier at the frequency), MOVE 2 (to the new
//                frequency), CLEAR 3 (all carriers of the input).
//   LIST    (5): no fields; the answer is one line per card "model sub-type serial family".
//   USAGE   (6): no fields; the answer is u64 nanoseconds at 0 and u64 requests at 8: the
//                processor time the virtual cards' driver nodes took in the service's threads,
//                and their requests, counted from the first USAGE on (benchmarks subtract it
//                from the service's CPU: it is the virtual hardware's work, not the service's).
//   Close: the service's close command ends the connection.
#pragma once

#include <cstdint>
#include <string>

#include "KxServiceConnection.h"
#include "KxapiResult.h"
#include "KxNonCopyable.h"

#define SIM_CONTROL_PIPE_NAME L"KxSimCtrlPipe"

constexpr uint32_t SIM_CTRL_PLUG = 1;
constexpr uint32_t SIM_CTRL_UNPLUG = 2;
constexpr uint32_t SIM_CTRL_POWER = 3;
constexpr uint32_t SIM_CTRL_CARRIER = 4;
constexpr uint32_t SIM_CTRL_LIST = 5;
constexpr uint32_t SIM_CTRL_USAGE = 6;

constexpr uint32_t SIM_CARRIER_ADD = 0;
constexpr uint32_t SIM_CARRIER_REMOVE = 1;
constexpr uint32_t SIM_CARRIER_MOVE = 2;
constexpr uint32_t SIM_CARRIER_CLEAR = 3;

constexpr uint32_t SIM_CTRL_CARRIER_HEADER = 36;
constexpr uint32_t SIM_CTRL_MAX_TEXT = 64 * 1024;
constexpr uint32_t SIM_CTRL_REPLY_HEADER = 8;

class PipeMessenger;

// A client of the control FIFO (kxctl, tests). One request at a time.
class SimControlClient : private KxNonCopyable {
public:
    SimControlClient();
    ~SimControlClient();

    // KXAPI_E_CONNECT_TO_SERVICE when the control FIFO cannot be reached.
    KXAPI_RESULT Connect();
    KXAPI_RESULT Plug(const std::string& cardJson);
    KXAPI_RESULT Unplug(int64_t serial);
    KXAPI_RESULT Power(int64_t serial, bool on);
    KXAPI_RESULT Carrier(int64_t serial, int input, uint32_t operation, int64_t freqHz, int64_t newFreqHz,
                         const std::string& carrierJson);
    KXAPI_RESULT List(std::string& text);
    // The driver nodes' processor time in the service's threads and their requests since the
    // first call (which starts the count and answers zeros, or what another client started).
    KXAPI_RESULT Usage(uint64_t& cpuNs, uint64_t& requests);

private:
    KXAPI_RESULT Transfer(const std::string& request, std::string& answer);
    KxServiceConnection m_Connection;
};
