// Forward complex FFT of single-precision samples on FFTW. A plan is made once per size for the
// whole process (planning is serialised by one lock; FFTW's planner is not thread-safe) and
// reused until the process ends (no KxFft may outlive main); each KxFft owns its aligned input
// and output buffers, so a transform allocates nothing. The transform is unnormalised:
// X(k) = sum_n x(n) e^(-2 pi i k n / N).
#pragma once

#include <complex>

#include "KxNonCopyable.h"
#include "KxapiResult.h"

class KxFft : private KxNonCopyable {
public:
    static constexpr int MIN_POINTS = 2;
    static constexpr int MAX_POINTS = 1 << 20;

    KxFft() = default;
    ~KxFft();

    // Sizes the transform for `points` (a power of two within MIN_POINTS..MAX_POINTS, else
    // KXAPI_E_INVALID_ARG and the old size stays); KXAPI_E_OUT_OF_MEM when no buffer or plan
    // could be made. The same size again changes nothing.
    KXAPI_RESULT Resize(int points);
    int Points() const { return m_Points; }

    // The input (Points() values) to fill before Forward() and the output it writes. Null
    // before the first successful Resize.
    std::complex<float>* Input() { return m_pIn; }
    const std::complex<float>* Output() const { return m_pOut; }
    // Transforms Input() into Output(); nothing before the first successful Resize.
    void Forward();

private:
    void Free();

    int m_Points = 0;
    std::complex<float>* m_pIn = nullptr;
    std::complex<float>* m_pOut = nullptr;
    void* m_pPlan = nullptr; // shared per size, destroyed when the process ends
};
