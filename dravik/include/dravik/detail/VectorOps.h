#pragma once

#include <dravik/Error.h>

#include <cstddef>
#include <sstream>
#include <string>
#include <type_traits>

namespace dravik::detail {

/// Operations shared by the fixed-size `Vector<T,N>` and the run-time sized `VectorX<T>`.
/// `Derived` provides size(), data() and a constructor that makes a vector of a given size.
template <typename Derived, typename T>
class VectorOps {
public:
    using value_type = T;

    T* begin() { return self().data(); }
    T* end() { return self().data() + self().size(); }
    const T* begin() const { return self().data(); }
    const T* end() const { return self().data() + self().size(); }

    T& operator[](size_t i) { return self().data()[i]; }
    const T& operator[](size_t i) const { return self().data()[i]; }

    /// Bounds-checked access; throws InvalidArgument.
    T& at(size_t i)
    {
        checkIndex(i);
        return self().data()[i];
    }
    const T& at(size_t i) const
    {
        checkIndex(i);
        return self().data()[i];
    }

    /// Product of the components (1 for an empty vector).
    T prod() const
    {
        T r = T(1);
        for (const T& v : *this) {
            r *= v;
        }
        return r;
    }
    T sum() const
    {
        T r = T(0);
        for (const T& v : *this) {
            r += v;
        }
        return r;
    }
    /// Fills every component with `value`.
    void fill(const T& value)
    {
        for (T& v : *this) {
            v = value;
        }
    }

    /// Components separated by ", ", without brackets: "4, 3, 2".
    std::string toString() const
    {
        std::ostringstream out;
        bool first = true;
        for (const T& v : *this) {
            if (!first) {
                out << ", ";
            }
            first = false;
            if constexpr (sizeof(T) == 1 && std::is_integral_v<T>) {
                out << static_cast<int>(v);
            } else {
                out << v;
            }
        }
        return out.str();
    }

    Derived& operator+=(const Derived& o) { return apply(o, [](T& a, const T& b) { a += b; }); }
    Derived& operator-=(const Derived& o) { return apply(o, [](T& a, const T& b) { a -= b; }); }
    Derived& operator*=(const Derived& o) { return apply(o, [](T& a, const T& b) { a *= b; }); }
    Derived& operator/=(const Derived& o) { return apply(o, [](T& a, const T& b) { a /= b; }); }
    Derived& operator%=(const Derived& o) { return apply(o, [](T& a, const T& b) { a %= b; }); }
    Derived& operator+=(const T& s) { return applyScalar([&s](T& a) { a += s; }); }
    Derived& operator-=(const T& s) { return applyScalar([&s](T& a) { a -= s; }); }
    Derived& operator*=(const T& s) { return applyScalar([&s](T& a) { a *= s; }); }
    Derived& operator/=(const T& s) { return applyScalar([&s](T& a) { a /= s; }); }

    friend Derived operator+(Derived a, const Derived& b) { return a += b; }
    friend Derived operator-(Derived a, const Derived& b) { return a -= b; }
    friend Derived operator*(Derived a, const Derived& b) { return a *= b; }
    friend Derived operator/(Derived a, const Derived& b) { return a /= b; }
    friend Derived operator%(Derived a, const Derived& b) { return a %= b; }
    friend Derived operator+(Derived a, const T& s) { return a += s; }
    friend Derived operator-(Derived a, const T& s) { return a -= s; }
    friend Derived operator*(Derived a, const T& s) { return a *= s; }
    friend Derived operator/(Derived a, const T& s) { return a /= s; }

    friend bool operator==(const Derived& a, const Derived& b)
    {
        if (a.size() != b.size()) {
            return false;
        }
        for (size_t i = 0; i < a.size(); ++i) {
            if (!(a[i] == b[i])) {
                return false;
            }
        }
        return true;
    }
    friend bool operator!=(const Derived& a, const Derived& b) { return !(a == b); }

private:
    Derived& self() { return static_cast<Derived&>(*this); }
    const Derived& self() const { return static_cast<const Derived&>(*this); }

    void checkIndex(size_t i) const
    {
        if (i >= self().size()) {
            throw InvalidArgument("Vector index " + std::to_string(i) + " out of range for a vector of size "
                                  + std::to_string(self().size()));
        }
    }
    template <typename F>
    Derived& apply(const Derived& o, F f)
    {
        if (o.size() != self().size()) {
            throw InvalidArgument("Vector sizes differ: " + std::to_string(self().size()) + " and "
                                  + std::to_string(o.size()));
        }
        for (size_t i = 0; i < self().size(); ++i) {
            f(self().data()[i], o.data()[i]);
        }
        return self();
    }
    template <typename F>
    Derived& applyScalar(F f)
    {
        for (T& v : *this) {
            f(v);
        }
        return self();
    }
};

} // namespace dravik::detail
