// Deterministic random numbers for the virtual cards: the same seed gives the same readings.
#pragma once

#include <cmath>
#include <cstdint>

class SimRandom {
public:
    explicit SimRandom(uint64_t seed = 1) : m_State(seed) {}
    void Seed(uint64_t seed)
    {
        m_State = seed;
        m_HaveSpare = false;
    }
    // splitmix64.
    uint64_t Next()
    {
        uint64_t z = (m_State += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Uniform in [0, 1).
    double Uniform() { return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0); }
    // Standard normal (Box-Muller).
    double Gaussian()
    {
        if (m_HaveSpare) {
            m_HaveSpare = false;
            return m_Spare;
        }
        double u1 = Uniform();
        if (u1 < 1e-300)
            u1 = 1e-300;
        const double u2 = Uniform();
        const double r = std::sqrt(-2.0 * std::log(u1));
        m_Spare = r * std::sin(2.0 * M_PI * u2);
        m_HaveSpare = true;
        return r * std::cos(2.0 * M_PI * u2);
    }
    // Uniform integer in [0, n).
    uint32_t Below(uint32_t n) { return n == 0 ? 0 : static_cast<uint32_t>(Next() % n); }

private:
    uint64_t m_State;
    double m_Spare = 0.0;
    bool m_HaveSpare = false;
};
