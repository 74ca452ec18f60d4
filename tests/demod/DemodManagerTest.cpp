// The demod manager on virtual cards: life cycle, device initialisation on the enumerator
// thread, hot-plug, unplug during initialisation, power events with and without attached
// clients, and Stop while clients are connected.
#include "DemodManagerFixture.h"
#include "SimCardRack.h"
#include "XpUtil.h"

using namespace demodtest;
using kxtest::WaitUntil;

namespace {

constexpr long long SERIAL_PLUGGED = 3460000002;
constexpr long long SERIAL_SLOW = 3460000003;

class DemodManagerRun : public DemodManagerFixture {};

TEST(DemodManagerLifecycle, InitStartAndStopFollowTheirOrder)
{
    kxtest::ScopedIpcDirectory ipc;
    SimEnvironment env;
    std::string error;
    ASSERT_EQ(KXAPI_OK, env.LoadText(Scenario({Card3460(SERIAL_3460)}), error)) << error;
    DemodManager manager;
    EXPECT_FALSE(manager.Start()); // not initialised
    manager.Stop();                // harmless before Start
    ASSERT_TRUE(manager.Init());
    EXPECT_FALSE(manager.Init());
    EXPECT_TRUE(kxtest::WaitForPath(ipc.File("DemodRecvPipe"), 1000));
    ASSERT_TRUE(manager.Start());
    EXPECT_FALSE(manager.Start());
    EXPECT_TRUE(manager.IsRunning());
    manager.Stop();
    EXPECT_FALSE(manager.IsRunning());
    manager.Stop();
    // Stopping released the listener for good: no second start.
    EXPECT_FALSE(manager.Start());
    DemodManager::ControllerInfo info;
    EXPECT_FALSE(manager.GetControllerInfo(SERIAL_3460, info));
}

TEST(DemodManagerLifecycle, InitialisedButNeverStartedManagerIsDestroyedCleanly)
{
    kxtest::ScopedIpcDirectory ipc;
    SimEnvironment env;
    std::string error;
    ASSERT_EQ(KXAPI_OK, env.LoadText(Scenario({Card3460(SERIAL_3460)}), error)) << error;
    {
        DemodManager manager;
        ASSERT_TRUE(manager.Init());
        // Hot-plug events reach a manager that has not started: they only schedule devices.
        std::shared_ptr<SimCard> card;
        ASSERT_EQ(KXAPI_OK, SimParseCard(Card3460(SERIAL_PLUGGED), env.Seed(), card, error)) << error;
        ASSERT_EQ(KXAPI_OK, env.Rack().Plug(card));
        DemodManager::ControllerInfo info;
        EXPECT_FALSE(manager.GetControllerInfo(SERIAL_PLUGGED, info));
    }
    EXPECT_FALSE(kxtest::WaitForPath(ipc.File("DemodRecvPipe"), 0));
}

TEST(DemodManagerLifecycle, StartedAndDestroyedWithoutStopEndsEveryThread)
{
    kxtest::ScopedIpcDirectory ipc;
    SimEnvironment env;
    std::string error;
    ASSERT_EQ(KXAPI_OK, env.LoadText(Scenario({Card3460(SERIAL_3460)}), error)) << error;
    auto manager = std::make_unique<DemodManager>();
    ASSERT_TRUE(manager->Init());
    ASSERT_TRUE(manager->Start());
    RawClient client;
    ASSERT_TRUE(client.Connected());
    EXPECT_EQ(KXAPI_OK, client.AttachWhenReady(SERIAL_3460, 1));
    manager.reset();
    EXPECT_TRUE(client.Receive(200).empty());
}

TEST_F(DemodManagerRun, DevicesFoundAtStartAreInitialisedOnceWithTheMapReference)
{
    DemodManager::ControllerInfo info = Info(SERIAL_3460);
    EXPECT_EQ(1, info.m_RefCount);
    EXPECT_FALSE(info.m_Removed);
    EXPECT_FALSE(m_Manager.IsInitialising(SERIAL_3460));
    RawClient client;
    ASSERT_TRUE(client.Connected());
    EXPECT_EQ(KXAPI_OK, client.Attach(SERIAL_3460, 1));
    EXPECT_EQ(info.m_Generation, Info(SERIAL_3460).m_Generation);
}

TEST_F(DemodManagerRun, HotPlugAddsAndRemovesDevices)
{
    ASSERT_EQ(KXAPI_OK, Plug(Card3460(SERIAL_PLUGGED)));
    ASSERT_TRUE(WaitForController(SERIAL_PLUGGED));
    RawClient client;
    ASSERT_TRUE(client.Connected());
    EXPECT_EQ(KXAPI_OK, client.Attach(SERIAL_PLUGGED, 1));

    // Unplugged while attached: no new attaches, the attached client keeps its reference.
    ASSERT_EQ(KXAPI_OK, m_Env.Rack().Unplug(SERIAL_PLUGGED));
    ASSERT_TRUE(WaitUntil([&] { return Info(SERIAL_PLUGGED).m_Removed; }, EVENT_TIMEOUT_MS));
    EXPECT_EQ(1, Info(SERIAL_PLUGGED).m_RefCount);
    RawClient other;
    ASSERT_TRUE(other.Connected());
    EXPECT_EQ(KXAPI_E_NO_SUCH_DEVICE, other.Attach(SERIAL_PLUGGED, 1));
    // The last holder leaves: the controller is gone, and the device is not coming back.
    EXPECT_EQ(KXAPI_OK, client.Detach());
    EXPECT_TRUE(WaitForNoController(SERIAL_PLUGGED));
    EXPECT_EQ(KXAPI_E_NO_SUCH_DEVICE, other.Attach(SERIAL_PLUGGED, 1));
    // Other devices are untouched.
    EXPECT_EQ(KXAPI_OK, other.Attach(SERIAL_3460, 1));
}

TEST_F(DemodManagerRun, AttachDuringInitialisationAnswersNoSuchDeviceThenSucceeds)
{
    ASSERT_EQ(KXAPI_OK, Plug(Card3460(SERIAL_SLOW, 2000)));
    ASSERT_TRUE(WaitUntil([&] { return m_Manager.IsInitialising(SERIAL_SLOW); }, EVENT_TIMEOUT_MS));
    RawClient client;
    ASSERT_TRUE(client.Connected());
    EXPECT_EQ(KXAPI_E_NO_SUCH_DEVICE, client.Attach(SERIAL_SLOW, 1));
    // Attaches of other devices are not held up by the initialisation.
    EXPECT_EQ(KXAPI_OK, client.Attach(SERIAL_3460, 1));
    EXPECT_EQ(KXAPI_OK, client.AttachWhenReady(SERIAL_SLOW, 1));
    EXPECT_EQ(2, Info(SERIAL_SLOW).m_RefCount);
    EXPECT_EQ(1, Info(SERIAL_3460).m_RefCount); // the re-attach left the first device
}

// Attaches to serials that are not there make the enumerator rescan the driver nodes; the
// rescans are coalesced to one per interval, a serial a rescan did not find is held back for a
// while, and a hot-plug of it lifts that hold at once.
TEST_F(DemodManagerRun, AttachesToUnknownSerialsShareRateLimitedRescans)
{
    constexpr uint64_t NODES_PER_SCAN = 3 * 50;
    constexpr long long FIRST_UNKNOWN = 3460100000;
    RawClient client;
    ASSERT_TRUE(client.Connected());
    const uint64_t opensBefore = m_Env.Rack().NodeOpenCount();
    const unsigned int start = XpUtil::GetTickCount();
    for (int round = 0; round < 3; round++)
        for (long long serial = FIRST_UNKNOWN; serial < FIRST_UNKNOWN + 300; serial++)
            ASSERT_EQ(KXAPI_E_NO_SUCH_DEVICE, client.Attach(serial, 1));
    // Let the last requests be rescanned.
    XpUtil::Sleep(static_cast<int>(2 * DemodManager::RESCAN_INTERVAL_MS));
    const unsigned int elapsedMs = XpUtil::GetTickCount() - start;
    const uint64_t scans = (m_Env.Rack().NodeOpenCount() - opensBefore) / NODES_PER_SCAN;
    EXPECT_GE(scans, 1u);
    EXPECT_LE(scans, elapsedMs / DemodManager::RESCAN_INTERVAL_MS + 1) << "in " << elapsedMs << " ms";

    // Held back: more attaches of a serial that was not found scan nothing.
    const long long missing = FIRST_UNKNOWN + 1000;
    EXPECT_EQ(KXAPI_E_NO_SUCH_DEVICE, client.Attach(missing, 1));
    ASSERT_TRUE(WaitUntil([&] { return m_Manager.IsHeldMissing(missing); }, EVENT_TIMEOUT_MS));
    const uint64_t opensHeld = m_Env.Rack().NodeOpenCount();
    for (int i = 0; i < 50; i++)
        EXPECT_EQ(KXAPI_E_NO_SUCH_DEVICE, client.Attach(missing, 1));
    XpUtil::Sleep(static_cast<int>(DemodManager::RESCAN_INTERVAL_MS + 200));
    if (m_Manager.IsHeldMissing(missing)) { // still within the hold (not on a very slow run)
        EXPECT_EQ(opensHeld, m_Env.Rack().NodeOpenCount());
    }

    // Plugged now: the hot-plug brings it up at once, attaches that wait for it succeed.
    ASSERT_EQ(KXAPI_OK, Plug(Card3460(missing)));
    EXPECT_EQ(KXAPI_OK, client.AttachWhenReady(missing, 1));
    EXPECT_FALSE(m_Manager.IsHeldMissing(missing));
}

TEST_F(DemodManagerRun, UnplugDuringInitialisationAbortsItAndLeavesNoController)
{
    ASSERT_EQ(KXAPI_OK, Plug(Card3460(SERIAL_SLOW, 3000)));
    ASSERT_TRUE(WaitUntil([&] { return m_Manager.IsInitialising(SERIAL_SLOW); }, EVENT_TIMEOUT_MS));
    ASSERT_EQ(KXAPI_OK, m_Env.Rack().Unplug(SERIAL_SLOW));
    // The abort waits at most 10 s for the initialisation to give up.
    EXPECT_TRUE(WaitUntil([&] { return !m_Manager.IsInitialising(SERIAL_SLOW); }, 11000));
    DemodManager::ControllerInfo info;
    EXPECT_FALSE(m_Manager.GetControllerInfo(SERIAL_SLOW, info));
    RawClient client;
    ASSERT_TRUE(client.Connected());
    EXPECT_EQ(KXAPI_E_NO_SUCH_DEVICE, client.Attach(SERIAL_SLOW, 1));
    // The enumerator is free again: a newly plugged device comes up.
    ASSERT_EQ(KXAPI_OK, Plug(Card3460(SERIAL_PLUGGED)));
    EXPECT_EQ(KXAPI_OK, client.AttachWhenReady(SERIAL_PLUGGED, 1));
    EXPECT_FALSE(m_Manager.GetControllerInfo(SERIAL_SLOW, info));
}

TEST_F(DemodManagerRun, PowerEventWithoutClientsReinitialisesTheDeviceAtOnce)
{
    unsigned int before = Info(SERIAL_3460).m_Generation;
    ASSERT_EQ(KXAPI_OK, m_Env.Rack().RaisePowerEvent(SERIAL_3460, SIM_DRIVER_POWER_ON));
    ASSERT_TRUE(WaitUntil(
        [&] {
            DemodManager::ControllerInfo info;
            return m_Manager.GetControllerInfo(SERIAL_3460, info) && info.m_Generation != before;
        },
        EVENT_TIMEOUT_MS));
    DemodManager::ControllerInfo info = Info(SERIAL_3460);
    EXPECT_EQ(1, info.m_RefCount);
    EXPECT_FALSE(info.m_Removed);
    RawClient client;
    ASSERT_TRUE(client.Connected());
    EXPECT_EQ(KXAPI_OK, client.AttachWhenReady(SERIAL_3460, 1));
    EXPECT_NE(KXAPI_E_NOT_ATTACHED, client.PortCommand());
}

TEST_F(DemodManagerRun, PowerEventWithAnAttachedClientRetiresTheControllerUntilItsLastHolderLeaves)
{
    RawClient holder;
    ASSERT_TRUE(holder.Connected());
    ASSERT_EQ(KXAPI_OK, holder.Attach(SERIAL_3460, 1));
    unsigned int before = Info(SERIAL_3460).m_Generation;

    ASSERT_EQ(KXAPI_OK, m_Env.Rack().RaisePowerEvent(SERIAL_3460, SIM_DRIVER_POWER_ON));
    ASSERT_TRUE(WaitUntil([&] { return Info(SERIAL_3460).m_Removed; }, EVENT_TIMEOUT_MS));
    // The holder keeps its connection to the retired controller and is still served.
    EXPECT_EQ(1, Info(SERIAL_3460).m_RefCount);
    EXPECT_EQ(before, Info(SERIAL_3460).m_Generation);
    EXPECT_NE(KXAPI_E_NOT_ATTACHED, holder.PortCommand());
    // New attaches are refused while it holds the controller.
    RawClient newcomer;
    ASSERT_TRUE(newcomer.Connected());
    EXPECT_EQ(KXAPI_E_NO_SUCH_DEVICE, newcomer.Attach(SERIAL_3460, 1));
    EXPECT_EQ(KXAPI_E_NO_SUCH_DEVICE, newcomer.Attach(SERIAL_3460, 1));
    EXPECT_TRUE(Info(SERIAL_3460).m_Removed);

    // The last holder leaves: the retired controller goes; the first attach after that
    // schedules a fresh initialisation and is refused itself; a later one succeeds.
    EXPECT_EQ(KXAPI_OK, holder.Detach());
    EXPECT_TRUE(WaitForNoController(SERIAL_3460));
    EXPECT_EQ(KXAPI_E_NO_SUCH_DEVICE, newcomer.Attach(SERIAL_3460, 1));
    EXPECT_EQ(KXAPI_OK, newcomer.AttachWhenReady(SERIAL_3460, 1));
    DemodManager::ControllerInfo info = Info(SERIAL_3460);
    EXPECT_NE(before, info.m_Generation);
    EXPECT_FALSE(info.m_Removed);
    EXPECT_EQ(2, info.m_RefCount);
}

TEST_F(DemodManagerRun, PowerEventThenUnplugNeverTakesTheHoldersReference)
{
    RawClient holder;
    ASSERT_TRUE(holder.Connected());
    ASSERT_EQ(KXAPI_OK, holder.Attach(SERIAL_3460, 1));
    ASSERT_EQ(KXAPI_OK, m_Env.Rack().RaisePowerEvent(SERIAL_3460, SIM_DRIVER_POWER_ON));
    ASSERT_TRUE(WaitUntil([&] { return Info(SERIAL_3460).m_Removed; }, EVENT_TIMEOUT_MS));
    ASSERT_EQ(KXAPI_OK, m_Env.Rack().Unplug(SERIAL_3460));
    // Hot-plug events arrive in order: once the card plugged after the unplug is up, the
    // removal has been handled.
    ASSERT_EQ(KXAPI_OK, Plug(Card3460(SERIAL_PLUGGED)));
    ASSERT_TRUE(WaitForController(SERIAL_PLUGGED));
    // The removal after the retirement dropped nothing more: the holder's reference stays.
    RawClient probe;
    ASSERT_TRUE(probe.Connected());
    EXPECT_EQ(KXAPI_E_NO_SUCH_DEVICE, probe.Attach(SERIAL_3460, 1));
    EXPECT_EQ(1, Info(SERIAL_3460).m_RefCount);
    EXPECT_TRUE(Info(SERIAL_3460).m_Removed);
    EXPECT_NE(KXAPI_E_NOT_ATTACHED, holder.PortCommand());
    EXPECT_EQ(KXAPI_OK, holder.Detach());
    EXPECT_TRUE(WaitForNoController(SERIAL_3460));
}

TEST_F(DemodManagerRun, StopReturnsWhileClientsAreConnectedAndEndsTheirConnections)
{
    ASSERT_EQ(KXAPI_OK, Plug(Card3460(SERIAL_PLUGGED)));
    ASSERT_TRUE(WaitForController(SERIAL_PLUGGED));
    RawClient first, second, idle;
    ASSERT_TRUE(first.Connected() && second.Connected() && idle.Connected());
    ASSERT_EQ(KXAPI_OK, first.Attach(SERIAL_3460, 1));
    ASSERT_EQ(KXAPI_OK, second.Attach(SERIAL_PLUGGED, 1));
    EXPECT_TRUE(WaitUntil([&] { return m_Manager.HandlerCount() == 3; }, EVENT_TIMEOUT_MS));

    m_Manager.Stop();
    EXPECT_FALSE(m_Manager.IsRunning());
    EXPECT_EQ(0u, m_Manager.HandlerCount());
    DemodManager::ControllerInfo info;
    EXPECT_FALSE(m_Manager.GetControllerInfo(SERIAL_3460, info));
    EXPECT_FALSE(m_Manager.GetControllerInfo(SERIAL_PLUGGED, info));
    // The service side of every connection is closed: nothing answers any more.
    EXPECT_TRUE(first.Transfer(Kxapi::DemodBuildCodeOnly(KXAPI_SVC_CMD_VERSION)).empty());
    EXPECT_TRUE(idle.Transfer(Kxapi::DemodBuildCodeOnly(KXAPI_SVC_CMD_VERSION)).empty());
}

TEST_F(DemodManagerRun, StopDuringAnInitialisationAbortsIt)
{
    ASSERT_EQ(KXAPI_OK, Plug(Card3460(SERIAL_SLOW, 3000)));
    ASSERT_TRUE(WaitUntil([&] { return m_Manager.IsInitialising(SERIAL_SLOW); }, EVENT_TIMEOUT_MS));
    m_Manager.Stop();
    EXPECT_FALSE(m_Manager.IsInitialising(SERIAL_SLOW));
    DemodManager::ControllerInfo info;
    EXPECT_FALSE(m_Manager.GetControllerInfo(SERIAL_SLOW, info));
}

} // namespace
