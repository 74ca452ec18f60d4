// NewDemodHal: the model's row of the library's model table, and the HAL built for it. A model
// whose HAL is not part of this build gets an UnavailableHal.
#include <cstring>
#include <new>

#include "DemodHal.h"
#include "Kxa3460Hal.h"
#include "KxModelTable.h"
#include "UnavailableHal.h"

using namespace Kxapi;

namespace {

using HalMaker = DemodHal* (*)(long long serial, KxDeviceInt& device);

template <typename Hal> DemodHal* MakeHal(long long serial, KxDeviceInt& device)
{
    return new (std::nothrow) Hal(serial, device);
}

struct HalMakerRow {
    const char* m_pClassName;
    HalMaker m_pMake;
};

const HalMakerRow HAL_MAKERS[] = {
    {"Kxa3460Hal", MakeHal<Kxa3460Hal>},
};

} // namespace

DemodHal* NewDemodHal(int typeNumber, int subType, long long serial, KxDeviceInt& device)
{
    const KxModelInfo* pModel = KxFindModel(typeNumber, subType);
    if (pModel == nullptr)
        return nullptr;
    for (const HalMakerRow& row : HAL_MAKERS) {
        if (strcmp(row.m_pClassName, pModel->m_pHalClass) == 0)
            return row.m_pMake(serial, device);
    }
    return new (std::nothrow)
        UnavailableHal(serial, device, typeNumber, pModel->m_pHalClass, pModel->m_NumPorts);
}
