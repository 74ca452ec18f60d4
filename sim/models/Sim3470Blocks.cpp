#include "Sim3470Blocks.h"

#include <algorithm>
#include <cstring>

#include "CritSecAutoLock.h"
#include "KxWire.h"
#include "SimBlockModels.h"
#include "SimDriverStatus.h"
#include "SimMax2121B.h"

namespace {

constexpr uint32_t OK = 0;
constexpr int MAX_DISEQC_BYTES = 64;

// FIR filter: GetConfig 0 -> {taps, bits}; SetCoefficients 1 {n, coefficients};
// GetCoefficients 2 {n} -> {count, coefficients}.
class SimFirModel : public ISimBlockModel {
public:
    static constexpr uint32_t NUM_TAPS = 64;
    static constexpr uint32_t COEF_BITS = 16;

    uint32_t Command(const SimBlock&, uint32_t command, const unsigned char* pIn, uint32_t inSize,
                     unsigned char* pOut, uint32_t outCapacity) override
    {
        switch (command) {
        case 0:
            if (outCapacity < 8)
                return SIM_STATUS_BUF_TOO_SMALL;
            KxPutU32(pOut, 0, NUM_TAPS);
            KxPutU32(pOut, 4, COEF_BITS);
            return OK;
        case 1: {
            if (inSize < 4)
                return SIM_STATUS_INVALID_ARG;
            const uint32_t n = KxGetU32(pIn, 0);
            if (n == 0 || n > NUM_TAPS || inSize < 4 + 4 * n)
                return SIM_STATUS_INVALID_ARG;
            m_Coefficients.assign(n, 0);
            for (uint32_t i = 0; i < n; i++)
                m_Coefficients[i] = KxGetU32(pIn, 4 + 4 * i);
            return OK;
        }
        case 2: {
            if (inSize < 4)
                return SIM_STATUS_INVALID_ARG;
            const uint32_t n = std::min<uint32_t>(KxGetU32(pIn, 0), static_cast<uint32_t>(m_Coefficients.size()));
            if (outCapacity < 4 + 4 * n)
                return SIM_STATUS_BUF_TOO_SMALL;
            KxPutU32(pOut, 0, n);
            for (uint32_t i = 0; i < n; i++)
                KxPutU32(pOut, 4 + 4 * i, m_Coefficients[i]);
            return OK;
        }
        default:
            return SIM_STATUS_NOT_SUPPORTED;
        }
    }

private:
    std::vector<uint32_t> m_Coefficients;
};

// Sample-rate converter: SetDivisionFactor 0 {1..32}; GetDivisionFactor 1 -> {factor}.
class SimSampleRateConverterModel : public ISimBlockModel {
public:
    uint32_t Command(const SimBlock&, uint32_t command, const unsigned char* pIn, uint32_t inSize,
                     unsigned char* pOut, uint32_t outCapacity) override
    {
        if (command == 0) {
            if (inSize < 4 || KxGetU32(pIn, 0) < 1 || KxGetU32(pIn, 0) > 32)
                return SIM_STATUS_INVALID_ARG;
            m_Factor = KxGetU32(pIn, 0);
            return OK;
        }
        if (command == 1) {
            if (outCapacity < 4)
                return SIM_STATUS_BUF_TOO_SMALL;
            KxPutU32(pOut, 0, m_Factor);
            return OK;
        }
        return SIM_STATUS_NOT_SUPPORTED;
    }

private:
    uint32_t m_Factor = 1;
};

// Gain DAC: GetGainStatus 0 -> {status, gain}; SetGainCtrlPars 1 {five values};
// SetOperationalMode 2 {mode}. Once its control loop is set up (status 1) the gain follows the
// level of the port's strongest carrier: a weaker input gets more gain.
class SimGainDacModel : public ISimBlockModel {
public:
    explicit SimGainDacModel(SimCard* pCard) : m_pCard(pCard) {}
    uint32_t Command(const SimBlock& block, uint32_t command, const unsigned char* pIn, uint32_t inSize,
                     unsigned char* pOut, uint32_t outCapacity) override
    {
        switch (command) {
        case 0: {
            if (outCapacity < 8)
                return SIM_STATUS_BUF_TOO_SMALL;
            CritSecAutoLock lock(m_pCard->Lock());
            double levelDbm = -100.0;
            if (const std::vector<SimCarrier>* carriers = m_pCard->Scene().FindInput(block.m_Port < 0 ? 0 : block.m_Port))
                for (const SimCarrier& carrier : *carriers)
                    levelDbm = std::max(levelDbm, carrier.m_LevelDbm);
            KxPutU32(pOut, 0, m_Configured ? 1 : 0);
            KxPutU32(pOut, 4, m_Configured ? static_cast<uint32_t>(SimRf::AgcWord(levelDbm) >> 4) : 0);
            return OK;
        }
        case 1:
            if (inSize < 20)
                return SIM_STATUS_INVALID_ARG;
            m_Configured = true;
            return OK;
        case 2:
            return inSize >= 4 && KxGetU32(pIn, 0) <= 2 ? OK : SIM_STATUS_INVALID_ARG;
        default:
            return SIM_STATUS_NOT_SUPPORTED;
        }
    }

private:
    SimCard* m_pCard;
    bool m_Configured = false;
};

} // namespace

bool SimCdcm6208::Write(const unsigned char* pData, int length)
{
    if (pData == nullptr || length < 2)
        return false;
    m_Pointer = static_cast<uint16_t>((pData[0] << 8) | pData[1]);
    if (length == 2)
        return true;
    if (length != 4)
        return false;
    const uint16_t value = static_cast<uint16_t>((pData[2] << 8) | pData[3]);
    m_Registers[m_Pointer] = value;
    m_Writes.emplace_back(m_Pointer, value);
    return true;
}

bool SimCdcm6208::Read(unsigned char* pData, int length)
{
    if (length != 2 || pData == nullptr)
        return false;
    const uint16_t value = m_Registers[m_Pointer];
    pData[0] = static_cast<unsigned char>(value >> 8);
    pData[1] = static_cast<unsigned char>(value);
    return true;
}

uint32_t SimLnbControllerModel::Command(const SimBlock&, uint32_t command, const unsigned char* pIn, uint32_t inSize,
                                        unsigned char* pOut, uint32_t outCapacity)
{
    switch (command) {
    case 0:
        if (inSize < 4 || KxGetU32(pIn, 0) > 1)
            return SIM_STATUS_INVALID_ARG;
        m_Bursts++;
        m_LastBurst = static_cast<int>(KxGetU32(pIn, 0));
        return OK;
    case 1:
    case 2: {
        const uint32_t header = command == 1 ? 4 : 8;
        if (inSize < header)
            return SIM_STATUS_INVALID_ARG;
        const uint32_t length = KxGetU32(pIn, 0);
        if (length < 1 || length > MAX_DISEQC_BYTES || inSize < header + length)
            return SIM_STATUS_INVALID_ARG;
        m_Messages.emplace_back(pIn + header, pIn + header + length);
        if (command == 1)
            return OK;
        const uint32_t capacity = KxGetU32(pIn, 4);
        const bool wantsReply = pIn[header] == 0xE2 || pIn[header] == 0xE3;
        const uint32_t count = wantsReply && capacity >= 1 ? 1 : 0;
        if (outCapacity < 4 + count)
            return SIM_STATUS_BUF_TOO_SMALL;
        KxPutU32(pOut, 0, count);
        if (count == 1)
            pOut[4] = 0xE4;
        return OK;
    }
    case 3:
        if (inSize < 4 || KxGetU32(pIn, 0) > 1)
            return SIM_STATUS_INVALID_ARG;
        m_ToneOn = KxGetU32(pIn, 0) == 1;
        return OK;
    default:
        return SIM_STATUS_NOT_SUPPORTED;
    }
}

void SimFit3470Parts(SimCard& card)
{
    card.AddI2cDevice(0, SIM3470_TUNER_I2C_ADDRESS, new SimMax2121B(card, 0));
    card.AddI2cDevice(0, SIM3470_CLOCK_I2C_ADDRESS, new SimCdcm6208());
    card.AddI2cDevice(0, SIM3470_LNB_I2C_ADDRESS, new SimI2cRegisterFile(16));
    card.SetBlockModel(KX_DF_LNBH25_3470, true, new SimLnbControllerModel());
    card.SetBlockModel(KX_DF_IQFIR_3470, true, new SimFirModel());
    card.SetBlockModel(KX_DF_IQSRC3470_3470, true, new SimSampleRateConverterModel());
    card.SetBlockModel(KX_DF_AD5320_3470, true, new SimGainDacModel(&card));
}

SimMax2121B* Sim3470Tuner(SimCard& card)
{
    return dynamic_cast<SimMax2121B*>(card.I2cDevice(0, SIM3470_TUNER_I2C_ADDRESS));
}

SimLnbControllerModel* Sim3470LnbController(SimCard& card)
{
    SimBlock block;
    block.m_TypeCode = KX_DF_LNBH25_3470;
    block.m_Name = "DF_LNBH25_0";
    return dynamic_cast<SimLnbControllerModel*>(card.BlockModel(block));
}
