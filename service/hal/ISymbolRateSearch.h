// The symbol-rate detector as the 3470 HAL drives it when a client leaves the symbol rate
// open: it measures the spectrum around the tuned frequency, estimates symbol rate, roll-off
// and carrier offset, and then offers candidate symbol rates around the estimate (estimate,
// +1 step, -2 steps, +3 steps ...) until a sweep is done and the next Update measures again.
#pragma once

#include "IInterface.h"
#include "KxapiResult.h"

class ISymbolRateSearch : public IInterface {
public:
    // Back to a fresh sweep: FFT size, no offset limit (divisor 0), smoothing, new spectrum.
    virtual void Reset(int fftSize, bool smoothing) = 0;
    virtual int FftSize() const = 0;
    // Resizes the transform and the buffers (a new spectrum is needed afterwards).
    virtual KXAPI_RESULT SetFftSize(int fftSize, bool smoothing) = 0;
    // > 0: the carrier offset must not exceed symbol rate / divisor.
    virtual void SetOffsetLimitDivisor(int divisor) = 0;
    virtual void RequestNewSpectrum() = 0;
    virtual bool NeedsNewSpectrum() const = 0;
    virtual int StepIndex() const = 0;
    // Measures and analyses a spectrum when needed, else moves to the next candidate.
    // KXAPI_E_INVALID_SYMRATE when no usable signal was found.
    virtual KXAPI_RESULT Update() = 0;
    virtual long long CandidateSymbolRate() const = 0;
    virtual int RollOffPercent() const = 0;
    virtual long long CarrierOffsetHz() const = 0;
};

// The detector of a 3470 on the device, or null when this build has none (an open symbol rate
// then finds no signal and the port stays unlocked).
class KxProxyCORE;
ISymbolRateSearch* NewKxa3470SymbolRateSearch(KxProxyCORE* core);
