// The 3530 sub-types 2 and 3: block-driver cards with one I2C master per port. (Sub-type 1 is
// a legacy PCIe card, listed as scenario-only.)
#include "SimBlockModels.h"
#include "SimCardModel.h"

void SimFit3530BlockDriver(SimCard& card)
{
    SimInstallBlockDriverModels(card);
}
