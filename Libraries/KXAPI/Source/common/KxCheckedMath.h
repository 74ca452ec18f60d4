// Overflow-safe integer arithmetic for values a client hands over (frequencies, steps, counts,
// indexes). The checked forms report whether the exact result fits; the saturating forms clamp
// to the type's range, for loops whose bound is checked against the clamped value.
#pragma once

#include <cstddef>
#include <limits>
#include <type_traits>

namespace Kxapi {

// a + b into result; false (result unspecified) when the exact sum does not fit in T.
template <typename T> [[nodiscard]] constexpr bool KxCheckedAdd(T a, T b, T& result)
{
    static_assert(std::is_integral_v<T>);
    return !__builtin_add_overflow(a, b, &result);
}

template <typename T> [[nodiscard]] constexpr bool KxCheckedSub(T a, T b, T& result)
{
    static_assert(std::is_integral_v<T>);
    return !__builtin_sub_overflow(a, b, &result);
}

template <typename T> [[nodiscard]] constexpr bool KxCheckedMul(T a, T b, T& result)
{
    static_assert(std::is_integral_v<T>);
    return !__builtin_mul_overflow(a, b, &result);
}

// a + b clamped to [min, max] of T.
template <typename T> [[nodiscard]] constexpr T KxSaturatingAdd(T a, T b)
{
    T result{};
    if (KxCheckedAdd(a, b, result))
        return result;
    return b < 0 ? std::numeric_limits<T>::min() : std::numeric_limits<T>::max();
}

template <typename T> [[nodiscard]] constexpr T KxSaturatingSub(T a, T b)
{
    T result{};
    if (KxCheckedSub(a, b, result))
        return result;
    return b > 0 ? std::numeric_limits<T>::min() : std::numeric_limits<T>::max();
}

// header + count * itemSize, when count is in [0, maxCount] and the total fits in size_t and
// is at most maxTotal; false otherwise. The one check for "a count of records in a message".
[[nodiscard]] constexpr bool KxCheckedRecordSize(long long count, long long maxCount, size_t header,
                                                 size_t itemSize, size_t maxTotal, size_t& total)
{
    if (count < 0 || count > maxCount)
        return false;
    size_t items = 0;
    if (!KxCheckedMul(static_cast<size_t>(count), itemSize, items) || !KxCheckedAdd(header, items, total))
        return false;
    return total <= maxTotal;
}

} // namespace Kxapi
