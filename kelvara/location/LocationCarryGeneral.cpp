// The general carry: reaches what the step-by-step rules of LocationCarry.h
// reach, in time that does not grow with the amount carried.
//
// Each symbol a component receives (U: +1 then check, D: -1 then check, C:
// check alone) makes it send its friend C, "U C" or "D C". These streams go
// up the chain as programs: runs of one symbol and repeated blocks, with
// counts. A run of blocks is applied at once where that is exact:
// - inside the component's range a block only moves the value and sends one
//   C per symbol;
// - below a minimum above 0, where a wrap leaves it (u < a), every symbol
//   flips the value between u and u + M and sends "D C" and "U C" in turn,
//   until the value reaches a: an alternation.
// Elsewhere blocks are followed symbol by symbol. A component's future
// depends only on its value and what it receives, so a block that starts at
// a value seen before in the run closes a period: the rest of the run is
// skipped by whole periods and the friend receives one period's output as a
// repeated block. For blocks that move the value by nothing the state of the
// whole rest of the chain must repeat too, and then nothing is passed on.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

#include "kelvara/location/Int128.h"
#include "kelvara/location/LocationCarryEngines.h"

namespace kelvara::location_carry {

namespace {

using Count = Int128;  // symbols, never negative
using Wide = Int128;   // offsets and moves

// Symbol counts double at each component that flips between low and high, so
// a deep chain of such components could outgrow any fixed width. Counts are
// held at 2^120; a chain would need about ninety flipping components before
// that bound is reached, and the step-by-step rules more steps than can ever
// be run.
constexpr Count kCountCap = Count::PowerOfTwo(120);

Count CountAdd(Count x, Count y) {
    const Count r = x + y;
    return r > kCountCap ? kCountCap : r;
}

Count CountMul(Count x, Count y) {
    if (x == 0 || y == 0) {
        return 0;
    }
    // Past 126 bits between them the product is at least 2^125, beyond the
    // cap; short of it, the product is exact.
    if (x.BitWidth() + y.BitWidth() > 126) {
        return kCountCap;
    }
    return std::min(x * y, kCountCap);
}

Wide WideClamp(Wide x) {
    const Wide cap = kCountCap;
    return x > cap ? cap : (x < -cap ? -cap : x);
}

Wide WideMul(Wide x, Count n) {
    const Count magnitude = CountMul(x < 0 ? -x : x, n);
    return x < 0 ? -magnitude : magnitude;
}

LONG Wrap(Wide x) {
    return static_cast<LONG>(static_cast<std::uint32_t>(static_cast<std::int64_t>(x)));
}

// Whether any of the values start+lo .. start+hi, each taken to 32 bits as
// the component holds it, lies outside a..b.
bool Escapes(Wide lo, Wide hi, Wide a, Wide b) {
    if (a == INT_MIN && b == INT_MAX) {
        return false;
    }
    if (hi - lo >= Wide::PowerOfTwo(32) - 1) {
        return true;
    }
    const Wide first = Wrap(lo);
    const Wide last = first + (hi - lo);
    return last > INT_MAX || first < a || last > b;
}

// What a stream does to a component that only moves: how many symbols, the
// net move, and the lowest and highest offset from the starting value after
// any of its symbols.
struct Summary {
    Count len = 0;
    Wide delta = 0;
    Wide lo = 0;
    Wide hi = 0;
};

Summary RunSummary(char kind, Count n) {
    const Wide w = n;
    switch (kind) {
        case 'U':
            return {n, w, 1, w};
        case 'D':
            return {n, -w, -w, -1};
        default:
            return {n, 0, 0, 0};
    }
}

Summary Then(const Summary& x, const Summary& y) {
    if (x.len == 0) {
        return y;
    }
    if (y.len == 0) {
        return x;
    }
    return {CountAdd(x.len, y.len), WideClamp(x.delta + y.delta), std::min(x.lo, x.delta + y.lo),
            std::max(x.hi, x.delta + y.hi)};
}

Summary RepeatSummary(const Summary& s, Count n) {
    if (n == 0 || s.len == 0) {
        return {};
    }
    const Wide extra = WideMul(s.delta, n - 1);
    return {CountMul(s.len, n), WideMul(s.delta, n), s.delta < 0 ? WideClamp(s.lo + extra) : s.lo,
            s.delta > 0 ? WideClamp(s.hi + extra) : s.hi};
}

struct Program;
using ProgramPtr = std::shared_ptr<const Program>;

// A run of n symbols ('U', 'D', 'C'), or a block repeated n times ('R').
struct Item {
    // Built in place by emplace_back, which not every compiler does for an
    // aggregate.
    Item() = default;
    Item(char k, Count count, ProgramPtr program) : kind(k), n(count), body(std::move(program)) {}

    char kind = 'C';
    Count n;
    ProgramPtr body;
};

struct Program {
    std::vector<Item> items;
    Summary sum;
};

Summary ItemSummary(const Item& item) {
    return item.kind == 'R' ? RepeatSummary(item.body->sum, item.n) : RunSummary(item.kind, item.n);
}

bool SameItems(const std::vector<Item>& x, std::size_t xFrom, const std::vector<Item>& y,
               std::size_t yFrom, std::size_t count);

bool SameItem(const Item& x, const Item& y) {
    if (x.kind != y.kind || x.n != y.n) {
        return false;
    }
    if (x.kind != 'R' || x.body == y.body) {
        return true;
    }
    return x.body->items.size() == y.body->items.size() &&
           SameItems(x.body->items, 0, y.body->items, 0, x.body->items.size());
}

bool SameItems(const std::vector<Item>& x, std::size_t xFrom, const std::vector<Item>& y,
               std::size_t yFrom, std::size_t count) {
    for (std::size_t k = 0; k < count; ++k) {
        if (!SameItem(x[xFrom + k], y[yFrom + k])) {
            return false;
        }
    }
    return true;
}

ProgramPtr MakeProgram(std::vector<Item> items) {
    auto program = std::make_shared<Program>();
    for (const Item& item : items) {
        program->sum = Then(program->sum, ItemSummary(item));
    }
    program->items = std::move(items);
    return program;
}

// Builds a program, merging neighbouring runs, unwrapping trivial repeats
// and folding a block that follows an identical one (or a repeat of it) into
// a repeat. Streams sent up a chain are full of such blocks; folded, a
// component's period stays a few items long however deep the chain.
class ProgramBuilder {
public:
    void AddRun(char kind, Count n) {
        if (n == 0) {
            return;
        }
        if (!m_items.empty() && m_items.back().kind == kind) {
            m_items.back().n = CountAdd(m_items.back().n, n);
        } else {
            m_items.push_back({kind, n, nullptr});
        }
        Fold();
    }

    void Add(const Item& item) {
        if (item.kind != 'R') {
            AddRun(item.kind, item.n);
            return;
        }
        if (item.n == 0 || item.body->items.empty()) {
            return;
        }
        if (item.n == 1) {
            for (const Item& inner : item.body->items) {
                Add(inner);
            }
            return;
        }
        if (item.body->items.size() == 1) {
            const Item& inner = item.body->items.front();
            Add({inner.kind, CountMul(inner.n, item.n), inner.body});
            return;
        }
        m_items.push_back(item);
        Fold();
    }

    ProgramPtr Build() {
        ProgramPtr program = MakeProgram(std::move(m_items));
        m_items.clear();
        return program;
    }

private:
    static constexpr std::size_t kLongestFold = 12;

    void Fold() {
        for (bool folded = true; folded;) {
            folded = false;
            const std::size_t size = m_items.size();
            if (size >= 2 && m_items[size - 1].kind == 'R' && m_items[size - 2].kind == 'R' &&
                SameItem({'R', 1, m_items[size - 1].body}, {'R', 1, m_items[size - 2].body})) {
                m_items[size - 2].n = CountAdd(m_items[size - 2].n, m_items[size - 1].n);
                m_items.pop_back();
                folded = true;
                continue;
            }
            for (std::size_t len = 1; len <= kLongestFold && len < size; ++len) {
                Item& before = m_items[size - len - 1];
                if (before.kind == 'R' && before.body->items.size() == len &&
                    SameItems(before.body->items, 0, m_items, size - len, len)) {
                    before.n = CountAdd(before.n, 1);
                    m_items.resize(size - len);
                    folded = true;
                    break;
                }
                if (2 * len <= size &&
                    SameItems(m_items, size - 2 * len, m_items, size - len, len)) {
                    std::vector<Item> block(m_items.end() - static_cast<std::ptrdiff_t>(len),
                                            m_items.end());
                    m_items.resize(size - 2 * len);
                    if (len == 1 && block.front().kind == 'R') {
                        m_items.push_back({'R', CountMul(block.front().n, 2), block.front().body});
                    } else {
                        m_items.push_back({'R', 2, MakeProgram(std::move(block))});
                    }
                    folded = true;
                    break;
                }
            }
        }
    }

    std::vector<Item> m_items;
};

ProgramPtr RunProgram(char kind, Count n) {
    ProgramBuilder builder;
    builder.AddRun(kind, n);
    return builder.Build();
}

const ProgramPtr& SymbolProgram(char kind) {
    static const ProgramPtr up = RunProgram('U', 1);
    static const ProgramPtr down = RunProgram('D', 1);
    static const ProgramPtr check = RunProgram('C', 1);
    return kind == 'U' ? up : (kind == 'D' ? down : check);
}

// n steps of one direction, then a check: what a carry sends.
ProgramPtr StepsThenCheck(char kind, Count n) {
    static const auto make = [](char x, Count count) {
        ProgramBuilder b;
        b.AddRun(x, count);
        b.AddRun('C', 1);
        return b.Build();
    };
    static const ProgramPtr upOnce = make('U', 1);
    static const ProgramPtr downOnce = make('D', 1);
    if (n == 1) {
        return kind == 'U' ? upOnce : downOnce;
    }
    return make(kind, n);
}

// n pairs "X C", X alternating between first and the other direction.
ProgramPtr Alternation(char first, Count n) {
    static const auto pairOf = [](char x) {
        const char y = x == 'U' ? 'D' : 'U';
        ProgramBuilder b;
        b.AddRun(x, 1);
        b.AddRun('C', 1);
        b.AddRun(y, 1);
        b.AddRun('C', 1);
        return b.Build();
    };
    static const ProgramPtr fromUp = pairOf('U');
    static const ProgramPtr fromDown = pairOf('D');
    ProgramBuilder builder;
    builder.Add({'R', n / 2, first == 'U' ? fromUp : fromDown});
    if (n % 2 != 0) {
        builder.AddRun(first, 1);
        builder.AddRun('C', 1);
    }
    return builder.Build();
}

// How many whole blocks, at most rem, keep every value start + offset
// inside lo..hi.
Count Fit(Wide start, const Summary& s, Wide lo, Wide hi, Count rem) {
    if (start + s.lo < lo || start + s.hi > hi) {
        return 0;
    }
    if (s.delta == 0) {
        return rem;
    }
    const Wide room = s.delta > 0 ? hi - (start + s.hi) : (start + s.lo) - lo;
    const Wide step = s.delta > 0 ? s.delta : -s.delta;
    return std::min(room / step + 1, rem);
}

struct Bounds {
    Wide a;  // minimum index
    Wide b;  // maximum index
    Wide m;  // modulus
    bool carries;
};

class CarryEngine {
public:
    CarryEngine(QZLocationCarryState* pChain, std::size_t nCount)
        : m_chain(pChain), m_count(nCount), m_bounds(nCount), m_log(nCount) {
        for (std::size_t i = 0; i < nCount; ++i) {
            const Wide a = pChain[i].nMinIndex;
            const Wide b = pChain[i].nMaxIndex;
            m_bounds[i] = {a, b, b + 1,
                           HasFriend(i) && Carries(pChain[i].nMinIndex, pChain[i].nMaxIndex)};
        }
    }

    int CheckFirst() {
        if (m_bounds[0].carries) {
            return CheckAndCarry(0);
        }
        if (HasFriend(0)) {
            Emit(0, SymbolProgram('C'));
        }
        return Check(0);
    }

private:
    // Snapshot of the chain from one component up, to find repeats.
    struct SuffixRecord {
        std::vector<LONG> state;
        Count done;
        std::size_t logPos;
    };
    struct LocalRecord {
        LONG value;
        Count done;
        std::size_t logPos;
    };

    static constexpr std::size_t kMaxSuffixRecords = 64;
    // Blocks followed symbol by symbol before a block that moves nothing is
    // skipped on the component's own repeat instead of the whole chain's.
    static constexpr Count kSuffixPatience = 16;

    bool HasFriend(std::size_t i) const { return i + 1 < m_count; }

    int Check(std::size_t i) {
        QZLocationCarryState& c = m_chain[i];
        if (m_bounds[i].a <= c.nValue && c.nValue <= m_bounds[i].b) {
            c.bValid = 1;
            return 1;
        }
        c.bValid = 0;
        c.nError = LE_RANGE;
        return 0;
    }

    // The check of a carrying component: its carry, then its own test.
    int CheckAndCarry(std::size_t i) {
        const Bounds& k = m_bounds[i];
        const std::int64_t v = m_chain[i].nValue;
        const std::int64_t a = static_cast<std::int64_t>(k.a);
        const std::int64_t b = static_cast<std::int64_t>(k.b);
        const std::int64_t m = b + 1;
        if (v > b) {
            const std::int64_t j = (v - b + m - 1) / m;
            m_chain[i].nValue = static_cast<LONG>(v - j * m);
            Emit(i, StepsThenCheck('U', static_cast<Count>(j)));
        } else if (v < a) {
            const std::int64_t j = (a - v + m - 1) / m;
            m_chain[i].nValue = static_cast<LONG>(v + j * m);
            Emit(i, StepsThenCheck('D', static_cast<Count>(j)));
        } else {
            Emit(i, SymbolProgram('C'));
        }
        return Check(i);
    }

    void Symbol(std::size_t i, char kind) {
        if (kind == 'U') {
            m_chain[i].nValue = Wrap(static_cast<Wide>(m_chain[i].nValue) + 1);
        } else if (kind == 'D') {
            m_chain[i].nValue = Wrap(static_cast<Wide>(m_chain[i].nValue) - 1);
        }
        CheckAndCarry(i);
    }

    void Emit(std::size_t i, const ProgramPtr& program) {
        m_log[i].emplace_back('R', 1, program);
        Feed(i + 1, program);
    }

    void Feed(std::size_t i, const ProgramPtr& program) {
        if (m_bounds[i].carries) {
            Repeat(i, program, 1);
        } else {
            Moves(i, *program);
        }
    }

    // A component that does not carry: every symbol moves or checks it, and
    // passes a check on to its friend.
    void Moves(std::size_t i, const Program& program) {
        const Summary& s = program.sum;
        if (s.len == 0) {
            return;
        }
        QZLocationCarryState& c = m_chain[i];
        const Wide v = c.nValue;
        if (Escapes(v + s.lo, v + s.hi, m_bounds[i].a, m_bounds[i].b)) {
            c.nError = LE_RANGE;
        }
        c.nValue = Wrap(v + s.delta);
        c.bValid = (m_bounds[i].a <= c.nValue && c.nValue <= m_bounds[i].b) ? 1 : 0;
        if (HasFriend(i)) {
            Emit(i, RunProgram('C', s.len));
        }
    }

    void Explicit(std::size_t i, const Program& body) {
        for (const Item& item : body.items) {
            if (item.kind == 'R') {
                Repeat(i, item.body, item.n);
            } else if (item.n == 1) {
                Symbol(i, item.kind);
            } else {
                Repeat(i, SymbolProgram(item.kind), item.n);
            }
        }
    }

    // Applies as many blocks as can be applied at once from the current
    // value (none when the value is not in a region where that is possible).
    Count TryBatch(std::size_t i, const Program& body, Count rem) {
        const Bounds& k = m_bounds[i];
        const Summary& s = body.sum;
        QZLocationCarryState& c = m_chain[i];
        const Wide v = c.nValue;
        Count t = Fit(v, s, k.a, k.b, rem);
        if (t != 0) {
            c.nValue = Wrap(v + WideMul(s.delta, t));
            c.bValid = 1;
            Emit(i, RunProgram('C', CountMul(s.len, t)));
            return t;
        }
        if (k.a <= 0) {
            return 0;
        }
        Wide u = 0;
        bool high = false;
        if (0 <= v && v < k.a) {
            u = v;
        } else if (k.m <= v && v < k.m + k.a) {
            u = v - k.m;
            high = true;
        } else {
            return 0;
        }
        t = Fit(u, s, 0, k.a - 1, rem);
        if (t == 0) {
            return 0;
        }
        const Count flips = CountMul(s.len, t);
        const bool endHigh = high != (flips % 2 != 0);
        c.nValue = Wrap(u + WideMul(s.delta, t) + (endHigh ? k.m : 0));
        c.bValid = 0;
        c.nError = LE_RANGE;
        Emit(i, Alternation(high ? 'U' : 'D', flips));
        return t;
    }

    ProgramPtr Slice(std::size_t i, std::size_t from, std::size_t to) const {
        ProgramBuilder builder;
        for (std::size_t k = from; k < to; ++k) {
            builder.Add(m_log[i][k]);
        }
        return builder.Build();
    }

    std::vector<LONG> SuffixState(std::size_t i) const {
        std::vector<LONG> state;
        state.reserve(3 * (m_count - i));
        for (std::size_t k = i; k < m_count; ++k) {
            state.push_back(m_chain[k].nValue);
            state.push_back(m_chain[k].bValid);
            state.push_back(m_chain[k].nError);
        }
        return state;
    }

    // Feeds body n times to carrying component i.
    void Repeat(std::size_t i, const ProgramPtr& body, Count n) {
        if (n == 0 || body->sum.len == 0) {
            return;
        }
        Run run;
        run.body = body;
        run.n = n;
        while (run.done < n) {
            const Count t = TryBatch(i, *body, n - run.done);
            if (t != 0) {
                run.done += t;
                continue;
            }
            if (n - run.done >= 2 && SkipPeriods(i, run)) {
                continue;
            }
            Explicit(i, *body);
            ++run.done;
            ++run.followed;
        }
    }

    // Where a run has been: the state at the start of each block followed
    // symbol by symbol, with the blocks done and the log position then.
    struct Run {
        ProgramPtr body;
        Count n = 0;
        Count done = 0;
        Count followed = 0;
        std::vector<SuffixRecord> suffixSeen;
        std::vector<LocalRecord> localSeen;
        std::unordered_map<LONG, LocalRecord> localIndex;  // once localSeen is long

        const LocalRecord* FindLocal(LONG value) const {
            if (!localIndex.empty()) {
                const auto it = localIndex.find(value);
                return it == localIndex.end() ? nullptr : &it->second;
            }
            const auto it = std::find_if(localSeen.begin(), localSeen.end(),
                                         [&](const LocalRecord& r) { return r.value == value; });
            return it == localSeen.end() ? nullptr : &*it;
        }

        void AddLocal(const LocalRecord& record) {
            constexpr std::size_t kLinear = 32;
            if (localIndex.empty() && localSeen.size() < kLinear) {
                localSeen.push_back(record);
                return;
            }
            for (const LocalRecord& r : localSeen) {
                localIndex.emplace(r.value, r);
            }
            localSeen.clear();
            localIndex.emplace(record.value, record);
        }

        void Forget() {
            suffixSeen.clear();
            localSeen.clear();
            localIndex.clear();
        }
    };

    // At the start of a block to be followed symbol by symbol: if the state
    // has been seen before in this run, skips the run on by whole periods.
    bool SkipPeriods(std::size_t i, Run& run) {
        const std::size_t logPos = m_log[i].size();
        const bool movesNothing = run.body->sum.delta == 0;
        if (movesNothing) {
            std::vector<LONG> state = SuffixState(i);
            const auto seen = std::find_if(run.suffixSeen.begin(), run.suffixSeen.end(),
                                           [&](const SuffixRecord& r) { return r.state == state; });
            if (seen != run.suffixSeen.end()) {
                const Count period = run.done - seen->done;
                const Count q = (run.n - run.done) / period;
                if (q != 0) {
                    // Nothing above changes over a whole period: record what
                    // was sent, without sending it again.
                    m_log[i].push_back({'R', q, Slice(i, seen->logPos, logPos)});
                    run.done += q * period;
                    run.Forget();
                    return true;
                }
            } else if (run.suffixSeen.size() < kMaxSuffixRecords) {
                run.suffixSeen.push_back({std::move(state), run.done, logPos});
            }
        }
        const LONG value = m_chain[i].nValue;
        const LocalRecord* local = run.FindLocal(value);
        if (local == nullptr) {
            run.AddLocal({value, run.done, logPos});
            return false;
        }
        const Count period = run.done - local->done;
        const Count q = (run.n - run.done) / period;
        if (q == 0 || (movesNothing && run.followed < kSuffixPatience)) {
            return false;
        }
        // This component repeats: its friend receives what it was sent
        // during one period, q times over.
        ProgramBuilder builder;
        builder.Add({'R', q, Slice(i, local->logPos, logPos)});
        run.done += q * period;
        run.Forget();
        Emit(i, builder.Build());
        return true;
    }

    QZLocationCarryState* m_chain;
    std::size_t m_count;
    std::vector<Bounds> m_bounds;
    // What each component has sent to its friend, in order.
    std::vector<std::vector<Item>> m_log;
};

}  // namespace

int CheckGeneral(QZLocationCarryState* pChain, std::size_t nCount) {
    return CarryEngine(pChain, nCount).CheckFirst();
}

}  // namespace kelvara::location_carry
