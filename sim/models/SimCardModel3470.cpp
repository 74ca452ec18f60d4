// The 3470: a block-driver card whose FPGA carries, per port, the satellite demodulator, its
// statistics, the I/Q power estimator and constellation grabber, the I/Q capture path (DMA
// channel behind a burst FIFO) of the symbol-rate detector, and the converters and LNB
// controller the receiver layers only configure.
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
    card.SetBlockModel(KX_BC_IQPWR_3470, false, SimNewIqPowerModel(card));
    card.SetBlockModel(KX_DF_S2CRDEMOD_3470, true, SimNewS2DemodModel(card));
    card.SetBlockModel(KX_DF_IQCGRAB_3470, true, SimNewConstellationGrabModel(card));
    for (KxDriverTypeCode code : {KX_DF_AD5320_3470, KX_DF_ADS4246_3470, KX_DF_LNBH25_3470, KX_DF_S2STATS_3470,
                                  KX_DF_IQFIR_3470, KX_DF_IQSRC3470_3470, KX_DF_DATASTMUX_3470})
        card.SetBlockModel(code, true, SimNewSettingsModel());
    card.SetBlockModel(KX_DF_S2STATS_3470, true, SimNew3470FrameStatsModel(card));
}
