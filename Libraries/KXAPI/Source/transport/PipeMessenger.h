// Length-prefixed messages over an IXpPipeConnection.
//
// Frame: a body of 0..65534 bytes has a 2-byte little-endian length; longer bodies have the
// 8-byte header FF FF 00 00 followed by the 4-byte little-endian length.
#pragma once

#include <atomic>
#include <memory>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "XpHandles.h"
#include "KxNonCopyable.h"

// Largest body a reader accepts; a longer announced length ends the read before allocating.
// A messenger may set a lower bound of its own (SetMaxMessageSize).
constexpr unsigned int PIPE_MAX_MESSAGE_SIZE = 16u * 1024u * 1024u;
// Frames up to this size (the atomic FIFO write size) are written in one piece.
constexpr unsigned int PIPE_ATOMIC_FRAME_SIZE = 4096;
// A reader takes up to this much of what is waiting in one read (allocated at the first read).
constexpr unsigned int PIPE_READ_AHEAD_SIZE = 4096;
// Largest body a connection's kept read buffer grows to before the body has arrived; larger
// bodies are received into untouched memory first.
constexpr unsigned int PIPE_KEPT_BUFFER_LIMIT = 64u * 1024u;
// Time-out of a message body once its header has arrived (and of a whole small frame, and of
// a large frame's header). Every transfer with a time-out is also bounded in total, so a peer
// that trickles a byte at a time cannot stretch it.
constexpr unsigned int PIPE_BODY_TIMEOUT_MS = 500;
// Bytes of message bodies that all readers of this process together hold while receiving
// them; a message that would exceed it is refused before anything is allocated.
constexpr unsigned int PIPE_MAX_BYTES_IN_FLIGHT = 64u * 1024u * 1024u;

class PipeMessenger : private KxNonCopyable {
public:
    // Creates its own, unconnected connection.
    PipeMessenger();
    // Adopts a connected connection (owned from now on).
    explicit PipeMessenger(IXpPipeConnection* connection);
    virtual ~PipeMessenger();

    // Discards waiting input.
    virtual KXAPI_RESULT ClearRxPipe();
    // Connects to the listener of the given name; true on success.
    virtual bool Connect(const char* name);
    // Service side: connects once to the listener FIFO a client published, which must belong
    // to `ownerUid`; true on success.
    bool ConnectToClient(const char* name, unsigned int ownerUid);
    // The user who owns the connection FIFOs of the client at the other end (XP_ANY_OWNER
    // when not known).
    unsigned int PeerOwner() const;
    // Closes the connection.
    virtual KXAPI_RESULT Disconnect();
    // True when the messenger has its connection (fresh or adopted).
    virtual bool Init();
    // Reads one message into a malloc'ed buffer (caller frees). `timeoutMs` bounds the wait
    // for the message to begin; the rest of it must follow within 500 ms. False on failure,
    // on a stop request, or when the announced length exceeds the messenger's largest message
    // (PIPE_MAX_MESSAGE_SIZE unless set lower; LastResult KXAPI_E_TOO_LONG) or the bytes in
    // flight of the process would exceed PIPE_MAX_BYTES_IN_FLIGHT.
    virtual bool ReadMsg(char*& buffer, int& size, unsigned int timeoutMs);
    // The largest body ReadMsg accepts (at most PIPE_MAX_MESSAGE_SIZE): a protocol whose
    // messages are smaller sets its own bound here, in the one place a length is read.
    void SetMaxMessageSize(unsigned int size)
    {
        m_MaxMessageSize = size < PIPE_MAX_MESSAGE_SIZE ? size : PIPE_MAX_MESSAGE_SIZE;
    }
    unsigned int MaxMessageSize() const { return m_MaxMessageSize; }
    // The same into a buffer the caller keeps: the message is its first `size` bytes. The
    // buffer grows to the largest message read and is never shrunk here, so a connection that
    // exchanges messages of a steady size reads them without allocating.
    bool ReadMsg(std::vector<uint8_t>& buffer, size_t& size, unsigned int timeoutMs);
    // Makes a transfer in progress return at once (its wait watches the connection's stop
    // signal).
    virtual KXAPI_RESULT StopRW();
    // Writes one message; true when header and body were written. Frames of up to 4096
    // bytes are written whole within 500 ms; larger ones take at most 500 ms for the header
    // and 500 ms for the body, so a reader that never reads fails the write within about a
    // second.
    virtual bool WriteMsg(const char* buffer, int size);

    // The result of the last failed transfer of ReadMsg or WriteMsg (KXAPI_OK after success).
    KXAPI_RESULT LastResult() const { return m_LastResult; }

protected:
    XpPipeConnectionPtr m_pConnection;

private:
    // The frame header: the body's length, checked against the size cap and reserved in the
    // process's in-flight budget (which ReadBody gives back). False on failure.
    bool ReadLength(unsigned int& length, unsigned int timeoutMs);
    // The body into `body` (null: out of memory) within the body time-out; returns the
    // reservation.
    bool ReadBody(char* body, unsigned int length);
    // Exactly `count` bytes: first those read ahead, then from the connection. With
    // `readAhead`, the read also takes what else is there (the rest of a frame, and of any
    // frame after it) into the read-ahead buffer, so that a message whose frame arrived whole
    // costs one read; otherwise the connection's bytes go straight into `buffer`.
    bool Take(char* buffer, unsigned int count, unsigned int timeoutMs, bool readAhead);
    void DropReadAhead() { m_AheadStart = m_AheadEnd = 0; }

    std::atomic<bool> m_Stopped{false};
    // Bytes read past the last message taken, in order: [m_AheadStart, m_AheadEnd).
    std::unique_ptr<char[]> m_pAhead;
    unsigned int m_AheadStart = 0;
    unsigned int m_AheadEnd = 0;
    KXAPI_RESULT m_LastResult = KXAPI_OK;
    unsigned int m_MaxMessageSize = PIPE_MAX_MESSAGE_SIZE;
};

// Builds the frame header for a body of `size` bytes into `header` (8 bytes of room);
// returns the header length (2 or 8).
unsigned int PipeBuildHeader(unsigned int size, unsigned char* header);

// Bytes of message bodies being received by this process right now.
unsigned int PipeBytesInFlight();

// Connects a new messenger to the service FIFO of the wide name `pipeName`. Null with
// `result` KXAPI_E_CONNECT_TO_SERVICE when nobody serves it (KXAPI_E_OUT_OF_MEM,
// KXAPI_E_INTERNAL for a name that does not convert).
PipeMessenger* PipeConnectService(const wchar_t* pipeName, KXAPI_RESULT& result);
