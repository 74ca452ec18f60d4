// Fuzz target: the network device's input-channel SOAP responses. A local HTTP server thread
// answers every request of the service's device client (NewKxeInputRpc, over a real TCP
// connection to 127.0.0.1) with the fuzz input as the raw HTTP response, for an attach and a
// detach.
#include <arpa/inet.h>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "FuzzSupport.h"
#include "network/KxeInputRpc.h"

namespace {

class ResponseServer {
public:
    ResponseServer()
    {
        m_Fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        kxfuzz::Check(m_Fd >= 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        kxfuzz::Check(bind(m_Fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0);
        kxfuzz::Check(listen(m_Fd, 8) == 0);
        socklen_t length = sizeof(addr);
        kxfuzz::Check(getsockname(m_Fd, reinterpret_cast<sockaddr*>(&addr), &length) == 0);
        m_Endpoint = "http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port));
        std::thread([this] { Serve(); }).detach(); // lives as long as the process
    }
    const std::string& Endpoint() const { return m_Endpoint; }
    void SetResponse(std::string response)
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_Response = std::move(response);
    }

private:
    void Serve()
    {
        for (;;) {
            int client = accept4(m_Fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0)
                continue;
            ReadRequest(client);
            std::string response;
            {
                std::lock_guard<std::mutex> lock(m_Mutex);
                response = m_Response;
            }
            size_t sent = 0;
            while (sent < response.size()) {
                ssize_t n = send(client, response.data() + sent, response.size() - sent, MSG_NOSIGNAL);
                if (n <= 0)
                    break;
                sent += static_cast<size_t>(n);
            }
            shutdown(client, SHUT_WR);
            close(client);
        }
    }
    // Reads the request up to the end of its SOAP envelope (or until the client stops).
    static void ReadRequest(int client)
    {
        std::string request;
        char buffer[4096];
        while (request.find("Envelope>") == std::string::npos && request.size() < 1000000) {
            pollfd p{client, POLLIN, 0};
            if (poll(&p, 1, 2000) <= 0)
                return;
            ssize_t n = recv(client, buffer, sizeof(buffer), 0);
            if (n <= 0)
                return;
            request.append(buffer, static_cast<size_t>(n));
        }
    }

    int m_Fd = -1;
    std::string m_Endpoint;
    std::mutex m_Mutex;
    std::string m_Response;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static ResponseServer* server = new ResponseServer();
    server->SetResponse(std::string(reinterpret_cast<const char*>(data), size));
    std::unique_ptr<IKxeInputRpc> rpc(NewKxeInputRpc(server->Endpoint().c_str()));
    kxfuzz::Check(rpc != nullptr);
    int channel = -1;
    const KXAPI_RESULT attached = rpc->Attach(1, false, channel);
    (void)attached;
    rpc->Detach(channel);
    return 0;
}
