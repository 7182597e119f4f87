// Table locations: parsing and formatting, counting by small and huge
// amounts through a three-component chain, and comparisons. The huge counts
// must cost about what the small ones do.
#include <benchmark/benchmark.h>
#include <kelvara/Kelvara.h>

#include <memory>

namespace {

QZLocationDescriptor Decimal(LONG length) {
    return {1, LR_DECIMAL, length, 1};
}

// inner min..63 (two digits), middle min..999 (three digits and a colon),
// outer 0..99999 (five digits and a colon). A minimum of 1 stands for the
// one-based tables of many devices.
std::unique_ptr<CQZLocation> ThreePart(LONG min) {
    auto inner = std::make_unique<CQZLocation>(min, TableOffsetRange{min, 63}, Decimal(2));
    auto* middle = new CQZLocation(min, TableOffsetRange{min, 999}, Decimal(4));
    auto* outer = new CQZLocation(0, TableOffsetRange{0, 99999}, Decimal(6));
    CString colon(":");
    middle->AttatchDelimiter(&colon);
    outer->AttatchDelimiter(&colon);
    middle->AttatchFriendLocation(outer);
    inner->AttatchFriendLocation(middle);
    return inner;
}

void BM_UpdateFormatRoundTrip(benchmark::State& state) {
    auto l = ThreePart(0);
    CString text("1234:567:42");
    CString out;
    for (auto _ : state) {
        benchmark::DoNotOptimize(l->Update(&text));
        l->Format(out);
        benchmark::DoNotOptimize(out.GetLength());
    }
}
BENCHMARK(BM_UpdateFormatRoundTrip);

// Adds the count and takes it off again, so every iteration starts from the
// same place; arg 0 is the minimum of the inner components.
void AddAndSubtract(benchmark::State& state, int count) {
    auto l = ThreePart(static_cast<LONG>(state.range(0)));
    *l += 12345;
    for (auto _ : state) {
        *l += count;
        *l -= count;
        benchmark::DoNotOptimize(l->IsValid());
    }
}

void BM_AddSmall(benchmark::State& state) {
    AddAndSubtract(state, 7);
}
BENCHMARK(BM_AddSmall)->Arg(0)->Arg(1);

// Carries through every component; with a minimum of 1 the middle component
// passes below its minimum on the way. The cost must not grow from here to
// the huge count.
void BM_AddCarrying(benchmark::State& state) {
    AddAndSubtract(state, 100000);
}
BENCHMARK(BM_AddCarrying)->Arg(0)->Arg(1);

void BM_AddHuge(benchmark::State& state) {
    AddAndSubtract(state, 2000000000);
}
BENCHMARK(BM_AddHuge)->Arg(0)->Arg(1);

// rack:slot:module:channel, each numbered from 1, as many devices number
// them, from the last channel of the last module of a slot: a step of one
// carries through every inner component. Arg 0 is the count added and taken
// off again.
void BM_FourPartOneBased(benchmark::State& state) {
    auto channel = std::make_unique<CQZLocation>(16, TableOffsetRange{1, 16}, Decimal(2));
    auto* module = new CQZLocation(8, TableOffsetRange{1, 8}, Decimal(2));
    auto* slot = new CQZLocation(31, TableOffsetRange{1, 32}, Decimal(2));
    auto* rack = new CQZLocation(5, TableOffsetRange{1, 99}, Decimal(2));
    slot->AttatchFriendLocation(rack);
    module->AttatchFriendLocation(slot);
    channel->AttatchFriendLocation(module);
    const int count = static_cast<int>(state.range(0));
    for (auto _ : state) {
        *channel += count;
        *channel -= count;
        benchmark::DoNotOptimize(channel->IsValid());
    }
}
BENCHMARK(BM_FourPartOneBased)->Arg(1)->Arg(100000)->Arg(2000000000);

void BM_CompareChains(benchmark::State& state) {
    auto a = ThreePart(0);
    auto b = ThreePart(0);
    *a += 100000;
    *b += 100001;
    for (auto _ : state) {
        benchmark::DoNotOptimize(*a < *b);
        benchmark::DoNotOptimize(*a == *b);
    }
}
BENCHMARK(BM_CompareChains);

void BM_CompareWithInt(benchmark::State& state) {
    CQZLocation l(100, TableOffsetRange{0, 255}, Decimal(3));
    int n = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(l < (n++ & 255));
    }
}
BENCHMARK(BM_CompareWithInt);

}  // namespace
