// What the 3470 HAL reads from its statistics object (Kxa3470Statistics): the instantaneous
// lock indications and reception figures of the DVB-S2 port, the windowed statistics, and the
// buffering and calibration controls.
#pragma once

#include <vector>

#include "DemodPars.h"
#include "IInterface.h"
#include "KxStatistic.h"
#include "KxapiResult.h"

namespace Kxapi {
class KxRfCalV1;
struct KxDvbS2IsiSigData;
}
class KxProxyS2CRDEMOD_3470;
class KxProxyS2STATS_3470;
class KxProxyAD5320_3470;
class KxProxyIQPWR_3470;
class KxProxyCORE;

class IKxa3470Statistics : public IInterface {
public:
    // Stores the proxies and starts sampling; false when the frame-statistics block cannot be
    // cleared or the sampling cannot start.
    virtual bool Init(KxProxyS2CRDEMOD_3470* demod, KxProxyS2STATS_3470* stats, KxProxyAD5320_3470* dac,
                      KxProxyIQPWR_3470* power, KxProxyCORE* core) = 0;
    virtual void Close() = 0;
    virtual void EnableBuffering(bool enable) = 0;
    virtual void ClearBuffers() = 0;
    // The calibration built from the port's compensation tables, and the card's stored one.
    virtual void SetTableCalibration(const Kxapi::KxRfCalV1& cal) = 0;
    virtual void SetStoredCalibration(const Kxapi::KxRfCalV1& cal) = 0;
    virtual void ClearStoredCalibration() = 0;

    // A statistic over time window `window` (0 short, 1 medium, 2 long) of stream `isi` (256: all).
    virtual KXAPI_RESULT GetWindowStatistic(int isi, int window, Kxapi::KxStatistic& stat) = 0;

    // Lock indications (a failed reading is "not locked"): every current stream locked (false
    // for none), the PL-header lock, the lock of stream isi with the index of its points at the
    // constellation grabber, and at least one stream locked.
    virtual bool GetLockAll() = 0;
    virtual bool GetPlHeaderLock() = 0;
    virtual bool GetLock(int isi, int& grabIndex) = 0;
    virtual bool StreamLockFound() = 0;
    virtual KXAPI_RESULT GetSpectrumInv(bool& inverted) = 0;
    virtual KXAPI_RESULT GetIsiIds(std::vector<int>& isis) = 0;
    virtual KXAPI_RESULT GetIsiSigData(int isi, Kxapi::KxDvbS2IsiSigData& data) = 0;
    // The parameters of stream isi as its frames signal them.
    virtual KXAPI_RESULT GetDemodPars(int isi, Kxapi::KxDemodPars& pars) = 0;
    // Whether the (single) stream's baseband header signals constant coding and modulation.
    virtual KXAPI_RESULT GetBBHeadCoding(bool& ccm) = 0;
    virtual KXAPI_RESULT GetCcmPlsValue(int& pls) = 0;
    // Figures in dB.
    virtual KXAPI_RESULT GetMer(int isi, double& merDb) = 0;
    virtual KXAPI_RESULT GetMerPlHeaders(double& merDb) = 0;
    virtual KXAPI_RESULT GetStatEbN0(int isi, double merDb, double& ebN0Db) = 0;
    virtual KXAPI_RESULT GetLinkMargin(int isi, double merDb, double& marginDb) = 0;
    // Bit error rates computed from the MER for stream isi.
    virtual KXAPI_RESULT GetBerPreLdpc(int isi, double merDb, double& ber) = 0;
    virtual KXAPI_RESULT GetBerPostLdpc(int isi, double merDb, double& ber) = 0;
    virtual KXAPI_RESULT GetBerPostBch(int isi, double merDb, double& ber) = 0;
    virtual KXAPI_RESULT GetFerPostLdpc(int isi, double& fer) = 0;
    virtual KXAPI_RESULT GetFerPostBch(int isi, double& fer) = 0;
    virtual KXAPI_RESULT GetRollOff(double& rollOff) = 0;
    // Occupied bandwidth in MHz for a symbol rate.
    virtual KXAPI_RESULT GetOccupiedBw(long long symbolRateBd, double& bandwidthMHz) = 0;
    virtual KXAPI_RESULT GetAgc1(int& agc) = 0;
    // Uncalibrated level (dBmV) for the tuner's baseband gain.
    virtual KXAPI_RESULT GetRfLvlUncalib(int basebandGain, double& levelDbmv) = 0;
    // Calibrated channel level in tenths, as the statistic RfLvlChan reports it.
    virtual KXAPI_RESULT GetRfLvlChan(int basebandGain, long long freqHz, int temperature, long long symbolRateBd,
                                      int& levelTenths) = 0;
};
