#include "network/KxeClient.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "CritSecAutoLockSvc.h"
#include "EventLogController.h"
#include "KxServiceDefs.h"
#include "KxCheckedMath.h"
#include "KxWire.h"
#include "KxeListDefs.h"
#include "XpUtil.h"
#include "network/KxeEventMessenger.h"
#include "network/KxeManager.h"
#include "network/KxeProperties.h"

namespace {
// Largest reply of the command table (the list keys reply).
constexpr int MAX_REPLY_SIZE = KXE_REP_LIST_KEYS_SIZE;

// Copies a fixed text field of `size` bytes and terminates it whatever it holds.
void CopyTextField(char* out, const char* field, int size)
{
    memcpy(out, field, static_cast<size_t>(size));
    out[size] = '\0';
}

// Writes a narrow key text as `chars` wide (4-byte) characters at `offset`.
void PutWideText(char* reply, int offset, const char* text, int chars)
{
    for (int i = 0; i < chars; ++i) {
        uint32_t c = 0;
        if (text[i] != '\0')
            c = static_cast<unsigned char>(text[i]);
        KxPutU32(reply, static_cast<unsigned int>(offset + 4 * i), c);
        if (c == 0)
            break;
    }
}
} // namespace

const KxeClient::CommandRow KxeClient::COMMANDS[] = {
    {KXE_CMD_VERSION, 0, KXAPI_SVC_VERSION_REPLY_SIZE, &KxeClient::OnVersion},
    {KXE_CMD_PROP_GET, KXE_REQ_PROP_SIZE, KXE_REP_PROP_SIZE, &KxeClient::OnPropGet},
    {KXE_CMD_LIST_KEYS, KXE_REQ_LIST_KEYS_SIZE, KXE_REP_LIST_KEYS_SIZE, &KxeClient::OnListKeys},
    {KXE_CMD_EVENT_REGISTER, KXE_REQ_EVENT_REGISTER_SIZE, KXE_REP_SHORT_SIZE, &KxeClient::OnEventRegister},
    {KXE_CMD_ATTACH, KXE_REQ_ATTACH_SIZE, KXE_REP_ATTACH_SIZE, &KxeClient::OnAttach},
    {KXE_CMD_DETACH, KXE_REQ_DETACH_SIZE, KXE_REP_SHORT_SIZE, &KxeClient::OnDetach},
    {KXE_CMD_EXCL_ACCESS, KXE_REQ_EXCL_SIZE, KXE_REP_SHORT_SIZE, &KxeClient::OnExclusive},
    {KXE_CMD_PROP_GET_STR, KXE_REQ_PROP_SIZE, KXE_REP_PROP_STR_SIZE, &KxeClient::OnPropGetText},
    {KXE_CMD_VPD_CLEAR, KXE_REQ_VPD_CLEAR_SIZE, KXE_REP_SHORT_SIZE, &KxeClient::OnVpdClear},
    {KXE_CMD_VPD_READ, 0, KXE_REP_VPD_READ_SIZE, &KxeClient::OnVpdRead},       // two sizes: checked inside
    {KXE_CMD_VPD_UPDATE, 0, KXE_REP_SHORT_SIZE, &KxeClient::OnVpdUpdate},      // two sizes: checked inside
    {KXE_CMD_FORCE_DISCOVERY, KXE_REQ_FORCE_SIZE, KXE_REP_SHORT_SIZE, &KxeClient::OnForceDiscovery},
};

KxeClient::KxeClient(KxeManager* manager, IXpPipeConnection* connection)
    : PipeServerImpl(connection), m_pManager(manager)
{
    m_pManager->AddClient(this);
}

KxeClient::~KxeClient()
{
    m_pManager->RemoveClient(this);
    CritSecAutoLockSvc lock(m_pManager->ClientListLock());
    m_pEventMessenger.reset();
}

bool KxeClient::ServeRequest(const char* body, int size)
{
    HandleRequest(body, size);
    return true;
}

void KxeClient::OnServeEnd()
{
    // Everything the client held (attachments and exclusive accesses, whichever attach ids
    // they came with) is released before it counts as gone.
    m_pManager->ReleaseClient(this);
}

void KxeClient::HandleRequest(const char* body, int size)
{
    const uint32_t command = KxGetU32(body, 0);
    char reply[MAX_REPLY_SIZE] = {};
    KxPutU32(reply, 0, command);
    const CommandRow* row = nullptr;
    for (const CommandRow& candidate : COMMANDS) {
        if (candidate.m_Code == command)
            row = &candidate;
    }
    if (row == nullptr) {
        LogUnknownCommand(command);
        KxPutU32(reply, 4, KXAPI_E_INVALID_PARS);
        WriteMsg(reply, KXE_REP_SHORT_SIZE);
        return;
    }
    int replySize = row->m_ReplySize;
    if (row->m_RequestSize != 0 && size != row->m_RequestSize)
        KxPutU32(reply, 4, KXAPI_E_INVALID_PARS);
    else
        (this->*(row->m_Handler))(body, size, reply, replySize);
    WriteMsg(reply, replySize);
}

namespace {

// The 0-based port of a request's 1-based port field (0 for the device itself, then -1); a
// field that has no 0-based counterpart stays out of range instead of overflowing.
int32_t PortIndexOf(int32_t wirePort)
{
    return Kxapi::KxSaturatingSub(wirePort, int32_t{1});
}

} // namespace

void KxeClient::OnVersion(const char*, int, char* reply, int&)
{
    KxBuildVersionReply(reply, KXE_CMD_VERSION);
}

void KxeClient::OnPropGet(const char* body, int, char* reply, int&)
{
    char name[KXE_PROP_NAME_SIZE + 1];
    CopyTextField(name, body + 4, KXE_PROP_NAME_SIZE);
    KxePropertyValue value;
    KXAPI_RESULT result = KxeProperties::Instance().GetValue(name, KxGetI32(body, 56), KxGetI32(body, 60),
                                                             PortIndexOf(KxGetI32(body, 68)), value);
    KxPutU32(reply, 4, result);
    if (result == KXAPI_OK) {
        KxPutI64(reply, 8, value.m_Value);
        KxPutI32(reply, 16, value.m_ValueType);
        KxPutI32(reply, 20, value.m_Scope);
    }
}

void KxeClient::OnPropGetText(const char* body, int, char* reply, int&)
{
    char name[KXE_PROP_NAME_SIZE + 1];
    CopyTextField(name, body + 4, KXE_PROP_NAME_SIZE);
    KxePropertyValue value;
    KXAPI_RESULT result = KxeProperties::Instance().GetText(name, KxGetI32(body, 56), KxGetI32(body, 60),
                                                            PortIndexOf(KxGetI32(body, 68)), value);
    KxPutU32(reply, 4, result);
    if (result == KXAPI_OK) {
        KxPutI32(reply, 8, value.m_Scope);
        if (value.m_pStrValue != nullptr)
            XpUtil::Sprintf(reply + 12, KXE_PROP_STR_SIZE, "%s", value.m_pStrValue);
    }
}

void KxeClient::OnListKeys(const char*, int, char* reply, int&)
{
    char shmKey[KXE_KEY_CHARS] = {};
    char mutexKey[KXE_KEY_CHARS] = {};
    if (!m_pManager->GetKxeListKeys(shmKey, mutexKey)) {
        KxPutU32(reply, 4, KXAPI_E_INTERNAL);
        return;
    }
    shmKey[KXE_KEY_CHARS - 1] = '\0';
    mutexKey[KXE_KEY_CHARS - 1] = '\0';
    KxPutU32(reply, 4, KXAPI_OK);
    PutWideText(reply, 8, shmKey, KXE_KEY_CHARS);
    PutWideText(reply, 8 + 4 * KXE_KEY_CHARS, mutexKey, KXE_KEY_CHARS);
}

void KxeClient::OnEventRegister(const char* body, int, char* reply, int&)
{
    wchar_t name[KXE_EVENT_NAME_CHARS + 1];
    for (int i = 0; i < KXE_EVENT_NAME_CHARS; ++i)
        name[i] = static_cast<wchar_t>(KxGetU32(body, static_cast<unsigned int>(4 + 4 * i)));
    name[KXE_EVENT_NAME_CHARS] = L'\0';
    KxPutU32(reply, 4, EventPipeRegister(name, KxGetU32(body, 260)));
}

void KxeClient::OnAttach(const char* body, int, char* reply, int&)
{
    uint8_t ip[4];
    memcpy(ip, body + 4, sizeof(ip));
    int channelId = -1;
    uint32_t attachId = 0;
    KXAPI_RESULT result =
        m_pManager->AttachKxePort(ip, KxGetI64(body, 8), KxGetI32(body, 16), this, channelId, attachId);
    KxPutU32(reply, 4, result);
    if (result == KXAPI_OK) {
        KxPutI32(reply, 8, channelId);
        KxPutU32(reply, 12, attachId);
    }
}

void KxeClient::OnDetach(const char* body, int, char* reply, int&)
{
    KxPutU32(reply, 4, m_pManager->DetachKxePort(KxGetI64(body, 8), KxGetI32(body, 16), KxGetU32(body, 20), this));
}

void KxeClient::OnExclusive(const char* body, int, char* reply, int&)
{
    KxPutU32(reply, 4, m_pManager->ExclusiveAccess(KxGetI64(body, 8), KxGetI32(body, 16), KxGetU32(body, 24),
                                                   KxGetU32(body, 20), this));
}

void KxeClient::OnVpdClear(const char* body, int, char* reply, int&)
{
    KxPutU32(reply, 4, m_pManager->VpdCache().Clear(KxGetI64(body, 8)));
}

void KxeClient::OnVpdRead(const char* body, int size, char* reply, int&)
{
    int keywordSize;
    if (size == KXE_REQ_VPD_READ_SIZE)
        keywordSize = 16;
    else if (size == KXE_REQ_VPD_READ_OLD_SIZE)
        keywordSize = 8;
    else {
        KxPutU32(reply, 4, KXAPI_E_INVALID_PARS);
        return;
    }
    char keyword[17];
    CopyTextField(keyword, body + 16, keywordSize);
    int length = 0;
    KXAPI_RESULT result = m_pManager->VpdCache().Read(KxGetI64(body, 8), KxGetI32(body, 16 + keywordSize), keyword,
                                                      reinterpret_cast<uint8_t*>(reply + 12), KXE_VPD_DATA_SIZE,
                                                      length);
    KxPutU32(reply, 4, result);
    KxPutI32(reply, 8, length);
}

void KxeClient::OnVpdUpdate(const char* body, int size, char* reply, int&)
{
    int keywordSize;
    if (size == KXE_REQ_VPD_UPDATE_SIZE)
        keywordSize = 16;
    else if (size == KXE_REQ_VPD_UPDATE_OLD_SIZE)
        keywordSize = 8;
    else {
        KxPutU32(reply, 4, KXAPI_E_INVALID_PARS);
        return;
    }
    char keyword[17];
    CopyTextField(keyword, body + 16, keywordSize);
    const unsigned int sectionOffs = 16 + static_cast<unsigned int>(keywordSize);
    const int32_t length = KxGetI32(body, sectionOffs + 4);
    if (length < 0 || length > KXE_VPD_DATA_SIZE) {
        KxPutU32(reply, 4, KXAPI_E_INVALID_PARS);
        return;
    }
    const auto* data = reinterpret_cast<const uint8_t*>(body + sectionOffs + 8);
    const bool valid = body[sectionOffs + 8 + KXE_VPD_DATA_SIZE] != 0;
    KxPutU32(reply, 4, m_pManager->VpdCache().Update(KxGetI64(body, 8), KxGetI32(body, sectionOffs), valid, keyword,
                                                     data, length));
}

void KxeClient::OnForceDiscovery(const char*, int, char* reply, int&)
{
    KxPutU32(reply, 4, m_pManager->ForceDiscovery());
}

KXAPI_RESULT KxeClient::EventPipeRegister(const wchar_t* name, uint32_t mask)
{
    if (name == nullptr)
        return KXAPI_E_INVALID_BUF;
    // Only this client's thread changes the messenger; the discovery thread takes it under
    // the client-list lock, so every change is made under that lock too.
    if (mask == 0 || m_pEventMessenger != nullptr) {
        std::shared_ptr<KxeEventMessenger> dropped;
        CritSecAutoLockSvc lock(m_pManager->ClientListLock());
        if (mask == 0)
            dropped = std::move(m_pEventMessenger);
        else
            m_pEventMessenger->SetMask(mask);
        // A name given with a mere mask change is not connected to and not recorded.
        return KXAPI_OK;
    }
    char narrow[KXE_EVENT_NAME_CHARS * 4 + 1];
    if (XpUtil::WsToCs(narrow, name, sizeof(narrow)) != KXAPI_OK)
        return KXAPI_E_INTERNAL;
    // Connecting may take a while: done before the lock is taken.
    auto messenger = std::make_shared<KxeEventMessenger>();
    if (!messenger->Init(narrow, mask, PeerOwner()))
        return KXAPI_E_INTERNAL;
    {
        CritSecAutoLockSvc lock(m_pManager->ClientListLock());
        m_pEventMessenger = std::move(messenger);
    }
    // Only a name the service did connect to is recorded for the clean-up of orphan FIFOs.
    m_pManager->RegisterEventPipe(name, PeerOwner(), m_pConnection.get());
    return KXAPI_OK;
}

void KxeClient::DropEventMessenger(const KxeEventMessenger* messenger)
{
    if (m_pEventMessenger.get() == messenger)
        m_pEventMessenger.reset();
}
