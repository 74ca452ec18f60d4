// The port-command property table, in the order the protocol defines.
#include "DemodSvcProtocol.h"

#include "DemodSvcGeneric.h"

namespace Kxapi {

namespace {

constexpr DemodForm FIXED = DEMOD_FORM_FIXED;
constexpr DemodForm GENERIC = DEMOD_FORM_GENERIC;

// Elements a generic request's text must carry ("Port" of 55 is not read). The statistics
// read requires none: an empty list is a valid request answered with an empty list.
const char* const NO_ELEMS[] = {nullptr};
const char* const PARS_ELEMS[] = {"KxDemodPars", nullptr};
const char* const TUNE_ELEMS[] = {DEMOD_ELEM_FREQ_HZ, "KxDemodPars", nullptr};
const char* const C2_SEL_ELEMS[] = {"c2sel", nullptr};
const char* const T2_SEL_ELEMS[] = {"t2sel", nullptr};
const char* const EQUALISE_ELEMS[] = {DEMOD_ELEM_EQUALISER_SETTING, nullptr};
const char* const FREQ_GET_ELEMS[] = {DEMOD_ELEM_TUNER_ID, nullptr};
const char* const FREQ_SET_ELEMS[] = {DEMOD_ELEM_FREQ_HZ, DEMOD_ELEM_TUNER_ID, nullptr};
const char* const ENABLE_ELEMS[] = {DEMOD_ELEM_ENABLE, nullptr};
const char* const BLIND_SCAN_ELEMS[] = {"KxDemodPars", DEMOD_ELEM_FREQ_HZ_STEPS, DEMOD_ELEM_START_FREQ_HZ,
                                        DEMOD_ELEM_END_FREQ_HZ, nullptr};
const char* const SPECTRUM_SCAN_ELEMS[] = {DEMOD_ELEM_SCAN_TYPE, DEMOD_ELEM_FREQ_HZ_STEPS, DEMOD_ELEM_START_FREQ_HZ,
                                           DEMOD_ELEM_END_FREQ_HZ, nullptr};
const char* const COUNT_ELEMS[] = {DEMOD_ELEM_COUNT, nullptr};
const char* const ATTRIBUTE_ELEMS[] = {DEMOD_ELEM_ATTRIBUTE_ID, nullptr};
const char* const CONSTEL_ELEMS[] = {DEMOD_ELEM_NUM_POINTS, DEMOD_ELEM_STREAM_ID, nullptr};
const char* const OPEN_STREAM_ELEMS[] = {"strselpar", nullptr};
const char* const STREAM_ID_ELEMS[] = {DEMOD_ELEM_STREAM_ID, nullptr};

} // namespace

// Columns: code, queued, waitDone, suspendsStats, scanClass, minSize, operation, form, elements.
const DemodCmdProperties CommandProperties[] = {
    {3, false, false, false, 0, 4, DEMOD_OP_INIT, FIXED, nullptr},
    {26, false, false, false, 0, 272, DEMOD_OP_EVENT_REGISTER, FIXED, nullptr},
    {27, true, false, true, 1, 32, DEMOD_OP_TUNE, FIXED, nullptr},
    {37, true, false, true, 1, 4, DEMOD_OP_TUNE, GENERIC, TUNE_ELEMS},
    {39, false, false, false, 0, 4, DEMOD_OP_STREAM_SEL_GET_C2, GENERIC, nullptr},
    {41, false, false, false, 0, 4, DEMOD_OP_STREAM_SEL_GET_T2, GENERIC, nullptr},
    {5, true, true, false, 0, 8, DEMOD_OP_CONSTELLATION, FIXED, nullptr},
    {6, false, false, false, 0, 4, DEMOD_OP_CONTROL_GET, FIXED, nullptr},
    {35, false, false, false, 0, 4, DEMOD_OP_CONTROL_GET, GENERIC, nullptr},
    {11, false, false, false, 0, 4, DEMOD_OP_TUNE_PARS_GET, FIXED, nullptr},
    {13, false, false, false, 0, 4, DEMOD_OP_FREQ_GET, FIXED, nullptr},
    {45, false, false, false, 0, 4, DEMOD_OP_FREQ_GET, GENERIC, FREQ_GET_ELEMS},
    {25, true, false, false, 2, 8, DEMOD_OP_ANT_POWER, FIXED, nullptr},
    {32, true, false, false, 0, 12, DEMOD_OP_STATS_MODE, FIXED, nullptr},
    {12, true, true, false, 0, 40, DEMOD_OP_TUNE_PARS_SET, FIXED, nullptr},
    {14, true, false, true, 2, 16, DEMOD_OP_FREQ_SET, FIXED, nullptr},
    {46, true, false, true, 0, 4, DEMOD_OP_FREQ_SET, GENERIC, FREQ_SET_ELEMS},
    {47, true, false, false, 2, 8, DEMOD_OP_TUNING_MODE, FIXED, nullptr},
    {15, true, false, true, 2, 20, DEMOD_OP_CONTROL_SET, FIXED, nullptr},
    {36, true, false, true, 2, 4, DEMOD_OP_CONTROL_SET, GENERIC, PARS_ELEMS},
    {40, true, false, true, 2, 4, DEMOD_OP_STREAM_SEL_SET_C2, GENERIC, C2_SEL_ELEMS},
    {42, true, false, true, 2, 4, DEMOD_OP_STREAM_SEL_SET_T2, GENERIC, T2_SEL_ELEMS},
    {16, true, true, false, 2, 8, DEMOD_OP_LNB_ENABLE, FIXED, nullptr},
    {17, true, true, false, 2, 8, DEMOD_OP_LNB_VOLTAGE, FIXED, nullptr},
    {18, true, true, false, 2, 8, DEMOD_OP_LNB_TONE, FIXED, nullptr},
    {24, true, true, true, 1, 32, DEMOD_OP_BLIND_SCAN, FIXED, nullptr},
    {50, true, false, true, 1, 4, DEMOD_OP_BLIND_SCAN, GENERIC, BLIND_SCAN_ELEMS},
    {51, false, false, false, 1, 4, DEMOD_OP_BLIND_SCAN_CANCEL, FIXED, nullptr},
    {52, true, false, false, 2, 4, DEMOD_OP_SPECTRUM_SCAN, GENERIC, SPECTRUM_SCAN_ELEMS},
    {53, false, false, false, 2, 4, DEMOD_OP_SPECTRUM_SCAN_CANCEL, FIXED, nullptr},
    {19, true, true, false, 0, 8, DEMOD_OP_LNB_BURST, FIXED, nullptr},
    {20, true, true, false, 0, 12, DEMOD_OP_LNB_DISEQC, FIXED, nullptr},
    {38, false, false, false, 0, 4, DEMOD_OP_STATISTICS, GENERIC, NO_ELEMS},
    {49, false, false, false, 0, 4, DEMOD_OP_POLLING_ENABLE, GENERIC, ENABLE_ELEMS},
    {31, false, false, false, 0, 8, DEMOD_OP_SUPPORTED_STATS, FIXED, nullptr},
    {34, true, false, false, 2, 8, DEMOD_OP_AGC_RESET, FIXED, nullptr},
    {43, true, true, false, 2, 4, DEMOD_OP_EQUALISE, GENERIC, EQUALISE_ELEMS},
    {57, true, false, false, 0, 4, DEMOD_OP_OPEN_STREAM, GENERIC, OPEN_STREAM_ELEMS},
    {58, true, false, false, 0, 4, DEMOD_OP_CLOSE_STREAM, GENERIC, STREAM_ID_ELEMS},
    {59, false, false, false, 0, 4, DEMOD_OP_STREAM_LIST, GENERIC, nullptr},
    {7, false, false, false, 0, 4, DEMOD_OP_LOCK_MER, FIXED, nullptr},
    {8, false, false, false, 0, 8, DEMOD_OP_UNSUPPORTED, FIXED, nullptr},
    {9, false, false, false, 0, 12, DEMOD_OP_UNSUPPORTED, FIXED, nullptr},
    {10, false, false, false, 0, 12, DEMOD_OP_UNSUPPORTED, FIXED, nullptr},
    {30, false, false, false, 0, 8, DEMOD_OP_STATISTICS, FIXED, nullptr},
    {54, false, false, false, 0, 4, DEMOD_OP_SUPPORTED_STATS, GENERIC, COUNT_ELEMS},
    {55, false, false, false, 0, 4, DEMOD_OP_ATTRIBUTE, GENERIC, ATTRIBUTE_ELEMS},
    {56, true, true, false, 0, 4, DEMOD_OP_CONSTELLATION, GENERIC, CONSTEL_ELEMS},
};
const size_t CommandPropertiesCount = sizeof(CommandProperties) / sizeof(CommandProperties[0]);

const DemodCmdProperties* DemodFindCmdProperties(uint32_t cmd)
{
    for (size_t i = 0; i < CommandPropertiesCount; i++)
        if (CommandProperties[i].m_Cmd == cmd)
            return &CommandProperties[i];
    return nullptr;
}

} // namespace Kxapi
