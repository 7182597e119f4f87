#include "kelvara/addressing/EDFRange.h"

#include <cmath>
#include <limits>

#include "kelvara/sibling/Utility.h"

namespace {

// Whole numbers checked against a decimal range stay below 2^53 (at most 15
// digits), so bounds beyond +-2^62 act as infinities; a bound that is not a
// number never fails a comparison.
constexpr double kLimit = 4611686018427387904.0;  // 2^62

long long LowCeiling(double d) {
    if (std::isnan(d) || d < -kLimit) {
        return std::numeric_limits<long long>::min();
    }
    return d > kLimit ? std::numeric_limits<long long>::max()
                      : static_cast<long long>(std::ceil(d));
}

long long HighFloor(double d) {
    if (std::isnan(d) || d > kLimit) {
        return std::numeric_limits<long long>::max();
    }
    return d < -kLimit ? std::numeric_limits<long long>::min()
                       : static_cast<long long>(std::floor(d));
}

}  // namespace

CEDFRange::CEDFRange(const CString& strLow, const CString& strHigh)
    : CQZObject(1),
      m_strLow(strLow),
      m_strHigh(strHigh),
      m_dLow(TextToDouble(strLow)),
      m_dHigh(TextToDouble(strHigh)),
      m_nLowCeiling(LowCeiling(m_dLow)),
      m_nHighFloor(HighFloor(m_dHigh)),
      m_nLowHex(HexToLong(strLow)),
      m_nHighHex(HexToLong(strHigh)) {}
