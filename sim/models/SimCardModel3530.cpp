// The 3530 cards. Sub-type 1 (the QAM card on the legacy PCIe driver): twelve ports in three
// groups of four, each port with a TDA10024 demodulator and a TDA18252 tuner behind its gate on
// the port's own I2C bus; the first tuner of a group feeds the group's other three through its
// master output, and the board's temperature sensor sits on the device-level bus. Sub-types 2
// and 3: block-driver cards with one I2C master per port.
#include <algorithm>
#include <cmath>

#include "SimBlockModels.h"
#include "SimBoardTempSensor.h"
#include "SimCardModel.h"
#include "SimTda10024.h"
#include "SimTda18252.h"

namespace {

// The board's wiring, as the 3530's HAL (Kx3530Hal) drives it.
constexpr int DEMOD_I2C_ADDRESS = 0x1C;
constexpr int TUNER_I2C_ADDRESS = 192;
constexpr int TEMP_SENSOR_I2C_ADDRESS = 94;
constexpr int PORTS_PER_GROUP = 4;
constexpr double BOARD_TEMP_C = 39.0;

// The board's gain chain: the LNA (3 dB + 3 dB per step) takes large steps by input level, the
// RF AGC (0.2 dB per step) and the demodulator's IF AGC (0.3 dB per step) share the rest about
// equally; the total gain brings the signal to a fixed level at the demodulator. A fed tuner
// gets its input from the master's LNA through a 5.6 dB splitter. The band's gain ripple
// (dB, by RF band) adds to what the chain must make up.
constexpr double BAND_RIPPLE_DB[8] = {2.0, 1.0, 0.0, 0.0, 0.0, 0.0, -1.0, 3.0};
constexpr double REFERENCE_DB = 3.1;

double LnaGainDb(int step)
{
    return 3.0 + 3.0 * step;
}

SimGainReadings GainPlan3530(double levelDbm, int band, int64_t, int masterAgc1, int heldAgc1)
{
    double gainDb = BAND_RIPPLE_DB[std::clamp(band, 0, 7)] - levelDbm;
    double inputDbm = levelDbm;
    if (masterAgc1 >= 0) {
        const double masterGain = LnaGainDb(masterAgc1) - SimTda18252::MASTER_SPLIT_LOSS_DB;
        gainDb -= masterGain;
        inputDbm += masterGain;
    }
    SimGainReadings readings;
    readings.m_Agc1 = heldAgc1 >= 0 ? heldAgc1 : SimTda18252::LnaStep(inputDbm);
    const double rest = gainDb - LnaGainDb(readings.m_Agc1) + REFERENCE_DB;
    readings.m_DemodAgc = std::clamp(static_cast<int>(std::lround(rest * 0.5 / 0.3)), 0, 255);
    readings.m_Agc2 = std::clamp(static_cast<int>(std::lround((rest - readings.m_DemodAgc * 0.3) / 0.2)), 0, 255);
    return readings;
}

} // namespace

void SimFit3530(SimCard& card)
{
    card.AddI2cDevice(-1, TEMP_SENSOR_I2C_ADDRESS, new SimBoardTempSensor(card, BOARD_TEMP_C));
    SimTda18252* pMaster = nullptr;
    for (int port = 0; port < card.m_NumPorts; port++) {
        auto* pDemod = new SimTda10024(card);
        card.AddI2cDevice(port, DEMOD_I2C_ADDRESS, pDemod);
        const bool first = port % PORTS_PER_GROUP == 0;
        auto* pTuner = new SimTda18252(card, port, pDemod, GainPlan3530);
        if (!first)
            pTuner->SetFeed(pMaster, SimTunerFeed::MASTER_OUTPUT);
        card.AddI2cDevice(port, TUNER_I2C_ADDRESS, pTuner);
        pDemod->SetTuner(pTuner);
        if (first)
            pMaster = pTuner;
    }
}

void SimFit3530BlockDriver(SimCard& card)
{
    SimInstallBlockDriverModels(card);
}
