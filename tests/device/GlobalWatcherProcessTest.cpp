// The global watcher registers with the network-device manager of a running service.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "CrossPlatform.h"
#include "KxDevice.h"
#include "TestSupport.h"

namespace {

void Ignore(int, const KxEventArgs*) {}

bool Exists(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

TEST(GlobalWatcherProcess, RegistersItsEventFifoWithTheNetworkDeviceManager)
{
    kxtest::ScopedIpcDirectory restore; // puts the process's directory back afterwards
    kxtest::SimService service;
    ASSERT_TRUE(service.Start());
    ASSERT_EQ(KXAPI_OK, Xp::SetIpcDirectory(service.Dir().c_str()));
    std::string eventFifo = service.File("KxapiKxeSvc_EvPipe_" + std::to_string(getpid()));

    void* id = nullptr;
    ASSERT_EQ(KXAPI_OK, KxapiRegisterCallback(Ignore, nullptr, -1, &id));
    EXPECT_TRUE(Exists(eventFifo));
    ASSERT_EQ(KXAPI_OK, KxapiUnregisterCallback(id));
    EXPECT_TRUE(kxtest::WaitUntil([&] { return !Exists(eventFifo); }, 3000));
}

} // namespace
