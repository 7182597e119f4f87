// Address checks of typical driver formats, against the same checks written
// with std::regex as a driver would otherwise write them; field reads, next
// addresses, and the parse of very large format texts.
//
// The "allocs" counter is heap allocations per iteration, counted by the
// replacement operator new below.
#include <benchmark/benchmark.h>
#include <kelvara/Kelvara.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <regex>
#include <string>

// The replacement pair below is malloc/free on both sides; GCC cannot see
// that once it inlines them into the standard containers (so CMake turns its
// mismatched-new-delete warning off for this program).

namespace {
std::atomic<long> g_allocations{0};
}  // namespace

void* operator new(std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) {
        return p;
    }
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

struct Typical {
    const char* name;
    const char* format;
    const char* address;
};

// Formats of the address language's own documentation, with valid addresses.
const Typical kTypical[] = {
    {"N4D", "[N4D 0 to 9999]", "0042"},
    {"Area+Offset", "[T1(Area) D M X][N4D(Offset) 0 to 9999]", "D0100"},
    {"Dec:Hex", "[N2D 1 to 99]:[N4H 0000 to FFFF]", "12:00AF"},
    {"Keyword-nocase", "[TVI db dw]", "DB"},
    {"Variable", "[NVD 0 to 65535]", "12345"},
};

class AllocationCounter {
public:
    explicit AllocationCounter(benchmark::State& state)
        : m_state(state), m_start(g_allocations.load()) {}
    ~AllocationCounter() {
        m_state.counters["allocs"] =
            benchmark::Counter(static_cast<double>(g_allocations.load() - m_start),
                               benchmark::Counter::kAvgIterations);
    }

private:
    benchmark::State& m_state;
    long m_start;
};

void BM_Validate(benchmark::State& state) {
    const Typical& t = kTypical[state.range(0)];
    CEDFFormat format(t.format, nullptr);
    if (format.Validate(t.address) != EDF_OK) {
        state.SkipWithError("address does not validate");
        return;
    }
    state.SetLabel(t.name);
    AllocationCounter count(state);
    for (auto _ : state) {
        benchmark::DoNotOptimize(format.Validate(t.address));
    }
}
BENCHMARK(BM_Validate)->DenseRange(0, 4);

// The same check through a remote address, which also looks for a stepping
// field in its format.
void BM_RemoteAddressValidate(benchmark::State& state) {
    const Typical& t = kTypical[state.range(0)];
    CRemoteAddress address(t.address, t.format, nullptr);
    if (address.Validate() != EDF_OK) {
        state.SkipWithError("address does not validate");
        return;
    }
    state.SetLabel(t.name);
    AllocationCounter count(state);
    for (auto _ : state) {
        benchmark::DoNotOptimize(address.Validate());
    }
}
BENCHMARK(BM_RemoteAddressValidate)->DenseRange(0, 4);

// What a driver author writes without the address language: one compiled
// expression per format, then a range check of each captured number.
struct RegexCheck {
    std::regex expression;
    bool (*ranges)(const std::cmatch&);
};

bool InRange(const std::csub_match& m, int base, long low, long high) {
    const std::string text = m.str();
    const long value = std::strtol(text.c_str(), nullptr, base);
    return value >= low && value <= high;
}

const RegexCheck& RegexFor(int i) {
    static const RegexCheck checks[] = {
        {std::regex("([0-9]{4})"), [](const std::cmatch& m) { return InRange(m[1], 10, 0, 9999); }},
        {std::regex("([DMX])([0-9]{4})"),
         [](const std::cmatch& m) { return InRange(m[2], 10, 0, 9999); }},
        {std::regex("([0-9]{2}):([0-9A-Fa-f]{4})"),
         [](const std::cmatch& m) {
             return InRange(m[1], 10, 1, 99) && InRange(m[2], 16, 0, 0xFFFF);
         }},
        {std::regex("(db|dw)", std::regex::icase), [](const std::cmatch&) { return true; }},
        {std::regex("([0-9]+)"), [](const std::cmatch& m) { return InRange(m[1], 10, 0, 65535); }},
    };
    return checks[i];
}

void BM_RegexValidate(benchmark::State& state) {
    const Typical& t = kTypical[state.range(0)];
    const RegexCheck& check = RegexFor(static_cast<int>(state.range(0)));
    std::cmatch match;
    if (!std::regex_match(t.address, match, check.expression) || !check.ranges(match)) {
        state.SkipWithError("address does not match");
        return;
    }
    state.SetLabel(t.name);
    AllocationCounter count(state);
    for (auto _ : state) {
        const bool ok = std::regex_match(t.address, match, check.expression) && check.ranges(match);
        benchmark::DoNotOptimize(ok);
    }
}
BENCHMARK(BM_RegexValidate)->DenseRange(0, 4);

void BM_FieldByName(benchmark::State& state) {
    CEDFFormat format("[T1(Area) D M X][N4D(Offset) 0 to 9999]", nullptr);
    format.ValidateFormat();
    CString value;
    AllocationCounter count(state);
    for (auto _ : state) {
        benchmark::DoNotOptimize(format.Field("D0100", "Offset", value));
    }
}
BENCHMARK(BM_FieldByName);

void BM_GetNextAddress(benchmark::State& state) {
    const CRemoteAddress first("D0100", "[T1(Area) D M][+1N4D(Offset) 0 to 9999]", "U1U2");
    CRemoteAddress next;
    AllocationCounter count(state);
    for (auto _ : state) {
        benchmark::DoNotOptimize(first.GetNextAddress(next));
    }
}
BENCHMARK(BM_GetNextAddress);

// Stepping through a run, the way a driver walks a block's addresses.
void BM_GetNextAddressInPlace(benchmark::State& state) {
    CRemoteAddress address("D0000", "[T1(Area) D M][+1N4D(Offset) 0 to 9999]", "U1U2");
    AllocationCounter count(state);
    for (auto _ : state) {
        if (address.GetNextAddress(address) != EDF_OK || address.Validate() != EDF_OK) {
            address.SetAddress("D0000");
        }
    }
}
BENCHMARK(BM_GetNextAddressInPlace);

void BM_Compress(benchmark::State& state) {
    const CRemoteAddress address("M0100", "[T1(Area) D M X][N4D(Offset) 0 to 9999]", "U1U2");
    CByteArray encoded;
    for (auto _ : state) {
        encoded.RemoveAll();
        benchmark::DoNotOptimize(address.Compress(encoded));
    }
}
BENCHMARK(BM_Compress);

// Format texts of the given size: many fields, or one long keyword list.
std::string LargeFormat(size_t nBytes, bool bKeywords) {
    std::string text = bKeywords ? "[TV" : "";
    const char* unit = bKeywords ? " ab" : "[N4D 0 to 9999]:";
    while (text.size() < nBytes) {
        text += unit;
    }
    if (bKeywords) {
        text += "]";
    }
    return text;
}

void BM_ParseLarge(benchmark::State& state) {
    const std::string text = LargeFormat(static_cast<size_t>(state.range(0)), state.range(1) != 0);
    state.SetLabel(state.range(1) ? "keyword list" : "fields");
    for (auto _ : state) {
        CEDFFormat format(text.c_str(), nullptr);
        format.ValidateFormat();
        benchmark::DoNotOptimize(format.m_Fields.GetCount());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ParseLarge)
    ->ArgsProduct({{1 << 18, 1 << 19, 1 << 20, 1 << 21}, {0}})
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseLarge)
    ->ArgsProduct({{1 << 18, 1 << 19, 1 << 20, 1 << 21}, {1}})
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMillisecond);

// Checks against those large formats: an address of one value per field,
// and one keyword out of a list of a quarter of a million.
void BM_ValidateLarge(benchmark::State& state) {
    const bool bKeywords = state.range(1) != 0;
    const std::string text = LargeFormat(static_cast<size_t>(state.range(0)), bKeywords);
    CEDFFormat format(text.c_str(), nullptr);
    format.ValidateFormat();
    std::string address;
    if (bKeywords) {
        address = "ab";
    } else {
        for (int i = 0; i < format.m_strLayout.GetLength(); i += 3) {
            address += "0042:";
        }
    }
    if (format.Validate(address.c_str()) != EDF_OK) {
        state.SkipWithError("address does not validate");
        return;
    }
    state.SetLabel(bKeywords ? "keyword list" : "fields");
    for (auto _ : state) {
        benchmark::DoNotOptimize(format.Validate(address.c_str()));
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ValidateLarge)
    ->ArgsProduct({{1 << 18, 1 << 19, 1 << 20, 1 << 21}, {0}})
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ValidateLarge)
    ->ArgsProduct({{1 << 18, 1 << 19, 1 << 20, 1 << 21}, {1}})
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMillisecond);

}  // namespace
