// The defaults every receiver model inherits, and the shared services: frequency attributes
// from device properties, property tables and the RF-level compensation tables.
#include "DemodHal.h"

#include <new>

#include "CrossPlatform.h"
#include "DemodHalRegistry.h"
#include "KxFreqLimits.h"
#include "KxModelTable.h"
#include "KxRfCal.h"

using namespace Kxapi;

namespace {

struct AttributeProperty {
    int m_Attribute;
    const char* m_pName;
};

const AttributeProperty ATTRIBUTE_PROPERTIES[] = {
    {DEMOD_ATTR_MOD_FREQ_ABSMAX, KxFreqLimits::ABS_MAX_PROPERTY},
    {DEMOD_ATTR_MOD_FREQ_ABSMIN, KxFreqLimits::ABS_MIN_PROPERTY},
    {DEMOD_ATTR_MOD_FREQ_MAX, KxFreqLimits::MAX_PROPERTY},
    {DEMOD_ATTR_MOD_FREQ_MIN, KxFreqLimits::MIN_PROPERTY},
};

} // namespace

DemodHal::DemodHal(long long serial, KxDeviceInt& device, const DemodHalDescriptor& descriptor)
    : m_Device(device), m_Serial(serial), m_pHalLock(Xp::Instance()->MakeCritSec()), m_pDescriptor(&descriptor),
      m_pModel(descriptor.Model())
{
}

DemodHal::DemodHal(long long serial, KxDeviceInt& device, const KxModelInfo* pModel)
    : m_Device(device), m_Serial(serial), m_pHalLock(Xp::Instance()->MakeCritSec()), m_pDescriptor(nullptr),
      m_pModel(pModel)
{
}

DemodHal::~DemodHal() = default;

int DemodHal::NumDemodPorts()
{
    return m_pModel != nullptr ? m_pModel->m_NumPorts : 0;
}

bool DemodHal::ActsInValidationPass(int) const
{
    return false;
}

KXAPI_RESULT DemodHal::CheckPort(int port)
{
    return port >= 1 && port <= NumDemodPorts() ? KXAPI_OK : KXAPI_E_NO_SUCH_PORT;
}

KXAPI_RESULT DemodHal::CheckDevicePort(int port)
{
    if (!m_Device.IsAttached())
        return KXAPI_E_NOT_ATTACHED;
    return CheckPort(port);
}

KXAPI_RESULT DemodHal::CopySupportedStatistics(std::span<const SupportedStatisticsType> table, int& count,
                                               SupportedStatisticsType* list)
{
    if (count < 0 || static_cast<size_t>(count) < table.size())
        return KXAPI_E_BUF_TOO_SMALL;
    if (list == nullptr)
        return KXAPI_E_INVALID_ARG;
    for (size_t i = 0; i < table.size(); i++)
        list[i] = table[i];
    count = static_cast<int>(table.size());
    return KXAPI_OK;
}

KXAPI_RESULT DemodHal::FillDefaultStatistics(std::span<const DefaultStatisticValue> table,
                                             KXAPI_RESULT unlistedResult, int count, KxStatistic* stats)
{
    if (count > 0 && stats == nullptr)
        return KXAPI_E_INVALID_ARG;
    for (int i = 0; i < count; i++) {
        KxStatistic& stat = stats[i];
        stat.m_Result = static_cast<int32_t>(unlistedResult);
        for (const DefaultStatisticValue& row : table) {
            if (row.m_StatisticId != stat.m_StatisticId)
                continue;
            stat.m_Result = static_cast<int32_t>(row.m_Result);
            // A value of the wrong type leaves KXAPI_E_INVALID_TYPE in the result.
            std::visit(
                [&stat](const auto& value) {
                    if constexpr (!std::is_same_v<std::decay_t<decltype(value)>, std::monostate>)
                        stat.SetValue(value);
                },
                row.m_Value);
            break;
        }
    }
    return KXAPI_OK;
}

KXAPI_RESULT DemodHal::Init()
{
    return KXAPI_OK;
}

KXAPI_RESULT DemodHal::OnFirstUsage(int port)
{
    return CheckPort(port);
}

KXAPI_RESULT DemodHal::OnLastUsageEnds(int port)
{
    return CheckPort(port);
}

KXAPI_RESULT DemodHal::GetAttribute(int port, int attribute, int& value, bool)
{
    KXAPI_RESULT result = CheckPort(port);
    if (KxapiFailed(result))
        return result;
    for (const AttributeProperty& row : ATTRIBUTE_PROPERTIES) {
        if (row.m_Attribute != attribute)
            continue;
        // The property read zeroes its output first; only a successful read reaches the caller,
        // so a missing property leaves the caller's value as it was.
        int read = 0;
        if (KxapiSucceeded(m_Device.PropertyGetInt(row.m_pName, port - 1, read, -1, -1, 0, 0, -1)))
            value = read;
        return KXAPI_OK;
    }
    return KXAPI_E_NOT_SUPPORTED;
}

KXAPI_RESULT DemodHal::GetSupportedStatistics(int port, int& count, SupportedStatisticsType* list)
{
    KXAPI_RESULT result = CheckPort(port);
    if (KxapiFailed(result))
        return result;
    if (m_pDescriptor == nullptr)
        return KXAPI_E_NOT_SUPPORTED;
    return CopySupportedStatistics(m_pDescriptor->m_SupportedStatistics, count, list);
}

KXAPI_RESULT DemodHal::Update(int port, bool)
{
    return CheckPort(port);
}

KXAPI_RESULT DemodHal::GetDefaultStatisticValues(int count, KxStatistic* stats)
{
    if (m_pDescriptor == nullptr)
        return KXAPI_OK;
    return FillDefaultStatistics(m_pDescriptor->m_DefaultStatistics, KXAPI_E_TUNING, count, stats);
}

KXAPI_RESULT DemodHal::GetAutoBlindScanPars(int, KxDemodPars&)
{
    return KXAPI_E_NOT_SUPPORTED;
}

KXAPI_RESULT DemodHal::GetBlindScanFrequencies(int, long long, long long&, KxDemodPars&, long long&)
{
    return KXAPI_E_NOT_SUPPORTED;
}

KXAPI_RESULT DemodHal::CancelBlindScan(int)
{
    return KXAPI_E_NOT_SUPPORTED;
}

KXAPI_RESULT DemodHal::CloseSpectrumScan(int)
{
    return KXAPI_E_NOT_SUPPORTED;
}

KXAPI_RESULT DemodHal::InitSpectrumScan(int, int, int&, int&, int&, long long&, bool)
{
    return KXAPI_E_NOT_SUPPORTED;
}

KXAPI_RESULT DemodHal::GetDemodControl(int, KxDemodPars&)
{
    return KXAPI_E_NOT_SUPPORTED;
}

KXAPI_RESULT DemodHal::GetPlpList(int, std::vector<int>&)
{
    return KXAPI_E_NOT_SUPPORTED;
}

KXAPI_RESULT DemodHal::GetTunerFrequency(int, long long&, int)
{
    return KXAPI_E_NOT_SUPPORTED;
}

KXAPI_RESULT DemodHal::GetStreamSelection(int, KxDvbC2StreamSelPars&)
{
    return KXAPI_E_NOT_SUPPORTED;
}

KXAPI_RESULT DemodHal::GetStreamSelection(int, KxDvbT2StreamSelPars&)
{
    return KXAPI_E_NOT_SUPPORTED;
}

KXAPI_RESULT DemodHal::GetStreamSelection(int, KxAtsc3StreamSelPars&)
{
    return KXAPI_E_NOT_SUPPORTED;
}

KXAPI_RESULT DemodHal::GetStreamSelection(int, std::vector<KxStreamSelPars>&)
{
    return KXAPI_E_NOT_SUPPORTED;
}

KXAPI_RESULT DemodHal::CloseStream(int, long long, bool)
{
    return KXAPI_E_NOT_SUPPORTED;
}

KXAPI_RESULT DemodHal::GetConstellationPoints(int, int, KxConstelPoint*, int, bool)
{
    return KXAPI_E_NOT_SUPPORTED;
}

KXAPI_RESULT DemodHal::GetTunePars(int, KxTunePars*, bool)
{
    return KXAPI_E_NOT_SUPPORTED;
}

KXAPI_RESULT DemodHal::EnableEqualiser(int, int, bool)
{
    return KXAPI_E_NOT_SUPPORTED;
}

KXAPI_RESULT DemodHal::LnbEnable(int, bool, bool)
{
    return KXAPI_E_NOT_SUPPORTED;
}

KXAPI_RESULT DemodHal::LnbEnableTone(int, bool, bool)
{
    return KXAPI_E_NOT_SUPPORTED;
}

KXAPI_RESULT DemodHal::LnbSendBurst(int, unsigned int, bool)
{
    return KXAPI_E_NOT_SUPPORTED;
}

KXAPI_RESULT DemodHal::LnbSendDiseqcMessage(int, const unsigned char*, int, unsigned char*, int*, bool)
{
    return KXAPI_E_NOT_SUPPORTED;
}

KXAPI_RESULT DemodHal::LnbSetVoltage(int, unsigned int, bool)
{
    return KXAPI_E_NOT_SUPPORTED;
}

KXAPI_RESULT DemodHal::OpenStream(int, KxStreamSelPars&, bool)
{
    return KXAPI_E_NOT_SUPPORTED;
}

KXAPI_RESULT DemodHal::ResetAgc(int, unsigned int, bool)
{
    return KXAPI_E_NOT_SUPPORTED;
}

KXAPI_RESULT DemodHal::SetErrorStatsMode(int, int, int, bool)
{
    return KXAPI_E_NOT_SUPPORTED;
}

KXAPI_RESULT DemodHal::SetAntPower(int, int, bool)
{
    return KXAPI_E_NOT_SUPPORTED;
}

KXAPI_RESULT DemodHal::SetDemodControl(int, KxDemodPars&, bool)
{
    return KXAPI_E_NOT_SUPPORTED;
}

KXAPI_RESULT DemodHal::SetStreamSelection(int, KxDvbC2StreamSelPars&, bool)
{
    return KXAPI_E_NOT_SUPPORTED;
}

KXAPI_RESULT DemodHal::SetStreamSelection(int, KxDvbT2StreamSelPars&, bool)
{
    return KXAPI_E_NOT_SUPPORTED;
}

KXAPI_RESULT DemodHal::SetStreamSelection(int, KxAtsc3StreamSelPars&, bool)
{
    return KXAPI_E_NOT_SUPPORTED;
}

KXAPI_RESULT DemodHal::SetTuningMode(int, int, bool)
{
    return KXAPI_E_NOT_SUPPORTED;
}

KXAPI_RESULT DemodHal::SetTunePars(int, KxTunePars*, bool)
{
    return KXAPI_E_NOT_SUPPORTED;
}

KXAPI_RESULT DemodHal::SetTunerFrequency(int, long long, int, bool)
{
    return KXAPI_E_NOT_SUPPORTED;
}

KXAPI_RESULT DemodHal::Tune(int, long long, KxDemodPars&, bool)
{
    return KXAPI_E_NOT_SUPPORTED;
}

KXAPI_RESULT DemodHal::GetTable(int port, const char* name, std::vector<KxTableEntry>& rows)
{
    // Port 0 would reach the device-level tables.
    KXAPI_RESULT result = CheckPort(port);
    if (KxapiFailed(result)) {
        rows.clear();
        return result;
    }
    return m_Device.GetTable(port - 1, name, rows);
}

KXAPI_RESULT DemodHal::GetRfLevelTables(int port, KxRfCalV1* cal)
{
    if (cal == nullptr)
        return KXAPI_E_INVALID_ARG;
    // Port 0 would reach the device-level tables.
    KXAPI_RESULT result = CheckPort(port);
    if (KxapiFailed(result)) {
        RfCalZero(cal);
        return result;
    }
    return cal->ReadFromTables(m_Device, port);
}
