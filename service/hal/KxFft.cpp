#include "KxFft.h"

#include <fftw3.h>
#include <map>
#include <mutex>

namespace {

// One plan per size for the whole process. FFTW's planner is not thread-safe, so planning and
// the look-up of the table happen under one lock; executing a plan on other buffers (the
// new-array interface) is thread-safe. The plans and the planner's memory go when the process
// ends (every KxFft is gone by then).
class PlanTable {
public:
    ~PlanTable()
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        for (auto& entry : m_Plans)
            fftwf_destroy_plan(entry.second);
        m_Plans.clear();
        fftwf_cleanup();
    }

    // The plan of `points`, made on scratch buffers of the alignment FFTW gives every buffer it
    // allocates, so it runs on any pair of such buffers; null when none could be made.
    fftwf_plan PlanFor(int points)
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        auto it = m_Plans.find(points);
        if (it != m_Plans.end())
            return it->second;
        fftwf_complex* pIn = fftwf_alloc_complex(static_cast<size_t>(points));
        fftwf_complex* pOut = fftwf_alloc_complex(static_cast<size_t>(points));
        fftwf_plan plan = nullptr;
        if (pIn != nullptr && pOut != nullptr)
            plan = fftwf_plan_dft_1d(points, pIn, pOut, FFTW_FORWARD, FFTW_MEASURE);
        fftwf_free(pIn);
        fftwf_free(pOut);
        if (plan != nullptr)
            m_Plans[points] = plan;
        return plan;
    }

private:
    std::mutex m_Lock;
    std::map<int, fftwf_plan> m_Plans;
};

PlanTable& Plans()
{
    static PlanTable table;
    return table;
}

bool IsPowerOfTwo(int n)
{
    return n > 0 && (n & (n - 1)) == 0;
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
    fftwf_plan plan = Plans().PlanFor(points);
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
