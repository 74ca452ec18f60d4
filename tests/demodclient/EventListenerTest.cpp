// The event FIFO listener every client with events uses (KxEventListener).
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "KxEventListener.h"
#include "PipeMessenger.h"
#include "TestSupport.h"

namespace {

constexpr unsigned int STOP_BOUND_MS = 2000; // liveness bound, not a speed

class Received {
public:
    KxEventListener::MessageHandler Handler()
    {
        return [this](const char* body, int size) {
            std::lock_guard<std::mutex> lock(m_Mutex);
            m_Messages.emplace_back(body, static_cast<size_t>(size));
        };
    }
    std::vector<std::string> Messages()
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        return m_Messages;
    }

private:
    std::mutex m_Mutex;
    std::vector<std::string> m_Messages;
};

bool Exists(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

// Stops the listener and tells whether that took less than the bound.
bool StopsInTime(KxEventListener& listener)
{
    const auto start = std::chrono::steady_clock::now();
    listener.Stop();
    return std::chrono::steady_clock::now() - start < std::chrono::milliseconds(STOP_BOUND_MS);
}

// The service's side: connects to the client's event FIFO and writes messages.
bool ConnectAsService(PipeMessenger& service, const char* name)
{
    return service.Init() && service.ConnectToClient(name, XP_ANY_OWNER);
}

bool Write(PipeMessenger& service, const std::string& text)
{
    return service.WriteMsg(text.data(), static_cast<int>(text.size()));
}

TEST(EventListener, StopsWithinABoundWhileNoServiceEverConnectsAndRemovesItsFifo)
{
    kxtest::ScopedIpcDirectory dir;
    Received received;
    KxEventListener listener;
    ASSERT_EQ(listener.Start("ClientEvents", received.Handler(), 8192), KXAPI_OK);
    EXPECT_EQ(listener.Start("Other", received.Handler(), 8192), KXAPI_E_IN_USE);
    EXPECT_TRUE(listener.IsStarted());
    EXPECT_TRUE(Exists(dir.File("ClientEvents")));
    EXPECT_FALSE(listener.WaitConnected(100));
    EXPECT_TRUE(StopsInTime(listener));
    EXPECT_FALSE(listener.IsStarted());
    EXPECT_TRUE(kxtest::ListDir(dir.Path()).empty());
    listener.Stop(); // twice is harmless

    // The same object starts again.
    ASSERT_EQ(listener.Start("ClientEvents", received.Handler(), 8192), KXAPI_OK);
    EXPECT_TRUE(StopsInTime(listener));
    EXPECT_TRUE(received.Messages().empty());
}

TEST(EventListener, AFifoThatCannotBeMadeLeavesNoThreadAndNoFile)
{
    kxtest::ScopedIpcDirectory dir;
    Received received;
    KxEventListener listener;
    const std::string longName(120, 'e');
    for (const char* name : {"missing-directory/Events", longName.c_str()}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(listener.Start(name, received.Handler(), 8192), KXAPI_E_INTERNAL);
        EXPECT_FALSE(listener.IsStarted());
        EXPECT_FALSE(listener.WaitConnected(0));
    }
    EXPECT_TRUE(kxtest::ListDir(dir.Path()).empty());
}

TEST(EventListener, EveryConnectionOfTheServiceIsReadInTurnUntilStop)
{
    kxtest::ScopedIpcDirectory dir;
    Received received;
    KxEventListener listener;
    ASSERT_EQ(listener.Start("ClientEvents", received.Handler(), 8192), KXAPI_OK);
    {
        PipeMessenger first;
        ASSERT_TRUE(ConnectAsService(first, "ClientEvents"));
        EXPECT_TRUE(listener.WaitConnected(STOP_BOUND_MS));
        ASSERT_TRUE(Write(first, "one"));
        ASSERT_TRUE(Write(first, std::string(5000, 'x'))); // a large frame
        ASSERT_TRUE(kxtest::WaitUntil([&] { return received.Messages().size() == 2; }, STOP_BOUND_MS));
    } // the service drops the connection (it restarted, or dropped the client)
    EXPECT_TRUE(kxtest::WaitUntil([&] { return !listener.WaitConnected(0); }, STOP_BOUND_MS));
    // The next connection (after the client registered again) is read as well.
    PipeMessenger second;
    ASSERT_TRUE(ConnectAsService(second, "ClientEvents"));
    EXPECT_TRUE(listener.WaitConnected(STOP_BOUND_MS));
    ASSERT_TRUE(Write(second, "three"));
    ASSERT_TRUE(kxtest::WaitUntil([&] { return received.Messages().size() == 3; }, STOP_BOUND_MS));
    EXPECT_EQ(received.Messages(), (std::vector<std::string>{"one", std::string(5000, 'x'), "three"}));
    // A connection that stays silent does not hold Stop up.
    EXPECT_TRUE(StopsInTime(listener));
    EXPECT_FALSE(Write(second, "late")); // nobody reads the FIFO any more
    EXPECT_EQ(received.Messages().size(), 3u);
}

TEST(EventListener, AMessageAboveTheProtocolsBoundEndsItsConnectionUnread)
{
    kxtest::ScopedIpcDirectory dir;
    Received received;
    KxEventListener listener;
    ASSERT_EQ(listener.Start("ClientEvents", received.Handler(), 8192), KXAPI_OK);
    {
        PipeMessenger service;
        ASSERT_TRUE(ConnectAsService(service, "ClientEvents"));
        EXPECT_TRUE(listener.WaitConnected(STOP_BOUND_MS));
        ASSERT_TRUE(Write(service, std::string(8192, 'a'))); // at the bound
        ASSERT_TRUE(kxtest::WaitUntil([&] { return received.Messages().size() == 1; }, STOP_BOUND_MS));
        // The listener drops the connection at the length, before the body: the body's write
        // fails when the listener was quicker than the writer, and either is fine.
        Write(service, std::string(8193, 'b'));
        EXPECT_TRUE(kxtest::WaitUntil([&] { return !listener.WaitConnected(0); }, STOP_BOUND_MS));
    }
    PipeMessenger next;
    ASSERT_TRUE(ConnectAsService(next, "ClientEvents"));
    EXPECT_TRUE(listener.WaitConnected(STOP_BOUND_MS));
    ASSERT_TRUE(Write(next, "after"));
    ASSERT_TRUE(kxtest::WaitUntil([&] { return received.Messages().size() == 2; }, STOP_BOUND_MS));
    EXPECT_EQ(received.Messages(), (std::vector<std::string>{std::string(8192, 'a'), "after"}));
    EXPECT_TRUE(StopsInTime(listener));
}

} // namespace
