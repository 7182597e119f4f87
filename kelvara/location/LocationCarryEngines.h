// The two carry engines behind QZLocationCheckRange, and what they share.
// Private to the location folder: Check chooses the engine, for
// QZLocationCheckRange and for CQZLocation's own range check alike.
//
// Both must end exactly where the step-by-step rules of LocationCarry.h do;
// the tests run each against a literal reference and against each other.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>

#include "kelvara/framework/Types.h"
#include "kelvara/location/LocationCarry.h"
#include "kelvara/location/QZLocation.h"

namespace kelvara::location_carry {

// The bounds of LocationCarry.h inside which a component with a friend
// carries: every step of its carry then stays inside 32 bits.
inline bool Carries(LONG nMinIndex, LONG nMaxIndex) {
    const std::int64_t a = nMinIndex;
    const std::int64_t b = nMaxIndex;
    return b >= 0 && b < INT_MAX && a > INT_MIN && a <= b && a + b < INT_MAX;
}

inline bool InRange(const QZLocationCarryState& c) {
    return c.nMinIndex <= c.nValue && c.nValue <= c.nMaxIndex;
}

// The range test of one component, without its carry.
inline int CheckAlone(QZLocationCarryState& c) {
    if (InRange(c)) {
        c.bValid = 1;
        return 1;
    }
    c.bValid = 0;
    c.nError = LE_RANGE;
    return 0;
}

// The closed form (LocationCarryClosedForm.cpp): a few operations per
// component. Returns false, having changed nothing, for a chain it does not
// cover; otherwise stores check(0)'s result in *pResult.
bool CheckClosedForm(QZLocationCarryState* pChain, std::size_t nCount, int* pResult);

// The general carry (LocationCarryGeneral.cpp): any chain of two or more
// components, in time that does not grow with the amount carried.
int CheckGeneral(QZLocationCarryState* pChain, std::size_t nCount);

// The closed form where it covers the chain (the common case), the general
// carry for the rest. Inline, so a location's range check reaches the
// engine in one call.
inline int Check(QZLocationCarryState* pChain, std::size_t nCount) {
    if (pChain == nullptr || nCount == 0) {
        return 0;
    }
    if (nCount == 1) {
        return CheckAlone(pChain[0]);
    }
    int result = 0;
    if (CheckClosedForm(pChain, nCount, &result)) {
        return result;
    }
    return CheckGeneral(pChain, nCount);
}

}  // namespace kelvara::location_carry
