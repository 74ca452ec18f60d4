// QamReceiverHal: what the HALs of the cable QAM cards built from a TDA10024 demodulator and a
// TDA18252 tuner per port (Kx3530Hal, Kxa3490Hal) do alike: the frequency and parameter
// setters, the acquisition, the parameters, frequency and constellation read back from the
// demodulator, each under the port's chip lock. The models differ in the wiring of the chips'
// buses, which the lock follows (a port's own bus, or the card's bus shared by every port),
// in their power-on sequence and in their statistics.
#pragma once

#include <atomic>
#include <memory>

#include "DemodHal.h"
#include "QamReceiver.h"

class QamReceiverHal : public DemodHal {
public:
    using DemodHal::DemodHal;

    // Validates and keeps the frequency; the next Tune(port, bool) programs it.
    KXAPI_RESULT SetTunerFrequency(int port, long long freqHz, int tunerId, bool execute) override;
    // Validates the QAM parameters; executed, sets them in the demodulator and the tuner's
    // bandwidth for their annex.
    KXAPI_RESULT SetDemodControl(int port, Kxapi::KxDemodPars& pars, bool execute) override;
    KXAPI_RESULT Tune(int port, long long freqHz, Kxapi::KxDemodPars& pars, bool execute) override;
    using DemodHal::Tune;
    KXAPI_RESULT GetDemodControl(int port, Kxapi::KxDemodPars& pars) override;
    // The tuned frequency plus the demodulator's carrier offset; KXAPI_E_LOCKED when not locked.
    KXAPI_RESULT GetTunerFrequency(int port, long long& freqHz, int tunerId) override;
    KXAPI_RESULT GetConstellationPoints(int port, int count, Kxapi::KxConstelPoint* points, int streamId,
                                        bool execute) override;

protected:
    // The I2C locks are waited for at most this long.
    static constexpr int I2C_LOCK_TIMEOUT_MS = 10000;

    struct QamPort {
        std::unique_ptr<ITda10024> m_pDemod;
        std::unique_ptr<ITda18252> m_pTuner;
        std::unique_ptr<QamReceiver::PortI2c> m_pI2c;
        // The bus the port's chips sit on (-1: the card's device-level bus), and the critical
        // section taken before its I2C lock (null: none).
        int m_Bus = -1;
        IXpCritSec* m_pSection = nullptr;
        // Set on the port's worker, read by its clients' threads too.
        std::atomic<long long> m_TunedFreqHz{QamReceiver::POWER_ON_FREQ_HZ};
        std::atomic<int> m_ModType{QamReceiver::POWER_ON_MOD_TYPE};
        uint32_t m_LastBadPackets = 0;
        long long m_BadPacketTotal = 0;
        bool m_Initialised = false;
    };

    // Holds a port's chip lock (its section, then its bus's I2C lock) for the scope.
    class ChipLock : private ::KxNonCopyable {
    public:
        ChipLock(QamReceiverHal& hal, int port) : m_Hal(hal), m_Port(port), m_Result(hal.LockChips(port)) {}
        ~ChipLock() { Unlock(); }
        bool Locked() const { return KxapiSucceeded(m_Result) && !m_Released; }
        KXAPI_RESULT Result() const { return m_Result; }
        // Releases early; the unlock's result.
        KXAPI_RESULT Unlock()
        {
            if (!Locked())
                return KXAPI_OK;
            m_Released = true;
            return m_Hal.UnlockChips(m_Port);
        }

    private:
        QamReceiverHal& m_Hal;
        int m_Port;
        KXAPI_RESULT m_Result;
        bool m_Released = false;
    };

    // The model's port (1-based, already checked).
    virtual QamPort& QamPortOf(int port) = 0;
    // KXAPI_E_OUT_OF_MEM unless every port got its chips and accessor; resets the counters.
    KXAPI_RESULT CheckPortChips();
    // Programs the tuner at tunerHz, restarts the bad-packet count and starts an acquisition;
    // the caller holds the port's chip lock.
    KXAPI_RESULT Acquire(QamPort& p, long long tunerHz, int tunerMode);

private:
    KXAPI_RESULT LockChips(int port);
    KXAPI_RESULT UnlockChips(int port);
};
