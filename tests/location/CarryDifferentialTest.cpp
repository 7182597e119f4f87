// The carry against the step-by-step rules it must reproduce: the literal
// loops are kept here as the reference, and both are run on many random
// chains, definitions, values and amounts.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "kelvara/location/LocationCarry.h"
#include "kelvara/location/QZLocation.h"

namespace {

using Chain = std::vector<QZLocationCarryState>;

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
        const std::int64_t a = c.nMinIndex;
        const std::int64_t b = c.nMaxIndex;
        const std::int64_t m = b + 1;
        if (i + 1 < m_chain.size()) {
            if (QZLocationCarries(c.nMinIndex, c.nMaxIndex)) {
                if (c.nValue > b) {
                    do {
                        Step(i + 1, 1);
                        c.nValue = static_cast<LONG>(c.nValue - m);
                    } while (c.nValue > b);
                    Check(i + 1);
                } else {
                    while (c.nValue < a) {
                        Step(i + 1, -1);
                        c.nValue = static_cast<LONG>(c.nValue + m);
                    }
                    Check(i + 1);
                }
            } else {
                Check(i + 1);
            }
        }
        if (a <= c.nValue && c.nValue <= b) {
            c.bValid = 1;
            return 1;
        }
        c.bValid = 0;
        c.nError = LE_RANGE;
        return 0;
    }

private:
    void Step(std::size_t i, int d) {
        QZLocationCarryState& c = m_chain[i];
        c.nValue =
            static_cast<LONG>(static_cast<std::uint32_t>(c.nValue) + static_cast<std::uint32_t>(d));
        Check(i);
    }

    Chain& m_chain;
    long m_budget;
};

std::string Describe(const Chain& chain) {
    std::string s;
    for (const auto& c : chain) {
        s += "[" + std::to_string(c.nMinIndex) + ".." + std::to_string(c.nMaxIndex) +
             "] v=" + std::to_string(c.nValue) + " ok=" + std::to_string(c.bValid) +
             " e=" + std::to_string(c.nError) + "  ";
    }
    return s;
}

struct Generator {
    std::mt19937 rng;
    int Pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }

    QZLocationCarryState Component() {
        QZLocationCarryState c{};
        const int kind = Pick(0, 9);
        int b = kind < 7 ? Pick(0, 9) : Pick(10, 300);
        int a = 0;
        switch (Pick(0, 9)) {
            case 0:
            case 1:
            case 2:
                b = std::max(b, 1);
                a = Pick(1, b);  // nonzero minimum (may equal the maximum)
                break;
            case 3:
                a = -Pick(1, 5);
                break;
            case 4:
                if (Pick(0, 3) == 0) {
                    b = -Pick(1, 3);  // no modulus: never carries
                    a = b - Pick(0, 3);
                } else {
                    a = b + Pick(1, 5);  // empty range: never carries
                }
                break;
            default:
                break;
        }
        c.nMinIndex = a;
        c.nMaxIndex = b;
        const int span = std::max(b - a, 1);
        c.nValue = Pick(0, 3) == 0 ? a + Pick(-2 * span - 3, 3 * span + 3)
                                   : a + Pick(0, std::max(b - a, 0));
        c.bValid = Pick(0, 1);
        c.nError = Pick(0, 4) == 0 ? LE_RANGE : LE_NONE;
        return c;
    }

    Chain MakeChain() {
        Chain chain(static_cast<std::size_t>(Pick(1, 5)));
        for (auto& c : chain) {
            c = Component();
        }
        return chain;
    }

    LONG Amount() {
        switch (Pick(0, 3)) {
            case 0:
                return Pick(-3, 3);
            case 1:
                return Pick(-100, 100);
            case 2:
                return Pick(-5000, 5000);
            default:
                return Pick(-200000, 200000);
        }
    }
};

using CheckFn = int (*)(QZLocationCarryState*, std::size_t);

// Runs a few amounts in a row on each chain, so that later ones start from
// the states (flipped components, sticky errors) earlier ones left.
void RunDifferential(CheckFn check, unsigned seed, int chains, int* compared) {
    Generator gen{std::mt19937(seed)};
    for (int n = 0; n < chains; ++n) {
        Chain fast = gen.MakeChain();
        Chain slow = fast;
        for (int op = 0; op < 6; ++op) {
            const LONG amount = gen.Amount();
            const Chain before = fast;
            fast[0].nValue = static_cast<LONG>(static_cast<std::uint32_t>(fast[0].nValue) +
                                               static_cast<std::uint32_t>(amount));
            slow[0].nValue = fast[0].nValue;
            int expected = 0;
            try {
                StepByStep reference(slow, 3000000);
                expected = reference.Check(0);
            } catch (const StepByStep::OutOfSteps&) {
                break;
            }
            const int got = check(fast.data(), fast.size());
            ++*compared;
            ASSERT_EQ(got, expected) << "before: " << Describe(before) << " amount " << amount;
            for (std::size_t i = 0; i < fast.size(); ++i) {
                ASSERT_EQ(fast[i].nValue, slow[i].nValue)
                    << "component " << i << " before: " << Describe(before) << " amount " << amount
                    << "\n got " << Describe(fast) << "\nwant " << Describe(slow);
                ASSERT_EQ(fast[i].bValid, slow[i].bValid)
                    << "component " << i << " before: " << Describe(before) << " amount " << amount
                    << "\n got " << Describe(fast) << "\nwant " << Describe(slow);
                ASSERT_EQ(fast[i].nError, slow[i].nError)
                    << "component " << i << " before: " << Describe(before) << " amount " << amount
                    << "\n got " << Describe(fast) << "\nwant " << Describe(slow);
            }
        }
    }
}

TEST(CarryDifferential, GeneralCarryMatchesStepByStepOnRandomChains) {
    int compared = 0;
    RunDifferential(&QZLocationCheckRangeGeneral, 1234u, 4000, &compared);
    EXPECT_GT(compared, 15000);
}

TEST(CarryDifferential, CheckWithShortcutsMatchesStepByStepOnRandomChains) {
    int compared = 0;
    RunDifferential(&QZLocationCheckRange, 98765u, 4000, &compared);
    EXPECT_GT(compared, 15000);
}

// Amounts far beyond the step-by-step reference, on chains whose components
// above the first start in range, most with minimums above 0 (1-based tables
// and offset windows): the shortcut these chains take must end exactly where
// the general carry does, flags and sticky errors included.
TEST(CarryDifferential, ShortcutMatchesGeneralCarryOnHugeAmounts) {
    Generator gen{std::mt19937(2718u)};
    for (int n = 0; n < 3000; ++n) {
        Chain chain(static_cast<std::size_t>(gen.Pick(2, 5)));
        for (auto& c : chain) {
            c.nMaxIndex = gen.Pick(0, 2) == 0 ? gen.Pick(1, 6) : gen.Pick(1, 5000);
            switch (gen.Pick(0, 3)) {
                case 0:
                    c.nMinIndex = 0;
                    break;
                case 1:
                    c.nMinIndex = 1;
                    break;
                case 2:
                    c.nMinIndex = gen.Pick(1, c.nMaxIndex);
                    break;
                default:
                    c.nMinIndex = -gen.Pick(1, 9);
                    break;
            }
            c.nValue = gen.Pick(c.nMinIndex, c.nMaxIndex);
            c.bValid = gen.Pick(0, 1);
            c.nError = gen.Pick(0, 1) == 0 ? LE_NONE : LE_RANGE;
        }
        const LONG amount =
            gen.Pick(0, 1) == 0 ? gen.Pick(1000000, 2000000000) : -gen.Pick(1000000, 2000000000);
        chain[0].nValue = static_cast<LONG>(static_cast<std::uint32_t>(chain[0].nValue) +
                                            static_cast<std::uint32_t>(amount));
        const Chain before = chain;
        Chain general = chain;
        const int got = QZLocationCheckRange(chain.data(), chain.size());
        const int want = QZLocationCheckRangeGeneral(general.data(), general.size());
        ASSERT_EQ(got, want) << Describe(before);
        for (std::size_t i = 0; i < chain.size(); ++i) {
            ASSERT_TRUE(chain[i].nValue == general[i].nValue &&
                        chain[i].bValid == general[i].bValid &&
                        chain[i].nError == general[i].nError)
                << "component " << i << " before: " << Describe(before) << "\n got "
                << Describe(chain) << "\nwant " << Describe(general);
        }
    }
}

// Amounts far beyond what the step-by-step reference can run: every carry
// moves a modulus from a component to one step of its friend, so the
// weighted sum of the values grows by exactly the amount.
TEST(CarryDifferential, HugeAmountsMoveTheWeightedSumByExactlyTheAmount) {
    __extension__ typedef __int128 Wide;
    Generator gen{std::mt19937(4242u)};
    const auto weighted = [](const Chain& chain) {
        Wide sum = 0;
        Wide weight = 1;
        for (const auto& c : chain) {
            sum += weight * c.nValue;
            weight *= static_cast<Wide>(c.nMaxIndex) + 1;
        }
        return sum;
    };
    for (int n = 0; n < 3000; ++n) {
        Chain chain(static_cast<std::size_t>(gen.Pick(2, 5)));
        for (auto& c : chain) {
            c.nMaxIndex = gen.Pick(0, 3) == 0 ? gen.Pick(0, 3) : gen.Pick(0, 60000);
            c.nMinIndex = gen.Pick(0, 1) == 0 ? 0 : gen.Pick(0, c.nMaxIndex);
            c.nValue = gen.Pick(c.nMinIndex, c.nMaxIndex);
            c.bValid = 1;
            c.nError = LE_NONE;
        }
        chain.back().nMinIndex = -2000000000;
        chain.back().nMaxIndex = 2000000000;
        chain.back().nValue = gen.Pick(-1000, 1000);
        const Wide before = weighted(chain);
        const LONG amount = gen.Pick(0, 1) == 0 ? gen.Pick(1900000000, 2000000000)
                                                : -gen.Pick(1900000000, 2000000000);
        chain[0].nValue = static_cast<LONG>(static_cast<std::uint32_t>(chain[0].nValue) +
                                            static_cast<std::uint32_t>(amount));
        const Wide wrapped = weighted(chain) - before;
        QZLocationCheckRangeGeneral(chain.data(), chain.size());
        ASSERT_EQ(static_cast<long long>(weighted(chain) - before), static_cast<long long>(wrapped))
            << Describe(chain);
    }
}

}  // namespace
