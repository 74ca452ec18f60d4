// Names and files a hostile client hands the service: nothing outside the FIFO directory is ever
// created, opened for writing or removed, whatever names, links or FIFOs it plants.
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "HostileClientFixture.h"
#include "KxWire.h"
#include "KxeListDefs.h"

namespace hostile {
namespace {

// Registers `name` for device events on a fresh network-device connection; the result.
KXAPI_RESULT RegisterNetworkEvents(const std::string& name)
{
    PipeMessenger messenger;
    if (!messenger.Init() || !messenger.Connect("KxeRecvPipe"))
        return KXAPI_E_CONNECT_TO_SERVICE;
    char request[4 + 4 * KXE_EVENT_NAME_CHARS + 4] = {};
    KxPutU32(request, 0, KXE_CMD_EVENT_REGISTER);
    for (size_t i = 0; i < name.size() && i < KXE_EVENT_NAME_CHARS - 1; i++)
        KxPutU32(request, static_cast<unsigned int>(4 + 4 * i), static_cast<unsigned char>(name[i]));
    KxPutU32(request, 4 + 4 * KXE_EVENT_NAME_CHARS, 3);
    if (!messenger.WriteMsg(request, sizeof(request)))
        return KXAPI_E_COMMUNICATION;
    char* reply = nullptr;
    int size = 0;
    if (!messenger.ReadMsg(reply, size, 3000))
        return KXAPI_E_TIMEOUT;
    KXAPI_RESULT result = size >= 8 ? KxGetU32(reply, 4) : KXAPI_E_INTERNAL;
    free(reply);
    return result;
}

// Registers `name` as the event FIFO of an attached demod connection; the result.
KXAPI_RESULT RegisterDemodEvents(const std::string& name)
{
    RawDemodConnection connection;
    if (!connection.Open() || connection.Svc().Attach(SERIAL_3460, 0, 0) != KXAPI_OK)
        return KXAPI_E_CONNECT_TO_SERVICE;
    return connection.Svc().EventPipeRegister(std::wstring(name.begin(), name.end()), 3);
}

// Bytes waiting in a FIFO the test holds open for reading, after `waitMs`.
ssize_t BytesArriving(int fd, unsigned int waitMs)
{
    usleep(waitMs * 1000);
    char buffer[256];
    ssize_t n = read(fd, buffer, sizeof(buffer));
    return n < 0 && errno == EAGAIN ? 0 : n;
}

TEST_F(HostileServiceTest, EventNamesLeavingTheFifoDirectoryAreRefusedAndCreateNothing)
{
    VictimFile victim;
    // A subdirectory of the FIFO directory that leads to the victim's directory.
    ASSERT_EQ(symlink(victim.Dir().c_str(), Fifo("SubDir").c_str()), 0);
    std::string relative = "../" + victim.Dir().substr(victim.Dir().rfind('/') + 1) + "/target";
    for (const std::string& name : {relative, std::string("SubDir/target"), std::string("../../") + victim.Path(),
                                    std::string(".."), std::string("a b")}) {
        EXPECT_NE(RegisterDemodEvents(name), KXAPI_OK) << name;
        EXPECT_NE(RegisterNetworkEvents(name), KXAPI_OK) << name;
        EXPECT_TRUE(victim.Intact()) << name;
    }
    EXPECT_TRUE(WellBehavedClientIsServed());
}

TEST_F(HostileServiceTest, LinksPlantedUnderLegalEventNamesAreNeverFollowed)
{
    VictimFile victim;
    // The symbolic link planted as an unprivileged user would plant it.
    std::string planted = Fifo("KxapiDemodSvc_EvPipe_1_1_1_1");
    ASSERT_EQ(RunAsNobody([&] { return symlink(victim.Path().c_str(), planted.c_str()) == 0 ? 0 : 1; }), 0);
    ASSERT_EQ(link(victim.Path().c_str(), Fifo("KxapiKxeSvc_EvPipe_1").c_str()), 0);
    for (const char* name : {"KxapiDemodSvc_EvPipe_1_1_1_1", "KxapiKxeSvc_EvPipe_1"}) {
        EXPECT_NE(RegisterDemodEvents(name), KXAPI_OK) << name;
        EXPECT_NE(RegisterNetworkEvents(name), KXAPI_OK) << name;
    }
    unlink(Fifo("KxapiKxeSvc_EvPipe_1").c_str()); // the hard link shares the victim's inode
    EXPECT_TRUE(victim.Intact());
    EXPECT_TRUE(WellBehavedClientIsServed());
}

TEST_F(HostileServiceTest, EventFifoOfAnotherUserIsRefused)
{
    // The client's connection FIFOs are root's (this test runs as root); an event FIFO that
    // belongs to somebody else is not written into, even with a listener behind it.
    std::string name = "KxapiDemodSvc_EvPipe_someone_else";
    ASSERT_TRUE(MakeFifoOwnedBy(Fifo(name), NOBODY_UID));
    int reader = open(Fifo(name).c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EXPECT_NE(RegisterDemodEvents(name), KXAPI_OK);
    EXPECT_NE(RegisterNetworkEvents(name), KXAPI_OK);
    EXPECT_EQ(BytesArriving(reader, 200), 0);
    close(reader);
    EXPECT_TRUE(WellBehavedClientIsServed());
}

TEST_F(HostileServiceTest, ConnectionRequestsGetNoReplyInAFifoTheClientDoesNotOwn)
{
    std::string listener = Fifo("DemodRecvPipe");
    // The attacker (nobody) names its own FIFO to read from and root's FIFO to write into.
    std::string own = Fifo("attacker_in");
    std::string rootsFifo = Fifo("root_private");
    ASSERT_TRUE(MakeFifoOwnedBy(own, NOBODY_UID));
    ASSERT_TRUE(MakeFifoOwnedBy(rootsFifo, 0));
    int victimReader = open(rootsFifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(victimReader, 0);
    ASSERT_TRUE(SendConnectionRequest(listener, own, rootsFifo));
    EXPECT_EQ(BytesArriving(victimReader, 700), 0);

    // Naming one of the service's own listeners as the FIFO to read from is refused too: the
    // handler would steal everybody's connection requests.
    ASSERT_TRUE(SendConnectionRequest(listener, Fifo("KxeRecvPipe"), rootsFifo));
    EXPECT_EQ(BytesArriving(victimReader, 700), 0);
    close(victimReader);

    // The same request with both FIFOs of one user is answered.
    std::string ownReply = Fifo("attacker_out");
    ASSERT_TRUE(MakeFifoOwnedBy(ownReply, NOBODY_UID));
    int replyReader = open(ownReply.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(replyReader, 0);
    int keepWriter = open(own.c_str(), O_RDWR | O_NONBLOCK); // the client end stays open
    ASSERT_TRUE(SendConnectionRequest(listener, own, ownReply));
    EXPECT_EQ(BytesArriving(replyReader, 700), 4);
    close(replyReader);
    close(keepWriter);
    EXPECT_TRUE(WellBehavedClientIsServed());
}

TEST(HostileStartUp, DirectoriesPlantedAtListenerAndKeyFilePathsDoNotStopTheService)
{
    kxtest::SimService service;
    const std::string shmKey = "KxeList_Buf_59BEC4D2_A3E5_42d6_9984_6EC862CFAC2A";
    const std::string mutexKey = "sem.KxeList_Mutex_59BEC4D2_A3E5_42d6_9984_6EC862CFAC2A";
    for (const std::string& name : {std::string("DemodRecvPipe"), shmKey, mutexKey}) {
        ASSERT_EQ(mkdir(service.File(name).c_str(), 0700), 0) << name;
        ASSERT_EQ(mkdir(service.File(name + "/busy").c_str(), 0700), 0) << name;
    }
    ASSERT_TRUE(service.Start()) << service.Log();
    {
        kxtest::UseServiceDir dir(service);
        RawDemodConnection connection;
        EXPECT_TRUE(connection.Open());
    }
    std::string log = service.Log();
    EXPECT_NE(log.find("The path " + service.File("DemodRecvPipe") + " was taken by something"), std::string::npos)
        << log;
    EXPECT_NE(log.find("The path " + service.File(shmKey) + " was taken"), std::string::npos) << log;
    EXPECT_EQ(service.Stop().m_Status, 0) << service.Log();
}

} // namespace
} // namespace hostile
