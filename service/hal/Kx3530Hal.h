// Kx3530Hal: the twelve-port J.83 QAM card (3530 sub-types other than 2 and 3). Each port has a
// TDA10024 demodulator and a TDA18252 tuner on the port's own I2C bus; the ports form three
// groups of four whose first port owns the master tuner feeding the group's other three. The
// tuning is programmed by the port's state machine (Tune(port, bool)); the statistics come from
// both chips, with MER from the demodulator's MSE register and the RF level from the gain
// readings of the tuner chain, corrected by the port's calibration tables.
#pragma once

#include <atomic>
#include <memory>

#include "DemodHalRegistry.h"
#include "KxRfCal.h"
#include "QamReceiverHal.h"

class Kx3530Hal : public QamReceiverHal {
public:
    // The model table's row this HAL serves and its factory.
    static const DemodHalDescriptor DESCRIPTOR;

    static constexpr int NUM_PORTS = 12;
    static constexpr int PORTS_PER_GROUP = 4;
    // Board wiring: 8-bit bus addresses on each port's bus, the sensor on the device-level bus.
    static constexpr int DEMOD_I2C_ADDRESS = 0x1C;
    static constexpr int TUNER_I2C_ADDRESS = 192;
    static constexpr int TEMP_SENSOR_I2C_ADDRESS = 94;
    // Tuner mode words of the initialisation and of every tune.
    static constexpr int TUNER_INIT_MODE = 1;
    static constexpr int TUNER_TUNE_MODE = 2;
    // Above this the tuner's own temperature is reported, else the board sensor's.
    static constexpr int TUNER_TEMP_TRUSTED_ABOVE_C = 60;
    // RF levels are reported in tenths of a dBmV: tenths of a dBm plus this.
    static constexpr int DBMV_OFFSET_TENTHS = 488;

    Kx3530Hal(long long serial, Kxapi::KxDeviceInt& device);
    ~Kx3530Hal() override;

    // -1 for the first port of a group, else the 0-based index of its group's first port.
    static int GetMasterIndex(int port);
    // Uncalibrated RF level (tenths of a dBm) from the tuner's RF band and AGC1 and AGC2
    // readings, the demodulator's AGC and, for a port fed by its group's master, the master's
    // AGC1 (-1 for a first port).
    static int UncalibratedLevel(int band, int agc1, int agc2, int demodAgc, int masterAgc1);

    KXAPI_RESULT Init() override;
    KXAPI_RESULT InitPort(int port) override;
    KXAPI_RESULT Tune(int port, bool blindScan) override;
    KXAPI_RESULT GetStatistics(int port, int count, Kxapi::KxStatistic* stats) override;
    KXAPI_RESULT ResetAgc(int port, unsigned int mode, bool execute) override;
    using QamReceiverHal::Tune;

    // The chips of a port, powered on and wired for its place in its group.
    KXAPI_RESULT InitPortDevice(int port);
    // Degrees Celsius: the tuner's reading when above 60, else the board sensor's.
    KXAPI_RESULT GetTemperature(int port, int& degreesC);

protected:
    struct Port : QamPort {
        Kxapi::KxRfCalV1 m_Cal;
        XpCritSecPtr m_pCritSec;
    };

    Port& PortOf(int port) { return m_Ports[port - 1]; }
    QamPort& QamPortOf(int port) override { return PortOf(port); }

private:
    struct LevelReadings;
    KXAPI_RESULT ReadLevels(int port, LevelReadings& readings);

    Port m_Ports[NUM_PORTS];
};
