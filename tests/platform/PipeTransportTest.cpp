#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "CrossPlatform.h"
#include "EventLogController.h"
#include "PipeMessenger.h"
#include "TestSupport.h"
#include "XpPipeConnectionLinux.h"
#include "XpUtil.h"

namespace {

using kxtest::ScopedIpcDirectory;

// A listener on a private directory with a thread that accepts every client.
class ListenerFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_pListener = Xp::Instance()->NewPipeListener();
        ASSERT_EQ(m_pListener->Init("TestPipe"), KXAPI_OK);
        m_pThread = Xp::Instance()->NewThread();
        ASSERT_EQ(m_pThread->Create(StaticAccept, this), KXAPI_OK);
    }
    void TearDown() override
    {
        m_pListener->StopWaiting();
        delete m_pThread;
        for (IXpPipeConnection* connection : m_Accepted)
            delete connection;
        delete m_pListener;
    }
    static void StaticAccept(void* self) { static_cast<ListenerFixture*>(self)->Accept(); }
    void Accept()
    {
        m_AcceptTid = gettid();
        for (;;) {
            IXpPipeConnection* connection = nullptr;
            KXAPI_RESULT result = m_pListener->WaitConnection(connection);
            if (result == KXAPI_E_CANCELLED)
                return;
            if (result == KXAPI_OK) {
                std::lock_guard<std::mutex> lock(m_Mutex);
                m_Accepted.push_back(connection);
            }
        }
    }
    IXpPipeConnection* AcceptedConnection(size_t index)
    {
        kxtest::WaitUntil([&] { std::lock_guard<std::mutex> lock(m_Mutex); return m_Accepted.size() > index; }, 2000);
        std::lock_guard<std::mutex> lock(m_Mutex);
        return m_Accepted.size() > index ? m_Accepted[index] : nullptr;
    }
    size_t AcceptedCount()
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        return m_Accepted.size();
    }
    // Writes a raw 200-byte connection request into the listener FIFO.
    void WriteRequest(const char* first, size_t firstLength, const char* second, size_t secondLength)
    {
        char request[200] = {};
        memcpy(request, first, firstLength);
        memcpy(request + 100, second, secondLength);
        int fd = open(m_Dir.File("TestPipe").c_str(), O_WRONLY | O_NONBLOCK);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(write(fd, request, sizeof(request)), 200);
        close(fd);
    }

    ScopedIpcDirectory m_Dir;
    IXpPipeListener* m_pListener = nullptr;
    IXpThread* m_pThread = nullptr;
    std::atomic<pid_t> m_AcceptTid{0};
    std::mutex m_Mutex;
    std::vector<IXpPipeConnection*> m_Accepted;
};

TEST(PipeListener, NameLengthIsBoundedByTheHundredBytePath)
{
    // With the standard "/tmp/" prefix a 94-character name fits in 100 bytes, 95 does not.
    const char* oldPrefix = XpPipeBaseLinux::m_pFifoPrefix;
    XpPipeBaseLinux::m_pFifoPrefix = "/tmp/";
    char base[32];
    snprintf(base, sizeof(base), "kxtest%d_", getpid());
    std::string name94 = std::string(base) + std::string(94 - strlen(base), 'n');
    std::string name95 = name94 + "n";
    IXpPipeListener* listener = Xp::Instance()->NewPipeListener();
    EXPECT_EQ(listener->WaitPipeCreated(), KXAPI_E_NOT_INITIALIZED);
    EXPECT_EQ(listener->StopWaiting(), KXAPI_E_NOT_INITIALIZED);
    EXPECT_EQ(listener->Init(name95.c_str()), KXAPI_E_BUF_TOO_SMALL);
    EXPECT_EQ(listener->Init(name94.c_str()), KXAPI_OK);
    EXPECT_EQ(listener->Init(name94.c_str()), KXAPI_E_IN_USE);
    EXPECT_EQ(listener->WaitPipeCreated(), KXAPI_OK);
    delete listener;
    EXPECT_NE(access(("/tmp/" + name94).c_str(), F_OK), 0); // removed with the listener
    XpPipeBaseLinux::m_pFifoPrefix = oldPrefix;
}

TEST(PipeListener, StopWaitingEndsAWaitWithinASliceAndEveryLaterWait)
{
    ScopedIpcDirectory dir;
    IXpPipeListener* listener = Xp::Instance()->NewPipeListener();
    ASSERT_EQ(listener->Init("StopPipe"), KXAPI_OK);
    struct Waiter {
        IXpPipeListener* m_pListener;
        std::atomic<KXAPI_RESULT> m_Result{KXAPI_OK};
        static void StaticRun(void* self)
        {
            auto* waiter = static_cast<Waiter*>(self);
            IXpPipeConnection* connection = nullptr;
            waiter->m_Result = waiter->m_pListener->WaitConnection(connection);
        }
    } waiter{listener};
    IXpThread* thread = Xp::Instance()->NewThread();
    ASSERT_EQ(thread->Create(Waiter::StaticRun, &waiter), KXAPI_OK);
    XpUtil::Sleep(50);
    unsigned int start = XpUtil::GetTickCount();
    listener->StopWaiting();
    thread->WaitFinished();
    EXPECT_LT(XpUtil::GetTickCount() - start, 350u);
    EXPECT_EQ(waiter.m_Result.load(), KXAPI_E_CANCELLED);
    IXpPipeConnection* connection = nullptr;
    EXPECT_EQ(listener->WaitConnection(connection), KXAPI_E_CANCELLED);
    delete thread;
    delete listener;
}

TEST(PipeConnect, FailsCleanlyWhenNobodyServesTheName)
{
    ScopedIpcDirectory dir;
    IXpPipeConnection* connection = Xp::Instance()->NewPipeConnection();
    EXPECT_EQ(connection->Connect("Nobody"), KXAPI_E_COMMUNICATION);
    EXPECT_TRUE(kxtest::ListDir(dir.Path()).empty());

    // A listener FIFO file that no process holds open is the same as a missing one.
    ASSERT_EQ(mkfifo(dir.File("Stale").c_str(), 0600), 0);
    unsigned int start = XpUtil::GetTickCount();
    EXPECT_EQ(connection->Connect("Stale"), KXAPI_E_COMMUNICATION);
    EXPECT_GE(XpUtil::GetTickCount() - start, 80u); // ten attempts spaced 10 ms
    EXPECT_EQ(kxtest::ListDir(dir.Path()), std::vector<std::string>{"Stale"});

    // Held open but never served: the reply never comes.
    int held = open(dir.File("Stale").c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(held, 0);
    start = XpUtil::GetTickCount();
    EXPECT_EQ(connection->Connect("Stale"), KXAPI_E_TIMEOUT);
    unsigned int elapsed = XpUtil::GetTickCount() - start;
    EXPECT_GE(elapsed, 450u);
    EXPECT_LT(elapsed, 1500u);
    EXPECT_EQ(kxtest::ListDir(dir.Path()), std::vector<std::string>{"Stale"});
    close(held);

    // Names that pass the 259-character rule but leave no room for the private FIFO paths.
    std::string longName(100, 'L');
    EXPECT_EQ(connection->Connect(longName.c_str()), KXAPI_E_INTERNAL);
    EXPECT_EQ(connection->Connect(std::string(300, 'L').c_str()), KXAPI_E_BUF_TOO_SMALL);
    delete connection;
}

TEST(PipeConnect, AFailureReplyOfTheServerIsTheResultAndLeavesNoFifo)
{
    // A hand-made server: reads the request and answers with a failure code.
    ScopedIpcDirectory dir;
    ASSERT_EQ(mkfifo(dir.File("Refusing").c_str(), 0600), 0);
    int listener = open(dir.File("Refusing").c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(listener, 0);
    std::thread server([&] {
        char request[200] = {};
        for (int i = 0; i < 200 && read(listener, request, sizeof(request)) != 200; i++)
            XpUtil::Sleep(5);
        int reply = open(request + 100, O_WRONLY | O_NONBLOCK);
        const KXAPI_RESULT refusal = KXAPI_E_IN_USE;
        if (reply >= 0 && write(reply, &refusal, sizeof(refusal)) == sizeof(refusal))
            close(reply);
    });
    IXpPipeConnection* connection = Xp::Instance()->NewPipeConnection();
    EXPECT_EQ(connection->Connect("Refusing"), KXAPI_E_IN_USE);
    server.join();
    EXPECT_EQ(kxtest::ListDir(dir.Path()), std::vector<std::string>{"Refusing"});
    char byte;
    EXPECT_EQ(connection->Read(&byte, 1, 0), KXAPI_E_NOT_INITIALIZED); // closed again
    delete connection;
    close(listener);
}

TEST_F(ListenerFixture, ConnectLeavesOnlyTheListenerFifoAndCarriesBothDirections)
{
    IXpPipeConnection* client = Xp::Instance()->NewPipeConnection();
    ASSERT_EQ(client->Connect("TestPipe"), KXAPI_OK);
    EXPECT_EQ(client->Connect("TestPipe"), KXAPI_E_IN_USE);
    EXPECT_EQ(kxtest::ListDir(m_Dir.Path()), std::vector<std::string>{"TestPipe"});
    IXpPipeConnection* server = AcceptedConnection(0);
    ASSERT_NE(server, nullptr);

    ASSERT_EQ(client->Write("ping", 4, 100), KXAPI_OK);
    char buffer[8] = {};
    ASSERT_EQ(server->Read(buffer, 4, 100), KXAPI_OK);
    EXPECT_STREQ(buffer, "ping");
    ASSERT_EQ(server->Write("pong!", 5, 100), KXAPI_OK);
    ASSERT_EQ(client->Read(buffer, 5, 100), KXAPI_OK);
    EXPECT_STREQ(buffer, "pong!");

    // ClearRx drops whatever is waiting.
    ASSERT_EQ(server->Write("stale bytes", 11, 100), KXAPI_OK);
    XpUtil::Sleep(10);
    EXPECT_EQ(client->ClearRx(), KXAPI_OK);
    EXPECT_EQ(client->Read(buffer, 1, 0), KXAPI_E_TIMEOUT);

    // The peer closing its write end ends a read with a communication error.
    delete client;
    EXPECT_EQ(server->Read(buffer, 1, XP_INFINITE), KXAPI_E_COMMUNICATION);
    EXPECT_EQ(server->Write("x", 1, 100), KXAPI_E_COMMUNICATION); // reader gone: EPIPE, no signal
}

TEST_F(ListenerFixture, ReadTimeoutsAreCountedInWholeSlices)
{
    IXpPipeConnection* client = Xp::Instance()->NewPipeConnection();
    ASSERT_EQ(client->Connect("TestPipe"), KXAPI_OK);
    char byte;
    struct Case {
        unsigned int m_TimeoutMs;
        unsigned int m_MinMs;
        unsigned int m_MaxMs;
    };
    for (Case c : {Case{0, 0, 60}, Case{50, 90, 400}, Case{150, 90, 400}, Case{250, 190, 600}}) {
        unsigned int start = XpUtil::GetTickCount();
        EXPECT_EQ(client->Read(&byte, 1, c.m_TimeoutMs), KXAPI_E_TIMEOUT) << c.m_TimeoutMs;
        unsigned int elapsed = XpUtil::GetTickCount() - start;
        EXPECT_GE(elapsed, c.m_MinMs) << c.m_TimeoutMs;
        EXPECT_LE(elapsed, c.m_MaxMs) << c.m_TimeoutMs;
    }
    EXPECT_EQ(XpPipeBaseLinux::SliceBudget(0), 0u);
    EXPECT_EQ(XpPipeBaseLinux::SliceBudget(1), 1u);
    EXPECT_EQ(XpPipeBaseLinux::SliceBudget(99), 1u);
    EXPECT_EQ(XpPipeBaseLinux::SliceBudget(100), 1u);
    EXPECT_EQ(XpPipeBaseLinux::SliceBudget(199), 1u);
    EXPECT_EQ(XpPipeBaseLinux::SliceBudget(500), 5u);
    delete client;
}

TEST_F(ListenerFixture, StopIoEndsAReadWithoutLimitWithinOneSlice)
{
    IXpPipeConnection* client = Xp::Instance()->NewPipeConnection();
    ASSERT_EQ(client->Connect("TestPipe"), KXAPI_OK);
    struct Reader {
        IXpPipeConnection* m_pConnection;
        char m_Buffer[4] = {'-', '-', '-', '-'};
        std::atomic<KXAPI_RESULT> m_Result{KXAPI_E_INTERNAL};
        static void StaticRun(void* self)
        {
            auto* reader = static_cast<Reader*>(self);
            reader->m_Result = reader->m_pConnection->Read(reader->m_Buffer, 4, XP_INFINITE);
        }
    } reader{client};
    IXpThread* thread = Xp::Instance()->NewThread();
    ASSERT_EQ(thread->Create(Reader::StaticRun, &reader), KXAPI_OK);
    XpUtil::Sleep(150);
    unsigned int start = XpUtil::GetTickCount();
    client->StopIo();
    thread->WaitFinished();
    EXPECT_LT(XpUtil::GetTickCount() - start, 300u);
    EXPECT_EQ(reader.m_Result.load(), KXAPI_OK);
    EXPECT_EQ(reader.m_Buffer[0], '-'); // nothing arrived
    client->ResumeIo();
    char byte;
    EXPECT_EQ(client->Read(&byte, 1, 0), KXAPI_E_TIMEOUT);
    delete thread;
    delete client;
}

TEST_F(ListenerFixture, AnIdleListenerAndAnIdleReadSleepUntilAStopWakesThem)
{
    // A read without limit (a service's connection thread waiting for the next request, a
    // client's event thread) and the accept thread sleep until their peer acts or they are
    // stopped: over a second at rest the scheduler never switches to them.
    IXpPipeConnection* client = Xp::Instance()->NewPipeConnection();
    ASSERT_EQ(client->Connect("TestPipe"), KXAPI_OK);
    ASSERT_TRUE(kxtest::WaitUntil([&] { return AcceptedCount() == 1; }, 2000));
    IXpPipeConnection* server = AcceptedConnection(0);
    std::atomic<pid_t> readerTid{0};
    std::atomic<KXAPI_RESULT> readResult{KXAPI_E_INTERNAL};
    char buffer[4] = {};
    std::thread reader([&] {
        readerTid = gettid();
        readResult = server->Read(buffer, sizeof(buffer), XP_INFINITE);
    });
    ASSERT_TRUE(kxtest::WaitUntil([&] { return readerTid.load() != 0; }, 2000));
    XpUtil::Sleep(200); // both are asleep by now
    const long long acceptBefore = kxtest::ThreadContextSwitches(m_AcceptTid.load());
    const long long readBefore = kxtest::ThreadContextSwitches(readerTid.load());
    ASSERT_GE(acceptBefore, 0);
    ASSERT_GE(readBefore, 0);
    XpUtil::Sleep(1000);
    EXPECT_LE(kxtest::ThreadContextSwitches(m_AcceptTid.load()) - acceptBefore, 1);
    EXPECT_LE(kxtest::ThreadContextSwitches(readerTid.load()) - readBefore, 1);

    // The stop wakes the read at once; the listener's stop ends the accept thread (TearDown).
    server->StopIo();
    reader.join();
    EXPECT_EQ(readResult.load(), KXAPI_OK);
    // Cleared again, the connection carries data as before.
    server->ResumeIo();
    ASSERT_EQ(client->Write("ping", 4, 500), KXAPI_OK);
    ASSERT_EQ(server->Read(buffer, 4, 500), KXAPI_OK);
    EXPECT_EQ(std::string(buffer, 4), "ping");
    delete client;
}

TEST_F(ListenerFixture, MessageFramesUseTheShortHeaderUpTo65534Bytes)
{
    PipeMessenger messenger;
    ASSERT_TRUE(messenger.Init());
    ASSERT_TRUE(messenger.Connect("TestPipe"));
    IXpPipeConnection* server = AcceptedConnection(0);
    ASSERT_NE(server, nullptr);

    for (unsigned int size : {0u, 4u, 65534u, 65535u, 200000u}) {
        std::vector<char> body(size);
        for (unsigned int i = 0; i < size; i++)
            body[i] = static_cast<char>(i * 7);
        // Bodies larger than the FIFO's capacity need the reader running beside the writer.
        std::atomic<bool> written{false};
        std::jthread writer(
            [&] { written = messenger.WriteMsg(body.data(), static_cast<int>(body.size())); });
        unsigned char header[8] = {};
        unsigned int headerLength = size <= 65534 ? 2 : 8;
        ASSERT_EQ(server->Read(reinterpret_cast<char*>(header), headerLength, 1000), KXAPI_OK);
        if (size <= 65534) {
            EXPECT_EQ(header[0] | (header[1] << 8), static_cast<int>(size));
        } else {
            const unsigned char expected[4] = {0xFF, 0xFF, 0x00, 0x00};
            EXPECT_EQ(memcmp(header, expected, 4), 0) << size;
            EXPECT_EQ(header[4] | (header[5] << 8) | (header[6] << 16) | (header[7] << 24), static_cast<int>(size));
        }
        std::vector<char> received(size);
        ASSERT_EQ(server->Read(received.data(), size, 1000), KXAPI_OK);
        writer.join();
        EXPECT_TRUE(written.load()) << size;
        EXPECT_EQ(received, body);
    }
    unsigned char header[2];
    EXPECT_EQ(PipeBuildHeader(65534, header), 2u);
    EXPECT_EQ(header[0], 0xFE);
    EXPECT_EQ(header[1], 0xFF);
}

TEST_F(ListenerFixture, ReadMsgTakesTheLongFormsLengthFromItsLastFourBytes)
{
    PipeMessenger messenger;
    ASSERT_TRUE(messenger.Init());
    ASSERT_TRUE(messenger.Connect("TestPipe"));
    IXpPipeConnection* server = AcceptedConnection(0);
    ASSERT_NE(server, nullptr);
    // 66051 is 03 02 01 00: every byte of the length differs, so a wrong offset or order shows.
    for (unsigned int size : {0u, 1u, 65534u, 65535u, 66051u, 200000u}) {
        // The frame built by hand, so the reader is checked against the layout, not the writer.
        std::vector<char> frame;
        if (size <= 65534) {
            frame = {static_cast<char>(size & 0xFF), static_cast<char>(size >> 8)};
        } else {
            frame = {'\xFF', '\xFF', 0, 0};
            for (int i = 0; i < 4; i++)
                frame.push_back(static_cast<char>(size >> (8 * i)));
        }
        for (unsigned int i = 0; i < size; i++)
            frame.push_back(static_cast<char>(i * 13 + 1));
        std::atomic<bool> written{false};
        std::jthread writer(
            [&] { written = server->Write(frame.data(), static_cast<unsigned int>(frame.size()), 2000) == KXAPI_OK; });
        char* body = nullptr;
        int received = -1;
        ASSERT_TRUE(messenger.ReadMsg(body, received, 2000)) << size;
        writer.join();
        EXPECT_TRUE(written.load()) << size;
        ASSERT_EQ(received, static_cast<int>(size));
        ASSERT_NE(body, nullptr);
        bool same = true;
        for (unsigned int i = 0; i < size && same; i++)
            same = body[i] == static_cast<char>(i * 13 + 1);
        EXPECT_TRUE(same) << size;
        free(body);
    }
    // Nothing is left over between the messages.
    char byte;
    EXPECT_EQ(server->Read(&byte, 1, 0), KXAPI_E_TIMEOUT);
    EXPECT_EQ(messenger.LastResult(), KXAPI_OK);
}

TEST_F(ListenerFixture, ReadMsgRefusesLengthsBeyondTheBoundBeforeAllocating)
{
    PipeMessenger messenger;
    ASSERT_TRUE(messenger.Init());
    ASSERT_TRUE(messenger.Connect("TestPipe"));
    IXpPipeConnection* server = AcceptedConnection(0);
    ASSERT_NE(server, nullptr);
    const unsigned char hostile[8] = {0xFF, 0xFF, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF};
    ASSERT_EQ(server->Write(reinterpret_cast<const char*>(hostile), 8, 100), KXAPI_OK);
    char* body = nullptr;
    int size = -1;
    EXPECT_FALSE(messenger.ReadMsg(body, size, 1000));
    EXPECT_EQ(body, nullptr);
    EXPECT_EQ(size, 0);
    // 16 MiB is the largest length taken; one byte more is refused at once.
    const unsigned char justOver[8] = {0xFF, 0xFF, 0x00, 0x00, 0x01, 0x00, 0x00, 0x01};
    ASSERT_EQ(server->Write(reinterpret_cast<const char*>(justOver), 8, 100), KXAPI_OK);
    EXPECT_FALSE(messenger.ReadMsg(body, size, 1000));
    EXPECT_EQ(messenger.LastResult(), KXAPI_E_INVALID_SIZE);
    const unsigned char largest[8] = {0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01};
    ASSERT_EQ(server->Write(reinterpret_cast<const char*>(largest), 8, 100), KXAPI_OK);
    EXPECT_FALSE(messenger.ReadMsg(body, size, 1000));
    EXPECT_EQ(messenger.LastResult(), KXAPI_E_TIMEOUT); // taken: its body never came

    // A header whose body never comes times out after the body's 500 ms.
    const unsigned char shortHeader[2] = {10, 0};
    ASSERT_EQ(server->Write(reinterpret_cast<const char*>(shortHeader), 2, 100), KXAPI_OK);
    ASSERT_EQ(server->Write("abc", 3, 100), KXAPI_OK);
    EXPECT_FALSE(messenger.ReadMsg(body, size, 1000));
    EXPECT_EQ(messenger.LastResult(), KXAPI_E_TIMEOUT);
}

TEST_F(ListenerFixture, HostileRequestsTouchNothingAndTheListenerKeepsServing)
{
    // A regular file, a symbolic link to a FIFO, a FIFO outside the directory, a path
    // without terminator, "..", and stray bytes: none is opened, none is written.
    std::string victim = m_Dir.File("victim");
    FILE* file = fopen(victim.c_str(), "w");
    fputs("keep me", file);
    fclose(file);
    chmod(victim.c_str(), 0640);

    kxtest::TempDir outside;
    std::string outsideFifo = outside.File("fifo");
    ASSERT_EQ(mkfifo(outsideFifo.c_str(), 0600), 0);
    int outsideReader = open(outsideFifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(outsideReader, 0);
    ASSERT_EQ(symlink(outsideFifo.c_str(), m_Dir.File("link").c_str()), 0);
    ASSERT_EQ(mkfifo(m_Dir.File("inside").c_str(), 0600), 0);
    int insideReader = open(m_Dir.File("inside").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(insideReader, 0);

    // FIFOs that a path reaches through a subdirectory or through "..".
    ASSERT_EQ(mkdir(m_Dir.File("sub").c_str(), 0700), 0);
    ASSERT_EQ(mkfifo(m_Dir.File("sub/fifo").c_str(), 0600), 0);
    int subReader = open(m_Dir.File("sub/fifo").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(subReader, 0);
    std::string viaSub = m_Dir.File("sub/fifo");
    std::string viaParent = m_Dir.Path() + "/.." + outside.Path().substr(outside.Path().rfind('/')) + "/fifo";
    ASSERT_EQ(access(viaParent.c_str(), F_OK), 0) << viaParent;

    std::string link = m_Dir.File("link");
    std::string inside = m_Dir.File("inside");
    std::string dotdot = m_Dir.Path() + "/..";
    std::string unterminated(100, 'A');
    memcpy(&unterminated[0], m_Dir.Path().c_str(), m_Dir.Path().size());
    struct Request {
        std::string m_First;
        std::string m_Second;
    };
    for (const Request& r : {Request{inside, victim}, Request{inside, link}, Request{inside, outsideFifo},
                             Request{inside, dotdot}, Request{victim, inside}, Request{inside, viaSub},
                             Request{inside, viaParent}, Request{viaSub, inside}}) {
        WriteRequest(r.m_First.c_str(), r.m_First.size() + 1, r.m_Second.c_str(), r.m_Second.size() + 1);
    }
    WriteRequest(unterminated.data(), 100, inside.c_str(), inside.size() + 1);
    int fd = open(m_Dir.File("TestPipe").c_str(), O_WRONLY | O_NONBLOCK);
    ASSERT_EQ(write(fd, "garbage", 7), 7); // a fragment that is no request
    close(fd);

    XpUtil::Sleep(300);
    EXPECT_EQ(AcceptedCount(), 0u);
    EXPECT_EQ(kxtest::ReadFile(victim), "keep me");
    struct stat info {};
    stat(victim.c_str(), &info);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    char byte;
    EXPECT_EQ(read(outsideReader, &byte, 1), 0); // nothing was ever written there
    EXPECT_EQ(read(subReader, &byte, 1), 0);
    close(outsideReader);
    close(insideReader);
    close(subReader);

    // Well-formed clients are still served.
    IXpPipeConnection* client = Xp::Instance()->NewPipeConnection();
    ASSERT_EQ(client->Connect("TestPipe"), KXAPI_OK);
    EXPECT_NE(AcceptedConnection(0), nullptr);
    EXPECT_EQ(AcceptedCount(), 1u);
    delete client;
}

TEST(PipeNames, OnlySinglePlainComponentsAreSafe)
{
    for (const char* name : {"KxapiKxeSvc_EvPipe_12", "a.b-c_D9"})
        EXPECT_TRUE(XpPipeBaseLinux::IsSafeName(name)) << name;
    for (const char* name : {"", ".", "..", "a/b", "../x", "sp ace", "a\nb", "ü"})
        EXPECT_FALSE(XpPipeBaseLinux::IsSafeName(name)) << name;
}

TEST(PipeNames, OrphanCleanupRemovesOnlySafeNamesOfDeadProcesses)
{
    ScopedIpcDirectory dir;
    IXpPipeConnection* connection = Xp::Instance()->NewPipeConnection();
    ASSERT_EQ(mkfifo(dir.File("Orphan_1").c_str(), 0600), 0);
    EXPECT_TRUE(connection->CleanupOrphanPipe("Orphan_1", 0)); // pid below 1: nothing to check
    EXPECT_FALSE(connection->CleanupOrphanPipe("Orphan_1", getpid())); // owner alive
    EXPECT_EQ(access(dir.File("Orphan_1").c_str(), F_OK), 0);
    pid_t dead = fork();
    if (dead == 0)
        _exit(0);
    waitpid(dead, nullptr, 0);
    EXPECT_FALSE(connection->CleanupOrphanPipe("../Orphan_1", dead));
    EXPECT_EQ(access(dir.File("Orphan_1").c_str(), F_OK), 0);
    EXPECT_TRUE(connection->CleanupOrphanPipe("Orphan_1", dead));
    EXPECT_NE(access(dir.File("Orphan_1").c_str(), F_OK), 0);
    delete connection;
}

} // namespace

namespace {

// What a client may have planted under a name in the FIFO directory.
enum class Planted { OwnFifo, SymlinkToFifo, HardLinkToFile, RegularFile, Directory, Missing };

TEST(PipeNames, TheCheckedOpenAcceptsOnlyAFifoOfTheRequiredOwnerUnderASafeName)
{
    ScopedIpcDirectory dir;
    kxtest::TempDir outside;
    std::string target = outside.File("target");
    ASSERT_EQ(kxtest::RunProgram({"/bin/sh", "-c", "echo keep > " + target}).m_Status, 0);
    ASSERT_EQ(mkfifo(outside.File("fifo").c_str(), 0600), 0);
    const unsigned int me = getuid();
    const unsigned int other = me == 0 ? 65534 : 0;
    struct Row {
        Planted m_Planted;
        unsigned int m_RequiredOwner;
        bool m_Opens;
    };
    const Row rows[] = {
        {Planted::OwnFifo, me, true},          {Planted::OwnFifo, XP_ANY_OWNER, true},
        {Planted::OwnFifo, other, false},      {Planted::SymlinkToFifo, XP_ANY_OWNER, false},
        {Planted::HardLinkToFile, me, false},  {Planted::RegularFile, me, false},
        {Planted::Directory, me, false},       {Planted::Missing, me, false},
    };
    int index = 0;
    for (const Row& row : rows) {
        std::string name = "Planted_" + std::to_string(index++);
        std::string path = dir.File(name);
        switch (row.m_Planted) {
        case Planted::OwnFifo: ASSERT_EQ(mkfifo(path.c_str(), 0600), 0); break;
        case Planted::SymlinkToFifo: ASSERT_EQ(symlink(outside.File("fifo").c_str(), path.c_str()), 0); break;
        case Planted::HardLinkToFile: ASSERT_EQ(link(target.c_str(), path.c_str()), 0); break;
        case Planted::RegularFile: ASSERT_EQ(kxtest::RunProgram({"/usr/bin/touch", path}).m_Status, 0); break;
        case Planted::Directory: ASSERT_EQ(mkdir(path.c_str(), 0700), 0); break;
        case Planted::Missing: break;
        }
        // Held open for reading, so that an open for writing would not fail for want of a reader.
        int reader = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW);
        unsigned int owner = 12345;
        int fd = XpPipeBaseLinux::OpenClientFifo(name.c_str(), O_WRONLY, row.m_RequiredOwner, &owner);
        EXPECT_EQ(fd >= 0, row.m_Opens) << name;
        if (fd >= 0) {
            EXPECT_EQ(owner, me);
            close(fd);
        }
        if (reader >= 0)
            close(reader);
    }
    // Names that are not one plain component never reach the file system.
    for (const char* name : {"../target", "sub/name", "", ".."})
        EXPECT_LT(XpPipeBaseLinux::OpenClientFifo(name, O_RDONLY, XP_ANY_OWNER), 0) << name;
    // A request's path field: inside the FIFO directory, terminated within its size.
    ASSERT_EQ(mkfifo(dir.File("Inside").c_str(), 0600), 0);
    std::string inside = dir.File("Inside");
    int fd = XpPipeBaseLinux::OpenClientFifoPath(inside.c_str(), XP_PIPE_PATH_SIZE, O_RDONLY, me);
    EXPECT_GE(fd, 0);
    close(fd);
    EXPECT_LT(XpPipeBaseLinux::OpenClientFifoPath(inside.c_str(), static_cast<unsigned int>(inside.size()), O_RDONLY,
                                                  me),
              0); // no terminator within the field
    std::string throughParent = dir.Path() + "/../" + dir.Path().substr(5) + "/Inside";
    EXPECT_LT(XpPipeBaseLinux::OpenClientFifoPath(throughParent.c_str(), XP_PIPE_PATH_SIZE, O_RDONLY, me), 0);
    EXPECT_EQ(kxtest::ReadFile(target), "keep\n");
}

TEST(PipeNames, FreePathMovesAsideWhatItCannotRemoveAndNeverEntersIt)
{
    ScopedIpcDirectory dir;
    kxtest::RecordingLog log;
    log.EventLogOpen("test", &g_EventLogger);
    std::string path = dir.File("Taken");
    ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
    ASSERT_EQ(mkdir((path + "/inner").c_str(), 0700), 0);
    EXPECT_TRUE(XpUtil::FreePath(path.c_str()));
    EXPECT_NE(access(path.c_str(), F_OK), 0);
    std::vector<kxtest::LoggedEvent> events = log.Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].m_Id, XP_EVENT_PATH_MOVED_ASIDE);
    // A link is removed itself; what it points to stays.
    kxtest::TempDir outside;
    ASSERT_EQ(symlink(outside.Path().c_str(), path.c_str()), 0);
    EXPECT_TRUE(XpUtil::FreePath(path.c_str()));
    EXPECT_EQ(access(outside.Path().c_str(), F_OK), 0);
    EXPECT_TRUE(XpUtil::FreePath(dir.File("Nothing").c_str()));
}

} // namespace

namespace {

// A peer that reads one byte every `spacingMs` from `fd` until told to stop.
class TrickleReader {
public:
    TrickleReader(int fd, unsigned int spacingMs)
        : m_Thread([this, fd, spacingMs] {
              char byte;
              while (!m_Stop.load()) {
                  if (read(fd, &byte, 1) < 0)
                      usleep(1000);
                  usleep(spacingMs * 1000);
              }
          })
    {
    }
    ~TrickleReader()
    {
        m_Stop = true;
        m_Thread.join();
    }

private:
    std::atomic<bool> m_Stop{false};
    std::thread m_Thread;
};

TEST_F(ListenerFixture, EveryWriteEndsWithinItsDeadlineWhenThePeerNeverOrBarelyReads)
{
    PipeMessenger messenger;
    ASSERT_TRUE(messenger.Init());
    ASSERT_TRUE(messenger.Connect("TestPipe"));
    PipeMessenger server(AcceptedConnection(0));
    m_Accepted.clear(); // owned by `server` now
    // The client never reads: a reply larger than the FIFO, header included, fails in time.
    std::vector<char> reply(200000, 'r');
    unsigned int start = XpUtil::GetTickCount();
    EXPECT_FALSE(server.WriteMsg(reply.data(), static_cast<int>(reply.size())));
    EXPECT_LT(XpUtil::GetTickCount() - start, 2000u);
    // Nothing more fits either: the header alone times out instead of waiting for good.
    start = XpUtil::GetTickCount();
    EXPECT_FALSE(server.WriteMsg(reply.data(), 5000));
    EXPECT_LT(XpUtil::GetTickCount() - start, 2000u);
}

TEST(PipeTransfer, DescriptorsBeyondFdSetSizeWaitLikeAnyOther)
{
    // A service with many clients holds descriptors above 1024, where select cannot go.
    int ends[2];
    ASSERT_EQ(pipe2(ends, O_NONBLOCK), 0);
    ASSERT_EQ(dup2(ends[0], 1500), 1500);
    ASSERT_EQ(dup2(ends[1], 1501), 1501);
    close(ends[0]);
    close(ends[1]);
    char byte = 0;
    unsigned int start = XpUtil::GetTickCount();
    EXPECT_EQ(XpPipeBaseLinux::ReadFromFifo(1500, &byte, 1, 150, nullptr), KXAPI_E_TIMEOUT);
    EXPECT_GE(XpUtil::GetTickCount() - start, 100u);
    std::thread writer([] {
        usleep(50000);
        EXPECT_EQ(write(1501, "k", 1), 1);
    });
    EXPECT_EQ(XpPipeBaseLinux::ReadFromFifo(1500, &byte, 1, 1000, nullptr), KXAPI_OK);
    EXPECT_EQ(byte, 'k');
    writer.join();
    close(1500);
    close(1501);
}

TEST(PipeTransfer, ATrickleOfReadinessDoesNotStretchALimitedTransfer)
{
    int toPeer[2];
    int fromPeer[2];
    ASSERT_EQ(pipe2(toPeer, O_NONBLOCK), 0);
    ASSERT_EQ(pipe2(fromPeer, O_NONBLOCK), 0);
    XpPipeConnectionLinux connection(fromPeer[0], toPeer[1]);
    // Fill the pipe, then let the peer drain one byte every 20 ms: the descriptor keeps
    // becoming writable, yet a 300 ms write gives up after about its slices plus one.
    std::vector<char> fill(1 << 20, 'f');
    connection.Write(fill.data(), static_cast<unsigned int>(fill.size()), 0);
    {
        TrickleReader trickle(toPeer[0], 20);
        unsigned int start = XpUtil::GetTickCount();
        EXPECT_EQ(connection.Write(fill.data(), 100000, 300), KXAPI_E_TIMEOUT);
        unsigned int took = XpUtil::GetTickCount() - start;
        EXPECT_GE(took, 300u);
        EXPECT_LT(took, 900u);
    }
    close(toPeer[0]);
    close(fromPeer[1]);
}

TEST_F(ListenerFixture, MessagesInFlightShareOneBudgetAndReleaseIt)
{
    const unsigned int perMessage = PIPE_MAX_MESSAGE_SIZE;
    const size_t fits = PIPE_MAX_BYTES_IN_FLIGHT / perMessage;
    std::vector<std::unique_ptr<PipeMessenger>> readers;
    std::vector<std::thread> threads;
    std::atomic<int> refused{0};
    for (size_t i = 0; i <= fits; i++) {
        auto reader = std::make_unique<PipeMessenger>();
        ASSERT_TRUE(reader->Init());
        ASSERT_TRUE(reader->Connect("TestPipe"));
        IXpPipeConnection* server = AcceptedConnection(i);
        ASSERT_NE(server, nullptr);
        // Announce a maximal body, send none of it.
        unsigned char header[8];
        unsigned int headerLength = PipeBuildHeader(perMessage, header);
        ASSERT_EQ(server->Write(reinterpret_cast<char*>(header), headerLength, 100), KXAPI_OK);
        readers.push_back(std::move(reader));
    }
    for (auto& reader : readers)
        threads.emplace_back([&reader, &refused] {
            char* body = nullptr;
            int size = 0;
            EXPECT_FALSE(reader->ReadMsg(body, size, 1000));
            if (reader->LastResult() == KXAPI_E_OUT_OF_RESOURCES)
                refused++;
        });
    EXPECT_TRUE(kxtest::WaitUntil([&] { return refused.load() >= 1; }, 2000));
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(refused.load(), 1); // exactly the one beyond the budget
    EXPECT_EQ(PipeBytesInFlight(), 0u);
}

TEST_F(ListenerFixture, AClientThatSaysNothingIsCutOffAtTheFirstMessageDeadline)
{
    m_pListener->SetFirstMessageTimeout(300);
    IXpPipeConnection* silent = Xp::Instance()->NewPipeConnection();
    ASSERT_EQ(silent->Connect("TestPipe"), KXAPI_OK);
    PipeMessenger server(AcceptedConnection(0));
    m_Accepted.clear();
    char* body = nullptr;
    int size = 0;
    unsigned int start = XpUtil::GetTickCount();
    EXPECT_FALSE(server.ReadMsg(body, size, XP_INFINITE));
    EXPECT_LT(XpUtil::GetTickCount() - start, 1000u);

    // Once a client has spoken, waiting for its next message has no deadline of its own.
    PipeMessenger talker;
    ASSERT_TRUE(talker.Init());
    ASSERT_TRUE(talker.Connect("TestPipe"));
    PipeMessenger talkerServer(AcceptedConnection(0));
    m_Accepted.clear();
    char hello[3] = {'h', 'i', '!'};
    ASSERT_TRUE(talker.WriteMsg(hello, 3));
    ASSERT_TRUE(talkerServer.ReadMsg(body, size, 1000));
    free(body);
    usleep(400000);
    ASSERT_TRUE(talker.WriteMsg(hello, 3));
    EXPECT_TRUE(talkerServer.ReadMsg(body, size, 1000));
    free(body);
    delete silent;
}

TEST_F(ListenerFixture, ConnectionsAreCappedPerOwnerOfTheClientFifosAndReleasedOnClose)
{
    if (getuid() != 0)
        GTEST_SKIP() << "needs root to give FIFOs to another owner";
    const unsigned int hog = 65534;
    auto request = [this](const std::string& tag, unsigned int owner, int& replyFd) {
        std::string in = m_Dir.File("in_" + tag);
        std::string out = m_Dir.File("out_" + tag);
        mkfifo(in.c_str(), 0600);
        mkfifo(out.c_str(), 0600);
        chown(in.c_str(), owner, owner);
        chown(out.c_str(), owner, owner);
        replyFd = open(out.c_str(), O_RDONLY | O_NONBLOCK);
        WriteRequest(in.c_str(), in.size(), out.c_str(), out.size());
    };
    auto reply = [](int fd) {
        KXAPI_RESULT result = KXAPI_E_TIMEOUT;
        kxtest::WaitUntil([&] { return read(fd, &result, sizeof(result)) == sizeof(result); }, 2000);
        return result;
    };
    std::vector<int> replyFds;
    for (unsigned int i = 0; i < XP_PIPE_MAX_CONNECTIONS_PER_OWNER; i++) {
        int fd = -1;
        request("hog" + std::to_string(i), hog, fd);
        replyFds.push_back(fd);
    }
    ASSERT_TRUE(kxtest::WaitUntil([&] { return AcceptedCount() == XP_PIPE_MAX_CONNECTIONS_PER_OWNER; }, 10000));
    EXPECT_EQ(XpPipeConnectionLinux::AcceptedConnections(hog), XP_PIPE_MAX_CONNECTIONS_PER_OWNER);
    int refusedFd = -1;
    request("one_too_many", hog, refusedFd);
    EXPECT_EQ(reply(refusedFd), KXAPI_E_OUT_OF_RESOURCES);
    // Another user is still served.
    IXpPipeConnection* other = Xp::Instance()->NewPipeConnection();
    EXPECT_EQ(other->Connect("TestPipe"), KXAPI_OK);
    delete other;
    // Closing the hog's connections releases its share.
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        for (IXpPipeConnection* connection : m_Accepted)
            delete connection;
        m_Accepted.clear();
    }
    EXPECT_EQ(XpPipeConnectionLinux::AcceptedConnections(hog), 0u);
    int againFd = -1;
    request("again", hog, againFd);
    EXPECT_EQ(reply(againFd), KXAPI_OK);
    for (int fd : replyFds)
        close(fd);
    close(refusedFd);
    close(againFd);
}

} // namespace
