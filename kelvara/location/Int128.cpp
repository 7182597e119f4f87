#include "kelvara/location/Int128.h"

namespace kelvara::location_carry {

// Long division of the magnitudes, a bit at a time. A magnitude is read as
// unsigned, which is right for the lowest value too.
Int128 Int128::Divide(const Int128& x, const Int128& y, Int128& remainder) {
    const Int128 n = x.IsNegative() ? -x : x;
    const Int128 d = y.IsNegative() ? -y : y;
    const auto below = [](const Int128& p, const Int128& q) {
        return p.m_hi != q.m_hi ? p.m_hi < q.m_hi : p.m_lo < q.m_lo;
    };
    Int128 q;
    Int128 r;
    for (int bit = n.BitWidth() - 1; bit >= 0; --bit) {
        const bool overflows = r.IsNegative();  // the shift leaves 128 bits
        const std::uint64_t next = (bit < 64 ? n.m_lo >> bit : n.m_hi >> (bit - 64)) & 1;
        r = Words((r.m_lo << 1) | next, (r.m_hi << 1) | (r.m_lo >> 63));
        if (overflows || !below(r, d)) {
            r -= d;
            q += PowerOfTwo(bit);
        }
    }
    remainder = x.IsNegative() ? -r : r;
    return x.IsNegative() != y.IsNegative() ? -q : q;
}

}  // namespace kelvara::location_carry
