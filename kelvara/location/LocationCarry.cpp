// Chooses the carry engine: the closed form where it covers the chain (the
// common case, a few operations per component), the general carry for the
// rest.
#include "kelvara/location/LocationCarry.h"

#include "kelvara/location/LocationCarryEngines.h"

namespace carry = kelvara::location_carry;

bool QZLocationCarries(LONG nMinIndex, LONG nMaxIndex) {
    return carry::Carries(nMinIndex, nMaxIndex);
}

int QZLocationCheckRange(QZLocationCarryState* pChain, std::size_t nCount) {
    if (pChain == nullptr || nCount == 0) {
        return 0;
    }
    if (nCount == 1) {
        return carry::CheckAlone(pChain[0]);
    }
    int result = 0;
    if (carry::CheckClosedForm(pChain, nCount, &result)) {
        return result;
    }
    return carry::CheckGeneral(pChain, nCount);
}

int QZLocationCheckRangeGeneral(QZLocationCarryState* pChain, std::size_t nCount) {
    if (pChain == nullptr || nCount == 0) {
        return 0;
    }
    return carry::CheckGeneral(pChain, nCount);
}
