// The 3470: a block-driver card whose FPGA carries the satellite demodulator, its frame
// statistics, the I/Q power estimator behind a FIR filter, the constellation grabber, the
// sample-rate converter, the gain DAC, the LNB controller and the I/Q capture path (DMA channel
// behind a burst FIFO) of the symbol-rate detector; a MAX2121B tuner, a CDCM6208 clock
// generator and an LNBH25 supply sit on its I2C bus (Sim3470Blocks.h).
#include "Sim3470Blocks.h"
#include "SimBlockModels.h"
#include "SimCardModel.h"

void SimFit3470(SimCard& card)
{
    SimInstallBlockDriverModels(card);
    ISimBlockModel* pDmaChannel = nullptr;
    ISimBlockModel* pBurstFifo = nullptr;
    SimNewIqCaptureModels(card, pDmaChannel, pBurstFifo);
    card.SetBlockModel(KX_BC_CDMAC, false, pDmaChannel);
    card.SetBlockModel(KX_BC_BURSTFIFO, false, pBurstFifo);
    SimFit3470Parts(card);
    card.SetBlockModel(KX_DF_S2STATS_3470, true, SimNew3470FrameStatsModel(card));
    // Blocks the receiver only configures.
    for (KxDriverTypeCode code : {KX_DF_ADS4246_3470, KX_DF_DATASTMUX_3470})
        card.SetBlockModel(code, true, SimNewSettingsModel());
}
