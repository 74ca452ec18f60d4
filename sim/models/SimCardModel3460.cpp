// The 3460: one TDA18273 tuner on the device-level I2C bus, fed by RF input 0.
#include "SimCardModel.h"
#include "SimTda18273.h"

namespace {

// The board's wiring: the I2C address word the 3460's HAL (Kxa3460Hal) drives its tuner at.
constexpr int TUNER_I2C_ADDRESS = 448;

} // namespace

void SimFit3460(SimCard& card)
{
    card.AddI2cDevice(-1, TUNER_I2C_ADDRESS, new SimTda18273(card, 0));
}
