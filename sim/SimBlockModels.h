// Models of the FPGA blocks of the block-driver cards (3470, 3530 sub-types 2 and 3). Command
// codes and payloads are those of the register proxies (KxProxyBlocks.h,
// KxProxyS2CRDEMOD_3470.h); each model answers from its card's RF scene and I2C devices.
#pragma once

#include "SimCard.h"

// Registers every block model on card (used for each block-driver card of a scenario).
void SimInstallBlockModels(SimCard& card);
