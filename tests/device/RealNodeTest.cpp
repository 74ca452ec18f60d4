// The real driver nodes: without the maker's drivers nothing is found, and the character-device
// node maps the system's answers onto the driver results.
#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>

#include "KxDevice.h"
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

} // namespace
