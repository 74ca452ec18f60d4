#include <gtest/gtest.h>

#include <sys/stat.h>

#include "CrossPlatform.h"
#include "TestSupport.h"
#include "XpHandles.h"

namespace {

// A platform object that records what its owner did to it.
struct Trace {
    int m_Closes = 0;
    int m_Deletes = 0;
};

class TracedLock : public IXpCritSec {
public:
    TracedLock(Trace& trace, KXAPI_RESULT initResult) : m_Trace(trace), m_InitResult(initResult) {}
    ~TracedLock() override { m_Trace.m_Deletes++; }
    KXAPI_RESULT Init() override { return m_InitResult; }
    KXAPI_RESULT Lock() override { return KXAPI_OK; }
    KXAPI_RESULT Unlock() override { return KXAPI_OK; }
    KXAPI_RESULT Close() override
    {
        m_Trace.m_Closes++;
        return KXAPI_OK;
    }

private:
    Trace& m_Trace;
    KXAPI_RESULT m_InitResult;
};

// A kind without Close: the handle only deletes it.
class TracedNetwork : public IXpNetwork {
public:
    explicit TracedNetwork(Trace& trace) : m_Trace(trace) {}
    ~TracedNetwork() override { m_Trace.m_Deletes++; }
    KXAPI_RESULT ListMulticastIpv4(std::vector<in_addr>&) override { return KXAPI_OK; }

private:
    Trace& m_Trace;
};

TEST(Handles, AFailedInitialisationClosesAndDeletesOnceAndASuccessOnlyWhenTheHandleGoes)
{
    struct Row {
        KXAPI_RESULT m_InitResult;
        bool m_Kept;
    };
    for (const Row& row : {Row{KXAPI_OK, true}, Row{KXAPI_E_OUT_OF_MEM, false}, Row{KXAPI_E_IN_USE, false}}) {
        SCOPED_TRACE(row.m_InitResult);
        Trace trace;
        {
            XpCritSecPtr lock =
                XpMakeInitialised(new TracedLock(trace, row.m_InitResult), [](IXpCritSec& l) { return l.Init(); });
            EXPECT_EQ(lock != nullptr, row.m_Kept);
            EXPECT_EQ(trace.m_Deletes, row.m_Kept ? 0 : 1);
            EXPECT_EQ(trace.m_Closes, row.m_Kept ? 0 : 1);
        }
        EXPECT_EQ(trace.m_Closes, 1);
        EXPECT_EQ(trace.m_Deletes, 1);
    }
    // A failed allocation stays null without calling the initialisation.
    bool called = false;
    XpCritSecPtr none = XpMakeInitialised(static_cast<IXpCritSec*>(nullptr), [&](IXpCritSec&) {
        called = true;
        return KXAPI_OK;
    });
    EXPECT_EQ(none, nullptr);
    EXPECT_FALSE(called);

    Trace networkTrace;
    { XpNetworkPtr network(new TracedNetwork(networkTrace)); }
    EXPECT_EQ(networkTrace.m_Deletes, 1);
}

TEST(Handles, FactoriesHandOutReadyObjects)
{
    kxtest::ScopedIpcDirectory ipc;
    Xp* xp = Xp::Instance();

    XpCritSecPtr critSec = xp->MakeCritSec();
    ASSERT_NE(critSec, nullptr);
    EXPECT_EQ(critSec->Lock(), KXAPI_OK);
    EXPECT_EQ(critSec->Unlock(), KXAPI_OK);
    EXPECT_EQ(critSec->Init(), KXAPI_E_IN_USE); // already initialised
    XpMutexPtr mutex = xp->MakeMutex();
    ASSERT_NE(mutex, nullptr);
    EXPECT_EQ(mutex->Init(), KXAPI_E_IN_USE);

    struct EventRow {
        bool m_ManualReset;
        bool m_InitialState;
        KXAPI_RESULT m_FirstWait;
        KXAPI_RESULT m_SecondWait;
    };
    for (const EventRow& row : {EventRow{false, false, KXAPI_E_TIMEOUT, KXAPI_E_TIMEOUT},
                                EventRow{false, true, KXAPI_OK, KXAPI_E_TIMEOUT},
                                EventRow{true, true, KXAPI_OK, KXAPI_OK}}) {
        SCOPED_TRACE(testing::Message() << "manual " << row.m_ManualReset << " set " << row.m_InitialState);
        XpEventPtr event = xp->MakeEvent(row.m_ManualReset, row.m_InitialState);
        ASSERT_NE(event, nullptr);
        EXPECT_EQ(event->WaitTimeout(0), row.m_FirstWait);
        EXPECT_EQ(event->WaitTimeout(0), row.m_SecondWait);
    }

    EXPECT_NE(xp->MakePipeConnection(), nullptr);

    const std::string path = ipc.File("HandleListener");
    struct stat st {};
    {
        XpPipeListenerPtr listener = xp->MakePipeListener("HandleListener", XP_INFINITE);
        ASSERT_NE(listener, nullptr);
        EXPECT_EQ(listener->WaitPipeCreated(), KXAPI_OK);
        ASSERT_EQ(stat(path.c_str(), &st), 0);
        EXPECT_TRUE(S_ISFIFO(st.st_mode));
    }
    EXPECT_NE(stat(path.c_str(), &st), 0) << "the handle removes the listener FIFO";
}

TEST(Handles, AListenerThatCannotBeCreatedIsNullAndLeavesNothingBehind)
{
    kxtest::ScopedIpcDirectory ipc;
    const std::string longName(300, 'x');
    for (const char* name : {static_cast<const char*>(nullptr), "no-such-directory/Listener", longName.c_str()}) {
        SCOPED_TRACE(name != nullptr ? name : "(null)");
        EXPECT_EQ(Xp::Instance()->MakePipeListener(name), nullptr);
        EXPECT_EQ(Xp::Instance()->MakePipeListener(name, XP_INFINITE), nullptr);
    }
    EXPECT_TRUE(kxtest::ListDir(ipc.Path()).empty());
}

} // namespace
