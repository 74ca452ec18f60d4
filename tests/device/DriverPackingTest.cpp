// The request packing rules, result mapping and event decoding of the driver interface,
// checked on the bytes a node receives.
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

#include "KxDriverRequests.h"
#include "KxWire.h"
#include "RecordingNode.h"
#include "TestSupport.h"
#include "XpDriver.h"

namespace {

class DriverPacking : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_Factory.AddCard(KX_FAMILY_KXU, 0, 1001, 830);
        ASSERT_EQ(KXAPI_OK, m_Driver.Open(KX_FAMILY_KXU, 0));
    }
    RecordingFactory m_Factory;
    XpDriver m_Driver;
};

TEST_F(DriverPacking, OpenOfAMissingNodeIsNotFound)
{
    XpDriver other;
    EXPECT_EQ(KXAPI_E_NOT_FOUND, other.Open(KX_FAMILY_KXA, 3));
    EXPECT_EQ(KXAPI_E_NOT_FOUND, other.Open(KX_FAMILY_KXU, 50));
}

TEST_F(DriverPacking, HeaderOnlyForTheFourTypeBytes)
{
    for (uint32_t request : {0xC058AF70u, 0xC060BC80u, 0xC000BD01u, 0xC070CD6Eu})
        EXPECT_TRUE(XpDriver::HasSizeHeader(request)) << std::hex << request;
    for (uint32_t request : {0xC004AE58u, 0xC218BB54u, 0xC020CC68u})
        EXPECT_FALSE(XpDriver::HasSizeHeader(request)) << std::hex << request;
}

TEST_F(DriverPacking, HeaderedInputRunsInPlaceOnlyWhenItFitsStrictly)
{
    // 4 + 8 < 16: in the output buffer itself; 8 + 8 == 16: in a temporary buffer.
    for (uint32_t inSize : {4u, 8u}) {
        SCOPED_TRACE(inSize);
        const uint32_t request = 0xC010AF30 + inSize;
        unsigned char input[8] = {9, 9, 9, 9, 8, 8, 8, 8};
        unsigned char output[16] = {};
        uint32_t outSize = sizeof(output);
        ASSERT_EQ(KXAPI_OK, m_Driver.IoCtl(request, input, inSize, output, &outSize));
        auto sent = m_Factory.Requests(request);
        ASSERT_EQ(1u, sent.size());
        ASSERT_EQ(16u, sent[0].m_Bytes.size());
        EXPECT_EQ(inSize, KxGetU32(sent[0].m_Bytes.data(), 0));
        EXPECT_EQ(16u, KxGetU32(sent[0].m_Bytes.data(), 4));
        EXPECT_EQ(0x09090909u, KxGetU32(sent[0].m_Bytes.data(), 8));
        EXPECT_EQ(16u, outSize);
        EXPECT_EQ(9, input[0]); // the caller's input is untouched
    }
}

TEST_F(DriverPacking, BareInputIsSentAsItIs)
{
    unsigned char input[4];
    KxPutU32(input, 0, 0x40);
    unsigned char output[4] = {};
    uint32_t outSize = 4;
    ASSERT_EQ(KXAPI_OK, m_Driver.IoCtl(KXU_REQ_REG_READ, input, 4, output, &outSize));
    auto sent = m_Factory.Requests(KXU_REQ_REG_READ);
    ASSERT_EQ(1u, sent.size());
    ASSERT_EQ(4u, sent[0].m_Bytes.size());
    EXPECT_EQ(0x40u, KxGetU32(sent[0].m_Bytes.data(), 0));
}

class FailingNode : public IXpDriverNode {
public:
    explicit FailingNode(int answer) : m_Answer(answer) {}
    int IoCtl(uint32_t, void*, uint32_t) override
    {
        errno = EIO;
        return m_Answer;
    }
    void* MapMemory(uint32_t) override { return nullptr; }
    void UnmapMemory(void*, uint32_t) override {}
    bool WaitReadable(unsigned int) override { return false; }
    void WakeWaiters() override {}
    int m_Answer;
};

class FailingFactory : public IXpDriverNodeFactory {
public:
    explicit FailingFactory(int answer) : m_Answer(answer) { m_pPrevious = XpDriverNodes::InstallFactory(this); }
    ~FailingFactory() override { XpDriverNodes::InstallFactory(m_pPrevious); }
    IXpDriverNode* Open(KxDriverFamily, int) override { return new FailingNode(m_Answer); }
    int m_Answer;
    IXpDriverNodeFactory* m_pPrevious;
};

TEST(DriverResults, MinusOneIsCommunicationWithErrnoAndANegatedStatusIsConvertedAndPassedRaw)
{
    const struct {
        int m_Answer;
        KxDriverFamily m_Family;
        uint32_t m_Request;
        KXAPI_RESULT m_Result;
        int m_ErrNo;
    } cases[] = {
        {-1, KX_FAMILY_KXA, 0xC004AE58, KXAPI_E_COMMUNICATION, EIO},
        {-static_cast<int>(KX_DRV_STATUS_IN_USE), KX_FAMILY_PCIE, 0xC010CD69, KXAPI_E_IN_USE,
         -static_cast<int>(KX_DRV_STATUS_IN_USE)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.m_Answer);
        FailingFactory factory(c.m_Answer);
        XpDriver driver;
        ASSERT_EQ(KXAPI_OK, driver.Open(c.m_Family, 0));
        int errNo = 0;
        EXPECT_EQ(c.m_Result, driver.IoCtl(c.m_Request, "abcd", 4, nullptr, nullptr, &errNo));
        EXPECT_EQ(c.m_ErrNo, errNo);
    }
}

TEST(DriverResults, MappingFailureIsOutOfMemory)
{
    FailingFactory factory(0);
    XpDriver driver;
    ASSERT_EQ(KXAPI_OK, driver.Open(KX_FAMILY_KXA, 0));
    void* memory = &driver;
    EXPECT_EQ(KXAPI_E_OUT_OF_MEM, driver.MapMemory(4096, memory));
    EXPECT_EQ(nullptr, memory);
}

struct DecodeCase {
    KxDriverFamily m_Family;
    uint32_t m_Kind, m_Value, m_Value2;
    bool m_IsEvent;
    uint32_t m_Event, m_OutValue, m_OutValue2;
};

TEST(DriverEvents, RecordsDecodeByFamily)
{
    const DecodeCase cases[] = {
        {KX_FAMILY_KXA, 1, 1, 0, true, 4, 2, 0},
        {KX_FAMILY_KXU, 1, 2, 0, true, 4, 1, 0},
        {KX_FAMILY_PCIE, 2, 7, 0, true, 8, 7, 0},
        {KX_FAMILY_KXA, 2, 7, 0, true, 8, 7, 0},
        {KX_FAMILY_PCIE, 4, 3, 9, true, 16, 4, 9},
        {KX_FAMILY_KXU, 2, 3, 9, true, 16, 4, 9},
        {KX_FAMILY_KXU, 0x80000000u, 5, 6, true, 0x80000000u, 5, 6},
        {KX_FAMILY_KXA, 0x80000000u, 5, 6, false, 0, 0, 0},
        {KX_FAMILY_KXU, 4, 0, 0, false, 0, 0, 0},
        {KX_FAMILY_PCIE, 77, 0, 0, false, 0, 0, 0},
    };
    for (const DecodeCase& c : cases) {
        KxDriverEvent event;
        SCOPED_TRACE(testing::Message() << "family " << c.m_Family << " kind " << c.m_Kind);
        ASSERT_EQ(c.m_IsEvent, XpDriver::DecodeEvent(c.m_Family, c.m_Kind, c.m_Value, c.m_Value2, event));
        if (c.m_IsEvent) {
            EXPECT_EQ(c.m_Event, event.m_Event);
            EXPECT_EQ(c.m_OutValue, event.m_Value);
            EXPECT_EQ(c.m_OutValue2, event.m_Value2);
        }
    }
}

TEST_F(DriverPacking, EventWaitAcceptsOnlyTheThreeRequests)
{
    std::atomic<bool> cancel{false};
    KxDriverEvent event;
    EXPECT_EQ(KXAPI_E_NOT_SUPPORTED, m_Driver.WaitEvent(0xC004AE58, cancel, event));
}

TEST_F(DriverPacking, EventWaitIssuesTheRequestWhenReadable)
{
    m_Factory.RaiseDeviceEvent(KX_FAMILY_KXU, 0, 1, 1, 0);
    std::atomic<bool> cancel{false};
    KxDriverEvent event;
    ASSERT_EQ(KXAPI_OK, m_Driver.WaitEvent(KXU_REQ_EVENT_WAIT, cancel, event));
    EXPECT_EQ(4u, event.m_Event);
    EXPECT_EQ(2u, event.m_Value);
    EXPECT_EQ(1u, m_Factory.Requests(KXU_REQ_EVENT_WAIT).size());
}

TEST_F(DriverPacking, EventWaitWithoutLimitEndsWhenCancelledAndWoken)
{
    // The wait has no slices: only the wake ends it, in progress or before it began.
    for (bool wakeFirst : {false, true}) {
        SCOPED_TRACE(wakeFirst ? "woken before the wait" : "woken during the wait");
        XpDriver driver;
        ASSERT_EQ(KXAPI_OK, driver.Open(KX_FAMILY_KXU, 0));
        std::atomic<bool> cancel{false};
        auto wake = [&] {
            if (!wakeFirst)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            cancel.store(true);
            driver.WakeWaiters();
        };
        if (wakeFirst)
            wake();
        std::thread waker([&] {
            if (!wakeFirst)
                wake();
        });
        KXAPI_RESULT result = KXAPI_OK;
        KxDriverEvent event;
        // An event lets a wait the wake failed to end return.
        EXPECT_TRUE(kxtest::EndsWithin(2000, [&] { result = driver.WaitEvent(KXU_REQ_EVENT_WAIT, cancel, event); },
                                       [&] { m_Factory.RaiseDeviceEvent(KX_FAMILY_KXU, 0, 1, 1, 0); }));
        waker.join();
        EXPECT_EQ(KXAPI_E_CANCELLED, result);
        EXPECT_TRUE(m_Factory.Requests(KXU_REQ_EVENT_WAIT).empty());
    }
}

TEST(DriverEvents, BlockDriverRequestCarriesTheBlockHeader)
{
    RecordingFactory factory;
    factory.AddCard(KX_FAMILY_PCIE, 2, 5, 3470);
    factory.RaiseDeviceEvent(KX_FAMILY_PCIE, 2, 4, 0, 1);
    XpDriver driver;
    ASSERT_EQ(KXAPI_OK, driver.Open(KX_FAMILY_PCIE, 2));
    std::atomic<bool> cancel{false};
    KxDriverEvent event;
    ASSERT_EQ(KXAPI_OK, driver.WaitEvent(KXP_REQ_EVENT_WAIT, cancel, event));
    EXPECT_EQ(16u, event.m_Event);
    EXPECT_EQ(1u, event.m_Value);
    auto sent = factory.Requests(KXP_REQ_EVENT_WAIT);
    ASSERT_EQ(1u, sent.size());
    ASSERT_EQ(16u, sent[0].m_Bytes.size()); // header only, no size header
    EXPECT_EQ(0u, KxGetU32(sent[0].m_Bytes.data(), 8));          // command 0
    EXPECT_EQ(0xFFFFFFFFu, KxGetU32(sent[0].m_Bytes.data(), 12));
}

} // namespace
