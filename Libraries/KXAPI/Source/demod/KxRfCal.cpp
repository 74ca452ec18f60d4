#include "KxRfCal.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "KxDevice.h"

namespace Kxapi {

namespace {

// Longest stored record: 255 tables of 65535 points would be far beyond any VPD area; the
// read buffer holds what a VPD item can carry.
constexpr int MAX_RECORD_BYTES = 4096;

uint16_t GetU16Le(const unsigned char* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

void PutU16Le(std::vector<unsigned char>& out, uint16_t value)
{
    out.push_back(static_cast<unsigned char>(value & 0xFF));
    out.push_back(static_cast<unsigned char>(value >> 8));
}

// Offset of table t at frequency index i0, interpolated towards i1 by `fraction`.
double OffsetAt(const KxRfCalTable& table, int i0, int i1, double fraction)
{
    const double a = table.m_Offsets[static_cast<size_t>(i0)];
    if (i1 == i0)
        return a;
    const double b = table.m_Offsets[static_cast<size_t>(i1)];
    return a + (b - a) * fraction;
}

} // namespace

void KxRfCalV1::SetNumTables(uint8_t count)
{
    m_Tables.resize(count);
    for (KxRfCalTable& table : m_Tables)
        table.m_Offsets.resize(m_NumFrequencies, 0);
}

void KxRfCalV1::SetNumFrequencies(uint16_t count)
{
    m_NumFrequencies = count;
    for (KxRfCalTable& table : m_Tables)
        table.m_Offsets.resize(count, 0);
}

void RfCalZero(KxRfCalV1* cal)
{
    if (cal == nullptr)
        return;
    cal->m_RefTemperature = 0;
    cal->m_TempCoefficient = 0.0f;
    cal->m_StartFreqMHz = 0;
    cal->m_FreqStepMHz = 0;
    cal->m_Reserved[0] = cal->m_Reserved[1] = 0;
    cal->m_Tables.clear();
    cal->SetNumFrequencies(0);
}

KXAPI_RESULT KxRfCalV1::FromRecord(const unsigned char* data, int length)
{
    RfCalZero(this);
    if (data == nullptr || length < RECORD_HEADER_SIZE)
        return KXAPI_E_EEPROM_FORMAT;
    const uint8_t numTables = data[5];
    const uint16_t numFreqs = GetU16Le(data + 9);
    const size_t needed = RECORD_HEADER_SIZE + static_cast<size_t>(numFreqs + 2) * numTables;
    if (static_cast<size_t>(length) < needed)
        return KXAPI_E_EEPROM_FORMAT;
    m_RefTemperature = data[0];
    uint32_t coefBits = static_cast<uint32_t>(data[1]) | (static_cast<uint32_t>(data[2]) << 8) |
                        (static_cast<uint32_t>(data[3]) << 16) | (static_cast<uint32_t>(data[4]) << 24);
    memcpy(&m_TempCoefficient, &coefBits, sizeof(m_TempCoefficient));
    m_StartFreqMHz = GetU16Le(data + 6);
    m_FreqStepMHz = data[8];
    m_Reserved[0] = GetU16Le(data + 11);
    m_Reserved[1] = GetU16Le(data + 13);
    SetNumFrequencies(numFreqs);
    SetNumTables(numTables);
    const unsigned char* p = data + RECORD_HEADER_SIZE;
    for (KxRfCalTable& table : m_Tables) {
        table.m_Power = static_cast<int16_t>(GetU16Le(p));
        p += 2;
        for (uint16_t j = 0; j < numFreqs; j++)
            table.m_Offsets[j] = static_cast<int8_t>(*p++);
    }
    return KXAPI_OK;
}

std::vector<unsigned char> KxRfCalV1::ToRecord() const
{
    std::vector<unsigned char> out;
    out.push_back(m_RefTemperature);
    uint32_t coefBits = 0;
    memcpy(&coefBits, &m_TempCoefficient, sizeof(coefBits));
    for (int i = 0; i < 4; i++)
        out.push_back(static_cast<unsigned char>((coefBits >> (8 * i)) & 0xFF));
    out.push_back(NumTables());
    PutU16Le(out, m_StartFreqMHz);
    out.push_back(m_FreqStepMHz);
    PutU16Le(out, m_NumFrequencies);
    PutU16Le(out, m_Reserved[0]);
    PutU16Le(out, m_Reserved[1]);
    for (const KxRfCalTable& table : m_Tables) {
        PutU16Le(out, static_cast<uint16_t>(table.m_Power));
        for (int8_t offset : table.m_Offsets)
            out.push_back(static_cast<unsigned char>(offset));
    }
    return out;
}

KXAPI_RESULT KxRfCalV1::ReadFromVpd(KxDevice& device, int port)
{
    RfCalZero(this);
    char keyword[32];
    if (snprintf(keyword, sizeof(keyword), "P%d_%s_V1", port, NAME) >= static_cast<int>(sizeof(keyword)))
        return KXAPI_E_INVALID_ARG;
    std::vector<unsigned char> buffer(MAX_RECORD_BYTES);
    int length = MAX_RECORD_BYTES;
    KXAPI_RESULT result = device.VpdRead(-1, keyword, buffer.data(), length);
    if (KxapiFailed(result))
        return result;
    if (length < 0 || length > MAX_RECORD_BYTES)
        return KXAPI_E_EEPROM_FORMAT;
    return FromRecord(buffer.data(), length);
}

KXAPI_RESULT KxRfCalV1::ReadFromTables(KxDevice& device, int port)
{
    RfCalZero(this);
    if (port < 1)
        return KXAPI_E_NO_SUCH_PORT; // port 0 would reach the device-level tables
    std::vector<_KxTableEntry> index;
    KXAPI_RESULT result = device.GetTable(port - 1, KX_FREQ_COMP_INDEX_TABLE, index);
    if (KxapiFailed(result))
        return result;
    std::vector<_KxTableEntry> points;
    for (size_t i = 0; i < index.size(); i++) {
        char name[32];
        const int written = snprintf(name, sizeof(name), KX_FREQ_COMP_TABLE_FORMAT, static_cast<int>(index[i].X));
        if (written < 0 || static_cast<size_t>(written) >= sizeof(name))
            return KXAPI_E_INTERNAL;
        result = device.GetTable(port - 1, name, points);
        if (KxapiFailed(result))
            return result;
        if (i == 0) {
            SetNumTables(static_cast<uint8_t>(index.size() & 0xFF));
            m_StartFreqMHz = points.empty() ? 0 : static_cast<uint16_t>(points[0].X);
            m_FreqStepMHz = points.size() > 1 ? static_cast<uint8_t>(points[1].X - points[0].X) : 0;
            SetNumFrequencies(static_cast<uint16_t>(points.size()));
        }
        if (i >= m_Tables.size())
            break;
        KxRfCalTable& table = m_Tables[i];
        table.m_Power = static_cast<int16_t>(static_cast<int>(static_cast<double>(index[i].Y) / 10.0));
        for (size_t j = 0; j < points.size() && j < table.m_Offsets.size(); j++)
            table.m_Offsets[j] = static_cast<int8_t>(points[j].Y / 10);
    }
    return result;
}

int KxRfCalV1::RfCalCorrection(int level, unsigned int freqMHz, int temperature) const
{
    const int corrected =
        static_cast<int>(std::floor(10.0 * m_TempCoefficient * (temperature - m_RefTemperature) + 0.5)) + level;
    if (m_Tables.empty() || m_NumFrequencies == 0)
        return corrected;

    // Frequency bracket.
    const int last = m_NumFrequencies - 1;
    int i0 = 0;
    int i1 = 0;
    if (freqMHz >= m_StartFreqMHz && m_FreqStepMHz != 0) {
        i0 = static_cast<int>((freqMHz - m_StartFreqMHz) / m_FreqStepMHz);
        i1 = i0 + 1;
        if (i1 > last)
            i0 = i1 = last;
        else if (freqMHz == m_StartFreqMHz + static_cast<unsigned int>(i0) * m_FreqStepMHz)
            i1 = i0;
    }
    const double f0 = m_StartFreqMHz + static_cast<double>(i0) * m_FreqStepMHz;
    const double f1 = m_StartFreqMHz + static_cast<double>(i1) * m_FreqStepMHz;
    const double freqFraction = f1 == f0 ? 0.5 : (static_cast<double>(freqMHz) - f0) / (f1 - f0);

    // Power bracket: the nearest table at or above the level and the nearest at or below.
    int upper = -1;
    int lower = -1;
    for (size_t t = 0; t < m_Tables.size(); t++) {
        const int power = m_Tables[t].m_Power;
        if (power >= corrected && (upper < 0 || power < m_Tables[static_cast<size_t>(upper)].m_Power))
            upper = static_cast<int>(t);
        if (power <= corrected && (lower < 0 || power > m_Tables[static_cast<size_t>(lower)].m_Power))
            lower = static_cast<int>(t);
    }
    if (upper < 0)
        upper = lower;
    if (lower < 0)
        lower = upper;

    const KxRfCalTable& low = m_Tables[static_cast<size_t>(lower)];
    double offset = OffsetAt(low, i0, i1, freqFraction);
    if (upper != lower) {
        const KxRfCalTable& high = m_Tables[static_cast<size_t>(upper)];
        const double y = OffsetAt(high, i0, i1, freqFraction);
        const double span = static_cast<double>(high.m_Power) - low.m_Power;
        const double powerFraction = span == 0.0 ? 0.5 : (corrected - low.m_Power) / span;
        offset += (y - offset) * powerFraction;
    }
    return static_cast<int>(std::floor(offset + 0.5)) + corrected;
}

} // namespace Kxapi
