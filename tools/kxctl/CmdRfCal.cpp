// kxctl rfcal: the RF-level calibration of a receiver port as its HAL sees it: frequency limits
// from the port properties, the compensation tables, the stored calibration record, and
// optionally the correction of one level, each read through the library as the HAL reads it.
// Works on this machine's cards, or with --virtual [SCENARIO] on the virtual cards of a
// scenario loaded in this process.
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "KxDevice.h"
#include "KxFreqLimits.h"
#include "KxModelTable.h"
#include "KxRfCal.h"
#include "KxctlCommand.h"
#include "SimEnvironment.h"

using namespace Kxapi;

namespace {

const char* const USAGE = "[--virtual [SCENARIO]] SERIAL PORT [LEVEL_TENTHS_DB FREQ_MHZ TEMP_C]";

bool ParseInt64(const char* text, int64_t& value)
{
    char* end = nullptr;
    errno = 0;
    const long long parsed = strtoll(text, &end, 0);
    if (errno != 0 || end == text || *end != '\0')
        return false;
    value = parsed;
    return true;
}

KxctlJson SetJson(const KxRfCalV1& cal)
{
    KxctlJson tables = KxctlJson::array();
    for (const KxRfCalTable& table : cal.m_Tables) {
        std::vector<int> offsets(table.m_Offsets.begin(), table.m_Offsets.end());
        tables.push_back({{"power", table.m_Power * 0.1}, {"offsets", offsets}, {"unit", "dB x 10"}});
    }
    return {{"start", cal.m_StartFreqMHz},
            {"step", cal.m_FreqStepMHz},
            {"frequency_unit", "MHz"},
            {"reference_temperature", cal.m_RefTemperature},
            {"temperature_coefficient", cal.m_TempCoefficient},
            {"tables", tables}};
}

void PrintSet(const char* title, const KxRfCalV1& cal)
{
    if (KxctlJsonOutput()) {
        KxctlEmit({{title, SetJson(cal)}});
        return;
    }
    printf("%s: %d table(s), %d point(s) from %d MHz every %d MHz; reference %d degC, %.3f dB/degC\n", title,
           cal.NumTables(), cal.NumFrequencies(), cal.m_StartFreqMHz, cal.m_FreqStepMHz, cal.m_RefTemperature,
           static_cast<double>(cal.m_TempCoefficient));
    for (const KxRfCalTable& table : cal.m_Tables) {
        printf("  power %6d x 0.1 dB, offsets (0.1 dB):", table.m_Power);
        for (int8_t offset : table.m_Offsets)
            printf(" %d", offset);
        printf("\n");
    }
}

int RunRfCal(int argc, char** argv)
{
    int next = 0;
    std::unique_ptr<SimEnvironment> environment;
    if (argc > 0 && strcmp(argv[0], "--virtual") == 0) {
        next = 1;
        // An optional scenario path comes before SERIAL: a word that is not a number.
        const char* pScenario = nullptr;
        int64_t probe = 0;
        if (argc > 1 && !ParseInt64(argv[1], probe)) {
            pScenario = argv[1];
            next = 2;
        }
        environment = std::make_unique<SimEnvironment>();
        std::string error;
        KXAPI_RESULT result = environment->Load(pScenario, error);
        if (result != KXAPI_OK) {
            fprintf(stderr, "kxctl: %s\n", error.c_str());
            return KxctlFail("rfcal --virtual", result);
        }
    }
    const int rest = argc - next;
    if (rest != 2 && rest != 5)
        return KxctlUsage("rfcal", "rfcal takes SERIAL PORT and optionally LEVEL FREQ_MHZ TEMP_C");
    int64_t serial = 0, portIndex = 0, level = 0, freqMHz = 0, temperature = 0;
    if (!ParseInt64(argv[next], serial) || !ParseInt64(argv[next + 1], portIndex) ||
        (rest == 5 && (!ParseInt64(argv[next + 2], level) || !ParseInt64(argv[next + 3], freqMHz) ||
                       !ParseInt64(argv[next + 4], temperature) || freqMHz < 0 || freqMHz > 100000)))
        return KxctlUsage("rfcal", "SERIAL, PORT, LEVEL, FREQ_MHZ and TEMP_C are integers");

    KxDeviceInt device;
    KXAPI_RESULT result = device.AttachToSerial(serial);
    if (KxapiFailed(result))
        return KxctlFail("attach", result);
    const KxModelInfo* pModel = KxFindModel(device.TypeNumber(), device.SubType());
    if (pModel == nullptr)
        return KxctlFail("receiver model", KXAPI_E_NOT_SUPPORTED);
    if (portIndex < 0 || portIndex >= pModel->m_NumPorts)
        return KxctlFail("port index", KXAPI_E_NO_SUCH_PORT);
    const int port = static_cast<int>(portIndex) + 1;
    if (KxctlJsonOutput())
        KxctlEmit({{"serial", serial}, {"model", device.TypeNumber()}, {"sub_type", device.SubType()}, {"port", port - 1}});
    else
        printf("card %" PRId64 " (model %d, sub-type %d), port index %d\n", serial, device.TypeNumber(),
               device.SubType(), port - 1);

    KxFreqLimits limits;
    limits.Read(device, port);
    auto limit = [](int value) { return value < 0 ? std::string("?") : std::to_string(value); };
    if (KxctlJsonOutput())
        KxctlEmit({{"frequency_limits",
                    {{"min", limits.m_MinMHz}, {"max", limits.m_MaxMHz}, {"absolute_min", limits.m_AbsMinMHz},
                     {"absolute_max", limits.m_AbsMaxMHz}, {"unit", "MHz"}}}});
    else
        printf("frequency limits: %s .. %s MHz (absolute %s .. %s MHz)\n", limit(limits.m_MinMHz).c_str(),
           limit(limits.m_MaxMHz).c_str(), limit(limits.m_AbsMinMHz).c_str(), limit(limits.m_AbsMaxMHz).c_str());

    KxRfCalV1 tables;
    result = tables.ReadFromTables(device, port);
    if (KxapiFailed(result))
        KxctlPrint({{"compensation tables", nullptr}, {"result", KxapiResult2Str(result)}},
                   std::string("compensation tables: none (") + KxapiResult2Str(result) + ")");
    else
        PrintSet("compensation tables", tables);

    KxRfCalV1 stored;
    result = stored.ReadFromVpd(device, port);
    if (KxapiFailed(result))
        KxctlPrint({{"stored calibration", nullptr}, {"result", KxapiResult2Str(result)}},
                   "stored calibration P" + std::to_string(port) + "_" + KxRfCalV1::NAME + "_V1: none (" +
                       KxapiResult2Str(result) + ")");
    else
        PrintSet("stored calibration", stored);

    if (rest == 5) {
        const int byTables = tables.RfCalCorrection(static_cast<int>(level), static_cast<unsigned int>(freqMHz),
                                                    static_cast<int>(temperature));
        const int byBoth = stored.RfCalCorrection(byTables, static_cast<unsigned int>(freqMHz),
                                                  static_cast<int>(temperature));
        if (KxctlJsonOutput())
            KxctlEmit({{"level", level * 0.1}, {"frequency", freqMHz}, {"frequency_unit", "MHz"},
                       {"temperature", temperature}, {"after_tables", byTables * 0.1},
                       {"after_stored_calibration", byBoth * 0.1}, {"unit", "dB"}});
        else
            printf("level %" PRId64 " x 0.1 dB at %" PRId64 " MHz, %" PRId64 " degC: %d x 0.1 dB after the tables, %d x "
                   "0.1 dB after the stored calibration\n",
                   level, freqMHz, temperature, byTables, byBoth);
    }
    return 0;
}

KxctlRegistrar g_RfCal({"rfcal", USAGE, "RF-level calibration of a receiver port (tables, stored record, correction)",
                        RunRfCal});

} // namespace
