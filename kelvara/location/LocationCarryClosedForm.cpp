// The closed-form carry, for the chains drivers use (LocationCarry.h says
// which): what reaches each component is told in a few numbers, and its
// answer is worked out from them in 64-bit arithmetic.
//
// The first component sends j steps in one direction, back to back, then a
// check. Up to kStepsOneByOne steps go as a tail of single symbols, which
// every component follows one by one whatever its state ("exact"). Beyond
// that a component receives a run of steps with checks between them, then a
// short tail. For a run it must start in range; if it stays in range or does
// not carry, only the net move and the extreme offsets matter. A carrying
// component that wraps passes a minimum above 0 flipping between low (u < a)
// and high (u + M); with the steps back to back that has a closed form
// (Run). A chain that needs anything else goes to the general carry.
#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>

#include "kelvara/location/LocationCarryEngines.h"

namespace kelvara::location_carry {

namespace {

constexpr std::size_t kMaxComponents = 16;
constexpr std::size_t kMaxTail = 32;
// A first carry of this many steps or fewer is passed on as a tail.
constexpr std::int64_t kStepsOneByOne = 4;

// Whether any of the values lo..hi, each taken to 32 bits as the component
// holds it, lies outside a..b.
bool LeavesRange(std::int64_t lo, std::int64_t hi, std::int64_t a, std::int64_t b) {
    if (a == INT_MIN && b == INT_MAX) {
        return false;
    }
    if (hi - lo >= (std::int64_t{1} << 32) - 1) {
        return true;
    }
    const std::int64_t first = static_cast<LONG>(static_cast<std::uint32_t>(lo));
    const std::int64_t last = first + (hi - lo);
    return last > INT_MAX || first < a || last > b;
}

LONG Wrap32(std::int64_t x) {
    return static_cast<LONG>(static_cast<std::uint32_t>(x));
}

// Net move and the lowest and highest offsets from the start (the start
// included) of a stream of steps.
struct Offsets {
    std::int64_t delta = 0;
    std::int64_t lo = 0;
    std::int64_t hi = 0;

    void Step(int d) {
        delta += d;
        lo = std::min(lo, delta);
        hi = std::max(hi, delta);
    }
};

// What a component receives: a run, then a tail ("U", "D", "C": a step up or
// down followed by a check, or a check alone).
struct Stream {
    int dir = 1;              // direction of the run's steps
    std::int64_t steps = 0;   // steps of the run
    bool backToBack = false;  // no checks between the run's steps
    bool stepsBack = false;   // the run also steps back; only its offsets are known
    // The tail is the whole stream, symbol for symbol: no run, and no checks
    // left uncounted (a receiver out of range needs every one of them).
    bool exact = true;
    Offsets run;
    char tail[kMaxTail];
    std::size_t tailLength = 0;

    bool Append(char symbol) {
        if (tailLength == kMaxTail) {
            return false;
        }
        tail[tailLength++] = symbol;
        return true;
    }

    Offsets Whole() const {
        Offsets o = run;
        for (std::size_t i = 0; i < tailLength; ++i) {
            if (tail[i] != 'C') {
                o.Step(tail[i] == 'U' ? 1 : -1);
            }
        }
        return o;
    }
};

// Starts an empty stream (the tail's bytes are left as they are).
void Clear(Stream& out) {
    out.dir = 1;
    out.steps = 0;
    out.backToBack = false;
    out.stepsBack = false;
    out.exact = true;
    out.run = Offsets{};
    out.tailLength = 0;
}

// Some checks, as many as the symbols received: enough for a receiver in
// range, which they leave as it is.
void ChecksOnly(Stream& out) {
    Clear(out);
    out.exact = false;
    out.Append('C');
}

void Judge(QZLocationCarryState& c) {
    if (c.nMinIndex <= c.nValue && c.nValue <= c.nMaxIndex) {
        c.bValid = 1;
    } else {
        c.bValid = 0;
        c.nError = LE_RANGE;
    }
}

// One symbol of the tail at a carrying component, as the rules state it.
bool Symbol(QZLocationCarryState& c, char symbol, Stream& out) {
    const std::int64_t a = c.nMinIndex;
    const std::int64_t b = c.nMaxIndex;
    const std::int64_t m = b + 1;
    std::int64_t v = c.nValue;
    if (symbol != 'C') {
        v = Wrap32(v + (symbol == 'U' ? 1 : -1));
    }
    if (v > b || v < a) {
        const bool up = v > b;
        const std::int64_t j = up ? (v - b + m - 1) / m : (a - v + m - 1) / m;
        if (j > static_cast<std::int64_t>(kMaxTail)) {
            return false;
        }
        v += up ? -j * m : j * m;
        for (std::int64_t k = 0; k < j; ++k) {
            if (!out.Append(up ? 'U' : 'D')) {
                return false;
            }
        }
    }
    c.nValue = static_cast<LONG>(v);
    Judge(c);
    return out.Append('C');
}

// One symbol at a component that does not carry: it moves, is judged, and
// passes a check on to its friend.
bool Plain(QZLocationCarryState& c, char symbol, bool hasFriend, Stream& out) {
    if (symbol != 'C') {
        c.nValue = Wrap32(std::int64_t{c.nValue} + (symbol == 'U' ? 1 : -1));
    }
    Judge(c);
    return !hasFriend || out.Append('C');
}

// The run at a carrying component that starts in range. A run downwards is
// a run upwards seen through value -> a + b - value, under which the rules'
// two carry loops trade places; so only the upward run is worked out. Going
// up by p from the start, the component wraps at each multiple of M; after a
// wrap it stands at q = p mod M, and while q < a it is low (value q) for
// even q and high (value q + M) for odd q, sending its friend a step down on
// entering high and a step up on leaving it. Its friend's offset after each
// symbol is the number of wraps, less one while it is high.
bool Run(QZLocationCarryState& c, const Stream& in, Stream& out) {
    Clear(out);
    out.dir = in.dir;
    if (in.steps == 0) {
        return true;
    }
    const std::int64_t a = c.nMinIndex;
    const std::int64_t b = c.nMaxIndex;
    const std::int64_t m = b + 1;
    const bool up = in.dir > 0;
    const std::int64_t p = (up ? c.nValue : a + b - c.nValue) + in.steps;
    std::int64_t value = p;
    if (p >= m) {
        if (a >= 1 && !in.backToBack) {
            return false;  // checks between the steps would meet it out of range
        }
        const std::int64_t wraps = p / m;
        const std::int64_t q = p % m;
        const bool high = q < a && q % 2 != 0;
        value = high ? q + m : q;
        if (a >= 1) {
            c.nError = LE_RANGE;  // the first wrap left it at 0
        }
        out.steps = wraps;
        out.stepsBack = a >= 2 && p > m;
        const std::int64_t net = wraps - (high ? 1 : 0);
        out.run.delta = up ? net : -net;
        out.run.lo = up ? 0 : -wraps;
        out.run.hi = up ? wraps : 0;
    }
    c.nValue = static_cast<LONG>(up ? value : a + b - value);
    Judge(c);
    return true;
}

// The stream the first component sends, after its own carry.
void First(QZLocationCarryState& c, bool carries, Stream& out) {
    Clear(out);
    out.backToBack = true;
    if (carries) {
        const std::int64_t v = c.nValue;
        const std::int64_t a = c.nMinIndex;
        const std::int64_t b = c.nMaxIndex;
        const std::int64_t m = b + 1;
        std::int64_t j = 0;
        if (v > b) {
            j = (v - b + m - 1) / m;
            c.nValue = static_cast<LONG>(v - j * m);
        } else if (v < a) {
            j = (a - v + m - 1) / m;
            c.nValue = static_cast<LONG>(v + j * m);
            out.dir = -1;
        }
        if (j <= kStepsOneByOne) {
            for (std::int64_t k = 0; k < j; ++k) {
                out.Append(out.dir > 0 ? 'U' : 'D');
            }
        } else {
            out.exact = false;
            out.steps = j;
            out.run.delta = out.dir * j;
            out.run.lo = std::min<std::int64_t>(0, out.run.delta);
            out.run.hi = std::max<std::int64_t>(0, out.run.delta);
        }
    }
    out.Append('C');
}

}  // namespace

bool CheckClosedForm(QZLocationCarryState* pChain, std::size_t nCount, int* pResult) {
    if (nCount > kMaxComponents) {
        return false;
    }
    std::array<QZLocationCarryState, kMaxComponents> c;
    std::copy(pChain, pChain + nCount, c.begin());
    Stream streams[2];
    Stream* pIn = &streams[0];
    Stream* pOut = &streams[1];
    First(c[0], Carries(c[0].nMinIndex, c[0].nMaxIndex), *pOut);
    const int result = CheckAlone(c[0]);
    for (std::size_t i = 1; i < nCount; ++i) {
        std::swap(pIn, pOut);
        const Stream& in = *pIn;
        Stream& out = *pOut;
        QZLocationCarryState& x = c[i];
        const bool hasFriend = i + 1 < nCount;
        const bool carries = hasFriend && Carries(x.nMinIndex, x.nMaxIndex);
        if (in.exact) {
            // Followed symbol by symbol, from any state.
            Clear(out);
            for (std::size_t k = 0; k < in.tailLength; ++k) {
                if (!(carries ? Symbol(x, in.tail[k], out)
                              : Plain(x, in.tail[k], hasFriend, out))) {
                    return false;
                }
            }
            continue;
        }
        // The rest takes a component that starts in range.
        if (!InRange(x)) {
            return false;
        }
        const std::int64_t v = x.nValue;
        const std::int64_t a = x.nMinIndex;
        const std::int64_t b = x.nMaxIndex;
        const Offsets whole = in.Whole();
        if (!carries) {
            // Moves without carrying; its friend, if any, only receives checks.
            if (LeavesRange(v + whole.lo, v + whole.hi, a, b)) {
                x.nError = LE_RANGE;
            }
            x.nValue = Wrap32(v + whole.delta);
            x.bValid = InRange(x) ? 1 : 0;
            ChecksOnly(out);
            continue;
        }
        if (a <= v + whole.lo && v + whole.hi <= b) {
            x.nValue = static_cast<LONG>(v + whole.delta);
            x.bValid = 1;
            ChecksOnly(out);
            continue;
        }
        if (in.stepsBack || !Run(x, in, out)) {
            return false;
        }
        out.exact = false;
        // Checks between the run and the tail find it in range here, unless
        // the run was back to back (then none come).
        if (!in.backToBack && !InRange(x)) {
            return false;
        }
        for (std::size_t k = 0; k < in.tailLength; ++k) {
            if (!Symbol(x, in.tail[k], out)) {
                return false;
            }
        }
    }
    std::copy(c.begin(), c.begin() + static_cast<std::ptrdiff_t>(nCount), pChain);
    *pResult = result;
    return true;
}

}  // namespace kelvara::location_carry
