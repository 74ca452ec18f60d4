// The demod manager inside KxapiServiceSim, driven through the simulator's control FIFO as a
// test bench would: plug a slow card, power events with and without an attached client,
// unplug; and the start-up failure of the demod manager.
#include <sys/stat.h>

#include "DemodManagerFixture.h"
#include "SimControlProtocol.h"
#include "XpPipeConnectionLinux.h"

using namespace demodtest;
using kxtest::SimService;
using kxtest::UseServiceDir;
using kxtest::WaitUntil;

namespace {

constexpr long long SERIAL_SLOW = 3460000077;

// Points this process's FIFO prefix at the service's directory for the scope.
TEST(DemodManagerProcess, PluggedSlowCardPowerEventsAndUnplugAsClientsSeeThem)
{
    SimService service;
    ASSERT_TRUE(service.Start());
    UseServiceDir dir(service);
    ASSERT_TRUE(kxtest::WaitForPath(service.File("KxSimCtrlPipe"), 5000));
    SimControlClient control;
    ASSERT_EQ(KXAPI_OK, control.Connect());

    // The default scenario's 3460 comes up by itself.
    RawClient holder;
    ASSERT_TRUE(holder.Connected());
    ASSERT_EQ(KXAPI_OK, holder.AttachWhenReady(SERIAL_3460, 1));

    // A card whose initialisation takes 2 s: refused while it initialises, then attached.
    ASSERT_EQ(KXAPI_OK, control.Plug(Card3460(SERIAL_SLOW, 2000)));
    RawClient slow;
    ASSERT_TRUE(slow.Connected());
    EXPECT_EQ(KXAPI_E_NO_SUCH_DEVICE, slow.Attach(SERIAL_SLOW, 1));
    // kxctl waits for it as a user would.
    kxtest::ProcessResult waited = kxtest::RunProgram(
        {KX_KXCTL_BINARY, "--fifo-dir", service.Dir(), "demod", "wait", std::to_string(SERIAL_SLOW), "0",
         "--timeout", "15000"},
        20000);
    EXPECT_EQ(0, waited.m_Status) << waited.m_Output;
    EXPECT_NE(std::string::npos, waited.m_Output.find("port 0: ready after")) << waited.m_Output;
    EXPECT_EQ(KXAPI_OK, slow.Attach(SERIAL_SLOW, 1));
    kxtest::ProcessResult noPort = kxtest::RunProgram(
        {KX_KXCTL_BINARY, "--fifo-dir", service.Dir(), "demod", "wait", std::to_string(SERIAL_SLOW), "1"});
    EXPECT_EQ(1, noPort.m_Status) << noPort.m_Output;
    EXPECT_NE(std::string::npos, noPort.m_Output.find("KXAPI_E_NO_SUCH_PORT")) << noPort.m_Output;
    EXPECT_NE(KXAPI_E_NOT_ATTACHED, slow.PortCommand());

    // Power back on the attached 3460: its holder is still served, newcomers are refused
    // until the holder leaves, then the device comes back.
    ASSERT_EQ(KXAPI_OK, control.Power(SERIAL_3460, true));
    RawClient newcomer;
    ASSERT_TRUE(newcomer.Connected());
    EXPECT_TRUE(WaitUntil([&] { return newcomer.Attach(SERIAL_3460, 1) == KXAPI_E_NO_SUCH_DEVICE; }, EVENT_TIMEOUT_MS));
    EXPECT_NE(KXAPI_E_NOT_ATTACHED, holder.PortCommand());
    EXPECT_EQ(KXAPI_E_NO_SUCH_DEVICE, newcomer.Attach(SERIAL_3460, 1));
    EXPECT_EQ(KXAPI_OK, holder.Detach());
    EXPECT_EQ(KXAPI_OK, newcomer.AttachWhenReady(SERIAL_3460, 1));

    // Unplugged while attached: the connection stays, new attaches are refused for good.
    ASSERT_EQ(KXAPI_OK, control.Unplug(SERIAL_SLOW));
    RawClient late;
    ASSERT_TRUE(late.Connected());
    EXPECT_TRUE(WaitUntil([&] { return late.Attach(SERIAL_SLOW, 1) == KXAPI_E_NO_SUCH_DEVICE; }, EVENT_TIMEOUT_MS));
    EXPECT_EQ(KXAPI_OK, slow.Detach());
    EXPECT_EQ(KXAPI_E_NO_SUCH_DEVICE, late.Attach(SERIAL_SLOW, 1));

    // Stopping with clients attached ends cleanly.
    kxtest::ProcessResult result = service.Stop();
    EXPECT_TRUE(result.m_Exited);
    EXPECT_EQ(0, result.m_Status);
}

TEST(DemodManagerProcess, ADemodFifoThatCannotBeMadeFailsTheStartWithItsLogLine)
{
    SimService service;
    // "<directory>/DemodRecvPipe" does not fit a FIFO path.
    std::string tooLong = kxtest::MakeLongDirectory(service.Dir(), 90);
    ASSERT_TRUE(service.Launch({"--fifo-dir", tooLong}));
    kxtest::ProcessResult result = service.Wait(5000);
    EXPECT_TRUE(result.m_Exited);
    std::string log = service.Log();
    EXPECT_NE(log.find("The demodulator manager failed to initialize."), std::string::npos) << log;
    EXPECT_EQ(log.find("has started successfully"), std::string::npos) << log;
}

} // namespace
