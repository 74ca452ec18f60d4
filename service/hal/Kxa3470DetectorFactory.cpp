// The 3470's symbol-rate search as Kxa3470Hal drives it: the SymbolRateDetector on the I/Q
// capture path of the card's port index 0.
#include <memory>

#include "ISymbolRateSearch.h"
#include "SymbolRateDetector.h"

namespace {

class Kxa3470SymbolRateSearch : public ISymbolRateSearch {
public:
    KXAPI_RESULT Open(KxProxyCORE* core) { return m_Detector.Open(core, CAPTURE_PORT_INDEX); }

    void Reset(int fftSize, bool smoothing) override
    {
        m_Detector.Reset();
        m_Detector.SetFftSize(fftSize);
        m_Detector.SetSmoothing(smoothing);
    }
    int FftSize() const override { return m_Detector.FftSize(); }
    KXAPI_RESULT SetFftSize(int fftSize, bool smoothing) override
    {
        KXAPI_RESULT result = m_Detector.SetFftSize(fftSize);
        if (KxapiFailed(result))
            return result;
        m_Detector.SetSmoothing(smoothing);
        m_Detector.RequestNewSpectrum();
        return KXAPI_OK;
    }
    void SetOffsetLimitDivisor(int divisor) override { m_Detector.SetOffsetLimitDivisor(divisor); }
    void RequestNewSpectrum() override { m_Detector.RequestNewSpectrum(); }
    bool NeedsNewSpectrum() const override { return m_Detector.NeedsNewSpectrum(); }
    int StepIndex() const override { return m_Detector.StepIndex(); }
    KXAPI_RESULT Update() override { return m_Detector.Update(); }
    long long CandidateSymbolRate() const override { return m_Detector.CandidateSymbolRate(); }
    int RollOffPercent() const override { return m_Detector.RollOffPercent(); }
    long long CarrierOffsetHz() const override { return m_Detector.CarrierOffsetHz(); }

private:
    static constexpr int CAPTURE_PORT_INDEX = 0;
    SymbolRateDetector m_Detector;
};

} // namespace

ISymbolRateSearch* NewKxa3470SymbolRateSearch(KxProxyCORE* core)
{
    auto search = std::make_unique<Kxa3470SymbolRateSearch>();
    if (KxapiFailed(search->Open(core)))
        return nullptr; // no capture path: an open symbol rate finds no signal
    return search.release();
}
