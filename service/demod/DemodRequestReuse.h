// The last read request of one client connection, kept decoded, and the connection's reply
// buffer. Clients poll with the same request over and over (the same statistics list every
// 100 ms); a request byte for byte identical to the kept one is answered from its decoded
// form, without copying or parsing it again. Any other request is decoded as always, the text
// ones by the XML parser, so hostile input never skips it. Replies are built into the kept
// buffer, so a steady poll allocates nothing.
#pragma once

#include <cstddef>
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
    void Forget() { m_pCmd.reset(); }

    // The reply buffer; Trim gives back a buffer that a large reply grew.
    Kxapi::DemodMsg& Reply() { return m_Reply; }
    void Trim();

private:
    std::unique_ptr<PortCmdType> m_pCmd;
    Kxapi::DemodMsg m_Reply;
};
