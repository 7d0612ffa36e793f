#pragma once

#include <initializer_list>
#include <type_traits>

namespace dravik {

/// A set of capability flags of the enumeration `E`, whose enumerators are bit masks.
/// An enumerator may combine several bits (READ_SEEK is READ | SEEK): the set has it
/// when it has every one of its bits.
template <typename E>
class FlagSet {
    static_assert(std::is_enum_v<E>, "FlagSet holds enumerators");

public:
    using Mask = std::underlying_type_t<E>;

    constexpr FlagSet() = default;
    constexpr FlagSet(E flag) // NOLINT(google-explicit-constructor): a flag is a one-element set
        : m_mask(static_cast<Mask>(flag))
    {
    }
    constexpr FlagSet(std::initializer_list<E> flags)
    {
        for (E f : flags) {
            m_mask |= static_cast<Mask>(f);
        }
    }

    /// True when every bit of `flag` is in the set.
    constexpr bool has(E flag) const { return (m_mask & static_cast<Mask>(flag)) == static_cast<Mask>(flag); }
    /// True when every flag of `other` is in the set.
    constexpr bool hasAll(FlagSet other) const { return (m_mask & other.m_mask) == other.m_mask; }
    constexpr bool empty() const { return m_mask == 0; }
    constexpr Mask mask() const { return m_mask; }

    constexpr FlagSet& add(E flag)
    {
        m_mask |= static_cast<Mask>(flag);
        return *this;
    }
    constexpr FlagSet& remove(E flag)
    {
        m_mask &= static_cast<Mask>(~static_cast<Mask>(flag));
        return *this;
    }

    friend constexpr FlagSet operator|(FlagSet a, FlagSet b)
    {
        FlagSet r;
        r.m_mask = a.m_mask | b.m_mask;
        return r;
    }
    friend constexpr FlagSet operator&(FlagSet a, FlagSet b)
    {
        FlagSet r;
        r.m_mask = a.m_mask & b.m_mask;
        return r;
    }
    friend constexpr bool operator==(FlagSet a, FlagSet b) { return a.m_mask == b.m_mask; }
    friend constexpr bool operator!=(FlagSet a, FlagSet b) { return a.m_mask != b.m_mask; }

private:
    Mask m_mask = 0;
};

} // namespace dravik
