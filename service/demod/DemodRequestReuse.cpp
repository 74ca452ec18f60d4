#include "DemodRequestReuse.h"

#include <cstring>

#include "DemodSvcProtocol.h"

using namespace Kxapi;

bool DemodRequestReuse::Reusable(const PortCmdType& cmd)
{
    // The cache reads: statistics (both forms) and the supported list. Commands that reach
    // the hardware or change anything are decoded each time.
    const size_t op = cmd.m_Request.index();
    const bool read = op == static_cast<size_t>(DEMOD_OP_STATISTICS) || op == static_cast<size_t>(DEMOD_OP_SUPPORTED_STATS);
    return read && !cmd.m_Queued && !cmd.m_WaitDone && cmd.m_DecodeResult == KXAPI_OK && cmd.m_Size <= MAX_KEPT_SIZE;
}

PortCmdType* DemodRequestReuse::Find(const void* pMsg, size_t size) const
{
    if (m_pCmd == nullptr || pMsg == nullptr || m_pCmd->m_Size != size)
        return nullptr;
    return std::memcmp(m_pCmd->Msg(), pMsg, size) == 0 ? m_pCmd.get() : nullptr;
}

PortCmdType* DemodRequestReuse::Keep(PortCmdType* cmd)
{
    if (cmd == nullptr || !Reusable(*cmd)) {
        delete cmd;
        return nullptr;
    }
    m_pCmd.reset(cmd);
    m_ReplyOfKept = false;
    return cmd;
}

void DemodRequestReuse::Trim()
{
    if (m_Reply.capacity() > MAX_KEPT_SIZE) {
        DemodMsg().swap(m_Reply);
        m_ReplyOfKept = false;
    }
}
