// The real driver nodes: without the maker's drivers nothing is found, and the character-device
// node maps the system's answers onto the driver results.
#include <atomic>
#include <chrono>
#include <memory>
#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

#include "KxDevice.h"
#include "TestSupport.h"
#include "XpDriver.h"
#include "XpDriverLinux.h"

namespace {

TEST(RealNodes, FamilyPrefixes)
{
    EXPECT_STREQ("/dev/Kxa", XpDriverNodes::NodePrefix(KX_FAMILY_KXA));
    EXPECT_STREQ("/dev/usb/Korvix/Kxu", XpDriverNodes::NodePrefix(KX_FAMILY_KXU));
    EXPECT_STREQ("/dev/KxPcie", XpDriverNodes::NodePrefix(KX_FAMILY_PCIE));
}

TEST(RealNodes, WithoutDriversAScanFindsNothingAndAttachFindsNoDevice)
{
    ASSERT_EQ(nullptr, XpDriverNodes::InstallFactory(nullptr)); // the real nodes are in place
    KxDeviceDesc descs[4];
    int found = -1;
    EXPECT_EQ(KXAPI_OK, KxapiDeviceScan(4, found, descs, false, 1));
    EXPECT_EQ(0, found);
    Kxapi::KxDeviceInt device;
    EXPECT_EQ(KXAPI_E_NO_SUCH_DEVICE, device.AttachToSerial(3470001));
}

// Character devices that are not the maker's: /dev/null answers every request with ENOTTY.
class NullDeviceNodes : public IXpDriverNodeFactory {
public:
    NullDeviceNodes() { m_pPrevious = XpDriverNodes::InstallFactory(this); }
    ~NullDeviceNodes() override { XpDriverNodes::InstallFactory(m_pPrevious); }
    IXpDriverNode* Open(KxDriverFamily, int index) override
    {
        if (index != 0)
            return nullptr;
        int fd = open("/dev/null", O_RDWR | O_CLOEXEC);
        return fd < 0 ? nullptr : new XpDriverNodeLinux(fd);
    }
    IXpDriverNodeFactory* m_pPrevious;
};

TEST(RealNodes, SystemFailuresBecomeCommunicationErrors)
{
    NullDeviceNodes nodes;
    XpDriver driver;
    ASSERT_EQ(KXAPI_OK, driver.Open(KX_FAMILY_KXU, 0));
    unsigned char buffer[8] = {};
    uint32_t size = sizeof(buffer);
    int errNo = 0;
    EXPECT_EQ(KXAPI_E_COMMUNICATION, driver.IoCtl(0xC004AE58, buffer, 4, buffer, &size, &errNo));
    EXPECT_EQ(ENOTTY, errNo);
    void* memory = nullptr;
    EXPECT_EQ(KXAPI_E_OUT_OF_MEM, driver.MapMemory(4096, memory));
    // A node that is not a card fails the scan's information request and is not counted.
    KxDeviceDesc descs[2];
    int found = -1;
    EXPECT_EQ(KXAPI_OK, KxapiDeviceScan(2, found, descs, false, 0));
    EXPECT_EQ(0, found);
}

// A character device's event wait on a pipe's read end, whose readiness the test controls.
class PipeNode : public ::testing::Test {
protected:
    void SetUp() override
    {
        int ends[2];
        ASSERT_EQ(0, pipe2(ends, O_CLOEXEC));
        m_pNode = std::make_unique<XpDriverNodeLinux>(ends[0]); // closes the read end
        m_WriteFd = ends[1];
    }
    void TearDown() override { close(m_WriteFd); }
    void MakeReadable() { ASSERT_EQ(1, write(m_WriteFd, "e", 1)); }
    // Starts WaitReadable without limit on a thread of its own.
    void StartWait()
    {
        m_Result = -1;
        m_Tid = 0;
        m_Waiter = std::thread([this] {
            m_Tid = gettid();
            m_Result = m_pNode->WaitReadable(XP_INFINITE) ? 1 : 0;
        });
        ASSERT_TRUE(kxtest::WaitUntil([&] { return m_Tid.load() != 0; }, 2000));
    }
    // The wait's answer (1 readable, 0 not) when it ended within 2 s; a wait that did not is
    // ended by making the device readable (-1).
    int WaitEnded()
    {
        const bool ended = kxtest::WaitUntil([&] { return m_Result.load() != -1; }, 2000);
        if (!ended)
            MakeReadable();
        m_Waiter.join();
        return ended ? m_Result.load() : -1;
    }

    std::unique_ptr<XpDriverNodeLinux> m_pNode;
    int m_WriteFd = -1;
    std::thread m_Waiter;
    std::atomic<pid_t> m_Tid{0};
    std::atomic<int> m_Result{-1};
};

TEST_F(PipeNode, AWaitWithoutLimitSleepsUntilTheDeviceIsReadable)
{
    StartWait();
    EXPECT_LE(kxtest::SwitchesOver(100, 1000, [&] { return kxtest::ThreadContextSwitches(m_Tid.load()); }),
              1);
    EXPECT_EQ(-1, m_Result.load());
    MakeReadable();
    EXPECT_EQ(1, WaitEnded());
    EXPECT_TRUE(m_pNode->WaitReadable(0)) << "the event is still pending";
}

TEST_F(PipeNode, WakeWaitersEndsTheWaitInProgressAndEveryLaterOneWithFalse)
{
    StartWait();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    m_pNode->WakeWaiters();
    EXPECT_EQ(0, WaitEnded());
    // Later waits end at once, even with an event pending.
    MakeReadable();
    StartWait();
    EXPECT_EQ(0, WaitEnded());
    EXPECT_FALSE(m_pNode->WaitReadable(1000));
}

} // namespace
