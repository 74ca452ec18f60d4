#include "SimBoardTempSensor.h"

#include <algorithm>
#include <cmath>

#include "SimCard.h"

namespace {

constexpr double NOISE_C = 0.5;

} // namespace

bool SimBoardTempSensor::Write(const unsigned char* pData, int length)
{
    if (pData == nullptr || length < 1 || pData[0] > 1)
        return false;
    m_Pointer = pData[0];
    return true;
}

bool SimBoardTempSensor::Read(unsigned char* pData, int length)
{
    if (pData == nullptr || length < 0)
        return false;
    for (int i = 0; i < length; i++) {
        // The second sensing point sits half a degree warmer.
        const double reading = m_MeanC + (m_Pointer == 1 ? 0.5 : 0.0) - READING_OFFSET_C +
                               NOISE_C * m_Card.Random().Gaussian();
        pData[i] = static_cast<unsigned char>(static_cast<signed char>(std::clamp(std::lround(reading), -128l, 127l)));
    }
    return true;
}
