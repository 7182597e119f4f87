// The carry engines against the step-by-step rules they must reproduce (the
// literal loops are kept here as the reference) and against each other, on
// many random chains, definitions, values and amounts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "kelvara/location/LocationCarry.h"
#include "kelvara/location/QZLocation.h"

namespace {

using Chain = std::vector<QZLocationCarryState>;
using CheckFn = int (*)(QZLocationCarryState*, std::size_t);

LONG Add32(LONG value, LONG amount) {
    return static_cast<LONG>(static_cast<std::uint32_t>(value) +
                             static_cast<std::uint32_t>(amount));
}

// The range check exactly as the rules state it, one step at a time.
class StepByStep {
public:
    struct OutOfSteps {};

    StepByStep(Chain& chain, long budget) : m_chain(chain), m_budget(budget) {}

    int Check(std::size_t i) {
        if (--m_budget < 0) {
            throw OutOfSteps{};
        }
        QZLocationCarryState& c = m_chain[i];
        const std::int64_t m = std::int64_t{c.nMaxIndex} + 1;
        const bool carries = QZLocationCarries(c.nMinIndex, c.nMaxIndex);
        if (i + 1 < m_chain.size()) {
            if (carries && c.nValue > c.nMaxIndex) {
                do {
                    Step(i + 1, 1);
                    c.nValue = static_cast<LONG>(c.nValue - m);
                } while (c.nValue > c.nMaxIndex);
            } else {
                while (carries && c.nValue < c.nMinIndex) {
                    Step(i + 1, -1);
                    c.nValue = static_cast<LONG>(c.nValue + m);
                }
            }
            Check(i + 1);
        }
        c.bValid = c.nMinIndex <= c.nValue && c.nValue <= c.nMaxIndex ? 1 : 0;
        c.nError = c.bValid ? c.nError : LE_RANGE;
        return c.bValid;
    }

private:
    void Step(std::size_t i, int d) {
        m_chain[i].nValue = Add32(m_chain[i].nValue, d);
        Check(i);
    }

    Chain& m_chain;
    long m_budget;
};

std::string Describe(const Chain& chain) {
    std::string s;
    for (const auto& c : chain) {
        s += "[" + std::to_string(c.nMinIndex) + ".." + std::to_string(c.nMaxIndex) + "] " +
             std::to_string(c.nValue) + "/" + std::to_string(c.bValid) + "/" +
             std::to_string(c.nError) + "  ";
    }
    return s;
}

bool Same(const Chain& x, const Chain& y) {
    return std::equal(x.begin(), x.end(), y.begin(), y.end(), [](const auto& p, const auto& q) {
        return p.nValue == q.nValue && p.bValid == q.bValid && p.nError == q.nError;
    });
}

struct Generator {
    std::mt19937 rng;
    int Pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }

    // Mostly small moduli, with nonzero and negative minimums, and
    // definitions that never carry (no modulus, or an empty range).
    QZLocationCarryState Component() {
        int b = Pick(0, 9) < 7 ? Pick(0, 9) : Pick(10, 300);
        int a = 0;
        const int kind = Pick(0, 9);
        if (kind < 3) {
            b = std::max(b, 1);
            a = Pick(1, b);
        } else if (kind == 3) {
            a = -Pick(1, 5);
        } else if (kind == 4 && Pick(0, 3) == 0) {
            b = -Pick(1, 3);
            a = b - Pick(0, 3);
        } else if (kind == 4) {
            a = b + Pick(1, 5);
        }
        const int span = std::max(b - a, 1);
        const int value = Pick(0, 3) == 0 ? a + Pick(-2 * span - 3, 3 * span + 3)
                                          : a + Pick(0, std::max(b - a, 0));
        return {value, Pick(0, 1), Pick(0, 4) == 0 ? LE_RANGE : LE_NONE, a, b};
    }

    LONG Amount() {
        const int limits[] = {3, 100, 5000, 200000};
        const int limit = limits[Pick(0, 3)];
        return Pick(-limit, limit);
    }
};

// A few amounts in a row on each chain, so that later ones start from the
// states (flipped components, sticky errors) earlier ones left.
TEST(CarryDifferential, EachEngineMatchesStepByStepOnRandomChains) {
    const struct {
        const char* name;
        CheckFn check;
        unsigned seed;
    } engines[] = {{"general", &QZLocationCheckRangeGeneral, 1234u},
                   {"with shortcuts", &QZLocationCheckRange, 98765u}};
    for (const auto& engine : engines) {
        SCOPED_TRACE(engine.name);
        Generator gen{std::mt19937(engine.seed)};
        int compared = 0;
        for (int n = 0; n < 4000; ++n) {
            Chain fast(static_cast<std::size_t>(gen.Pick(1, 5)));
            std::generate(fast.begin(), fast.end(), [&] { return gen.Component(); });
            Chain slow = fast;
            for (int op = 0; op < 6; ++op) {
                const Chain before = fast;
                const LONG amount = gen.Amount();
                fast[0].nValue = slow[0].nValue = Add32(fast[0].nValue, amount);
                int expected = 0;
                try {
                    expected = StepByStep(slow, 3000000).Check(0);
                } catch (const StepByStep::OutOfSteps&) {
                    break;
                }
                ASSERT_EQ(engine.check(fast.data(), fast.size()), expected) << Describe(before);
                ASSERT_TRUE(Same(fast, slow))
                    << "before: " << Describe(before) << " amount " << amount << "\n got "
                    << Describe(fast) << "\nwant " << Describe(slow);
                ++compared;
            }
        }
        EXPECT_GT(compared, 15000);
    }
}

// Amounts far beyond the reference, on chains whose components above the
// first start in range, many with minimums above 0 (one-based tables and
// offset windows). The shortcut must end exactly where the general carry
// does, and every carry moves a modulus from a component to one step of its
// friend, so the weighted sum of the values moves by exactly the amount.
TEST(CarryDifferential, HugeAmountsShortcutMatchesGeneralAndKeepsTheWeightedSum) {
    // Modulo 2^64 on both sides of the comparison.
    const auto weighted = [](const Chain& chain) {
        std::uint64_t sum = 0;
        std::uint64_t weight = 1;
        for (const auto& c : chain) {
            sum += weight * static_cast<std::uint64_t>(std::int64_t{c.nValue});
            weight *= static_cast<std::uint64_t>(c.nMaxIndex) + 1;
        }
        return sum;
    };
    Generator gen{std::mt19937(2718u)};
    for (int n = 0; n < 6000; ++n) {
        Chain chain(static_cast<std::size_t>(gen.Pick(2, 5)));
        for (auto& c : chain) {
            c.nMaxIndex = gen.Pick(0, 2) == 0 ? gen.Pick(0, 6) : gen.Pick(1, 60000);
            const int mins[] = {0, 1, gen.Pick(1, std::max(c.nMaxIndex, 1)), -gen.Pick(1, 9)};
            c.nMinIndex = std::min(mins[gen.Pick(0, 3)], c.nMaxIndex);
            c = {gen.Pick(c.nMinIndex, c.nMaxIndex), gen.Pick(0, 1),
                 gen.Pick(0, 1) == 0 ? LE_NONE : LE_RANGE, c.nMinIndex, c.nMaxIndex};
        }
        if (n % 2 == 0) {
            chain.back() = {gen.Pick(-1000, 1000), 1, LE_NONE, -2000000000, 2000000000};
        }
        const LONG sign = gen.Pick(0, 1) == 0 ? 1 : -1;
        const LONG amount = sign * gen.Pick(1000000, 2000000000);
        chain[0].nValue = Add32(chain[0].nValue, amount);
        const Chain before = chain;
        Chain general = chain;
        ASSERT_EQ(QZLocationCheckRange(chain.data(), chain.size()),
                  QZLocationCheckRangeGeneral(general.data(), general.size()))
            << Describe(before);
        ASSERT_TRUE(Same(chain, general)) << "before: " << Describe(before) << "\n got "
                                          << Describe(chain) << "\nwant " << Describe(general);
        ASSERT_EQ(weighted(chain), weighted(before)) << Describe(before);
    }
}

}  // namespace
