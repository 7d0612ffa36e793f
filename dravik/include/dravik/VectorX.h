#pragma once

#include <dravik/detail/VectorOps.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <type_traits>

namespace dravik {

template <typename T, size_t N>
class Vector;

/// A vector whose size is known at run time: shapes, indices, strides.
/// Up to `INLINE_CAPACITY` components live inside the object, so the shapes and
/// indices of everyday images never touch the heap.
template <typename T>
class VectorX : public detail::VectorOps<VectorX<T>, T> {
    static_assert(std::is_trivially_copyable_v<T>, "VectorX holds trivially copyable values");

public:
    static constexpr size_t INLINE_CAPACITY = 8;

    VectorX() = default;
    explicit VectorX(size_t size, const T& value = T()) { resize(size, value); }
    VectorX(std::initializer_list<T> values)
    {
        reserve(values.size());
        std::copy(values.begin(), values.end(), m_data);
        m_size = values.size();
    }
    template <size_t N>
    VectorX(const Vector<T, N>& v) // NOLINT(google-explicit-constructor): a fixed vector is a VectorX
    {
        reserve(N);
        std::copy(v.begin(), v.end(), m_data);
        m_size = N;
    }
    VectorX(const VectorX& o) { assign(o.m_data, o.m_size); }
    VectorX(VectorX&& o) noexcept { steal(o); }
    VectorX& operator=(const VectorX& o)
    {
        if (this != &o) {
            m_size = 0;
            assign(o.m_data, o.m_size);
        }
        return *this;
    }
    VectorX& operator=(VectorX&& o) noexcept
    {
        if (this != &o) {
            m_heap.reset();
            steal(o);
        }
        return *this;
    }
    ~VectorX() = default;

    /// Converts every component with static_cast.
    template <typename U>
    VectorX<U> cast() const
    {
        VectorX<U> r(m_size);
        for (size_t i = 0; i < m_size; ++i) {
            r[i] = static_cast<U>(m_data[i]);
        }
        return r;
    }

    size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    T* data() { return m_data; }
    const T* data() const { return m_data; }

    void resize(size_t size, const T& value = T())
    {
        reserve(size);
        for (size_t i = m_size; i < size; ++i) {
            m_data[i] = value;
        }
        m_size = size;
    }
    void push_back(const T& value)
    {
        if (m_size == capacity()) {
            reserve(m_size * 2);
        }
        m_data[m_size++] = value;
    }
    /// Inserts `value` before position `pos` (pos == size() appends).
    void insert(size_t pos, const T& value)
    {
        if (pos > m_size) {
            throw InvalidArgument("Insert position " + std::to_string(pos) + " beyond the vector size "
                                  + std::to_string(m_size));
        }
        push_back(value);
        std::rotate(m_data + pos, m_data + m_size - 1, m_data + m_size);
    }
    /// Removes the component at `pos`.
    void erase(size_t pos)
    {
        if (pos >= m_size) {
            throw InvalidArgument("Erase position " + std::to_string(pos) + " out of range for a vector of size "
                                  + std::to_string(m_size));
        }
        std::copy(m_data + pos + 1, m_data + m_size, m_data + pos);
        --m_size;
    }
    void clear() { m_size = 0; }

private:
    size_t capacity() const { return m_heap ? m_heapCapacity : INLINE_CAPACITY; }
    void reserve(size_t n)
    {
        if (n <= capacity()) {
            return;
        }
        size_t cap = std::max(n, 2 * capacity());
        std::unique_ptr<T[]> heap(new T[cap]);
        std::copy(m_data, m_data + m_size, heap.get());
        m_heap = std::move(heap);
        m_heapCapacity = cap;
        m_data = m_heap.get();
    }
    void assign(const T* src, size_t n)
    {
        m_data = m_heap ? m_heap.get() : m_inline;
        reserve(n);
        std::copy(src, src + n, m_data);
        m_size = n;
    }
    void steal(VectorX& o) noexcept
    {
        if (o.m_heap) {
            m_heap = std::move(o.m_heap);
            m_heapCapacity = o.m_heapCapacity;
            m_data = m_heap.get();
        } else {
            std::copy(o.m_inline, o.m_inline + o.m_size, m_inline);
            m_data = m_inline;
        }
        m_size = o.m_size;
        o.m_data = o.m_inline;
        o.m_size = 0;
    }

    T m_inline[INLINE_CAPACITY] = {};
    std::unique_ptr<T[]> m_heap;
    size_t m_heapCapacity = 0;
    T* m_data = m_inline;
    size_t m_size = 0;
};

using VectorXu64 = VectorX<uint64_t>;
using VectorXi64 = VectorX<int64_t>;
using VectorXu32 = VectorX<uint32_t>;
using VectorXi32 = VectorX<int32_t>;
using VectorXd = VectorX<double>;
using VectorXf = VectorX<float>;

} // namespace dravik
