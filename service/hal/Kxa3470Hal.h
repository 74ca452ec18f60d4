// Kxa3470Hal: the PCIe satellite receiver. One RF input with a MAX2121B zero-IF tuner feeds an
// ADC clocked by a CDCM6208 and the card's FPGA blocks: a DVB-S2 demodulator, a frame-statistics
// block, an I/Q sample-rate converter, a FIR filter in front of a power estimator, a
// constellation grabber and an I/Q capture path. An LNBH25 supplies the LNB; an AD5320 DAC sets
// the tuner gain. Port 1 receives DVB-S2 (and finds the symbol rate itself when the client
// leaves it open); port 2 delivers raw I/Q samples of the same tuner.
#pragma once

#include <atomic>
#include <memory>
#include <vector>

#include "DemodHal.h"
#include "DemodHalRegistry.h"
#include "IKxa3470Statistics.h"
#include "IMax2121B.h"
#include "ISymbolRateSearch.h"
#include "KxAf.h"
#include "KxProxyBlocks.h"
#include "KxProxyS2CRDEMOD_3470.h"

class Kxa3470Hal : public DemodHal {
public:
    static const DemodHalDescriptor DESCRIPTOR;

    static constexpr int PORT_S2 = 1;
    static constexpr int PORT_IQ = 2;

    // Board wiring: I2C bus addresses behind the card's I2C master blocks.
    static constexpr int TUNER_I2C_ADDRESS = 96;
    static constexpr int CDCM6208_I2C_ADDRESS = 84;
    static constexpr int LNBH25_I2C_ADDRESS = 8;
    static constexpr unsigned char LNBH25_VOLTAGE_REG = 2;
    static constexpr unsigned char LNBH25_TONE_REG = 3;

    static constexpr long long DEMOD_SAMPLE_RATE_HZ = 160000000;
    static constexpr long long MIN_FREQ_HZ = 950000000;
    static constexpr long long MAX_FREQ_HZ = 2150000000;
    static constexpr long long POWER_ON_FREQ_HZ = 1200000000;
    static constexpr int POWER_ON_LPF_HZ = 40000000;
    static constexpr int POWER_ON_SYMBOL_RATE_BD = 27500000;
    static constexpr int BASEBAND_GAIN = 7;
    static constexpr int DEFAULT_CCM_PLS = 19;
    static constexpr double DEFAULT_ROLL_OFF = 0.35;
    // Symbol rates the parameter check and port 1 accept (-1: find it).
    static constexpr int MIN_SYMBOL_RATE_BD = 90000;
    static constexpr int MIN_PORT_SYMBOL_RATE_BD = 80000;
    static constexpr int MAX_SYMBOL_RATE_BD = 72000000;
    // I/Q port bandwidths (-1: keep the tuner's).
    static constexpr int MIN_IQ_BANDWIDTH_HZ = 80000000;
    static constexpr int MAX_IQ_BANDWIDTH_HZ = 248000000;
    // Timing of the periodic steps (ms).
    static constexpr unsigned int CHECK_PERIOD_MS = 500;
    static constexpr unsigned int CCM_PROBE_MS = 3000;
    static constexpr unsigned int SYMBOL_RATE_HOLD_MS = 9000;
    static constexpr int RELOCK_COUNTDOWN = 6;
    // Gain DAC control parameters, in the order the block takes them.
    static constexpr int GAIN_CTRL_PARS[5] = {15, 1, 65472, 32768, 40000};
    static constexpr int POWER_ESTIMATOR_WINDOW = 16;
    // Device-level property with the board's temperature sensor 1 (degrees C).
    static constexpr const char* BOARD_TEMPERATURE_PROPERTY = "BOARD_TEMP_1";

    Kxa3470Hal(long long serial, Kxapi::KxDeviceInt& device);
    ~Kxa3470Hal() override;

    bool ActsInValidationPass(int port) const override { return port == PORT_IQ; }
    KXAPI_RESULT Init() override;
    KXAPI_RESULT OnFirstUsage(int port) override;
    KXAPI_RESULT OnLastUsageEnds(int port) override;
    KXAPI_RESULT InitPort(int port) override;
    KXAPI_RESULT Tune(int port, bool blindScan) override;
    KXAPI_RESULT GetAttribute(int port, int attribute, int& value, bool execute) override;
    KXAPI_RESULT GetSupportedStatistics(int port, int& count, SupportedStatisticsType* list) override;
    KXAPI_RESULT GetStatistics(int port, int count, Kxapi::KxStatistic* stats) override;
    KXAPI_RESULT Update(int port, bool locked) override;
    KXAPI_RESULT GetAutoBlindScanPars(int port, Kxapi::KxDemodPars& pars) override;
    KXAPI_RESULT GetBlindScanFrequencies(int port, long long freqHz, long long& foundHz, Kxapi::KxDemodPars& pars,
                                         long long& nextHz) override;
    KXAPI_RESULT CancelBlindScan(int port) override;
    KXAPI_RESULT GetDemodControl(int port, Kxapi::KxDemodPars& pars) override;
    KXAPI_RESULT GetPlpList(int port, std::vector<int>& plpIds) override;
    KXAPI_RESULT GetTunerFrequency(int port, long long& freqHz, int tunerId) override;
    KXAPI_RESULT GetConstellationPoints(int port, int count, Kxapi::KxConstelPoint* points, int streamId,
                                        bool execute) override;
    KXAPI_RESULT LnbEnable(int port, bool enable, bool execute) override;
    KXAPI_RESULT LnbEnableTone(int port, bool enable, bool execute) override;
    KXAPI_RESULT LnbSendBurst(int port, unsigned int burst, bool execute) override;
    KXAPI_RESULT LnbSendDiseqcMessage(int port, const unsigned char* message, int length, unsigned char* reply,
                                      int* replyLength, bool execute) override;
    KXAPI_RESULT LnbSetVoltage(int port, unsigned int level, bool execute) override;
    KXAPI_RESULT SetDemodControl(int port, Kxapi::KxDemodPars& pars, bool execute) override;
    KXAPI_RESULT SetTunerFrequency(int port, long long freqHz, int tunerId, bool execute) override;
    KXAPI_RESULT Tune(int port, long long freqHz, Kxapi::KxDemodPars& pars, bool execute) override;

    // The rules of the board, public for the model's tests.
    // Parameter check of a tune: I/Q, DVB-S2 or any other record.
    static KXAPI_RESULT CheckDemodPars(const Kxapi::KxDemodPars& pars);
    // Spectrum-inversion parameter (16, 48, 0) to the demodulator's code (1, 0, 2).
    static KXAPI_RESULT SpecInvToHardware(int specInv, int& code);
    // Sample-rate converter: rate (MHz) of a division factor, and the factor of a rate.
    static KXAPI_RESULT SampleRateOfDivision(int division, int& rateMHz);
    static KXAPI_RESULT DivisionOfSampleRate(long long rateHz, int& division);
    // The n taps (up to the centre) of the ideal low-pass of length 2n - 1 at cutoffHz, scaled to
    // coefficients of coefBits bits.
    static std::vector<int> CalcLpfFirFilterCoeffs(int n, long long cutoffHz, long long sampleRateHz, int coefBits);
    // Where a blind scan continues after a carrier: OK when the offset is within half the
    // symbol rate, else KXAPI_E_INVALID_FREQ with next = found.
    static KXAPI_RESULT NextBlindScanFrequency(long long freqHz, long long offsetHz, long long symbolRateBd,
                                               double rollOff, long long& foundHz, long long& nextHz);

private:
    // One FPGA function with exclusive access, released again on destruction.
    struct Function {
        KxAf m_Af;
        bool m_Held = false;
    };
    template <class P>
    KXAPI_RESULT OpenFunction(Function& function, KxAfType type, const char* role, P*& proxy);
    void CleanupAfFunctions();

    // Hardware helpers; callers hold the HAL lock.
    KXAPI_RESULT ProgramClockGenerator();
    KXAPI_RESULT InitLnbController();
    KXAPI_RESULT WriteLnbRegister(unsigned char reg, unsigned char value);
    KXAPI_RESULT ReadBoardTemperature(int& degreesC);
    KXAPI_RESULT SetRfLvlMeasFilter(long long bandwidthHz);
    KXAPI_RESULT DemodSetPlMode(int mode, int pls, bool& changed, bool reset);
    KXAPI_RESULT ReadPlInformation();
    KXAPI_RESULT SetSpectrumInversion();
    KXAPI_RESULT SetDemodSymbolRate(long long symbolRateBd);
    KXAPI_RESULT GetSampleRate(int& rateMHz);
    KXAPI_RESULT SetSampleRate(long long rateHz);
    KXAPI_RESULT SetBandwidth(long long bandwidthHz);
    KXAPI_RESULT TuneTuner(long long freqHz);
    KXAPI_RESULT MeasureAverageSymbolRate(long long& symbolRateBd);
    KXAPI_RESULT ReadDemodPlHeaderLock(bool& locked);
    KXAPI_RESULT AutoSymbolRateTune(int divisor);
    KXAPI_RESULT BlindScanAutoSymbolRateTune();
    KXAPI_RESULT TuneIqPort(long long freqHz, const Kxapi::KxDemodPars& pars);
    KXAPI_RESULT GetPointsOfStream(int grabIndex, int count, Kxapi::KxConstelPoint* points);
    KXAPI_RESULT CheckLnbPort(int port);
    int SymbolRate() const;
    bool HoldsDvbS2() const;
    void FillInstantStatistic(Kxapi::KxStatistic& stat);

    // Guarded by the HAL lock.
    Kxapi::KxDemodPars m_Pars[2];
    long long m_TunedFreqHz = POWER_ON_FREQ_HZ; // the client's frequency of port 1
    long long m_TunerFreqHz = POWER_ON_FREQ_HZ; // what the tuner runs on (after re-centring)
    int m_TunerLpfHz = POWER_ON_LPF_HZ;
    double m_RollOff = DEFAULT_ROLL_OFF;
    int m_PlMode = -1;
    int m_Pls = -1;
    bool m_NewTune = false;
    bool m_TunerChanged = false;
    bool m_DemodControlChanged = false;
    unsigned int m_CheckTime = 0;
    int m_CheckCountdown = 0;
    unsigned int m_CcmDeadline = 0;
    unsigned int m_SymbolRateHoldDeadline = 0;
    bool m_IqMode = false;
    bool m_OptimisePending = false;
    bool m_CcmProbeActive = false;
    bool m_CcmProbeFailed = false;
    bool m_MeasuredSymbolRateInUse = false;
    bool m_AutoSymbolRate = false;
    bool m_BlindScanMode = false;
    std::atomic<bool> m_BlindScanCancel{false}; // set by CancelBlindScan without the lock
    bool m_LnbEnabled = false;
    bool m_ToneOn = false;
    unsigned char m_LnbVoltageValue = 1;
    bool m_Initialised = false;

    std::unique_ptr<IMax2121B> m_pTuner;
    std::unique_ptr<IKxa3470Statistics> m_pStatistics;
    std::unique_ptr<ISymbolRateSearch> m_pDetector;

    Function m_DemodFn, m_GrabFn, m_LnbFn, m_FirFn, m_PowerFn, m_TunerI2cFn, m_ClockI2cFn, m_LnbI2cFn, m_AdcSpiFn,
        m_AdcFn, m_SrcFn, m_DacFn, m_StatsFn;
    Function m_ChannelFn; // the port's whole channel, only probed for another process's hold
    bool m_ChannelOpen = false;
    KxProxyS2CRDEMOD_3470* m_pDemod = nullptr;
    KxProxyIQCGRAB_3470* m_pGrab = nullptr;
    KxProxyLNBH25_3470* m_pLnb = nullptr;
    KxProxyIQFIR_3470* m_pFir = nullptr;
    KxProxyIQPWR_3470* m_pPower = nullptr;
    KxProxyI2CM* m_pTunerI2c = nullptr;
    KxProxyI2CM* m_pClockI2c = nullptr;
    KxProxyI2CM* m_pLnbI2c = nullptr;
    KxProxySPIM* m_pAdcSpi = nullptr;
    KxProxyADS4246_3470* m_pAdc = nullptr;
    KxProxyIQSRC3470_3470* m_pSrc = nullptr;
    KxProxyAD5320_3470* m_pDac = nullptr;
    KxProxyS2STATS_3470* m_pStats = nullptr;
};
