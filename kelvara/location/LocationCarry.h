/** \addtogroup location
 @{ */
// The range check and carry of a chain of table-location components, on
// plain values. CQZLocation runs it for every range check; it is a header of
// its own so that the carry can be tested against the step-by-step rules
// without building location objects. Not part of the umbrella header.
//
// The rules, per component, innermost first (chain[i + 1] is the friend of
// chain[i]; minimum index a, maximum index b, modulus M = b + 1):
//   check(i): carry(i), then valid = (a <= value <= b); when it is not,
//             the error becomes LE_RANGE (and stays so: nothing here clears
//             it).
//   carry(i): with a friend, while value > b: increment the friend (value + 1,
//             then check(friend)) and take M off the value; otherwise, while
//             value < a: decrement the friend and add M. Then check(friend).
// A carry repeats once per modulus, so done literally it costs time in
// proportion to the amount carried (a 32-bit count against a modulus of 1
// is four billion steps, each rippling up the chain). This implementation
// reaches exactly the same values, valid flags and error codes, including an
// LE_RANGE left behind by a state that only existed half-way, at a cost that
// does not grow with the amount: a closed form for the chains drivers use,
// a general carry for the rest (LocationCarryEngines.h).
//
// Values are 32-bit and wrap around as 32-bit arithmetic does (the friend of
// a component at 2147483647 that is incremented goes to -2147483648).
//
// A component carries only when its definition keeps every step inside
// 32 bits: 0 <= b < 2147483647, -2147483648 < a <= b and a + b < 2147483647.
// The step-by-step rules never finish for a modulus below 1 (they would take
// 0 or a negative amount off for ever) and overflow near the ends of the
// 32-bit range; a component outside these bounds, or one whose minimum
// exceeds its maximum and so can never be valid, therefore does not carry:
// its value stays where it is, it is marked out of range, and its friend is
// still checked.
#pragma once

#include <cstddef>

#include "kelvara/framework/Export.h"
#include "kelvara/framework/Types.h"

/// One component of a chain as the range check sees it.
struct QZLocationCarryState {
    LONG nValue;     ///< in increments
    BOOL bValid;     ///< 1 while valid
    LONG nError;     ///< LocationError code
    LONG nMinIndex;  ///< minimum / increment
    LONG nMaxIndex;  ///< maximum / increment
};

/// Whether a component with a friend carries into it (see above).
KELVARA_API bool QZLocationCarries(LONG nMinIndex, LONG nMaxIndex);

/// check(0) on the chain pChain[0..nCount-1]: returns 1 when pChain[0] ends
/// in range, else 0. The work does not grow with the values or the amount
/// carried, only with the chain's depth. It is a few operations per component
/// and allocates nothing, whatever the minimums, for a first carry of a few
/// steps through any chain, and for larger ones when the components above the
/// first start in range. The exceptions take the general carry: a third or
/// later component that has to wrap during a larger carry while its own
/// minimum is above 0 or that of the component below it is above 1, larger
/// carries into components left out of range by an earlier one, and chains
/// deeper than 16. That costs a few microseconds for short chains, and steeply
/// more only for long chains (eight components and more) of components with
/// minimums above 0.
KELVARA_API int QZLocationCheckRange(QZLocationCarryState* pChain, std::size_t nCount);

/// The same, always through the general carry (no closed-form shortcut). For
/// tests of the general carry.
KELVARA_API int QZLocationCheckRangeGeneral(QZLocationCarryState* pChain, std::size_t nCount);
/** @} */
