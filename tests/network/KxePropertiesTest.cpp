#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "network/KxeProperties.h"
#include "network/KxePropertyStore.h"
#include "network/KxeVpdCache.h"

namespace {

TEST(KxeProperties, StoresHoldTheDocumentedEntriesAndValues)
{
    KxeProperties& properties = KxeProperties::Instance();
    EXPECT_EQ(163u, properties.TotalEntries());
    KxePropertyValue value;
    ASSERT_EQ(KXAPI_OK, properties.GetValue("REF_CLK_FREQ", 5900, 0, -1, value));
    EXPECT_EQ(54000000, value.m_Value);
    ASSERT_EQ(KXAPI_OK, properties.GetValue("REF_CLK_WIDTH", 5900, 0, -1, value));
    EXPECT_EQ(32, value.m_Value);
    ASSERT_EQ(KXAPI_OK, properties.GetValue("VPD_MAC_23_14", 5900, 0, -1, value));
    EXPECT_EQ(4095, value.m_Value);
    ASSERT_EQ(KXAPI_OK, properties.GetText("VPD_ID", 5900, 0, -1, value));
    EXPECT_STREQ("Networked Manufacturer", value.m_pStrValue);
    // Every store answers a device-level property; port-level capabilities use port 0.
    for (int type : {5910, 5914, 5920, 5937, 5950}) {
        EXPECT_EQ(KXAPI_OK, properties.GetValue("PORT_COUNT", type, 0, -1, value)) << type;
        EXPECT_EQ(KXAPI_OK, properties.GetValue("CAP_TS", type, 0, 0, value)) << type;
        EXPECT_EQ(1, value.m_Value) << type;
        EXPECT_EQ(nullptr, properties.PropertyFind("CAP_TS", type, 0, 0, -1)) << "device level: " << type;
    }
}

TEST(KxeProperties, EveryFirmwareReleaseFromN10_0ToN18_2HasItsText)
{
    KxeProperties& properties = KxeProperties::Instance();
    const int types[] = {5910, 5914, 5920, 5937, 5950};
    for (int major = 10; major <= 18; ++major) {
        for (int minor = 0; minor <= 2; ++minor) {
            const std::string name = "FIRMWARE_RELEASE_N" + std::to_string(major) + "_" + std::to_string(minor);
            int found = 0;
            for (int type : types) {
                KxePropertyValue value;
                if (properties.GetText(name.c_str(), type, 0, -1, value) != KXAPI_OK)
                    continue;
                ++found;
                ASSERT_NE(nullptr, value.m_pStrValue) << name;
                EXPECT_LE(strlen(value.m_pStrValue), 75u) << name;
                EXPECT_EQ(1, value.m_Scope) << name;
            }
            EXPECT_EQ(1, found) << name << " is in exactly one store";
        }
    }
}

TEST(KxeProperties, FilterMinimumsAndCapabilityFallBack)
{
    KxeProperties& properties = KxeProperties::Instance();
    KxePropertyValue value;
    EXPECT_EQ(KXAPI_E_NOT_FOUND, properties.GetText("CAP_TXONTIME", 5910, 12, 0, value));
    EXPECT_EQ(KXAPI_OK, properties.GetText("CAP_TXONTIME", 5910, 13, 0, value));
    // A capability the store lacks is reported as absent, as found, by the value lookup only.
    ASSERT_EQ(KXAPI_OK, properties.GetValue("CAP_LNB", 5920, 0, 0, value));
    EXPECT_EQ(0, value.m_Value);
    EXPECT_EQ(0, value.m_ValueType);
    EXPECT_EQ(3, value.m_Scope);
    EXPECT_EQ(KXAPI_E_NOT_FOUND, properties.GetText("CAP_LNB", 5920, 0, 0, value));
    EXPECT_EQ(KXAPI_E_NOT_FOUND, properties.GetValue("NO_SUCH_PROPERTY", 5910, 0, -1, value));
    // A type without a store finds nothing (but a CAP_ name still falls back).
    EXPECT_EQ(nullptr, properties.PropertyFind("PORT_COUNT", 1234, 0, 0, -1));
    EXPECT_EQ(KXAPI_E_NOT_FOUND, properties.GetValue("PORT_COUNT", 1234, 0, -1, value));
}

TEST(KxePropertyStore, Djb2AndContinuationEntries)
{
    EXPECT_EQ(5381u, KxePropertyStore::Djb2(""));
    EXPECT_EQ(5381u * 33 + 'a', KxePropertyStore::Djb2("a"));
    // Wraps around at 32 bits instead of overflowing.
    uint32_t expected = 5381;
    for (char c : std::string("FIRMWARE_RELEASE_N18_2"))
        expected = expected * 33 + static_cast<unsigned char>(c);
    EXPECT_EQ(expected, KxePropertyStore::Djb2("FIRMWARE_RELEASE_N18_2"));

    static const KxePropertyEntry entries[] = {
        {"GAIN", 1, nullptr, 0, -1, 0, 0, 1},
        {nullptr, 2, nullptr, 0, 0, 0, 0, 2},  // port 0
        {nullptr, 3, nullptr, 0, 0, 5, 0, 2},  // port 0 from filter 1 = 5 (never reached: the
                                               // entry before answers first)
        {nullptr, 4, nullptr, 0, 1, 5, 2, 2},  // port 1, filters 5 and 2
        {"OTHER", 9, nullptr, 0, 1, 0, 0, 1},
    };
    KxePropertyStore store(1, entries, 5);
    EXPECT_EQ(1, store.Find("GAIN", 0, 0, -1)->m_Value);
    EXPECT_EQ(2, store.Find("GAIN", 9, 9, 0)->m_Value);
    EXPECT_EQ(nullptr, store.Find("GAIN", 4, 2, 1));
    EXPECT_EQ(nullptr, store.Find("GAIN", 5, 1, 1));
    EXPECT_EQ(4, store.Find("GAIN", 5, 2, 1)->m_Value);
    // The entries of another name are not continuations of this one.
    EXPECT_EQ(nullptr, store.Find("GAIN", 0, 0, 2));
    EXPECT_EQ(9, store.Find("OTHER", 0, 0, 1)->m_Value);
    EXPECT_EQ(nullptr, store.Find("GAI", 0, 0, -1));
}

int64_t g_NowS = 1000000;
int64_t TestClock()
{
    return g_NowS;
}

TEST(KxeVpdCache, ServesFreshItemsReplacesEqualOnesAndForgetsStaleOnes)
{
    KxeVpdCache cache;
    ASSERT_TRUE(cache.Init());
    EXPECT_FALSE(cache.Init());
    cache.SetClock(&TestClock);
    g_NowS = 1000000;
    uint8_t buffer[256];
    int length = -1;
    EXPECT_EQ(KXAPI_E_NO_SUCH_DATA, cache.Read(7, 0, "PN", buffer, sizeof(buffer), length));

    const uint8_t first[] = {1, 2, 3};
    const uint8_t second[] = {9, 8};
    ASSERT_EQ(KXAPI_OK, cache.Update(7, 0, true, "PN", first, 3));
    ASSERT_EQ(KXAPI_OK, cache.Update(7, 1, true, "PN", first, 1)); // other section: a second item
    ASSERT_EQ(KXAPI_OK, cache.Update(7, 0, true, "PN", second, 2)); // replaces the first
    ASSERT_EQ(KXAPI_OK, cache.Read(7, 0, "PN", buffer, sizeof(buffer), length));
    ASSERT_EQ(2, length);
    EXPECT_EQ(9, buffer[0]);
    ASSERT_EQ(KXAPI_OK, cache.Read(7, 1, "PN", buffer, sizeof(buffer), length));
    EXPECT_EQ(1, length);
    EXPECT_EQ(KXAPI_E_NO_SUCH_DATA, cache.Read(7, 0, "SN", buffer, sizeof(buffer), length));
    EXPECT_EQ(KXAPI_E_NO_SUCH_DATA, cache.Read(8, 0, "PN", buffer, sizeof(buffer), length));

    // Stored as absent at the device.
    ASSERT_EQ(KXAPI_OK, cache.Update(7, 0, false, "XX", nullptr, 0));
    EXPECT_EQ(KXAPI_E_NOT_FOUND, cache.Read(7, 0, "XX", buffer, sizeof(buffer), length));

    // Served for 30 seconds, then the client must read the device again.
    g_NowS += KXE_VPD_MAX_AGE_S;
    EXPECT_EQ(KXAPI_OK, cache.Read(7, 0, "PN", buffer, sizeof(buffer), length));
    g_NowS += 1;
    EXPECT_EQ(KXAPI_E_NO_SUCH_DATA, cache.Read(7, 0, "PN", buffer, sizeof(buffer), length));
    EXPECT_EQ(KXAPI_E_NO_SUCH_DATA, cache.Read(7, 0, "XX", buffer, sizeof(buffer), length));

    ASSERT_EQ(KXAPI_OK, cache.Update(7, 0, true, "PN", first, 3));
    EXPECT_EQ(KXAPI_OK, cache.Clear(7));
    EXPECT_EQ(KXAPI_E_NO_SUCH_DATA, cache.Read(7, 0, "PN", buffer, sizeof(buffer), length));
    EXPECT_EQ(KXAPI_OK, cache.Clear(7));
}

} // namespace

namespace {

TEST(KxeVpdCache, ItemsOlderThanTheirAgeAreDroppedWhenAnythingIsStored)
{
    KxeVpdCache cache;
    ASSERT_TRUE(cache.Init());
    cache.SetClock(&TestClock);
    g_NowS = 2000000;
    const uint8_t data[] = {1};
    for (int64_t serial = 1; serial <= 100; ++serial)
        ASSERT_EQ(KXAPI_OK, cache.Update(serial, 0, true, "EC", data, 1));
    EXPECT_EQ(100u, cache.ItemCount());
    g_NowS += KXE_VPD_MAX_AGE_S + 1;
    ASSERT_EQ(KXAPI_OK, cache.Update(1000, 0, true, "EC", data, 1));
    EXPECT_EQ(1u, cache.ItemCount()) << "the stale items went with the next store";
}

// Caps of the cache: a flood of one kind evicts its own oldest items, never grows past the cap.
struct VpdFlood {
    const char* m_pName;
    bool m_NewSerials; // true: one item each of ever new serials; false: ever new keywords of one serial
    size_t m_Cap;
};

class KxeVpdCacheCaps : public ::testing::TestWithParam<VpdFlood> {};

TEST_P(KxeVpdCacheCaps, AFloodEvictsTheOldestItemsAndStaysAtTheCap)
{
    const VpdFlood& flood = GetParam();
    KxeVpdCache cache;
    ASSERT_TRUE(cache.Init());
    cache.SetClock(&TestClock);
    g_NowS = 3000000;
    const uint8_t data[] = {5, 6};
    // An item of a well-behaved client's device, stored first.
    ASSERT_EQ(KXAPI_OK, cache.Update(42, 0, true, "PN", data, 2));
    const size_t stores = flood.m_Cap * 3;
    for (size_t i = 0; i < stores; ++i) {
        const std::string keyword = flood.m_NewSerials ? "EC" : "K" + std::to_string(i);
        const int64_t serial = flood.m_NewSerials ? 100000 + static_cast<int64_t>(i) : 42;
        ASSERT_EQ(KXAPI_OK, cache.Update(serial, 0, true, keyword.c_str(), data, 2));
        ASSERT_LE(cache.ItemCount(), KXE_VPD_MAX_ITEMS);
    }
    uint8_t buffer[256];
    int length = 0;
    EXPECT_EQ(KXAPI_E_NO_SUCH_DATA, cache.Read(42, 0, "PN", buffer, sizeof(buffer), length)) << "oldest evicted";
    const std::string lastKeyword = flood.m_NewSerials ? "EC" : "K" + std::to_string(stores - 1);
    const int64_t lastSerial = flood.m_NewSerials ? 100000 + static_cast<int64_t>(stores - 1) : 42;
    EXPECT_EQ(KXAPI_OK, cache.Read(lastSerial, 0, lastKeyword.c_str(), buffer, sizeof(buffer), length));
    EXPECT_EQ(flood.m_Cap, cache.ItemCount());
    // Clearing the flooded serial gives its share back.
    EXPECT_EQ(KXAPI_OK, cache.Clear(lastSerial));
    EXPECT_EQ(KXAPI_E_NO_SUCH_DATA, cache.Read(lastSerial, 0, lastKeyword.c_str(), buffer, sizeof(buffer), length));
}

INSTANTIATE_TEST_SUITE_P(Floods, KxeVpdCacheCaps,
                         ::testing::Values(VpdFlood{"NewSerials", true, KXE_VPD_MAX_ITEMS},
                                           VpdFlood{"NewKeywordsOfOneSerial", false, KXE_VPD_MAX_ITEMS_PER_SERIAL}),
                         [](const ::testing::TestParamInfo<VpdFlood>& info) { return info.param.m_pName; });

} // namespace
