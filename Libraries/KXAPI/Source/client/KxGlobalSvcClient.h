// Client of the service's global FIFO "KxGlobalRecvPipe": service version and device state.
// One request at a time (under the client's lock); a failed transfer closes the connection
// and the next request connects again.
#pragma once

#include <cstdint>

#include "KxServiceConnection.h"
#include "KxNonCopyable.h"

struct KxServiceVersion {
    uint32_t m_Major = 0;
    uint32_t m_Minor = 0;
    uint32_t m_Revision = 0;
    uint32_t m_Build = 0;
};

// The version numbers of a version reply (KXAPI_SVC_VERSION_REPLY_SIZE bytes, any of the
// three FIFOs); KXAPI_E_SERVICE_INCOMP for a service older than 3.2.
KXAPI_RESULT KxReadServiceVersion(const char* reply, KxServiceVersion& version);

class KxGlobalSvcClient : private KxNonCopyable {
public:
    KxGlobalSvcClient();
    // Sends the close command when connected.
    ~KxGlobalSvcClient();

    // Connects and checks that the service is version 3.2 or later:
    // KXAPI_E_CONNECT_TO_SERVICE when no service answers, KXAPI_E_SERVICE_INCOMP when older.
    KXAPI_RESULT Open();
    // The service's version numbers (connects first when needed).
    KXAPI_RESULT GetServiceVersion(KxServiceVersion& version);
    // Asks the service to switch a device on or off by name (at most 259 characters).
    KXAPI_RESULT SetDeviceState(const char* name, bool on);
    // Sends the close command and closes the connection.
    void Close();

    // Time-out for each reply; XP_INFINITE (the default) waits without limit.
    void SetReplyTimeout(unsigned int timeoutMs) { m_Connection.SetReplyTimeout(timeoutMs); }

private:
    KxServiceConnection m_Connection;
};
