// PortCmdType and CmdQueue: port commands on their way from the client handler threads to
// the port's worker thread. A command carries a copy of the request, its typed form (decoded
// once, when the command is made), its sender and the row of the command property table that
// decides how the port controller accepts and runs it.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>

#include "DemodPortRequests.h"
#include "IDemodPortClient.h"
#include "KxapiResult.h"
#include "XpHandles.h"
#include "KxNonCopyable.h"

class PortCmdType {
public:
    // The command for one request, or null with result KXAPI_E_INVALID_HEADER (shorter than
    // 4 bytes or than the command's minimum size) or KXAPI_E_INVALID_PARS (a code that is not
    // a port command; event 2 is logged with the code). Null with KXAPI_E_OUT_OF_MEM when the
    // copy cannot be made. A body its operation cannot decode still makes a command: its
    // decode result is what the client is answered with when the command runs.
    static PortCmdType* Create(const void* pMsg, unsigned int size, IDemodPortClient* pClient, KXAPI_RESULT& result);

    PortCmdType();
    virtual ~PortCmdType();
    PortCmdType(const PortCmdType& other);
    PortCmdType& operator=(const PortCmdType& other);
    // Same sender and same command code.
    bool operator==(const PortCmdType& other) const;

    const uint8_t* Msg() const { return m_pMsg; }

    uint8_t* m_pMsg = nullptr;     // copy of the request (owned)
    // The request length. Kept at full width: a generic request may exceed 65535 bytes.
    unsigned int m_Size = 0;
    IDemodPortClient* m_pClient = nullptr;
    int32_t m_Code = 0;
    bool m_Queued = false;
    bool m_WaitDone = false;
    bool m_SuspendsStats = false;
    int32_t m_ScanClass = 0;
    int32_t m_MinSize = 0;
    Kxapi::DemodForm m_Form = Kxapi::DEMOD_FORM_FIXED;
    // The typed request, valid when m_DecodeResult is KXAPI_OK.
    DemodRequest m_Request;
    KXAPI_RESULT m_DecodeResult = KXAPI_E_NOT_SUPPORTED;

private:
    bool CopyFrom(const PortCmdType& other);
};

class CmdQueue : private KxNonCopyable {
public:
    CmdQueue();
    virtual ~CmdQueue();

    bool Init(int port);
    // Appends cmd (owned from now on). First a not yet executed tail that cmd supersedes is
    // deleted without reply: a blind-scan-class command supersedes a blind-scan or tuning
    // class tail, a tuning-class command a tail with its own code, and either class a scan
    // (24, 50, 52) waiting at the tail. The pending counter (when given) loses the deleted
    // tail if it suspended statistics.
    void Add(PortCmdType* cmd, std::atomic<int>* pPending);
    // The oldest command (the caller owns it), or null.
    PortCmdType* GetNext();
    bool IsEmpty();
    // Takes cmd out of the queue when it is still there and returns it (the caller owns it
    // again); null when the worker has already taken it. cmd itself is only compared.
    PortCmdType* Remove(const PortCmdType* cmd, std::atomic<int>* pPending);
    // Deletes every command of pClient (every command for null), counting the pending
    // counter (when given) down for each one that suspended statistics.
    void Clear(IDemodPortClient* pClient, std::atomic<int>* pPending);
    // Deletes every command and the lock.
    void CleanUp();
    int Count();

private:
    static void DecrementPending(std::atomic<int>* pPending);

    int m_Port = 0;
    XpCritSecPtr m_pLock;
    std::list<PortCmdType*> m_List;
};
