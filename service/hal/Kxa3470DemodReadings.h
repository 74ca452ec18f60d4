// The 3470's statistics as far as the demodulator block alone tells them: lock flags, SNR,
// roll-off, spectrum inversion, symbol rate, the gain DAC and the power estimator. Without the
// per-frame reports of the frame-statistics block it knows one stream (ISI 0, present while
// the demodulator's stream flag is set), no error rates and no time windows; those answer
// KXAPI_E_STAT_NOTAVAIL.
#pragma once

#include <mutex>

#include "IKxa3470Statistics.h"
#include "KxRfCal.h"

class Kxa3470DemodReadings : public IKxa3470Statistics {
public:
    // Gains of the receive chain in dB, after the tuner's baseband gain and the AGC.
    static constexpr double LOWPASS_FILTER_GAIN_DB = -1.0;
    static constexpr double SCALING_GAIN_DB = -2.2;
    static constexpr double IQ_FIR_FILTER_GAIN_DB = -6.0;

    bool Init(KxProxyS2CRDEMOD_3470* demod, KxProxyS2STATS_3470* stats, KxProxyAD5320_3470* dac,
              KxProxyIQPWR_3470* power, KxProxyCORE* core) override;
    void Close() override;
    void EnableBuffering(bool enable) override;
    void ClearBuffers() override;
    void SetTableCalibration(const Kxapi::KxRfCalV1& cal) override;
    void SetStoredCalibration(const Kxapi::KxRfCalV1& cal) override;
    void ClearStoredCalibration() override;
    KXAPI_RESULT GetWindowStatistic(int isi, int window, Kxapi::KxStatistic& stat) override;
    bool GetLockAll() override;
    bool GetPlHeaderLock() override;
    bool GetLock(int isi, int& grabIndex) override;
    bool StreamLockFound() override;
    KXAPI_RESULT GetSpectrumInv(bool& inverted) override;
    KXAPI_RESULT GetIsiIds(std::vector<int>& isis) override;
    KXAPI_RESULT GetIsiSigData(int isi, Kxapi::KxDvbS2IsiSigData& data) override;
    KXAPI_RESULT GetDemodPars(int isi, Kxapi::KxDemodPars& pars) override;
    KXAPI_RESULT GetBBHeadCoding(bool& ccm) override;
    KXAPI_RESULT GetCcmPlsValue(int& pls) override;
    KXAPI_RESULT GetMer(int isi, double& merDb) override;
    KXAPI_RESULT GetMerPlHeaders(double& merDb) override;
    KXAPI_RESULT GetStatEbN0(int isi, double merDb, double& ebN0Db) override;
    KXAPI_RESULT GetLinkMargin(int isi, double merDb, double& marginDb) override;
    KXAPI_RESULT GetBerPreLdpc(int isi, double merDb, double& ber) override;
    KXAPI_RESULT GetBerPostLdpc(int isi, double merDb, double& ber) override;
    KXAPI_RESULT GetBerPostBch(int isi, double merDb, double& ber) override;
    KXAPI_RESULT GetFerPostLdpc(int isi, double& fer) override;
    KXAPI_RESULT GetFerPostBch(int isi, double& fer) override;
    KXAPI_RESULT GetRollOff(double& rollOff) override;
    KXAPI_RESULT GetOccupiedBw(long long symbolRateBd, double& bandwidthMHz) override;
    KXAPI_RESULT GetAgc1(int& agc) override;
    KXAPI_RESULT GetRfLvlUncalib(int basebandGain, double& levelDbmv) override;
    KXAPI_RESULT GetRfLvlChan(int basebandGain, long long freqHz, int temperature, long long symbolRateBd,
                              int& levelTenths) override;

    // Roll-off factor of the demodulator's code; KXAPI_E_INTERNAL for an unknown code.
    static KXAPI_RESULT RollOffOfCode(int code, double& rollOff);

private:
    // The demodulator's lock flags: carrier, PL header, stream.
    KXAPI_RESULT Flags(bool& plHeader, bool& stream);

    std::recursive_mutex m_Lock;
    KxProxyS2CRDEMOD_3470* m_pDemod = nullptr;
    KxProxyAD5320_3470* m_pDac = nullptr;
    KxProxyIQPWR_3470* m_pPower = nullptr;
    bool m_Buffering = false;
    Kxapi::KxRfCalV1 m_TableCal;
    Kxapi::KxRfCalV1 m_StoredCal;
};
