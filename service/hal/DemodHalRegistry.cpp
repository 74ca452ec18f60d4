#include "DemodHalRegistry.h"

#include "Kx3530Hal.h"
#include "Kxa3460Hal.h"
#include "Kxa3470Hal.h"
#include "Kxa3490Hal.h"
#include "KxModelTable.h"

namespace {

// An explicit list, not self-registering static objects: the HALs are linked from a static
// library, and the linker leaves out an object file that nothing references, together with
// any registrar inside it, so such a HAL would silently vanish from the service.
const DemodHalDescriptor* const REGISTERED_HALS[] = {
    &Kxa3460Hal::DESCRIPTOR,
    &Kxa3470Hal::DESCRIPTOR,
    &Kx3530Hal::DESCRIPTOR,
    &Kxa3490Hal::DESCRIPTOR,
};

} // namespace

const KxModelInfo* DemodHalDescriptor::Model() const
{
    const KxModelInfo* pModel = KxFindModel(m_TypeNumber, m_SubType);
    // KxFindModel answers the first matching row; only the row with this very sub-type counts.
    return pModel != nullptr && pModel->m_SubType == m_SubType ? pModel : nullptr;
}

std::span<const DemodHalDescriptor* const> RegisteredDemodHals()
{
    return REGISTERED_HALS;
}

const DemodHalDescriptor* FindRegisteredDemodHal(const KxModelInfo& model)
{
    for (const DemodHalDescriptor* pHal : REGISTERED_HALS) {
        if (pHal->Model() == &model)
            return pHal;
    }
    return nullptr;
}
