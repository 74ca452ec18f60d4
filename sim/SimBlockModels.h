// Models of the FPGA blocks of the block-driver cards. Command codes and payloads are those of
// the register proxies (KxProxyBlocks.h, KxProxyS2CRDEMOD_3470.h); each model answers from its
// card's RF scene and I2C devices. Which model answers which driver type code is the business
// of the card's model (sim/models/).
#pragma once

#include <memory>

#include "SimCard.h"

// The blocks every block-driver card has: I2C masters, receive DMA channels, SPI masters and
// burst FIFOs.
void SimInstallBlockDriverModels(SimCard& card);

// What a receive DMA channel carries: the samples of a port, at a fixed rate while the source
// runs.
class ISimSampleSource : public IInterface {
public:
    virtual int64_t SampleRateHz() = 0;
    // False while the source delivers nothing (its FIFO stopped, for example).
    virtual bool Running(int port) = 0;
    // The next n samples of port.
    virtual void Produce(int port, SimIqSample* pOut, int n) = 0;
    // The channel had no room for samples that were due.
    virtual void Overflow(int /*port*/) {}
    // True when the channel may fill its ring as fast as the reader empties it (a virtual card
    // need not wait for real time); it still overflows when the reader falls behind the
    // sample rate by more than the ring holds.
    virtual bool AheadOfRealTime() { return false; }
};

// New models for one card (the card owns them once registered with SetBlockModel).
// A receive DMA channel (commands of KxProxyCDMAC) filled from pSource as time passes.
ISimBlockModel* SimNewDmaChannelModel(std::shared_ptr<ISimSampleSource> pSource);
// The 3470's I/Q capture path: the DMA channel and the burst FIFO in front of it. While the
// FIFO runs (mode 2), the channel carries 160 MS/s of the carrier under the tuned frequency of
// the port's RF input (SimCard::TunedHz), or receiver noise when no carrier is there, ahead of
// real time (AheadOfRealTime); a carrier's shaped waveform is made once (SimIqWaveform) and
// played with fresh noise. The FIFO counts the times the channel had no room (command 1).
void SimNewIqCaptureModels(SimCard& card, ISimBlockModel*& pDmaChannel, ISimBlockModel*& pBurstFifo);
// Keeps what it is told and answers zeros: enough for blocks the receiver layers only configure.
ISimBlockModel* SimNewSettingsModel();
ISimBlockModel* SimNew3470FrameStatsModel(SimCard& card); // the 3470's frame statistics (Sim3470FrameStats.h)
