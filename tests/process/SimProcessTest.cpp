// The service as client processes see it: KxapiServiceSim runs in its own process on a
// private FIFO directory and this test program is the client.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "CrossPlatform.h"
#include "KxGlobalSvcClient.h"
#include "KxWire.h"
#include "PipeMessenger.h"
#include "TestSupport.h"
#include "XpPipeConnectionLinux.h"

namespace {

using kxtest::SimService;
using kxtest::UseServiceDir;

const char* const STARTED = "The Kxapi Service (version 3.8.7 Build 96) has started successfully.";
const char* const STOPPED = "The Kxapi Service has stopped.";

// Points this process's FIFO prefix at the service's directory for the scope.
std::vector<uint32_t> Request(PipeMessenger& messenger, std::vector<char> body, bool expectReply = true)
{
    std::vector<uint32_t> words;
    if (!messenger.WriteMsg(body.data(), static_cast<int>(body.size())))
        return {0xDEAD};
    char* reply = nullptr;
    int size = 0;
    if (!messenger.ReadMsg(reply, size, expectReply ? 3000 : 300))
        return words;
    for (int offset = 0; offset + 4 <= size; offset += 4)
        words.push_back(KxGetU32(reply, static_cast<unsigned int>(offset)));
    free(reply);
    return words;
}

std::vector<char> Body(uint32_t command, size_t size)
{
    std::vector<char> body(size, 0);
    KxPutU32(body.data(), 0, command);
    return body;
}

TEST(SimProcess, GlobalFifoAnswersEveryRequestKindAsAClientProcessSeesIt)
{
    SimService service;
    ASSERT_TRUE(service.Start());
    UseServiceDir dir(service);
    PipeMessenger messenger;
    ASSERT_TRUE(messenger.Init());
    ASSERT_TRUE(messenger.Connect("KxGlobalRecvPipe"));

    EXPECT_EQ(Request(messenger, Body(0, 4)), (std::vector<uint32_t>{0, 0, 3, 8, 7, 96}));
    EXPECT_EQ(Request(messenger, Body(1, 268)), (std::vector<uint32_t>{1, 4250}));
    EXPECT_EQ(Request(messenger, Body(1, 264)), (std::vector<uint32_t>{1, 4151}));
    EXPECT_EQ(Request(messenger, Body(5, 4)), (std::vector<uint32_t>{5, 4151}));
    EXPECT_TRUE(Request(messenger, std::vector<char>{9, 9}, false).empty());
    EXPECT_EQ(Request(messenger, Body(0, 4)).size(), 6u);
    EXPECT_TRUE(Request(messenger, Body(0xFFFFFFFF, 4), false).empty());

    kxtest::ProcessResult result = service.Stop(SIGTERM);
    EXPECT_TRUE(result.m_Exited);
    EXPECT_EQ(result.m_Status, 0);
    EXPECT_NE(result.m_Output.find("Received an unknown command ID (5)."), std::string::npos) << result.m_Output;
    EXPECT_EQ(result.m_Output.find("unknown command ID (4294967295)"), std::string::npos);
}

TEST(SimProcess, KxctlPrintsTheVersionOrTheFailureByName)
{
    SimService service;
    ASSERT_TRUE(service.Start());
    kxtest::ProcessResult version = kxtest::RunProgram({KX_KXCTL_BINARY, "--fifo-dir", service.Dir(), "version"});
    EXPECT_EQ(version.m_Status, 0);
    EXPECT_EQ(version.m_Output, "KxapiService 3.8.7 Build 96\n");
    service.Stop();

    kxtest::ProcessResult down = kxtest::RunProgram({KX_KXCTL_BINARY, "--fifo-dir", service.Dir(), "version"});
    EXPECT_EQ(down.m_Status, 3); // no service answers
    EXPECT_NE(down.m_Output.find("KXAPI_E_CONNECT_TO_SERVICE"), std::string::npos) << down.m_Output;

    kxtest::ProcessResult unknown = kxtest::RunProgram({KX_KXCTL_BINARY, "no-such-command"});
    EXPECT_EQ(unknown.m_Status, 2);
}

TEST(SimProcess, SigIntAndSigTermStopCleanlyAndSigPipeNeverKills)
{
    for (int stopSignal : {SIGINT, SIGTERM}) {
        SimService service;
        ASSERT_TRUE(service.Start({service.File("service.pid")}));
        EXPECT_EQ(kxtest::ReadFile(service.File("service.pid")), std::to_string(service.Pid()));
        kill(service.Pid(), SIGPIPE);
        EXPECT_EQ(kxtest::RunProgram({KX_KXCTL_BINARY, "--fifo-dir", service.Dir(), "version"}).m_Status, 0);
        kxtest::ProcessResult result = service.Stop(stopSignal);
        EXPECT_TRUE(result.m_Exited) << stopSignal;
        EXPECT_EQ(result.m_Status, 0);
        size_t started = result.m_Output.find(STARTED);
        size_t stopped = result.m_Output.find(STOPPED);
        EXPECT_NE(started, std::string::npos) << result.m_Output;
        EXPECT_NE(stopped, std::string::npos) << result.m_Output;
        EXPECT_LT(started, stopped);
        EXPECT_NE(access(service.File("service.pid").c_str(), F_OK), 0); // removed on exit
        std::vector<std::string> left = kxtest::ListDir(service.Dir());
        // Named-mutex key files ("sem.*") stay by design: only the semaphore is removed.
        std::erase_if(left, [](const std::string& name) { return name.rfind("sem.", 0) == 0; });
        EXPECT_EQ(left, std::vector<std::string>{"service.log"}); // no FIFO left behind
    }
}

TEST(SimProcess, SigHupKeepsItsDefaultActionAndKillsTheService)
{
    SimService service;
    ASSERT_TRUE(service.Start());
    kxtest::ProcessResult result = service.Stop(SIGHUP);
    EXPECT_FALSE(result.m_Exited);
    EXPECT_EQ(result.m_Signal, SIGHUP);
}

TEST(SimProcess, ClientsThatDieMidMessageCostTheServiceNothing)
{
    SimService service;
    ASSERT_TRUE(service.Start());
    for (int i = 0; i < 5; i++) {
        pid_t pid = fork();
        if (pid == 0) {
            UseServiceDir dir(service);
            IXpPipeConnection* connection = Xp::Instance()->NewPipeConnection();
            if (connection->Connect("KxGlobalRecvPipe") == KXAPI_OK) {
                // Announce a 16-byte body, send 3 bytes of it, and die.
                const char partial[5] = {16, 0, 'a', 'b', 'c'};
                connection->Write(partial, sizeof(partial), 100);
            }
            _exit(0);
        }
        kxtest::WaitChild(pid, 5000);
    }
    UseServiceDir dir(service);
    KxGlobalSvcClient client;
    client.SetReplyTimeout(3000);
    KxServiceVersion version;
    EXPECT_EQ(client.GetServiceVersion(version), KXAPI_OK);
    EXPECT_EQ(service.Stop().m_Status, 0);
}

TEST(SimProcess, AFailedStartUpEndsWithStatusZeroAfterLoggingTheManager)
{
    SimService service;
    // No listener FIFO fits a directory this long, so the first manager cannot start.
    std::string tooLong = kxtest::MakeLongDirectory(service.Dir(), 90);
    ASSERT_TRUE(service.Launch({"--fifo-dir", tooLong, service.File("service.pid")}));
    kxtest::ProcessResult result = service.Wait(5000);
    EXPECT_TRUE(result.m_Exited);
    EXPECT_EQ(result.m_Status, 0);
    std::string log = service.Log();
    EXPECT_NE(log.find("The demodulator manager failed to initialize."), std::string::npos) << log;
    EXPECT_EQ(log.find(STARTED), std::string::npos);
    EXPECT_NE(access(service.File("service.pid").c_str(), F_OK), 0);
}

} // namespace
