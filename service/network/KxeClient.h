// Handler of one client of "KxeRecvPipe": reads one request at a time and answers it.
#pragma once

#include <cstdint>
#include <memory>

#include "KxapiResult.h"
#include "PipeServerImpl.h"

class KxeManager;
class KxeEventMessenger;

class KxeClient : public PipeServerImpl {
public:
    // Joins the manager's list of clients that hear device events.
    KxeClient(KxeManager* manager, IXpPipeConnection* connection);
    // Leaves the list and deletes the event messenger.
    ~KxeClient() override;

    // Connects to the client's event FIFO (mask non-zero) or drops it (mask 0).
    KXAPI_RESULT EventPipeRegister(const wchar_t* name, uint32_t mask);
    // The event messenger, if any (read under the client-list lock; writes are made by the
    // holder of the returned reference, without any lock of the manager).
    std::shared_ptr<KxeEventMessenger> EventMessenger() const { return m_pEventMessenger; }
    // Drops `messenger` when it is still this client's (called under the client-list lock).
    void DropEventMessenger(const KxeEventMessenger* messenger);

    // One request (at least 4 bytes); writes the reply, if any.
    void HandleRequest(const char* body, int size);

private:
    bool ServeRequest(const char* body, int size) override;
    void OnServeEnd() override;

    using Handler = void (KxeClient::*)(const char* body, int size, char* reply, int& replySize);
    struct CommandRow {
        uint32_t m_Code;
        int m_RequestSize; // 0: any size
        int m_ReplySize;
        Handler m_Handler;
    };
    static const CommandRow COMMANDS[];

    void OnVersion(const char* body, int size, char* reply, int& replySize);
    void OnPropGet(const char* body, int size, char* reply, int& replySize);
    void OnPropGetText(const char* body, int size, char* reply, int& replySize);
    void OnListKeys(const char* body, int size, char* reply, int& replySize);
    void OnEventRegister(const char* body, int size, char* reply, int& replySize);
    void OnAttach(const char* body, int size, char* reply, int& replySize);
    void OnDetach(const char* body, int size, char* reply, int& replySize);
    void OnExclusive(const char* body, int size, char* reply, int& replySize);
    void OnVpdClear(const char* body, int size, char* reply, int& replySize);
    void OnVpdRead(const char* body, int size, char* reply, int& replySize);
    void OnVpdUpdate(const char* body, int size, char* reply, int& replySize);
    void OnForceDiscovery(const char* body, int size, char* reply, int& replySize);

    KxeManager* m_pManager;
    std::shared_ptr<KxeEventMessenger> m_pEventMessenger;
};
