// The device access layer against the virtual cards of the default scenario: scan, attach,
// properties, tables, VPD, I2C with locks, registers, block-driver requests, and the bytes each
// operation puts on the virtual node.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <set>
#include <thread>

#include "KxDevice.h"
#include "KxDriverRequests.h"
#include "KxWire.h"
#include "SimEnvironment.h"
#include "XpDriver.h"

using namespace Kxapi;

namespace {

constexpr int64_t SERIAL_3470 = 3470000001;
constexpr int64_t SERIAL_3490 = 3490000001;
constexpr int64_t SERIAL_3530B = 3530000002;
constexpr int64_t SERIAL_830 = 830000001;
constexpr int DEFAULT_CARD_COUNT = 15;

class VirtualCardTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_EQ(KXAPI_OK, m_Environment.Load(nullptr, error)) << error;
    }
    std::shared_ptr<SimCard> Card(int64_t serial) { return m_Environment.Rack().Find(serial); }

    SimEnvironment m_Environment;
};

TEST_F(VirtualCardTest, ScanFindsEveryCardOfTheDefaultScenario)
{
    KxDeviceDesc descs[32] = {};
    int found = 0;
    ASSERT_EQ(KXAPI_OK, KxapiDeviceScan(32, found, descs, false, 1));
    ASSERT_EQ(DEFAULT_CARD_COUNT, found);
    std::set<int> models;
    for (int i = 0; i < found; i++) {
        models.insert(descs[i].m_TypeNumber);
        if (i > 0) {
            EXPECT_LT(int64_t{descs[i - 1].m_Serial}, int64_t{descs[i].m_Serial}) << "sorted by serial";
        }
    }
    EXPECT_EQ((std::set<int>{3460, 3470, 3480, 3490, 3510, 3520, 3530, 810, 820, 830, 850}), models);

    // Room for 10: the full count, the first 10 filled.
    KxDeviceDesc small[11] = {};
    small[10].m_Serial = -7;
    ASSERT_EQ(KXAPI_E_BUF_TOO_SMALL, KxapiDeviceScan(10, found, small, false, 1));
    EXPECT_EQ(DEFAULT_CARD_COUNT, found);
    for (int i = 0; i < 10; i++)
        EXPECT_NE(0, int64_t{small[i].m_Serial});
    EXPECT_EQ(-7, int64_t{small[10].m_Serial}) << "nothing written past the room given";
}

TEST_F(VirtualCardTest, AttachReadsIdentityAndDetachReleases)
{
    KxDeviceInt device;
    ASSERT_EQ(KXAPI_OK, device.AttachToSerial(SERIAL_3470));
    EXPECT_EQ(KXAPI_E_ATTACHED, device.AttachToSerial(SERIAL_3470));
    EXPECT_EQ(3470, device.TypeNumber());
    KxDeviceDesc desc = {};
    ASSERT_EQ(KXAPI_OK, device.GetDescriptor(desc));
    EXPECT_EQ(SERIAL_3470, int64_t{desc.m_Serial});
    EXPECT_EQ(KXAPI_OK, device.Detach());
    EXPECT_EQ(KXAPI_E_NOT_ATTACHED, device.Detach());
    EXPECT_EQ(KXAPI_E_NO_SUCH_DEVICE, device.AttachToSerial(12345));

    // A tainted firmware is reported at attach.
    Card(SERIAL_3490)->m_FirmwareStatus = 1;
    EXPECT_EQ(KXAPI_OK_TAINTED_FW, device.AttachToSerial(SERIAL_3490));
}

TEST_F(VirtualCardTest, PropertiesOnEveryFamily)
{
    for (int64_t serial : {SERIAL_3490, SERIAL_830, SERIAL_3470}) {
        KxDeviceInt device;
        ASSERT_EQ(KXAPI_OK, device.AttachToSerial(serial)) << serial;
        int value = -1;
        ASSERT_EQ(KXAPI_OK, device.PropertyGetInt("MOD_FREQ_MAX", -1, value)) << serial;
        EXPECT_GT(value, 800);
        EXPECT_EQ(KXAPI_E_NOT_FOUND, device.PropertyGetInt("NO_SUCH_PROPERTY", -1, value));
        EXPECT_EQ(0, value) << "zeroed on failure";
    }
    KxDeviceInt device;
    ASSERT_EQ(KXAPI_OK, device.AttachToSerial(SERIAL_3470));
    std::string role;
    Card(SERIAL_3470)->SetStringProperty(0, "DF_TEST_ROLE", "main");
    ASSERT_EQ(KXAPI_OK, device.PropertyGetString("DF_TEST_ROLE", 0, role));
    EXPECT_EQ("main", role);
}

TEST_F(VirtualCardTest, PropertyRequestBytesAtTheLegacyNode)
{
    KxDeviceInt device;
    ASSERT_EQ(KXAPI_OK, device.AttachToSerial(SERIAL_3490));
    auto card = Card(SERIAL_3490);
    card->EnableRequestLog(true);
    int value = 0;
    ASSERT_EQ(KXAPI_OK, device.PropertyGetInt("MOD_FREQ_MIN", 1, value));
    EXPECT_EQ(54, value);
    auto log = card->TakeRequestLog();
    ASSERT_EQ(1u, log.size());
    EXPECT_EQ(0xC058BB7Eu, log[0].m_Request);
    const auto& bytes = log[0].m_Bytes; // bare request: the name record itself
    ASSERT_GE(bytes.size(), KX_NAMEREC_SIZE);
    EXPECT_EQ(1, KxGetI32(bytes.data(), 0));
    EXPECT_EQ(0u, KxGetU32(bytes.data(), 4));
    EXPECT_EQ(0u, KxGetU32(bytes.data(), 8));
    EXPECT_STREQ("MOD_FREQ_MIN", reinterpret_cast<const char*>(bytes.data() + KX_NAMEREC_NAME_OFFSET));
    EXPECT_EQ(5u, KxGetU32(bytes.data(), 72));
    EXPECT_EQ(46u, KxGetU32(bytes.data(), 76));
    EXPECT_EQ(0u, KxGetU32(bytes.data(), 80));
}

TEST_F(VirtualCardTest, TableGrowAndRetryWithTheSizeHeader)
{
    KxDeviceInt device;
    ASSERT_EQ(KXAPI_OK, device.AttachToSerial(SERIAL_3530B));
    auto card = Card(SERIAL_3530B);
    card->EnableRequestLog(true);
    _KxTableEntry entries[32] = {};
    int count = 0;
    ASSERT_EQ(KXAPI_E_BUF_TOO_SMALL, device.GetTable(0, "DEMOD_FREQ_COMP00", 4, entries, count));
    EXPECT_EQ(13, count) << "the needed count";
    EXPECT_EQ(0, entries[0].X) << "nothing filled";
    ASSERT_EQ(KXAPI_OK, device.GetTable(0, "DEMOD_FREQ_COMP00", count, entries, count));
    EXPECT_EQ(13, count);
    EXPECT_EQ(42, entries[0].X);
    EXPECT_EQ(122, entries[1].X);
    EXPECT_EQ(KXAPI_E_TOO_LONG, device.GetTable(0, std::string(50, 'T').c_str(), 4, entries, count));

    // The block driver's property request: size header, block header of the core, name record.
    auto log = card->TakeRequestLog();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(0xC070CD6Eu, log[0].m_Request);
    const auto& bytes = log[0].m_Bytes;
    ASSERT_GE(bytes.size(), 8u + KX_BLOCK_HEADER_SIZE + KX_NAMEREC_SIZE);
    EXPECT_EQ(KX_BLOCK_HEADER_SIZE + KX_NAMEREC_SIZE, KxGetU32(bytes.data(), 0)) << "input size";
    EXPECT_EQ(8u + 4 * 16, KxGetU32(bytes.data(), 4)) << "output capacity for 4 entries";
    EXPECT_EQ(0xFFFFFFFFu, KxGetU32(bytes.data(), 8 + 12)) << "block header ends with -1";
    EXPECT_EQ(4u, KxGetU32(bytes.data(), 8 + KX_BLOCK_HEADER_SIZE + KX_NAMEREC_CAPACITY_OFFSET));
}

TEST_F(VirtualCardTest, VpdItemsOfTheCalibratedUsbCard)
{
    KxDeviceInt device;
    ASSERT_EQ(KXAPI_OK, device.AttachToSerial(SERIAL_830));
    unsigned char buffer[512] = {};
    int length = sizeof(buffer);
    ASSERT_EQ(KXAPI_OK, device.VpdRead(-1, "RC", buffer, length));
    ASSERT_EQ(32, length);
    EXPECT_EQ(1, buffer[0]);
    length = sizeof(buffer);
    EXPECT_EQ(KXAPI_E_NOT_FOUND, device.VpdRead(-1, "ZZ", buffer, length));
}

TEST_F(VirtualCardTest, I2cRecordsAndTransfersOnTheUsbBus)
{
    KxDeviceInt device;
    ASSERT_EQ(KXAPI_OK, device.AttachToSerial(SERIAL_830));
    auto card = Card(SERIAL_830);
    card->EnableRequestLog(true);
    const unsigned char write[] = {0x10, 0xAB, 0xCD};
    ASSERT_EQ(KXAPI_OK, device.I2CWrite(0xA0, write, sizeof(write)));
    const unsigned char pointer = 0x10;
    unsigned char read[2] = {};
    ASSERT_EQ(KXAPI_OK, device.I2CWriteRead(0xA0, &pointer, 1, 0xA0, read, 2));
    EXPECT_EQ(0xAB, read[0]);
    EXPECT_EQ(0xCD, read[1]);
    unsigned char eeprom[2] = {};
    ASSERT_EQ(KXAPI_OK, device.I2CWrite(0xA0, &pointer, 0, -1)) << "zero length: no transfer";
    ASSERT_EQ(KXAPI_OK, device.I2CWrite(0xA0, reinterpret_cast<const unsigned char*>("\x00"), 1));
    ASSERT_EQ(KXAPI_OK, device.I2CRead(0xA0, eeprom, 2));
    EXPECT_EQ(0x4B, eeprom[0]);
    EXPECT_EQ(0x58, eeprom[1]);
    EXPECT_EQ(KXAPI_E_I2C, device.I2CRead(0x42, eeprom, 1)) << "no device answers there";

    auto log = card->TakeRequestLog();
    ASSERT_EQ(5u, log.size()) << "the zero-length write makes no request";
    for (const auto& entry : log)
        EXPECT_EQ(0xC210AE54u, entry.m_Request);
    const unsigned char* w = log[0].m_Bytes.data();
    EXPECT_EQ(4u, KxGetU32(w, 0));
    EXPECT_EQ(0xFFFFFFFFu, KxGetU32(w, 4));
    EXPECT_EQ(0xA0u, KxGetU32(w, 8));
    EXPECT_EQ(3u, KxGetU32(w, 12));
    EXPECT_EQ(0, memcmp(w + 16, write, 3));
    const unsigned char* wr = log[1].m_Bytes.data();
    EXPECT_EQ(5u, KxGetU32(wr, 0));
    EXPECT_EQ(0xA0u, KxGetU32(wr, 8));
    EXPECT_EQ(0xA1u, KxGetU32(wr, 12)) << "read address carries the read bit";
    EXPECT_EQ(1u, KxGetU32(wr, 16));
    EXPECT_EQ(2u, KxGetU32(wr, 20));
    EXPECT_EQ(0x10, wr[24]);
    const unsigned char* r = log[3].m_Bytes.data();
    EXPECT_EQ(3u, KxGetU32(r, 0));
    EXPECT_EQ(0xA1u, KxGetU32(r, 8));
    EXPECT_EQ(2u, KxGetU32(r, 12));
    EXPECT_EQ(516u, log[3].m_Bytes.size()) << "read runs in the 516-byte output";
}

TEST_F(VirtualCardTest, I2cLockHoldsOtherHolderBack)
{
    KxDeviceInt first, second;
    ASSERT_EQ(KXAPI_OK, first.AttachToSerial(SERIAL_3490));
    ASSERT_EQ(KXAPI_OK, second.AttachToSerial(SERIAL_3490));
    ASSERT_EQ(KXAPI_OK, first.I2CLock(10000));
    std::atomic<bool> gotIt{false};
    std::thread other([&] {
        EXPECT_NE(KXAPI_OK, second.I2CLock(150)) << "held by the first object";
        EXPECT_EQ(KXAPI_OK, second.I2CLock(5000));
        gotIt = true;
        EXPECT_EQ(KXAPI_OK, second.I2CUnlock());
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(gotIt.load());
    ASSERT_EQ(KXAPI_OK, first.I2CUnlock());
    other.join();
    EXPECT_TRUE(gotIt.load());
    // A detached holder's lock is released with its node.
    ASSERT_EQ(KXAPI_OK, first.I2CLock(1, 1000));
    ASSERT_EQ(KXAPI_OK, first.Detach());
    EXPECT_EQ(KXAPI_OK, second.I2CLock(1, 200));
    EXPECT_EQ(KXAPI_OK, second.I2CUnlock(1));
}

TEST_F(VirtualCardTest, RegistersThroughWindowRequestsAndDebugProxy)
{
    for (int64_t serial : {SERIAL_3490, SERIAL_830, SERIAL_3470}) {
        KxDeviceInt device;
        ASSERT_EQ(KXAPI_OK, device.AttachToSerial(serial));
        ASSERT_EQ(KXAPI_OK, device.RegWrite(0x40, 0x12345678)) << serial;
        uint32_t value = 0;
        ASSERT_EQ(KXAPI_OK, device.RegRead(0x40, value));
        EXPECT_EQ(0x12345678u, value);
        EXPECT_EQ(0x12345678u, Card(serial)->RegRead(0x40)) << "the card itself holds the value";
        ASSERT_EQ(KXAPI_OK, device.RegWriteMasked(0x40, 0x0000FF00, 8, 0xAA));
        ASSERT_EQ(KXAPI_OK, device.RegReadMasked(0x40, 0x0000FF00, 8, value));
        EXPECT_EQ(0xAAu, value);
    }
}

TEST_F(VirtualCardTest, BlockDriverExclusiveAccessAndTimeOfDay)
{
    XpDriver a, b;
    // The 3470 is the first block-driver card of the default scenario.
    ASSERT_EQ(KXAPI_OK, a.Open(KX_FAMILY_PCIE, 0));
    ASSERT_EQ(KXAPI_OK, b.Open(KX_FAMILY_PCIE, 0));
    unsigned char header[KX_BLOCK_HEADER_SIZE] = {};
    KxPutU32(header, 0, 1001);
    KxPutI32(header, 4, 0);
    KxPutU32(header, 8, 0); // acquire
    KxPutI32(header, 12, -1);
    EXPECT_EQ(KXAPI_OK, a.IoCtl(KXP_REQ_EXCL_ACCESS, header, sizeof(header)));
    EXPECT_EQ(KXAPI_E_IN_USE, b.IoCtl(KXP_REQ_EXCL_ACCESS, header, sizeof(header)));
    KxPutU32(header, 8, 1); // release
    EXPECT_EQ(KXAPI_OK, a.IoCtl(KXP_REQ_EXCL_ACCESS, header, sizeof(header)));
    KxPutU32(header, 8, 0);
    EXPECT_EQ(KXAPI_OK, b.IoCtl(KXP_REQ_EXCL_ACCESS, header, sizeof(header)));

    KxPutU32(header, 0, 0);
    KxPutU32(header, 8, 3);
    unsigned char answer[12] = {};
    uint32_t size = sizeof(answer);
    ASSERT_EQ(KXAPI_OK, a.IoCtl(KXP_REQ_TOD, header, sizeof(header), answer, &size));
    EXPECT_GT(KxGetU64(answer, 0), 1600000000ull * 1000000000ull) << "nanoseconds of the real-time clock";

    // A block nobody models answers "not supported"; an unknown instance "not found".
    KxPutU32(header, 0, 1001);
    EXPECT_EQ(KXAPI_E_NOT_SUPPORTED, a.IoCtl(0xC01CCD6A, header, sizeof(header), answer, &size));
    KxPutU32(header, 0, 99999);
    EXPECT_EQ(KXAPI_E_NOT_FOUND, a.IoCtl(0xC01CCD6A, header, sizeof(header), answer, &size));
}

TEST_F(VirtualCardTest, MalformedRecordsAreRefusedByTheNode)
{
    XpDriver driver;
    ASSERT_EQ(KXAPI_OK, driver.Open(KX_FAMILY_KXA, 2)); // nodes in scenario order: 3460, 3480, 3490
    unsigned char record[KX_NAMEREC_SIZE];
    memset(record, 'A', sizeof(record)); // name without its NUL
    unsigned char answer[KX_PROPERTY_ANSWER_SIZE];
    uint32_t size = sizeof(answer);
    EXPECT_EQ(KXAPI_E_INVALID_ARG, driver.IoCtl(KXA_REQ_PROPERTY, record, sizeof(record), answer, &size));
    // An I2C read longer than the transfer limit.
    unsigned char i2c[16];
    KxPutU32(i2c, 0, KX_I2C_CMD_READ);
    KxPutI32(i2c, 4, -1);
    KxPutU32(i2c, 8, 0xA1);
    KxPutU32(i2c, 12, 100000);
    unsigned char out[KX_I2C_OUTPUT_SIZE];
    size = sizeof(out);
    EXPECT_NE(KXAPI_OK, driver.IoCtl(KXA_REQ_I2C, i2c, sizeof(i2c), out, &size));
}

} // namespace
