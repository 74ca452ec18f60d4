// Hostile clients of the network-device side of KxapiServiceSim: the shared device list and
// its named mutex, and the VPD cache. After each attack a well-behaved network client (and
// the demod client of the fixture) must still be served within a bound.
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <grp.h>
#include <string>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <unistd.h>

#include "HostileClientFixture.h"
#include "KxeListDefs.h"
#include "KxeSvcClient.h"
#include "XpUtil.h"
#include "network/KxeVpdCache.h"

namespace hostile {
namespace {

// The service overrules a held list mutex after its 5 s wait; a forced cycle ends by then.
constexpr unsigned int RECOVERY_WITHIN_MS = 12000;

int ParseKey(const std::string& text)
{
    return static_cast<int>(strtol(text.c_str(), nullptr, 10));
}

class NetworkAttackTest : public HostileServiceTest {
protected:
    void SetUp() override
    {
        HostileServiceTest::SetUp();
        if (HasFatalFailure())
            return;
        KxeSvcClient client;
        ASSERT_EQ(KXAPI_OK, client.GetListKeys(m_ShmKey, m_MutexKey));
    }

    // A network client connects, reads the version and the published list, and the demod
    // client of the fixture is served, all within SERVED_WITHIN_MS.
    ::testing::AssertionResult NetworkClientIsServed()
    {
        const unsigned int start = XpUtil::GetTickCount();
        KxeSvcClient client;
        client.SetReplyTimeout(SERVED_WITHIN_MS);
        KXAPI_RESULT result = client.Open();
        if (result != KXAPI_OK)
            return ::testing::AssertionFailure() << "network version: " << KxapiResult2Str(result);
        KxeListSnapshot list;
        result = client.ReadDeviceList(list);
        if (result != KXAPI_OK)
            return ::testing::AssertionFailure() << "device list: " << KxapiResult2Str(result);
        if (list.m_Version != KXE_LIST_VERSION || list.m_Capacity != KXE_LIST_CAPACITY)
            return ::testing::AssertionFailure() << "list header " << list.m_Version << "/" << list.m_Capacity;
        const unsigned int took = XpUtil::GetTickCount() - start;
        if (took > SERVED_WITHIN_MS)
            return ::testing::AssertionFailure() << "network client served only after " << took << " ms";
        return WellBehavedClientIsServed();
    }

    std::string m_ShmKey;
    std::string m_MutexKey;
};

TEST_F(NetworkAttackTest, AnyUserCanReadTheListButNobodyButTheServiceCanWriteIt)
{
    const int key = ParseKey(m_ShmKey);
    // 0: read-only attach works and shows the list; 1: a writable attach was refused.
    int status = RunAsNobody([key]() {
        int id = shmget(key, KXE_LIST_SHMEM_SIZE, 0);
        if (id < 0)
            return 10;
        void* writable = shmat(id, nullptr, 0);
        if (writable != reinterpret_cast<void*>(-1)) {
            // The attack: a fake device in slot 0, counted.
            static_cast<uint32_t*>(writable)[KXE_LIST_OFFS_COUNT / 4] = 1;
            return 20;
        }
        if (errno != EACCES)
            return 30;
        void* readable = shmat(id, nullptr, SHM_RDONLY);
        if (readable == reinterpret_cast<void*>(-1))
            return 40;
        return static_cast<const uint32_t*>(readable)[KXE_LIST_OFFS_VERSION / 4] == KXE_LIST_VERSION ? 0 : 50;
    });
    EXPECT_EQ(0, status) << "10: no access, 20: written, 30: other error, 40/50: not readable";
    KxeSvcClient reader;
    KxeListSnapshot list;
    ASSERT_EQ(KXAPI_OK, reader.ReadDeviceList(list));
    EXPECT_EQ(0u, list.m_Count);
    EXPECT_TRUE(NetworkClientIsServed());
}

// How an unprivileged process can block the list's semaphore, which every reader must be able
// to take: set it to "taken" for good, or take it and never give it back.
struct SemaphoreAttack {
    const char* m_pName;
    bool m_StayAlive; // the attacker keeps running (and holding) during the test
};

class ListMutexAttackTest : public NetworkAttackTest, public ::testing::WithParamInterface<SemaphoreAttack> {};

TEST_P(ListMutexAttackTest, TheServiceSetsTheMutexFreeAndReadersRecover)
{
    const int key = ParseKey(m_MutexKey);
    const bool stay = GetParam().m_StayAlive;
    pid_t attacker = fork();
    if (attacker == 0) {
        if (!BecomeNobody())
            _exit(100);
        int id = semget(key, 1, 0);
        if (id < 0)
            _exit(10);
        if (stay) {
            sembuf take{0, -1, SEM_UNDO};
            if (semop(id, &take, 1) != 0)
                _exit(20);
            sleep(60);
            _exit(0);
        }
        union {
            int m_Value;
        } zero{0};
        _exit(semctl(id, 0, SETVAL, zero) == 0 ? 0 : 30);
    }
    ASSERT_GT(attacker, 0);
    if (!stay) {
        kxtest::ProcessResult result = kxtest::WaitChild(attacker, 5000);
        ASSERT_TRUE(result.m_Exited);
        ASSERT_EQ(0, result.m_Status) << "the attack itself failed";
    } else {
        // Wait until the attacker holds the semaphore.
        int id = semget(key, 1, 0);
        ASSERT_GE(id, 0);
        ASSERT_TRUE(kxtest::WaitUntil([id] { return semctl(id, 0, GETVAL) == 0; }, 5000));
    }
    // The attack works against a reader alone...
    KxeSvcClient reader;
    KxeListSnapshot list;
    EXPECT_EQ(KXAPI_E_TIMEOUT, reader.ReadDeviceList(list));
    // ...until the service's next cycle, which sets the mutex free (bounded by its 5 s wait).
    const unsigned int start = XpUtil::GetTickCount();
    EXPECT_EQ(KXAPI_OK, reader.ForceDiscovery());
    EXPECT_LT(XpUtil::GetTickCount() - start, RECOVERY_WITHIN_MS);
    EXPECT_TRUE(NetworkClientIsServed());
    EXPECT_NE(std::string::npos, m_Service.Log().find("has been set free")) << m_Service.Log();
    if (stay) {
        kill(attacker, SIGKILL);
        kxtest::WaitChild(attacker, 5000);
        // The attacker's exit does not push the semaphore above "free".
        int id = semget(key, 1, 0);
        EXPECT_EQ(1, semctl(id, 0, GETVAL));
    }
}

INSTANTIATE_TEST_SUITE_P(Attacks, ListMutexAttackTest,
                         ::testing::Values(SemaphoreAttack{"ZeroedByAnotherUser", false},
                                           SemaphoreAttack{"HeldByALiveProcess", true}),
                         [](const ::testing::TestParamInfo<SemaphoreAttack>& info) { return info.param.m_pName; });

TEST_F(NetworkAttackTest, VpdUpdatesWithEverNewSerialsEvictTheOldestItems)
{
    KxeSvcClient attacker;
    const uint8_t data[4] = {1, 2, 3, 4};
    const int64_t firstSerial = 7700000000;
    const int total = static_cast<int>(KXE_VPD_MAX_ITEMS) + 100;
    for (int i = 0; i < total; ++i)
        ASSERT_EQ(KXAPI_OK, attacker.VpdUpdate(firstSerial + i, 0, "EC", data, sizeof(data), true)) << i;
    std::vector<uint8_t> read;
    EXPECT_EQ(KXAPI_E_NO_SUCH_DATA, attacker.VpdRead(firstSerial, 0, "EC", read)) << "the oldest item was evicted";
    EXPECT_EQ(KXAPI_OK, attacker.VpdRead(firstSerial + total - 1, 0, "EC", read));
    EXPECT_EQ(std::vector<uint8_t>(data, data + 4), read);

    // Ever new keywords of one serial stay within that serial's share.
    for (int i = 0; i < static_cast<int>(KXE_VPD_MAX_ITEMS_PER_SERIAL) + 10; ++i) {
        const std::string keyword = "K" + std::to_string(i);
        ASSERT_EQ(KXAPI_OK, attacker.VpdUpdate(1, 0, keyword.c_str(), data, sizeof(data), true));
    }
    EXPECT_EQ(KXAPI_E_NO_SUCH_DATA, attacker.VpdRead(1, 0, "K0", read));
    EXPECT_EQ(KXAPI_E_NO_SUCH_DATA, attacker.VpdRead(1, 0, "K9", read)) << "the first ten keywords made room";
    EXPECT_EQ(KXAPI_OK, attacker.VpdRead(1, 0, "K10", read));
    EXPECT_TRUE(NetworkClientIsServed());
}

} // namespace
} // namespace hostile
