// The last read request of one client connection, kept decoded, and the connection's reply
// buffer. Clients poll with the same request over and over (the same statistics list every
// 100 ms); a request byte for byte identical to the kept one is answered from its decoded
// form, without copying or parsing it again. Any other request is decoded as always, the text
// ones by the XML parser, so hostile input never skips it. Replies are built into the kept
// buffer, so a steady poll allocates nothing.
//
// The buffer also remembers the version of the port's statistics cache its reply of the kept
// request was built from: while the cache has not changed since, the same request gets the
// same bytes again, sent without reading the cache (and so without its lock: clients of one
// port then never queue behind each other, or behind one the scheduler preempted while it
// held the lock).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "CmdQueue.h"
#include "DemodSvcLayouts.h"
#include "KxNonCopyable.h"

class DemodRequestReuse : private KxNonCopyable {
public:
    // Requests and replies up to this size are kept between requests.
    static constexpr size_t MAX_KEPT_SIZE = 64 * 1024;

    // Whether a command may be kept and run again: a decoded command that is answered at
    // once (not queued for the worker) and that only reads. Decoding depends on the body
    // alone, so the same bytes always decode to the same request.
    static bool Reusable(const PortCmdType& cmd);

    // The kept command when the request is byte for byte the kept one's, else null.
    PortCmdType* Find(const void* pMsg, size_t size) const;
    // Keeps cmd (owned from now on) in place of the previous one; a command that is not
    // Reusable or too large is deleted instead. Returns cmd while it is kept, else null.
    PortCmdType* Keep(PortCmdType* cmd);
    // Drops the kept command (the connection leaves its port).
    void Forget()
    {
        m_pCmd.reset();
        m_ReplyOfKept = false;
    }

    // The reply buffer; Trim gives back a buffer that a large reply grew. Reply() is for
    // building any reply: the buffer then no longer holds the kept request's.
    Kxapi::DemodMsg& Reply()
    {
        m_ReplyOfKept = false;
        return m_Reply;
    }
    void Trim();
    // The buffer holds the reply of the kept request, built from the cache at `version`.
    void SetReplyOfKept(uint64_t version)
    {
        m_ReplyOfKept = m_pCmd != nullptr;
        m_ReplyVersion = version;
    }
    // The reply of the kept request when it was built from the cache at `version`, else null.
    const Kxapi::DemodMsg* ReplyOfKept(uint64_t version) const
    {
        return m_ReplyOfKept && m_ReplyVersion == version ? &m_Reply : nullptr;
    }

private:
    std::unique_ptr<PortCmdType> m_pCmd;
    Kxapi::DemodMsg m_Reply;
    bool m_ReplyOfKept = false;
    uint64_t m_ReplyVersion = 0;
};
