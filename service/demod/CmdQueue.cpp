#include "CmdQueue.h"

#include <cstring>
#include <new>

#include "CritSecAutoLockSvc.h"
#include "CrossPlatform.h"
#include "DemodSvcProtocol.h"
#include "EventLogController.h"
#include "KxWire.h"

using namespace Kxapi;

namespace {

// Scans that have not started yet are dropped by any newer scan or tuning command.
bool IsScanCommand(int32_t code)
{
    return code == DEMOD_CMD_BLIND_SCAN_OLD || code == DEMOD_CMD_BLIND_SCAN || code == DEMOD_CMD_SPECTRUM_SCAN;
}

bool Supersedes(const PortCmdType& newCmd, const PortCmdType& tail)
{
    if (newCmd.m_ScanClass == DEMOD_SCAN_CLASS_BLIND &&
        (tail.m_ScanClass == DEMOD_SCAN_CLASS_BLIND || tail.m_ScanClass == DEMOD_SCAN_CLASS_TUNING))
        return true;
    if (newCmd.m_ScanClass == DEMOD_SCAN_CLASS_TUNING && tail.m_Code == newCmd.m_Code)
        return true;
    if ((newCmd.m_ScanClass == DEMOD_SCAN_CLASS_BLIND || newCmd.m_ScanClass == DEMOD_SCAN_CLASS_TUNING) &&
        IsScanCommand(tail.m_Code))
        return true;
    return false;
}

} // namespace

// ---- PortCmdType ------------------------------------------------------------------------

PortCmdType* PortCmdType::Create(const void* pMsg, unsigned int size, IDemodPortClient* pClient, KXAPI_RESULT& result)
{
    if (pMsg == nullptr || size < DEMOD_REQUEST_HEADER_SIZE) {
        result = KXAPI_E_INVALID_HEADER;
        return nullptr;
    }
    const uint32_t code = KxGetU32(pMsg, 0);
    // Code 3 is the first row; every other code is looked up in table order.
    const DemodCmdProperties* props = DemodFindCmdProperties(code);
    if (props == nullptr) {
        LogUnknownCommand(code);
        result = KXAPI_E_INVALID_PARS;
        return nullptr;
    }
    if (size < props->m_MinSize) {
        result = KXAPI_E_INVALID_HEADER;
        return nullptr;
    }
    auto* cmd = new (std::nothrow) PortCmdType();
    uint8_t* copy = new (std::nothrow) uint8_t[size];
    if (cmd == nullptr || copy == nullptr) {
        delete cmd;
        delete[] copy;
        result = KXAPI_E_OUT_OF_MEM;
        return nullptr;
    }
    std::memcpy(copy, pMsg, size);
    cmd->m_pMsg = copy;
    cmd->m_Size = size;
    cmd->m_pClient = pClient;
    cmd->m_Code = static_cast<int32_t>(code);
    cmd->m_Queued = props->m_Queued;
    cmd->m_WaitDone = props->m_WaitDone;
    cmd->m_SuspendsStats = props->m_SuspendsStats;
    cmd->m_ScanClass = props->m_ScanClass;
    cmd->m_MinSize = static_cast<int32_t>(props->m_MinSize);
    cmd->m_Form = props->m_Form;
    cmd->m_DecodeResult = DemodDecodeRequest(*props, copy, size, cmd->m_Request);
    result = KXAPI_OK;
    return cmd;
}

PortCmdType::PortCmdType() = default;

PortCmdType::~PortCmdType()
{
    delete[] m_pMsg;
}

PortCmdType::PortCmdType(const PortCmdType& other)
{
    CopyFrom(other);
}

PortCmdType& PortCmdType::operator=(const PortCmdType& other)
{
    if (this != &other)
        CopyFrom(other);
    return *this;
}

bool PortCmdType::CopyFrom(const PortCmdType& other)
{
    uint8_t* copy = nullptr;
    if (other.m_pMsg != nullptr && other.m_Size > 0) {
        copy = new (std::nothrow) uint8_t[other.m_Size];
        if (copy != nullptr)
            std::memcpy(copy, other.m_pMsg, other.m_Size);
    }
    delete[] m_pMsg;
    m_pMsg = copy;
    m_Size = copy != nullptr ? other.m_Size : 0;
    m_pClient = other.m_pClient;
    m_Code = other.m_Code;
    m_Queued = other.m_Queued;
    m_WaitDone = other.m_WaitDone;
    m_SuspendsStats = other.m_SuspendsStats;
    m_ScanClass = other.m_ScanClass;
    m_MinSize = other.m_MinSize;
    m_Form = other.m_Form;
    try {
        m_Request = other.m_Request;
        m_DecodeResult = other.m_DecodeResult;
    } catch (const std::bad_alloc&) {
        m_Request.emplace<0>();
        m_DecodeResult = KXAPI_E_OUT_OF_MEM;
    }
    return copy != nullptr || other.m_pMsg == nullptr;
}

bool PortCmdType::operator==(const PortCmdType& other) const
{
    return m_pClient == other.m_pClient && m_Code == other.m_Code;
}

// ---- CmdQueue ----------------------------------------------------------------------------

CmdQueue::CmdQueue() = default;

CmdQueue::~CmdQueue()
{
    CleanUp();
}

bool CmdQueue::Init(int port)
{
    m_Port = port;
    if (m_pLock == nullptr)
        m_pLock = Xp::Instance()->MakeCritSec();
    return m_pLock != nullptr;
}

void CmdQueue::DecrementPending(std::atomic<int>* pPending)
{
    if (pPending == nullptr)
        return;
    if (pPending->fetch_sub(1) - 1 < 0)
        pPending->store(0);
}

void CmdQueue::Add(PortCmdType* cmd, std::atomic<int>* pPending)
{
    if (cmd == nullptr)
        return;
    CritSecAutoLockSvc lock(m_pLock);
    if (!m_List.empty()) {
        PortCmdType* tail = m_List.back();
        if (Supersedes(*cmd, *tail)) {
            m_List.pop_back();
            if (tail->m_SuspendsStats)
                DecrementPending(pPending);
            delete tail;
        }
    }
    m_List.push_back(cmd);
}

PortCmdType* CmdQueue::GetNext()
{
    CritSecAutoLockSvc lock(m_pLock);
    if (m_List.empty())
        return nullptr;
    PortCmdType* cmd = m_List.front();
    m_List.pop_front();
    return cmd;
}

bool CmdQueue::IsEmpty()
{
    CritSecAutoLockSvc lock(m_pLock);
    return m_List.empty();
}

int CmdQueue::Count()
{
    CritSecAutoLockSvc lock(m_pLock);
    return static_cast<int>(m_List.size());
}

PortCmdType* CmdQueue::Remove(const PortCmdType* cmd, std::atomic<int>* pPending)
{
    CritSecAutoLockSvc lock(m_pLock);
    for (auto it = m_List.begin(); it != m_List.end(); ++it) {
        if (*it == cmd) {
            PortCmdType* found = *it;
            m_List.erase(it);
            if (found->m_SuspendsStats)
                DecrementPending(pPending);
            return found;
        }
    }
    return nullptr;
}

void CmdQueue::Clear(IDemodPortClient* pClient, std::atomic<int>* pPending)
{
    CritSecAutoLockSvc lock(m_pLock);
    for (auto it = m_List.begin(); it != m_List.end();) {
        PortCmdType* cmd = *it;
        if (pClient == nullptr || cmd->m_pClient == pClient) {
            it = m_List.erase(it);
            if (cmd->m_SuspendsStats)
                DecrementPending(pPending);
            delete cmd;
        } else {
            ++it;
        }
    }
}

void CmdQueue::CleanUp()
{
    Clear(nullptr, nullptr);
    m_pLock.reset();
}
