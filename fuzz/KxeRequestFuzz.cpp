// Fuzz target: the requests of the network-device FIFO ("KxeRecvPipe"). The input is the byte
// stream a client writes on its connection (frames of a 2-byte length, or 0xFFFF and a 4-byte
// length, then the body); a real KxeClient handler reads and answers it, over a manager with a
// scripted device list (discovery running) and in-memory device channels, until the stream
// ends.
#include <memory>

#include "FuzzSupport.h"
#include "KxeFakes.h"
#include "network/KxeClient.h"
#include "network/KxeManager.h"

namespace {

struct Service {
    Service()
    {
        kxfuzz::UsePrivateIpcDirectory("KxeRequestFuzz");
        auto* enumerator = new kxtest::ScriptedEnumerator();
        enumerator->SetDevices({kxtest::Device(5900000001, 11), kxtest::Device(5910000002, 12, 8000, 5910)});
        m_pManager = std::make_unique<KxeManager>(enumerator, kxtest::RecordingFactory(m_pDevices));
        // Started: its discovery thread publishes the scripted devices and serves forced
        // discoveries (command 11), as in the service.
        kxfuzz::Check(m_pManager->Init() && m_pManager->Start());
    }
    std::shared_ptr<kxtest::DeviceLog> m_pDevices = std::make_shared<kxtest::DeviceLog>();
    std::unique_ptr<KxeManager> m_pManager;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Service* service = new Service(); // lives for the process: its files stay private
    auto* connection = new kxfuzz::InputConnection(data, size);
    kxfuzz::RunHandlerToEnd(new KxeClient(service->m_pManager.get(), connection));
    // Attachments a client left behind are the manager's to release; start the next input clean.
    service->m_pManager->ClearKxePortRefCountList();
    return 0;
}
