#include "SimCardModel.h"

namespace {

// One line per virtual-card model. The list is written out on purpose: a model file that
// registered itself through a static object would be dropped by the linker, because nothing
// references an object file of the kxsim static library whose only job is to register itself.
const SimCardModel CARD_MODELS[] = {
    {3460, -1, SimFit3460},
    {3470, -1, SimFit3470},
    {3480, -1, SimFitScenarioOnly},
    {3490, -1, SimFit3490},
    {3510, -1, SimFitScenarioOnly},
    {3520, -1, SimFitScenarioOnly},
    {3530, 2, SimFit3530BlockDriver},
    {3530, 3, SimFit3530BlockDriver},
    {3530, -1, SimFit3530},
    {810, -1, SimFitScenarioOnly},
    {820, -1, SimFitScenarioOnly},
    {830, -1, SimFitScenarioOnly},
    {850, -1, SimFitScenarioOnly},
};

} // namespace

std::span<const SimCardModel> SimCardModels()
{
    return CARD_MODELS;
}

const SimCardModel* SimFindCardModel(int model, int subType)
{
    const SimCardModel* pAnySubType = nullptr;
    for (const SimCardModel& entry : CARD_MODELS) {
        if (entry.m_Model != model)
            continue;
        if (entry.m_SubType == subType)
            return &entry;
        if (entry.m_SubType == -1 && pAnySubType == nullptr)
            pAnySubType = &entry;
    }
    return pAnySubType;
}

// The card holds what its scenario entry gives (properties, tables, VPD, I2C register files,
// RF scene) and nothing else: the service drives no chip of these models.
void SimFitScenarioOnly(SimCard&) {}
