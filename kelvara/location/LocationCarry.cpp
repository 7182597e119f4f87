// The carry engines' public entry points; the choice between them is
// carry::Check (LocationCarryEngines.h).
#include "kelvara/location/LocationCarry.h"

#include "kelvara/location/LocationCarryEngines.h"

namespace carry = kelvara::location_carry;

bool QZLocationCarries(LONG nMinIndex, LONG nMaxIndex) {
    return carry::Carries(nMinIndex, nMaxIndex);
}

int QZLocationCheckRange(QZLocationCarryState* pChain, std::size_t nCount) {
    return carry::Check(pChain, nCount);
}

int QZLocationCheckRangeGeneral(QZLocationCarryState* pChain, std::size_t nCount) {
    if (pChain == nullptr || nCount == 0) {
        return 0;
    }
    return carry::CheckGeneral(pChain, nCount);
}
