// The carry's 128-bit integer across its word boundary, where the carry's
// own tests never reach: counts beyond 64 bits need chains too deep to run.
#include <gtest/gtest.h>

#include <random>

#include "kelvara/location/Int128.h"

namespace {

using kelvara::location_carry::Int128;

Int128 P(int n) {
    return Int128::PowerOfTwo(n);
}

TEST(Int128, ArithmeticCrossesTheWordBoundary) {
    EXPECT_EQ(P(64) - 1 + 1, P(64));
    EXPECT_EQ(static_cast<std::int64_t>(P(64) - 1), -1);
    EXPECT_EQ(Int128(-1) - P(64) + P(65), P(64) - 1);
    EXPECT_EQ((P(64) + 3) * (P(64) - 1), P(65) - 3);  // modulo 2^128
    EXPECT_EQ((P(63) + 5) * Int128(-4), Int128(-20) - P(65));
    EXPECT_TRUE(P(127) < Int128(0) && Int128(-1) < Int128(0) && P(64) > P(63));
    EXPECT_EQ((P(64) - 1).BitWidth(), 64);
    EXPECT_EQ((P(100) + P(70)) / (P(70) + 1), P(30));
    EXPECT_EQ((P(100) + P(70)) % (P(70) + 1), P(70) - P(30));
    EXPECT_EQ(Int128(-7) / 2, Int128(-3));
    EXPECT_EQ(Int128(-7) % 2, Int128(-1));
}

// Division truncates towards zero, as built-in integers do, at any width.
TEST(Int128, QuotientTimesDivisorPlusRemainderGivesTheDividend) {
    std::mt19937_64 rng(77);
    const auto wide = [&] {
        const Int128 x = P(static_cast<int>(rng() % 62)) * static_cast<std::int64_t>(rng());
        return x + static_cast<std::int64_t>(rng() >> (rng() % 64));
    };
    const auto abs = [](Int128 x) { return x < 0 ? -x : x; };
    for (int i = 0; i < 20000; ++i) {
        const Int128 x = wide();
        const Int128 y = i % 2 == 0 ? wide() : Int128(static_cast<std::int64_t>(rng() % 999) + 1);
        if (y != 0) {
            const Int128 r = x % y;
            ASSERT_EQ(x / y * y + r, x);
            ASSERT_TRUE(r == 0 || (r < 0) == (x < 0));
            ASSERT_LT(abs(r), abs(y));
        }
    }
}

}  // namespace
