// KxRfCalV1: an RF-level calibration set of one receiver port (per input power a table of
// level offsets over equally spaced frequency points, plus a temperature coefficient), and its
// stored form in the device's vital product data ("P<port>_RFCAL_V1", little-endian, packed).
#pragma once

#include <cstdint>
#include <vector>

#include "KxapiResult.h"

namespace Kxapi {

class KxDevice;

// Names of the compensation tables of a port.
constexpr const char* KX_FREQ_COMP_INDEX_TABLE = "DEMOD_FREQ_COMP_TABLES";
constexpr const char* KX_FREQ_COMP_TABLE_FORMAT = "DEMOD_FREQ_COMP%02d";

// One input-power table: the power it was measured at and one offset per frequency point.
struct KxRfCalTable {
    int16_t m_Power = 0;
    std::vector<int8_t> m_Offsets;
};

class KxRfCalV1 {
public:
    static constexpr const char* NAME = "RFCAL";
    static constexpr int RECORD_HEADER_SIZE = 15;

    uint8_t m_RefTemperature = 0;   // degrees at which the offsets were taken
    float m_TempCoefficient = 0.0f; // level change per degree, in the level's unit
    uint16_t m_StartFreqMHz = 0;    // first frequency point
    uint8_t m_FreqStepMHz = 0;      // distance between frequency points
    uint16_t m_Reserved[2] = {0, 0};
    char m_Name[8] = {'R', 'F', 'C', 'A', 'L', 0, 0, 0};
    std::vector<KxRfCalTable> m_Tables;

    uint8_t NumTables() const { return static_cast<uint8_t>(m_Tables.size()); }
    uint16_t NumFrequencies() const { return m_NumFrequencies; }
    // Resize every table (new tables and offsets are 0).
    void SetNumTables(uint8_t count);
    void SetNumFrequencies(uint16_t count);

    // Decodes a stored record; KXAPI_E_EEPROM_FORMAT when it is shorter than its 15-byte header
    // or than the tables it announces (the set is then cleared).
    KXAPI_RESULT FromRecord(const unsigned char* data, int length);
    // Encodes the set as a stored record.
    std::vector<unsigned char> ToRecord() const;
    // Reads the record of 1-based `port` from the device's VPD; on failure the set is cleared
    // and the read's result (or KXAPI_E_EEPROM_FORMAT) is returned. The driver's VPD request
    // carries the first four characters of a keyword, so the card holds the item as "P<port>_R".
    KXAPI_RESULT ReadFromVpd(KxDevice& device, int port);
    // Builds the set from the compensation tables of 1-based `port`: the index table
    // "DEMOD_FREQ_COMP_TABLES" (per table its number and input power in 0.01 dB) and one table
    // "DEMOD_FREQ_COMP<nn>" per number (frequency in MHz, offset in 0.01 dB), read in index
    // order. The set is cleared first; a port below 1 is KXAPI_E_NO_SUCH_PORT; a failed read
    // ends the building and its result is returned, the tables read until then are kept.
    KXAPI_RESULT ReadFromTables(KxDevice& device, int port);

    // Corrects `level` (in the unit of the offsets, for example tenths of a dB) measured at
    // `freqMHz` with the device at `temperature` degrees.
    int RfCalCorrection(int level, unsigned int freqMHz, int temperature) const;

private:
    uint16_t m_NumFrequencies = 0;
};

// Clears every numeric field and empties the tables.
void RfCalZero(KxRfCalV1* cal);

// Level at 75 ohm in tenths: 0 dBm is 48.75 dBmV, 488 tenths.
constexpr int KX_DBMV_ABOVE_DBM_TENTHS = 488;
// A level in tenths of a dBmV as tenths of a dBm, and back.
constexpr int KxapiVoltage2Power(int tenthsDbmV) { return tenthsDbmV - KX_DBMV_ABOVE_DBM_TENTHS; }
constexpr int KxapiPower2Voltage(int tenthsDbm) { return tenthsDbm + KX_DBMV_ABOVE_DBM_TENTHS; }

} // namespace Kxapi
