// The 3490: two QAM ports on the card's device-level I2C bus, each a TDA10024 demodulator with
// a TDA18252 tuner behind its gate. Port 2's tuner takes its own RF input or, while port 2's
// demodulator holds its control output low, port 1's input through port 1's loop-through. The
// board's IF stage inverts the spectrum.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "SimCardModel.h"
#include "SimTda10024.h"
#include "SimTda18252.h"

namespace {

// The board's wiring, as the 3490's HAL (Kxa3490Hal) drives it.
constexpr int DEMOD_I2C_ADDRESSES[2] = {0x18, 0x1A};
constexpr int TUNER_I2C_ADDRESSES[2] = {192, 198};

// The board's gain chain in the unit of its level reading (tenths of a dBmV): the sum of the
// LNA's offset, the RF AGC word and the IF AGC word maps to the level on two fixed-point
// slopes (16.16), the RF band and the frequency response of each path shift it.
constexpr int LNA_AGC_OFFSETS[8] = {-48, -48, -33, -17, 0, 0, 0, 0};
constexpr int LEVEL_SLOPES[2] = {-119299, -237086};
constexpr int LEVEL_OFFSETS[2] = {309, 636};
constexpr int SEGMENT_EDGE = 182;
constexpr int BAND_OFFSETS[2][8] = {{0, -10, -19, -19, -16, -21, -1, 47}, {16, 4, -1, -3, -2, 2, 23, 70}};
// Frequency response, 54 MHz to 979 MHz in steps of 25 MHz: port 1, port 2 on its own input,
// port 2 through port 1's loop-through.
constexpr int64_t RESPONSE_START_HZ = 54000000;
constexpr int64_t RESPONSE_STEP_HZ = 25000000;
constexpr int RESPONSE_POINTS = 38;
constexpr int RESPONSE[3][RESPONSE_POINTS] = {
    {-44, -42, -44, -48, -40, -48, -35, -41, -39, -41, -45, -47, -26, -24, -27, -27, -27, -28, -28,
     -32, -31, -35, -34, -37, -11, -12, -14, -14, -16, -17, -19, -20, -22, -23, -25, -27, -29, -31},
    {-31, -33, -29, -36, -27, -36, -25, -31, -21, -22, -28, -29, -10, -7,  -11, -12, -11, -17, -15,
     -20, -20, -22, -24, -25, -2,  -2,  -6,  -7,  -10, -10, -12, -14, -15, -16, -17, -18, -20, -21},
    {-23, -23, -19, -24, -17, -25, -14, -18, -7,  -11, -15, -18, 3,   4,   1,   0,   -1,  -5,  -4,
     -11, -11, -13, -15, -17, 7,   7,   4,   3,   1,   -2,  -3,  -6,  -8,  -10, -12, -14, -17, -19},
};
constexpr double DBMV_PER_DBM = 48.8;

// The response at freqHz, interpolated between its points.
double Response(int path, int64_t freqHz)
{
    const int* points = RESPONSE[path];
    if (freqHz <= RESPONSE_START_HZ)
        return points[0];
    const int64_t index = (freqHz - RESPONSE_START_HZ) / RESPONSE_STEP_HZ;
    if (index >= RESPONSE_POINTS - 1)
        return points[RESPONSE_POINTS - 1];
    const double fraction =
        static_cast<double>(freqHz - RESPONSE_START_HZ - index * RESPONSE_STEP_HZ) / RESPONSE_STEP_HZ;
    return points[index] + fraction * (points[index + 1] - points[index]);
}

int LevelOfSum(int sum)
{
    const int segment = sum > SEGMENT_EDGE ? 1 : 0;
    return static_cast<int>(std::floor((static_cast<double>(sum) * LEVEL_SLOPES[segment] + 32768.0) / 65536.0)) +
           LEVEL_OFFSETS[segment];
}

SimGainReadings GainPlan3490(int port, double levelDbm, int band, int64_t tunedHz, int feederAgc1, int heldAgc1)
{
    const bool shared = feederAgc1 >= 0;
    SimGainReadings readings;
    readings.m_Agc1 = heldAgc1 >= 0 ? heldAgc1 : SimTda18252::LnaStep(levelDbm);
    const int lnaIndex = std::min(readings.m_Agc1 + (shared ? feederAgc1 : 0), 7);
    const int path = port == 0 ? 0 : (shared ? 2 : 1);
    // The level the chain must read, before the band and frequency shifts.
    const double wanted =
        (levelDbm + DBMV_PER_DBM) * 10.0 - BAND_OFFSETS[port][std::clamp(band, 0, 7)] + Response(path, tunedHz);
    int bestSum = 0;
    for (int sum = 0; sum <= 700; sum++)
        if (std::fabs(LevelOfSum(sum) - wanted) < std::fabs(LevelOfSum(bestSum) - wanted))
            bestSum = sum;
    const int rest = bestSum - LNA_AGC_OFFSETS[lnaIndex];
    readings.m_Agc2 = std::clamp(rest / 2, 0, 255);
    readings.m_DemodAgc = std::clamp(rest - readings.m_Agc2, 0, 255);
    return readings;
}

SimGainReadings GainPlanPort1(double levelDbm, int band, int64_t tunedHz, int feederAgc1, int heldAgc1)
{
    return GainPlan3490(0, levelDbm, band, tunedHz, feederAgc1, heldAgc1);
}

SimGainReadings GainPlanPort2(double levelDbm, int band, int64_t tunedHz, int feederAgc1, int heldAgc1)
{
    return GainPlan3490(1, levelDbm, band, tunedHz, feederAgc1, heldAgc1);
}

} // namespace

void SimFit3490(SimCard& card)
{
    const SimGainPlan plans[2] = {GainPlanPort1, GainPlanPort2};
    SimTda18252* pTuners[2] = {};
    SimTda10024* pDemods[2] = {};
    for (int port = 0; port < 2; port++) {
        pDemods[port] = new SimTda10024(card, true);
        card.AddI2cDevice(-1, DEMOD_I2C_ADDRESSES[port], pDemods[port]);
        pTuners[port] = new SimTda18252(card, port, pDemods[port], plans[port]);
        card.AddI2cDevice(-1, TUNER_I2C_ADDRESSES[port], pTuners[port]);
        pDemods[port]->SetTuner(pTuners[port]);
    }
    pTuners[1]->SetFeed(pTuners[0], SimTunerFeed::LOOP_THROUGH, pDemods[1]);
}
