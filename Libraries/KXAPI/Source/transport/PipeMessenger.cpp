#include "PipeMessenger.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "CrossPlatform.h"
#include "XpUtil.h"

#include <new>

unsigned int PipeBuildHeader(unsigned int size, unsigned char* header)
{
    if (size <= 65534) {
        header[0] = static_cast<unsigned char>(size & 0xFF);
        header[1] = static_cast<unsigned char>(size >> 8);
        return 2;
    }
    header[0] = 0xFF;
    header[1] = 0xFF;
    header[2] = 0x00;
    header[3] = 0x00;
    for (int i = 0; i < 4; i++)
        header[4 + i] = static_cast<unsigned char>((size >> (8 * i)) & 0xFF);
    return 8;
}

namespace {
std::atomic<unsigned int> BytesInFlight{0};
} // namespace

unsigned int PipeBytesInFlight()
{
    return BytesInFlight.load();
}

PipeMessenger::PipeMessenger() : m_pConnection(Xp::Instance()->MakePipeConnection()) {}

PipeMessenger::PipeMessenger(IXpPipeConnection* connection) : m_pConnection(connection) {}

PipeMessenger::~PipeMessenger() = default;

KXAPI_RESULT PipeMessenger::ClearRxPipe()
{
    DropReadAhead();
    return m_pConnection != nullptr ? m_pConnection->ClearRx() : KXAPI_E_NOT_INITIALIZED;
}

bool PipeMessenger::Connect(const char* name)
{
    if (m_pConnection == nullptr)
        return false;
    DropReadAhead();
    m_LastResult = m_pConnection->Connect(name);
    return m_LastResult == KXAPI_OK;
}

bool PipeMessenger::ConnectToClient(const char* name, unsigned int ownerUid)
{
    if (m_pConnection == nullptr)
        return false;
    DropReadAhead();
    m_LastResult = m_pConnection->ConnectToClient(name, ownerUid);
    return m_LastResult == KXAPI_OK;
}

unsigned int PipeMessenger::PeerOwner() const
{
    return m_pConnection != nullptr ? m_pConnection->PeerOwner() : XP_ANY_OWNER;
}

KXAPI_RESULT PipeMessenger::Disconnect()
{
    DropReadAhead();
    return m_pConnection != nullptr ? m_pConnection->Close() : KXAPI_E_NOT_INITIALIZED;
}

bool PipeMessenger::Init()
{
    return m_pConnection != nullptr;
}

bool PipeMessenger::WriteMsg(const char* buffer, int size)
{
    if (m_pConnection == nullptr || size < 0 || (buffer == nullptr && size > 0))
        return false;
    unsigned char frame[PIPE_ATOMIC_FRAME_SIZE];
    unsigned int headerLength = PipeBuildHeader(static_cast<unsigned int>(size), frame);
    if (headerLength + static_cast<unsigned int>(size) <= sizeof(frame)) {
        // A small frame goes out in one write, which the FIFO moves whole or not at all: a
        // time-out never leaves half a message behind, and the reader wakes once.
        if (size > 0)
            memcpy(frame + headerLength, buffer, static_cast<size_t>(size));
        m_LastResult = m_pConnection->Write(reinterpret_cast<char*>(frame), headerLength + static_cast<unsigned int>(size),
                                            PIPE_BODY_TIMEOUT_MS);
        return m_LastResult == KXAPI_OK && !m_Stopped.load();
    }
    m_LastResult = m_pConnection->Write(reinterpret_cast<char*>(frame), headerLength, PIPE_BODY_TIMEOUT_MS);
    if (m_LastResult != KXAPI_OK)
        return false;
    m_LastResult = m_pConnection->Write(buffer, static_cast<unsigned int>(size), PIPE_BODY_TIMEOUT_MS);
    return m_LastResult == KXAPI_OK && !m_Stopped.load();
}

bool PipeMessenger::Take(char* buffer, unsigned int count, unsigned int timeoutMs, bool readAhead)
{
    const unsigned int have = m_AheadEnd - m_AheadStart;
    const unsigned int fromAhead = have < count ? have : count;
    if (fromAhead > 0) {
        memcpy(buffer, m_pAhead.get() + m_AheadStart, fromAhead);
        m_AheadStart += fromAhead;
    }
    if (fromAhead == count) {
        m_LastResult = KXAPI_OK;
        return true;
    }
    DropReadAhead();
    const unsigned int missing = count - fromAhead;
    if (readAhead && m_pAhead == nullptr)
        m_pAhead.reset(new (std::nothrow) char[PIPE_READ_AHEAD_SIZE]);
    if (!readAhead || m_pAhead == nullptr || missing > PIPE_READ_AHEAD_SIZE) {
        m_LastResult = m_pConnection->Read(buffer + fromAhead, missing, timeoutMs);
        // A transfer cut short by a stop request returns KXAPI_OK without its bytes: never
        // parse those.
        return m_LastResult == KXAPI_OK && !m_Stopped.load();
    }
    unsigned int got = 0;
    m_LastResult = m_pConnection->ReadSome(m_pAhead.get(), missing, PIPE_READ_AHEAD_SIZE, timeoutMs, got);
    if (m_LastResult != KXAPI_OK || m_Stopped.load() || got < missing)
        return false;
    memcpy(buffer + fromAhead, m_pAhead.get(), missing);
    m_AheadStart = missing;
    m_AheadEnd = got;
    return true;
}

bool PipeMessenger::ReadLength(unsigned int& length, unsigned int timeoutMs)
{
    length = 0;
    if (m_pConnection == nullptr)
        return false;
    unsigned char header[8] = {};
    if (!Take(reinterpret_cast<char*>(header), 2, timeoutMs, true))
        return false;
    length = header[0] | (header[1] << 8);
    if (length == 0xFFFF) {
        if (!Take(reinterpret_cast<char*>(header + 2), 6,
                  timeoutMs < PIPE_BODY_TIMEOUT_MS ? timeoutMs : PIPE_BODY_TIMEOUT_MS, true))
            return false;
        length = header[4] | (header[5] << 8) | (header[6] << 16) | (static_cast<unsigned int>(header[7]) << 24);
    }
    if (length > PIPE_MAX_MESSAGE_SIZE || length > 0x7FFFFFFFu) {
        m_LastResult = KXAPI_E_INVALID_SIZE;
        return false;
    }
    if (length > m_MaxMessageSize) {
        m_LastResult = KXAPI_E_TOO_LONG;
        return false;
    }
    // Reserved for the time the body is being received, so that many connections that announce
    // large messages and then trickle cannot hold more than the budget between them. ReadBody
    // gives it back.
    unsigned int inFlight = BytesInFlight.load();
    do {
        if (length > PIPE_MAX_BYTES_IN_FLIGHT - inFlight) {
            m_LastResult = KXAPI_E_OUT_OF_RESOURCES;
            return false;
        }
    } while (!BytesInFlight.compare_exchange_weak(inFlight, inFlight + length));
    return true;
}

bool PipeMessenger::ReadBody(char* body, unsigned int length)
{
    bool taken = false;
    if (body != nullptr || length == 0)
        taken = length == 0 || Take(body, length, PIPE_BODY_TIMEOUT_MS, false);
    else
        m_LastResult = KXAPI_E_OUT_OF_MEM;
    BytesInFlight -= length;
    return taken && !m_Stopped.load();
}

bool PipeMessenger::ReadMsg(char*& buffer, int& size, unsigned int timeoutMs)
{
    buffer = nullptr;
    size = 0;
    unsigned int length = 0;
    if (!ReadLength(length, timeoutMs))
        return false;
    char* body = static_cast<char*>(malloc(length > 0 ? length : 1));
    if (!ReadBody(body, length)) {
        free(body);
        return false;
    }
    buffer = body;
    size = static_cast<int>(length);
    return true;
}

bool PipeMessenger::ReadMsg(std::vector<uint8_t>& buffer, size_t& size, unsigned int timeoutMs)
{
    size = 0;
    unsigned int length = 0;
    if (!ReadLength(length, timeoutMs))
        return false;
    if (length > PIPE_KEPT_BUFFER_LIMIT && buffer.size() < length) {
        // A large body is received into memory that is not touched before its bytes arrive
        // (growing the kept buffer would zero it at once), so a connection that announces a
        // large message and then trickles holds no more resident memory than it sent.
        char* received = static_cast<char*>(malloc(length));
        if (!ReadBody(received, length)) {
            free(received);
            return false;
        }
        try {
            buffer.assign(received, received + length);
        } catch (const std::bad_alloc&) {
            free(received);
            m_LastResult = KXAPI_E_OUT_OF_MEM;
            return false;
        }
        free(received);
        size = length;
        return true;
    }
    char* body = nullptr;
    try {
        if (buffer.size() < length)
            buffer.resize(length);
        body = reinterpret_cast<char*>(buffer.data());
    } catch (const std::bad_alloc&) {
        body = nullptr;
    }
    if (!ReadBody(body, length))
        return false;
    size = length;
    return true;
}

KXAPI_RESULT PipeMessenger::StopRW()
{
    m_Stopped = true;
    return m_pConnection != nullptr ? m_pConnection->StopIo() : KXAPI_E_NOT_INITIALIZED;
}

PipeMessenger* PipeConnectService(const wchar_t* pipeName, KXAPI_RESULT& result)
{
    char name[100];
    if (XpUtil::WsToCs(name, pipeName, sizeof(name)) != KXAPI_OK) {
        result = KXAPI_E_INTERNAL;
        return nullptr;
    }
    std::unique_ptr<PipeMessenger> messenger(new (std::nothrow) PipeMessenger());
    if (messenger == nullptr) {
        result = KXAPI_E_OUT_OF_MEM;
        return nullptr;
    }
    if (!messenger->Init() || !messenger->Connect(name)) {
        result = KXAPI_E_CONNECT_TO_SERVICE;
        return nullptr;
    }
    result = KXAPI_OK;
    return messenger.release();
}
