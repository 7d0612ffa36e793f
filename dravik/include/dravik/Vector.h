#pragma once

#include <dravik/VectorX.h>

#include <array>
#include <cstdint>
#include <initializer_list>

namespace dravik {

/// A vector of N components, known at compile time: 3-D sizes, ranges, calibration.
template <typename T, size_t N>
class Vector : public detail::VectorOps<Vector<T, N>, T> {
public:
    Vector() { m_values.fill(T()); }
    explicit Vector(const T& value) { m_values.fill(value); }
    /// Takes exactly N values; throws InvalidArgument for any other count.
    Vector(std::initializer_list<T> values) { assign(values.begin(), values.size()); }
    /// From a run-time vector of exactly N components; throws InvalidArgument otherwise.
    explicit Vector(const VectorX<T>& v) { assign(v.data(), v.size()); }

    template <typename U>
    Vector<U, N> cast() const
    {
        Vector<U, N> r;
        for (size_t i = 0; i < N; ++i) {
            r[i] = static_cast<U>(m_values[i]);
        }
        return r;
    }

    static constexpr size_t size() { return N; }
    T* data() { return m_values.data(); }
    const T* data() const { return m_values.data(); }

private:
    void assign(const T* src, size_t count)
    {
        if (count != N) {
            throw InvalidArgument("Expected " + std::to_string(N) + " components, got " + std::to_string(count));
        }
        std::copy(src, src + N, m_values.begin());
    }

    std::array<T, N> m_values;
};

using Vector2d = Vector<double, 2>;
using Vector3d = Vector<double, 3>;
using Vector2i64 = Vector<int64_t, 2>;
using Vector3u64 = Vector<uint64_t, 3>;
using Vector3i64 = Vector<int64_t, 3>;

} // namespace dravik
