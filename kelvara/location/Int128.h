// A signed 128-bit integer in standard C++, for the general carry's symbol
// counts and offsets (LocationCarryGeneral.cpp), which outgrow 64 bits in
// deep chains. Not every compiler has a 128-bit type, so this is two 64-bit
// words in two's complement, with the operations the carry needs and the
// results a built-in type would give: +, - and * wrap modulo 2^128, / and %
// truncate towards zero. Private to the location folder.
#pragma once

#include <bit>
#include <compare>
#include <concepts>
#include <cstdint>

namespace kelvara::location_carry {

class Int128 {
public:
    constexpr Int128() = default;
    // From signed types only: an unsigned 64-bit value would turn negative.
    template <std::signed_integral T>
    constexpr Int128(T value)
        : m_lo(static_cast<std::uint64_t>(static_cast<std::int64_t>(value))),
          m_hi(value < 0 ? ~std::uint64_t{0} : 0) {}

    static constexpr Int128 PowerOfTwo(int n) {
        return n < 64 ? Words(std::uint64_t{1} << n, 0) : Words(0, std::uint64_t{1} << (n - 64));
    }

    // The low 64 bits, as a signed value.
    explicit constexpr operator std::int64_t() const { return static_cast<std::int64_t>(m_lo); }

    // Significant bits, the value read as unsigned.
    constexpr int BitWidth() const {
        return static_cast<int>(m_hi != 0 ? 64 + std::bit_width(m_hi) : std::bit_width(m_lo));
    }

    friend constexpr bool operator==(const Int128& x, const Int128& y) = default;
    friend constexpr std::strong_ordering operator<=>(const Int128& x, const Int128& y) {
        if (x.m_hi != y.m_hi) {
            return static_cast<std::int64_t>(x.m_hi) <=> static_cast<std::int64_t>(y.m_hi);
        }
        return x.m_lo <=> y.m_lo;
    }

    friend constexpr Int128 operator+(const Int128& x, const Int128& y) {
        const std::uint64_t lo = x.m_lo + y.m_lo;
        return Words(lo, x.m_hi + y.m_hi + (lo < x.m_lo ? 1 : 0));
    }
    friend constexpr Int128 operator-(const Int128& x, const Int128& y) {
        return Words(x.m_lo - y.m_lo, x.m_hi - y.m_hi - (x.m_lo < y.m_lo ? 1 : 0));
    }
    friend constexpr Int128 operator-(const Int128& x) { return Int128() - x; }

    friend constexpr Int128 operator*(const Int128& x, const Int128& y) {
        Int128 product = Multiply64(x.m_lo, y.m_lo);
        if ((x.m_hi | y.m_hi) != 0) {
            product.m_hi += x.m_lo * y.m_hi + x.m_hi * y.m_lo;
        }
        return product;
    }
    // Operands below 2^64 take one machine division; the rest, which only
    // counts beyond 64 bits need, a long division out of line.
    friend Int128 operator/(const Int128& x, const Int128& y) {
        if (x.m_hi == 0 && y.m_hi == 0) {
            return Words(x.m_lo / y.m_lo, 0);
        }
        Int128 remainder;
        return Divide(x, y, remainder);
    }
    friend Int128 operator%(const Int128& x, const Int128& y) {
        if (x.m_hi == 0 && y.m_hi == 0) {
            return Words(x.m_lo % y.m_lo, 0);
        }
        Int128 remainder;
        Divide(x, y, remainder);
        return remainder;
    }

    constexpr Int128& operator+=(const Int128& y) { return *this = *this + y; }
    constexpr Int128& operator-=(const Int128& y) { return *this = *this - y; }
    constexpr Int128& operator++() { return *this += 1; }

private:
    static constexpr Int128 Words(std::uint64_t lo, std::uint64_t hi) {
        Int128 x;
        x.m_lo = lo;
        x.m_hi = hi;
        return x;
    }

    constexpr bool IsNegative() const { return (m_hi >> 63) != 0; }

    static constexpr Int128 Multiply64(std::uint64_t x, std::uint64_t y) {
        constexpr std::uint64_t kLow32 = 0xFFFFFFFFu;
        if (((x | y) >> 32) == 0) {
            return Words(x * y, 0);
        }
        const std::uint64_t ll = (x & kLow32) * (y & kLow32);
        const std::uint64_t lh = (x & kLow32) * (y >> 32);
        const std::uint64_t hl = (x >> 32) * (y & kLow32);
        const std::uint64_t hh = (x >> 32) * (y >> 32);
        const std::uint64_t middle = (ll >> 32) + (lh & kLow32) + (hl & kLow32);
        return Words((ll & kLow32) | (middle << 32), hh + (lh >> 32) + (hl >> 32) + (middle >> 32));
    }

    // The quotient, truncated towards zero, and the remainder, with the
    // sign of the dividend.
    static Int128 Divide(const Int128& x, const Int128& y, Int128& remainder);

    std::uint64_t m_lo = 0;
    std::uint64_t m_hi = 0;
};

}  // namespace kelvara::location_carry
