#include "KxFft.h"

#include <fftw3.h>
#include <map>
#include <mutex>

namespace {

// One plan per size for the whole process. FFTW's planner is not thread-safe, so planning and
// the look-up of the table happen under one lock; executing a plan on other buffers (the
// new-array interface) is thread-safe.
std::mutex g_PlanLock;

std::map<int, fftwf_plan>& Plans()
{
    static std::map<int, fftwf_plan> plans;
    return plans;
}

bool IsPowerOfTwo(int n)
{
    return n > 0 && (n & (n - 1)) == 0;
}

// The plan of `points`, made on scratch buffers of the same alignment FFTW gives every buffer it
// allocates, so it runs on any pair of such buffers.
fftwf_plan PlanFor(int points)
{
    std::lock_guard<std::mutex> lock(g_PlanLock);
    auto it = Plans().find(points);
    if (it != Plans().end())
        return it->second;
    fftwf_complex* pIn = fftwf_alloc_complex(static_cast<size_t>(points));
    fftwf_complex* pOut = fftwf_alloc_complex(static_cast<size_t>(points));
    fftwf_plan plan = nullptr;
    if (pIn != nullptr && pOut != nullptr)
        plan = fftwf_plan_dft_1d(points, pIn, pOut, FFTW_FORWARD, FFTW_MEASURE);
    fftwf_free(pIn);
    fftwf_free(pOut);
    if (plan != nullptr)
        Plans()[points] = plan;
    return plan;
}

} // namespace

KxFft::~KxFft()
{
    Free();
}

void KxFft::Free()
{
    fftwf_free(m_pIn);
    fftwf_free(m_pOut);
    m_pIn = nullptr;
    m_pOut = nullptr;
    m_pPlan = nullptr;
    m_Points = 0;
}

KXAPI_RESULT KxFft::Resize(int points)
{
    if (!IsPowerOfTwo(points) || points < MIN_POINTS || points > MAX_POINTS)
        return KXAPI_E_INVALID_ARG;
    if (points == m_Points)
        return KXAPI_OK;
    fftwf_plan plan = PlanFor(points);
    auto* pIn = reinterpret_cast<std::complex<float>*>(fftwf_alloc_complex(static_cast<size_t>(points)));
    auto* pOut = reinterpret_cast<std::complex<float>*>(fftwf_alloc_complex(static_cast<size_t>(points)));
    if (plan == nullptr || pIn == nullptr || pOut == nullptr) {
        fftwf_free(pIn);
        fftwf_free(pOut);
        return KXAPI_E_OUT_OF_MEM;
    }
    Free();
    for (int i = 0; i < points; i++)
        pIn[i] = 0.0f;
    m_pIn = pIn;
    m_pOut = pOut;
    m_pPlan = plan;
    m_Points = points;
    return KXAPI_OK;
}

void KxFft::Forward()
{
    if (m_pPlan == nullptr)
        return;
    fftwf_execute_dft(static_cast<fftwf_plan>(m_pPlan), reinterpret_cast<fftwf_complex*>(m_pIn),
                      reinterpret_cast<fftwf_complex*>(m_pOut));
}
