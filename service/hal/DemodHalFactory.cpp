// NewDemodHal: the model's row of the library's model table, and the HAL registered for it. A
// model whose HAL is not part of this build gets an UnavailableHal.
#include <new>

#include "DemodHal.h"
#include "DemodHalRegistry.h"
#include "KxModelTable.h"
#include "UnavailableHal.h"

using namespace Kxapi;

DemodHal* NewDemodHal(int typeNumber, int subType, long long serial, KxDeviceInt& device)
{
    const KxModelInfo* pModel = KxFindModel(typeNumber, subType);
    if (pModel == nullptr)
        return nullptr;
    const DemodHalDescriptor* pHal = FindRegisteredDemodHal(*pModel);
    if (pHal != nullptr)
        return pHal->m_pMake(serial, device);
    return new (std::nothrow) UnavailableHal(serial, device, *pModel);
}
