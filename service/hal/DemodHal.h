// DemodHal: the receiver hardware abstraction one device controller owns per attached device.
// Port numbers are 1-based here; towards the device access object a HAL passes port - 1.
// Every setter takes `execute` last: false only validates (client handler thread, nothing is
// touched), true performs (the port's worker thread). Frequency attributes are in MHz.
#pragma once

#include <span>
#include <variant>
#include <vector>

#include "CritSecAutoLockSvc.h"
#include "DemodPars.h"
#include "IInterface.h"
#include "KxDemodTypes.h"
#include "KxDevice.h"
#include "KxStatistic.h"
#include "KxStreamSel.h"
#include "KxapiResult.h"
#include "SupportedStatisticsType.h"
#include "XpHandles.h"
#include "XpInterfaces.h"
#include "KxNonCopyable.h"

namespace Kxapi {
class KxRfCalV1;
}
struct KxModelInfo;
struct DemodHalDescriptor;

// One row of a device property table: X then Y.
using KxTableEntry = _KxTableEntry;

// Attribute ids of GetAttribute (values in MHz).
enum : int {
    DEMOD_ATTR_MOD_FREQ_ABSMAX = 4,
    DEMOD_ATTR_MOD_FREQ_ABSMIN = 5,
    DEMOD_ATTR_MOD_FREQ_MAX = 6,
    DEMOD_ATTR_MOD_FREQ_MIN = 7,
};

// The value and result a statistic reports before the first measurement (see
// DemodHal::FillDefaultStatistics); a monostate value leaves the value as it is.
struct DefaultStatisticValue {
    int32_t m_StatisticId;
    KXAPI_RESULT m_Result;
    std::variant<std::monostate, bool, int32_t, double> m_Value;
};

class DemodHal : public IInterface, private KxNonCopyable {
public:
    // A registered model's HAL: port count from the descriptor's row of the model table,
    // supported statistics and their defaults from the descriptor.
    DemodHal(long long serial, Kxapi::KxDeviceInt& device, const DemodHalDescriptor& descriptor);
    // pModel: the model's row of the library's model table, without statistics tables (null for
    // a HAL outside the table, which then reports its own port count and statistics).
    DemodHal(long long serial, Kxapi::KxDeviceInt& device, const KxModelInfo* pModel = nullptr);
    ~DemodHal() override;

    // The port count of the model's row.
    virtual int NumDemodPorts();
    // True for a port whose setters act already in the validation pass (execute false) and do
    // nothing when executed (the 3470's I/Q port, whose client learns at once whether it got
    // the tuner). Every other port touches no hardware until execute is true.
    virtual bool ActsInValidationPass(int port) const;
    // Once after construction, before any port exists: chip drivers and proxies.
    virtual KXAPI_RESULT Init();
    // First client of a port attaches (a failure refuses the usage) / last one leaves.
    virtual KXAPI_RESULT OnFirstUsage(int port);
    virtual KXAPI_RESULT OnLastUsageEnds(int port);
    // Power-on defaults of a port; called by the port controller before its thread starts.
    virtual KXAPI_RESULT InitPort(int port) = 0;
    // One periodic acquisition step with the parameters the HAL holds; blindScan is true when
    // called from a blind scan.
    virtual KXAPI_RESULT Tune(int port, bool blindScan) = 0;
    // Attributes 4 to 7 from the port's properties (see the enum); others KXAPI_E_NOT_SUPPORTED.
    virtual KXAPI_RESULT GetAttribute(int port, int attribute, int& value, bool execute);
    // In: capacity; out: count. KXAPI_E_BUF_TOO_SMALL when the capacity is too small. Default:
    // the descriptor's table, the same for every port.
    virtual KXAPI_RESULT GetSupportedStatistics(int port, int& count, SupportedStatisticsType* list);
    // Fills value and per-item result of each requested statistic.
    virtual KXAPI_RESULT GetStatistics(int port, int count, Kxapi::KxStatistic* stats) = 0;
    // Maintenance step after every statistics poll, with the current lock state (default:
    // nothing to maintain).
    virtual KXAPI_RESULT Update(int port, bool locked);
    // Values and results reported before the first measurement. Default: the descriptor's
    // table (a statistic not listed there KXAPI_E_TUNING); without a descriptor, left as they are.
    virtual KXAPI_RESULT GetDefaultStatisticValues(int count, Kxapi::KxStatistic* stats);
    virtual KXAPI_RESULT GetAutoBlindScanPars(int port, Kxapi::KxDemodPars& pars);
    // After a lock during a blind scan: the exact carrier and where the sweep continues.
    virtual KXAPI_RESULT GetBlindScanFrequencies(int port, long long freqHz, long long& foundHz,
                                                 Kxapi::KxDemodPars& pars, long long& nextHz);
    // Must be safe while the worker thread is inside a blind-scan step.
    virtual KXAPI_RESULT CancelBlindScan(int port);
    virtual KXAPI_RESULT CloseSpectrumScan(int port);
    // Settings of a spectrum scan: tuner argument, tuning mode, settle time and frequency offset.
    virtual KXAPI_RESULT InitSpectrumScan(int port, int scanType, int& tunerArg, int& tuningMode, int& settleMs,
                                          long long& offsetHz, bool execute);
    virtual KXAPI_RESULT GetDemodControl(int port, Kxapi::KxDemodPars& pars);
    virtual KXAPI_RESULT GetPlpList(int port, std::vector<int>& plpIds);
    // tunerId -1: the port's tuner; 0 and 1 for two-tuner models.
    virtual KXAPI_RESULT GetTunerFrequency(int port, long long& freqHz, int tunerId);
    virtual KXAPI_RESULT GetStreamSelection(int port, Kxapi::KxDvbC2StreamSelPars& sel);
    virtual KXAPI_RESULT GetStreamSelection(int port, Kxapi::KxDvbT2StreamSelPars& sel);
    virtual KXAPI_RESULT GetStreamSelection(int port, Kxapi::KxAtsc3StreamSelPars& sel);
    virtual KXAPI_RESULT GetStreamSelection(int port, std::vector<Kxapi::KxStreamSelPars>& list);
    virtual KXAPI_RESULT CloseStream(int port, long long streamId, bool execute);
    // count points of stream streamId (-1: the port's current stream).
    virtual KXAPI_RESULT GetConstellationPoints(int port, int count, Kxapi::KxConstelPoint* points, int streamId,
                                                bool execute);
    virtual KXAPI_RESULT GetTunePars(int port, Kxapi::KxTunePars* pars, bool execute);
    virtual KXAPI_RESULT EnableEqualiser(int port, int setting, bool execute);
    virtual KXAPI_RESULT LnbEnable(int port, bool enable, bool execute);
    virtual KXAPI_RESULT LnbEnableTone(int port, bool enable, bool execute);
    virtual KXAPI_RESULT LnbSendBurst(int port, unsigned int burst, bool execute);
    // replyLength: capacity in, bytes received out; reply may be null when the capacity is 0.
    virtual KXAPI_RESULT LnbSendDiseqcMessage(int port, const unsigned char* message, int length,
                                              unsigned char* reply, int* replyLength, bool execute);
    virtual KXAPI_RESULT LnbSetVoltage(int port, unsigned int level, bool execute);
    virtual KXAPI_RESULT OpenStream(int port, Kxapi::KxStreamSelPars& sel, bool execute);
    virtual KXAPI_RESULT ResetAgc(int port, unsigned int what, bool execute);
    virtual KXAPI_RESULT SetErrorStatsMode(int port, int mode0, int mode1, bool execute);
    virtual KXAPI_RESULT SetAntPower(int port, int mode, bool execute);
    virtual KXAPI_RESULT SetDemodControl(int port, Kxapi::KxDemodPars& pars, bool execute);
    virtual KXAPI_RESULT SetStreamSelection(int port, Kxapi::KxDvbC2StreamSelPars& sel, bool execute);
    virtual KXAPI_RESULT SetStreamSelection(int port, Kxapi::KxDvbT2StreamSelPars& sel, bool execute);
    virtual KXAPI_RESULT SetStreamSelection(int port, Kxapi::KxAtsc3StreamSelPars& sel, bool execute);
    virtual KXAPI_RESULT SetTuningMode(int port, int mode, bool execute);
    virtual KXAPI_RESULT SetTunePars(int port, Kxapi::KxTunePars* pars, bool execute);
    virtual KXAPI_RESULT SetTunerFrequency(int port, long long freqHz, int tunerId, bool execute);
    // Validates and accepts a new frequency and parameter set.
    virtual KXAPI_RESULT Tune(int port, long long freqHz, Kxapi::KxDemodPars& pars, bool execute);

    // Reads a named property table of the port (1-based). A null rows pointer gets room for one
    // row; a too small array is reallocated once to the reported count. The caller frees rows
    // with delete[]. Returns the device's last result; count holds the rows read.
    KXAPI_RESULT GetTable(int port, const char* name, std::vector<KxTableEntry>& rows);
    // Builds an RF-level calibration set from the port's compensation tables.
    KXAPI_RESULT GetRfLevelTables(int port, Kxapi::KxRfCalV1* cal);

    long long Serial() const { return m_Serial; }
    Kxapi::KxDeviceInt& Device() { return m_Device; }
    // The model's row of the model table; null for a HAL outside the table.
    const KxModelInfo* Model() const { return m_pModel; }

protected:
    // Holds the HAL lock and then the device's I2C lock for one hardware access, and releases
    // both (I2C first) on every way out of the scope. Locked() is false when the I2C lock was
    // not obtained; Result() then carries the device's answer.
    class HardwareLock : private KxNonCopyable {
    public:
        explicit HardwareLock(DemodHal& hal) : m_HalLock(hal.m_pHalLock), m_I2c(hal.m_Device) {}
        bool Locked() const { return m_I2c.Locked(); }
        KXAPI_RESULT Result() const { return m_I2c.Result(); }
        // Releases the I2C lock early; the HAL lock is kept to the end of the scope.
        void UnlockI2c() { m_I2c.Unlock(); }

    private:
        CritSecAutoLockSvc m_HalLock;
        Kxapi::I2cAutoLock m_I2c;
    };

    // KXAPI_E_NO_SUCH_PORT unless 1 <= port <= NumDemodPorts().
    KXAPI_RESULT CheckPort(int port);
    // KXAPI_E_NOT_ATTACHED for a detached device, then CheckPort.
    KXAPI_RESULT CheckDevicePort(int port);
    // GetSupportedStatistics of a model with one table for every port: KXAPI_E_BUF_TOO_SMALL
    // (count unchanged) when the capacity in count is smaller than the table,
    // KXAPI_E_INVALID_ARG for a null list, else the rows copied and count set.
    static KXAPI_RESULT CopySupportedStatistics(std::span<const SupportedStatisticsType> table, int& count,
                                                SupportedStatisticsType* list);
    // GetDefaultStatisticValues from a table: a statistic listed there gets the row's result and
    // value, any other one unlistedResult (its value untouched).
    static KXAPI_RESULT FillDefaultStatistics(std::span<const DefaultStatisticValue> table,
                                              KXAPI_RESULT unlistedResult, int count, Kxapi::KxStatistic* stats);

    Kxapi::KxDeviceInt& m_Device;
    long long m_Serial;
    // Guards the model's state; taken before the device's I2C lock (see HardwareLock).
    XpCritSecPtr m_pHalLock;

private:
    const DemodHalDescriptor* m_pDescriptor;
    const KxModelInfo* m_pModel;
};

// The HAL of a model: the row of the model table for type number and sub-type (3530: 2 the
// 3530B, 3 the 3530C, otherwise the QAM model) and the HAL registered for that row. Null for a
// type number that is not a receiver; a model whose HAL is not registered gets an
// UnavailableHal, which answers its Init with KXAPI_E_NOT_SUPPORTED.
DemodHal* NewDemodHal(int typeNumber, int subType, long long serial, Kxapi::KxDeviceInt& device);
