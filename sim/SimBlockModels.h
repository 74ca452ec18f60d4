// Models of the FPGA blocks of the block-driver cards. Command codes and payloads are those of
// the register proxies (KxProxyBlocks.h, KxProxyS2CRDEMOD_3470.h); each model answers from its
// card's RF scene and I2C devices. Which model answers which driver type code is the business
// of the card's model (sim/models/).
#pragma once

#include "SimCard.h"

// The blocks every block-driver card has: I2C masters, receive DMA channels, SPI masters and
// burst FIFOs.
void SimInstallBlockDriverModels(SimCard& card);

// New models for one card (the card owns them once registered with SetBlockModel).
ISimBlockModel* SimNewIqPowerModel(SimCard& card);           // I/Q power estimator
ISimBlockModel* SimNewS2DemodModel(SimCard& card);           // satellite demodulator
ISimBlockModel* SimNewConstellationGrabModel(SimCard& card); // constellation grabber
// Keeps what it is told and answers zeros: enough for blocks the receiver layers only configure.
ISimBlockModel* SimNewSettingsModel();
ISimBlockModel* SimNew3470FrameStatsModel(SimCard& card); // the 3470's frame statistics (Sim3470FrameStats.h)
