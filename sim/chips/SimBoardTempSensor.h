// The board temperature sensor of a virtual card: two one-byte registers (0 and 1, two sensing
// points), each reading the board temperature less 14 degrees as a signed byte, with noise.
// A write sets the register pointer; a read returns the byte at the pointer.
#pragma once

#include "SimI2cDevice.h"

class SimCard;

class SimBoardTempSensor : public ISimI2cDevice {
public:
    static constexpr int READING_OFFSET_C = 14;

    SimBoardTempSensor(SimCard& card, double meanC) : m_Card(card), m_MeanC(meanC) {}
    bool Write(const unsigned char* pData, int length) override;
    bool Read(unsigned char* pData, int length) override;

private:
    SimCard& m_Card;
    double m_MeanC;
    unsigned char m_Pointer = 0;
};
