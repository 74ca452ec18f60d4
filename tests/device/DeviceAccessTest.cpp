// Scan, attach, properties, tables, VPD, I2C and registers of the device access object, with
// the request bytes checked at the node.
#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

#include "KxDevice.h"
#include "KxDeviceBackend.h"
#include "KxProxyCore.h"
#include "RecordingNode.h"

using Kxapi::KxDeviceInt;

namespace {

// Twelve cards over the three families, serials deliberately out of order.
class TwelveCards : public ::testing::Test {
protected:
    void SetUp() override
    {
        const int64_t serials[12] = {4700012, 4700003, 4700007, 4700001, 4700011, 4700002,
                                     4700009, 4700005, 4700010, 4700004, 4700008, 4700006};
        for (int i = 0; i < 12; i++)
            m_Factory.AddCard(static_cast<KxDriverFamily>(i % 3), i * 2, serials[i], 3000 + i);
    }
    RecordingFactory m_Factory;
};

TEST_F(TwelveCards, ScanWithRoomForAllFindsEverySerialInFamilyOrderOrSortedBySerial)
{
    for (int sort : {0, 1}) {
        KxDeviceDesc descs[20] = {};
        int found = 0;
        ASSERT_EQ(KXAPI_OK, KxapiDeviceScan(sort != 0 ? 12 : 20, found, descs, false, sort));
        ASSERT_EQ(12, found);
        if (sort != 0) {
            for (int i = 0; i < 12; i++)
                EXPECT_EQ(4700001 + i, int64_t{descs[i].m_Serial});
            continue;
        }
        // Family order: PCIe legacy, USB, block driver.
        EXPECT_EQ(4700012, int64_t{descs[0].m_Serial});
        EXPECT_EQ(KX_FAMILY_KXA, static_cast<int>(descs[0].m_Category));
        EXPECT_EQ(KX_FAMILY_KXU, static_cast<int>(descs[4].m_Category));
        EXPECT_EQ(KX_FAMILY_PCIE, static_cast<int>(descs[8].m_Category));
    }
}

TEST_F(TwelveCards, ScanWithRoomForTenOrNoBufferIsTooSmallWithFullCount)
{
    KxDeviceDesc descs[10] = {};
    int found = 0;
    EXPECT_EQ(KXAPI_E_BUF_TOO_SMALL, KxapiDeviceScan(10, found, descs, false, 1));
    EXPECT_EQ(12, found);
    for (const KxDeviceDesc& desc : descs)
        EXPECT_NE(0, int64_t{desc.m_Serial});
    found = 0;
    EXPECT_EQ(KXAPI_E_INVALID_BUF, KxapiDeviceScan(3, found, nullptr, false, 0));
    EXPECT_EQ(KXAPI_E_BUF_TOO_SMALL, KxapiDeviceScan(0, found, nullptr, false, 0));
    EXPECT_EQ(12, found);
}

class OneDevice : public ::testing::TestWithParam<KxDriverFamily> {
protected:
    void SetUp() override
    {
        TestCard& card = m_Factory.AddCard(GetParam(), 4, 3470001, 3470);
        card.m_IntProperties["MOD_FREQ_MIN"] = 950000000;
        card.m_IntProperties["NUM_PORTS"] = 2;
        card.m_StringProperties["NAME"] = "KXA-3470";
        card.m_Tables["DEMOD_FREQ_COMP00"] = {{950, -12}, {1450, -8}, {2150, -3}};
        card.m_Vpd["EC"] = {'R', 'e', 'v', '4'};
        m_pCard = &card;
        ASSERT_EQ(KXAPI_OK, m_Device.AttachToSerial(3470001));
        m_Factory.ClearRequests();
    }
    RecordingFactory m_Factory;
    TestCard* m_pCard = nullptr;
    KxDeviceInt m_Device;
};

TEST_P(OneDevice, AttachAndDetachRules)
{
    EXPECT_TRUE(m_Device.IsAttached());
    EXPECT_EQ(3470, m_Device.TypeNumber());
    EXPECT_EQ(KXAPI_E_ATTACHED, m_Device.AttachToSerial(3470001));
    KxDeviceDesc desc{};
    ASSERT_EQ(KXAPI_OK, m_Device.GetDescriptor(desc));
    EXPECT_EQ(3470001, int64_t{desc.m_Serial});
    EXPECT_EQ(KXAPI_OK, m_Device.Detach());
    EXPECT_EQ(KXAPI_E_NOT_ATTACHED, m_Device.Detach());
    int value = 7;
    EXPECT_EQ(KXAPI_E_NOT_ATTACHED, m_Device.PropertyGetInt("NUM_PORTS", -1, value));
    EXPECT_EQ(0, value);
    EXPECT_EQ(KXAPI_E_NO_SUCH_DEVICE, m_Device.AttachToSerial(999));
}

TEST_P(OneDevice, PropertiesOfEveryKind)
{
    int ports = 0;
    ASSERT_EQ(KXAPI_OK, m_Device.PropertyGetInt("NUM_PORTS", -1, ports));
    EXPECT_EQ(2, ports);
    uint64_t minimum = 0;
    ASSERT_EQ(KXAPI_OK, m_Device.PropertyGetUInt64("MOD_FREQ_MIN", 0, minimum));
    EXPECT_EQ(950000000u, minimum);
    bool flag = false;
    ASSERT_EQ(KXAPI_OK, m_Device.PropertyGetBool("NUM_PORTS", 0, flag));
    EXPECT_TRUE(flag);
    std::string name;
    ASSERT_EQ(KXAPI_OK, m_Device.PropertyGetString("NAME", -1, name));
    EXPECT_EQ("KXA-3470", name);
    uint32_t missing = 5;
    EXPECT_EQ(KXAPI_E_NOT_FOUND, m_Device.PropertyGetUInt32("NO_SUCH", -1, missing));
    EXPECT_EQ(0u, missing);
    EXPECT_EQ(KXAPI_E_BUF_TOO_SMALL, m_Device.PropertyGetInt(std::string(50, 'P').c_str(), -1, ports));
}

TEST_P(OneDevice, TableGrowAndRetry)
{
    _KxTableEntry entries[3] = {};
    int count = 0;
    EXPECT_EQ(KXAPI_E_BUF_TOO_SMALL, m_Device.GetTable(1, "DEMOD_FREQ_COMP00", 2, entries, count));
    EXPECT_EQ(3, count);
    EXPECT_EQ(0, entries[0].X); // nothing filled
    ASSERT_EQ(KXAPI_OK, m_Device.GetTable(1, "DEMOD_FREQ_COMP00", count, entries, count));
    EXPECT_EQ(3, count);
    EXPECT_EQ(1450, entries[1].X);
    EXPECT_EQ(-3, entries[2].Y);
    EXPECT_EQ(KXAPI_E_TOO_LONG, m_Device.GetTable(1, std::string(50, 'T').c_str(), 3, entries, count));
    EXPECT_EQ(KXAPI_E_NOT_FOUND, m_Device.GetTable(1, "NO_TABLE", 3, entries, count));
}

TEST_P(OneDevice, TableRequestCarriesNamePortCapacityAndVersion)
{
    _KxTableEntry entries[8];
    int count = 0;
    ASSERT_EQ(KXAPI_OK, m_Device.GetTable(1, "DEMOD_FREQ_COMP00", 8, entries, count));
    uint32_t word = GetParam() == KX_FAMILY_KXA ? KXA_REQ_TABLE : GetParam() == KX_FAMILY_KXU ? KXU_REQ_TABLE
                                                                                               : KXP_REQ_PROPS;
    auto sent = m_Factory.Requests(word);
    ASSERT_EQ(1u, sent.size());
    const unsigned char* bytes = sent[0].m_Bytes.data();
    EXPECT_EQ(GetParam() == KX_FAMILY_PCIE ? 16u + 84u : 84u, KxGetU32(bytes, 0)); // size header: input
    EXPECT_EQ(8u + 8 * 16u, KxGetU32(bytes, 4));                                   // output capacity
    const unsigned char* record = bytes + 8 + (GetParam() == KX_FAMILY_PCIE ? 16 : 0);
    EXPECT_EQ(1, KxGetI32(record, 0));
    EXPECT_STREQ("DEMOD_FREQ_COMP00", reinterpret_cast<const char*>(record + 16));
    EXPECT_EQ(8u, KxGetU32(record, 68));
    EXPECT_EQ(5u, KxGetU32(record, 72));
    EXPECT_EQ(46u, KxGetU32(record, 76));
    EXPECT_EQ(0u, KxGetU32(record, 80));
}

TEST_P(OneDevice, VpdItem)
{
    unsigned char buffer[16] = {};
    int length = sizeof(buffer);
    ASSERT_EQ(KXAPI_OK, m_Device.VpdRead(-1, "EC", buffer, length));
    EXPECT_EQ(4, length);
    EXPECT_EQ('4', buffer[3]);
    length = 2;
    EXPECT_EQ(KXAPI_E_BUF_TOO_SMALL, m_Device.VpdRead(-1, "EC", buffer, length));
    EXPECT_EQ(4, length);
}

INSTANTIATE_TEST_SUITE_P(Families, OneDevice, ::testing::Values(KX_FAMILY_KXA, KX_FAMILY_KXU, KX_FAMILY_PCIE));

TEST(DeviceAttach, FirmwareStatusAndDriverCheck)
{
    RecordingFactory factory;
    factory.AddCard(KX_FAMILY_KXU, 0, 1, 830).m_FirmwareStatus = 1;
    factory.AddCard(KX_FAMILY_KXU, 1, 2, 830).m_FirmwareStatus = 2;
    TestCard& old = factory.AddCard(KX_FAMILY_PCIE, 0, 3, 3470);
    const int oldVersion[4] = {1, 0, 4, 47};
    std::copy(oldVersion, oldVersion + 4, old.m_DriverVersion);
    KxDeviceInt a, b, c, d;
    EXPECT_EQ(KXAPI_OK_TAINTED_FW, a.AttachToSerial(1));
    EXPECT_EQ(KXAPI_OK_OBSOLETE_FW, b.AttachToSerial(2));
    EXPECT_EQ(KXAPI_E_DRIVER_INCOMP, c.AttachToSerial(3));
    EXPECT_FALSE(c.IsAttached());
    EXPECT_EQ(KXAPI_OK, d.AttachToSerial(3, true));
}

class I2CDevice : public ::testing::TestWithParam<KxDriverFamily> {
protected:
    void SetUp() override
    {
        m_Factory.AddCard(GetParam(), 0, 810001, 810).m_I2CRead = {0xA1, 0xB2, 0xC3};
        ASSERT_EQ(KXAPI_OK, m_Device.AttachToSerial(810001));
        m_Factory.ClearRequests();
    }
    uint32_t Word() const { return GetParam() == KX_FAMILY_KXA ? KXA_REQ_I2C : KXU_REQ_I2C; }
    std::vector<uint32_t> Words(const RecordedRequest& request, int count)
    {
        std::vector<uint32_t> words;
        for (int i = 0; i < count; i++)
            words.push_back(KxGetU32(request.m_Bytes.data(), 4 * i));
        return words;
    }
    RecordingFactory m_Factory;
    KxDeviceInt m_Device;
};

TEST_P(I2CDevice, CommandRecords)
{
    const unsigned char data[2] = {0x11, 0x22};
    unsigned char read[3] = {};
    ASSERT_EQ(KXAPI_OK, m_Device.I2CWrite(1, 0xC1, data, 2, -1));
    ASSERT_EQ(KXAPI_OK, m_Device.I2CRead(0xC0, read, 3));
    EXPECT_EQ(0xC3, read[2]);
    ASSERT_EQ(KXAPI_OK, m_Device.I2CWriteRead(0, 0x60, data, 1, 0x60, read, 2, -1));
    ASSERT_EQ(KXAPI_OK, m_Device.I2CLock(10000));
    ASSERT_EQ(KXAPI_OK, m_Device.I2CUnlock());
    auto sent = m_Factory.Requests(Word());
    ASSERT_EQ(5u, sent.size());
    EXPECT_EQ((std::vector<uint32_t>{4, 1, 0xC0, 2}), Words(sent[0], 4));
    EXPECT_EQ(0x2211, sent[0].m_Bytes[16] | (sent[0].m_Bytes[17] << 8));
    EXPECT_EQ((std::vector<uint32_t>{3, 0xFFFFFFFFu, 0xC1, 3}), Words(sent[1], 4));
    EXPECT_EQ((std::vector<uint32_t>{5, 0, 0x60, 0x61, 1, 2}), Words(sent[2], 6));
    EXPECT_EQ(0x11, sent[2].m_Bytes[24]);
    EXPECT_EQ((std::vector<uint32_t>{1, 0xFFFFFFFFu, 10000}), Words(sent[3], 3));
    EXPECT_EQ((std::vector<uint32_t>{2, 0xFFFFFFFFu}), Words(sent[4], 2));
}

TEST_P(I2CDevice, ArgumentRulesNeedNoDriverCall)
{
    unsigned char buffer[600] = {};
    EXPECT_EQ(KXAPI_E_INVALID_SIZE, m_Device.I2CRead(0xC0, buffer, 513));
    EXPECT_EQ(KXAPI_E_INVALID_SIZE, m_Device.I2CWrite(0xC0, buffer, -1));
    EXPECT_EQ(KXAPI_OK, m_Device.I2CWrite(0xC0, buffer, 0));
    EXPECT_EQ(KXAPI_E_INVALID_BUF, m_Device.I2CRead(0xC0, nullptr, 4));
    EXPECT_EQ(KXAPI_E_INVALID_ARG, m_Device.I2CRead(0, 0xC0, buffer, 4, 1));
    // The legacy PCIe family has no bus argument; USB sends the bus in the port word.
    EXPECT_EQ(GetParam() == KX_FAMILY_KXA ? KXAPI_E_INVALID_ARG : KXAPI_OK, m_Device.I2CRead(0xC0, buffer, 2, 1));
    EXPECT_EQ(GetParam() == KX_FAMILY_KXA ? 0u : 1u, m_Factory.Requests(Word()).size());
    EXPECT_EQ(KXAPI_OK, m_Device.I2CRead(0xC0, buffer, 512));
}

TEST_P(I2CDevice, DriverFailureIsI2CError)
{
    KxDeviceInt other;
    m_Factory.AddCard(GetParam(), 1, 810002, 810).m_FailStatus = -1;
    ASSERT_EQ(KXAPI_OK, other.AttachToSerial(810002));
    unsigned char buffer[4] = {};
    EXPECT_EQ(KXAPI_E_I2C, other.I2CRead(0xC0, buffer, 4));
}

TEST_P(I2CDevice, UnlockWithoutTheLockIsRefused)
{
    EXPECT_EQ(KXAPI_E_NOT_LOCKED, m_Device.I2CUnlock());
    {
        Kxapi::I2cAutoLock lock(m_Device);
        ASSERT_TRUE(lock.Locked());
        ASSERT_EQ(KXAPI_OK, m_Device.I2CLock(100)); // recursive on the same thread
        EXPECT_EQ(KXAPI_OK, m_Device.I2CUnlock());
        std::thread other([&] { EXPECT_EQ(KXAPI_E_NOT_LOCKED, m_Device.I2CUnlock()); });
        other.join();
    }
    EXPECT_EQ(KXAPI_E_NOT_LOCKED, m_Device.I2CUnlock());
    // Each port has a lock of its own.
    ASSERT_EQ(KXAPI_OK, m_Device.I2CLock(1, 100));
    std::thread other([&] {
        EXPECT_EQ(KXAPI_OK, m_Device.I2CLock(2, 100));
        EXPECT_EQ(KXAPI_OK, m_Device.I2CUnlock(2));
        EXPECT_EQ(KXAPI_E_I2C_LOCK_TIMEOUT, m_Device.I2CLock(1, 100));
    });
    other.join();
    EXPECT_EQ(KXAPI_OK, m_Device.I2CUnlock(1));
}

TEST_P(I2CDevice, LockKeepsOtherThreadsOff)
{
    ASSERT_EQ(KXAPI_OK, m_Device.I2CLock(10000));
    std::atomic<bool> otherHadIt{false};
    std::thread other([&] {
        EXPECT_EQ(KXAPI_E_I2C_LOCK_TIMEOUT, m_Device.I2CLock(200));
        ASSERT_EQ(KXAPI_OK, m_Device.I2CLock(5000));
        otherHadIt.store(true);
        m_Device.I2CUnlock();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_FALSE(otherHadIt.load());
    ASSERT_EQ(KXAPI_OK, m_Device.I2CUnlock());
    other.join();
    EXPECT_TRUE(otherHadIt.load());
}

INSTANTIATE_TEST_SUITE_P(Families, I2CDevice, ::testing::Values(KX_FAMILY_KXA, KX_FAMILY_KXU));

TEST(DeviceI2C, BlockDriverFamilyHasNoDeviceI2C)
{
    RecordingFactory factory;
    factory.AddCard(KX_FAMILY_PCIE, 0, 9, 3470);
    KxDeviceInt device;
    ASSERT_EQ(KXAPI_OK, device.AttachToSerial(9));
    unsigned char buffer[2] = {};
    EXPECT_EQ(KXAPI_E_NOT_SUPPORTED, device.I2CRead(0xC0, buffer, 2));
    EXPECT_EQ(KXAPI_E_NOT_SUPPORTED, device.I2CLock(100));
}

TEST(DeviceRegisters, LegacyWindowUsbRequestsAndBlockDebug)
{
    RecordingFactory factory;
    TestCard& legacy = factory.AddCard(KX_FAMILY_KXA, 0, 1, 3510);
    factory.AddCard(KX_FAMILY_KXU, 0, 2, 830).m_Registers[0x40] = 0x12345678;
    factory.AddCard(KX_FAMILY_PCIE, 0, 3, 3470).m_BlockAnswers[KXP_REQ_DEBUG] = {0xCAFE};
    KxDeviceInt a, b, c;
    ASSERT_EQ(KXAPI_OK, a.AttachToSerial(1));
    ASSERT_EQ(KXAPI_OK, b.AttachToSerial(2));
    ASSERT_EQ(KXAPI_OK, c.AttachToSerial(3));

    legacy.m_Window[0x10 / 4] = 0xF0F0;
    uint32_t value = 0;
    ASSERT_EQ(KXAPI_OK, a.RegRead(0x10, value));
    EXPECT_EQ(0xF0F0u, value);
    ASSERT_EQ(KXAPI_OK, a.RegWriteMasked(0x10, 0x0F00, 8, 0x3));
    EXPECT_EQ(0xF3F0u, legacy.m_Window[0x10 / 4]);
    EXPECT_TRUE(factory.Requests(KXA_REQ_I2C).empty());

    ASSERT_EQ(KXAPI_OK, b.RegRead(0x40, value));
    EXPECT_EQ(0x12345678u, value);
    const KxAddrDataPair pairs[2] = {{0x44, 1}, {0x48, 2}};
    ASSERT_EQ(KXAPI_OK, b.RegWrite(pairs, 2));
    ASSERT_EQ(KXAPI_OK, b.RegReadMasked(0x48, 0x2, 1, value));
    EXPECT_EQ(1u, value);

    ASSERT_EQ(KXAPI_OK, c.RegRead(0x80, value));
    EXPECT_EQ(0xCAFEu, value);
    auto sent = factory.Requests(KXP_REQ_DEBUG);
    ASSERT_EQ(1u, sent.size());
    EXPECT_EQ(0u, KxGetU32(sent[0].m_Bytes.data(), 8 + 8)); // read command
    EXPECT_EQ(0x80u, KxGetU32(sent[0].m_Bytes.data(), 8 + 16));
}

TEST(DeviceCore, TimeOfDay)
{
    RecordingFactory factory;
    factory.AddCard(KX_FAMILY_PCIE, 0, 3, 3470).m_BlockAnswers[KXP_REQ_TOD] = {0x11223344, 0x5, 77};
    KxDeviceInt device;
    ASSERT_EQ(KXAPI_OK, device.AttachToSerial(3));
    uint64_t time = 0;
    uint32_t extra = 0;
    ASSERT_EQ(KXAPI_OK, device.Backend()->Core()->Tod().GetTime(time, extra));
    EXPECT_EQ(0x511223344ull, time);
    EXPECT_EQ(77u, extra);
    auto sent = factory.Requests(KXP_REQ_TOD);
    ASSERT_EQ(1u, sent.size());
    EXPECT_EQ(3u, KxGetU32(sent[0].m_Bytes.data(), 8 + 8));
}

} // namespace
