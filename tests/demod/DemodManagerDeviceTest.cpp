// The device controller the demod manager keeps per receiver device, on virtual cards:
// initialisation by model, the ports it forwards to, and aborting a slow initialisation.
#include "DemodDeviceController.h"
#include "DemodManagerFixture.h"
#include "XpUtil.h"

#include <unistd.h>

using namespace demodtest;

namespace {

constexpr long long SERIAL_SLOW = 3460000009;
constexpr long long SERIAL_3470 = 3470000001;

class NullClient : public IDemodPortClient {
public:
    void DemodCmdProcessedCB(const void*, unsigned short) override {}
    unsigned int ClientFifoOwner() const override { return getuid(); }
};

class DemodDeviceControllerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_EQ(KXAPI_OK, m_Env.LoadText(Scenario({Card3460(SERIAL_3460), Card3460(SERIAL_SLOW, 2000),
                                                      "{\"model\": 3470, \"serial\": 3470000001}"}),
                                           error))
            << error;
    }
    kxtest::ScopedIpcDirectory m_Ipc;
    SimEnvironment m_Env;
};

TEST_F(DemodDeviceControllerTest, AReceiverComesUpWithOnePortControllerPerPort)
{
    DemodDeviceController controller(SERIAL_3460);
    EXPECT_TRUE(controller.IsInitBusy()); // busy from construction
    ASSERT_TRUE(controller.Init());
    EXPECT_FALSE(controller.IsInitBusy());
    EXPECT_EQ(1, controller.NumPorts());
    NullClient client;
    EXPECT_TRUE(controller.Attach(1));
    EXPECT_TRUE(controller.Detach(1, &client));
    // Ports outside 1..N are refused, never indexed.
    EXPECT_FALSE(controller.Attach(0));
    EXPECT_FALSE(controller.Attach(2));
    EXPECT_FALSE(controller.Detach(2, &client));
    EXPECT_TRUE(controller.RegisterEventCallBackFunction([](int, const KxEventArgs*) {}, nullptr));
    EXPECT_FALSE(controller.RegisterEventCallBackFunction([](int, const KxEventArgs*) {}, nullptr));
    controller.CleanUp();
    EXPECT_EQ(0, controller.NumPorts());
    controller.CleanUp(); // twice is harmless
}

TEST_F(DemodDeviceControllerTest, MissingDevicesAndModelsWithoutAHalAreRefused)
{
    DemodDeviceController missing(123456);
    EXPECT_FALSE(missing.Init());
    EXPECT_FALSE(missing.IsInitBusy());
    EXPECT_EQ(0, missing.NumPorts());
    // The 3470's HAL is not part of this build: its Init refuses and nothing stays behind.
    DemodDeviceController unavailable(SERIAL_3470);
    EXPECT_FALSE(unavailable.Init());
    EXPECT_FALSE(unavailable.IsInitBusy());
    EXPECT_EQ(0, unavailable.NumPorts());
}

TEST_F(DemodDeviceControllerTest, AbortInitMakesASlowInitialisationGiveUp)
{
    DemodDeviceController controller(SERIAL_SLOW);
    // Another device's serial is ignored.
    controller.AbortInit(SERIAL_3460);
    EXPECT_EQ(DemodDeviceController::ABORT_NONE, controller.AbortState());

    std::atomic<int> initResult{-1};
    std::thread init([&] { initResult = controller.Init() ? 1 : 0; });
    // Most likely inside the 2 s tuner start by now; earlier or later, Init must give up.
    XpUtil::Sleep(200);
    controller.AbortInit(SERIAL_SLOW); // returns once Init has given up (at most 10 s)
    EXPECT_EQ(DemodDeviceController::ABORT_COMPLETED, controller.AbortState());
    EXPECT_FALSE(controller.IsInitBusy());
    init.join();
    EXPECT_EQ(0, initResult.load());
    EXPECT_EQ(0, controller.NumPorts());
}

TEST_F(DemodDeviceControllerTest, AbortInitOfAnIdleControllerReturnsAtOnce)
{
    DemodDeviceController controller(SERIAL_3460);
    ASSERT_TRUE(controller.Init());
    controller.AbortInit(SERIAL_3460);
    EXPECT_EQ(DemodDeviceController::ABORT_COMPLETED, controller.AbortState());
    // The ports keep working: the abort only concerns a running initialisation.
    EXPECT_TRUE(controller.Attach(1));
}

} // namespace
