#pragma once

#include <dravik/Error.h>
#include <dravik/VectorX.h>

#include <cstdint>
#include <string>
#include <vector>

namespace dravik {

/// An n-dimensional array of values held in memory, dimension 0 varying fastest.
template <typename T>
class ArrayX {
public:
    ArrayX() = default;
    /// An array of `shape`, every cell holding `value`.
    explicit ArrayX(const VectorXu64& shape, const T& value = T())
        : m_shape(shape)
        , m_values(checkedCount(shape), value)
    {
    }

    const VectorXu64& shape() const { return m_shape; }
    size_t size() const { return m_values.size(); }
    T* data() { return m_values.data(); }
    const T* data() const { return m_values.data(); }

    /// The cell at `index`; throws InvalidArgument outside the shape.
    T& at(const VectorXu64& index) { return m_values[linear(index)]; }
    const T& at(const VectorXu64& index) const { return m_values[linear(index)]; }
    T& operator[](size_t linearIndex) { return m_values[linearIndex]; }
    const T& operator[](size_t linearIndex) const { return m_values[linearIndex]; }

    void fill(const T& value) { m_values.assign(m_values.size(), value); }

private:
    static size_t checkedCount(const VectorXu64& shape)
    {
        uint64_t count = 1;
        for (uint64_t s : shape) {
            if (s != 0 && count > UINT64_MAX / s) {
                throw InvalidArgument("Array shape " + shape.toString() + " is too large");
            }
            count *= s;
        }
        return shape.empty() ? 0 : static_cast<size_t>(count);
    }
    size_t linear(const VectorXu64& index) const
    {
        if (index.size() != m_shape.size()) {
            throw InvalidArgument("Index (" + index.toString() + ") does not match the array shape ("
                                  + m_shape.toString() + ")");
        }
        size_t offset = 0;
        size_t stride = 1;
        for (size_t i = 0; i < index.size(); ++i) {
            if (index[i] >= m_shape[i]) {
                throw InvalidArgument("Index (" + index.toString() + ") is outside the array shape ("
                                      + m_shape.toString() + ")");
            }
            offset += static_cast<size_t>(index[i]) * stride;
            stride *= static_cast<size_t>(m_shape[i]);
        }
        return offset;
    }

    VectorXu64 m_shape;
    std::vector<T> m_values;
};

} // namespace dravik
