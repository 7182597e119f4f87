// CCombuf::ConvertDataIntoBuffer: sizes, counts and the value rules per type pair.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "kelvara/Kelvara.h"

namespace {

using Bytes = std::vector<BYTE>;

enum : WORD { I2 = 2, I4 = 3, R4 = 4, R8 = 5, STR = 8, BOOLEAN = 11, UI1 = 17 };

// Little-endian bytes of values, as the utility conversions lay them out.
template <typename T>
Bytes LE(std::initializer_list<T> values) {
    Bytes out;
    for (T value : values) {
        std::uint64_t bits = 0;
        std::memcpy(&bits, &value, sizeof value);
        for (size_t i = 0; i < sizeof value; ++i) {
            out.push_back(static_cast<BYTE>(bits >> (8 * i)));
        }
    }
    return out;
}

TEST(DataConversion, ConvertsEveryWholeValueOfTheRange) {
    using I16 = std::int16_t;
    using I32 = std::int32_t;
    const double nan = std::nan("");
    const struct {
        Bytes in;
        WORD from;
        WORD to;
        Bytes out;
        int start = 0;
        int end = -1;
    } cases[] = {
        // Integers sign-extend, bytes zero-extend, narrowing keeps the low bits.
        {LE<I16>({-2, 300}), I2, I4, LE<I32>({-2, 300})},
        {LE<I16>({0x1234}), I2, UI1, {0x34}},
        {LE<I32>({0x12345678}), I4, I2, LE<I16>({0x5678})},
        {{0xFE}, UI1, I2, LE<I16>({254})},
        {LE<I32>({16777217}), I4, R4, LE<float>({16777216.0f})},
        {LE<I16>({-7}), I2, R8, LE<double>({-7.0})},
        // Floating point truncates toward zero; outside the 32-bit range it
        // saturates, NaN gives 0.
        {LE<double>({2.9, -2.9}), R8, I4, LE<I32>({2, -2})},
        {LE<float>({65537.5f}), R4, I2, LE<I16>({1})},
        {LE<double>({-1.5}), R8, UI1, {0xFF}},
        {LE<float>({1.5f}), R4, R8, LE<double>({1.5})},
        {LE<double>({0.1}), R8, R4, LE<float>({0.1f})},
        {LE<double>({1e12, -1e12, nan}), R8, I4, LE<I32>({INT32_MAX, INT32_MIN, 0})},
        {LE<double>({1e300}), R8, R4, LE<float>({std::numeric_limits<float>::infinity()})},
        // True is -1 in numbers, and any nonzero value is true; boolean to
        // boolean or byte copies unnormalised.
        {{0x00, 0x01, 0x80}, BOOLEAN, I2, LE<I16>({0, -1, -1})},
        {{0x00, 0x01, 0x80}, BOOLEAN, R4, LE<float>({0.0f, -1.0f, -1.0f})},
        {{0x00, 0x01, 0x80}, BOOLEAN, BOOLEAN, {0x00, 0x01, 0x80}},
        {{0x00, 0x01, 0x80}, BOOLEAN, UI1, {0x00, 0x01, 0x80}},
        {{0x00, 0x01, 0x80}, UI1, BOOLEAN, {0x00, 0xFF, 0xFF}},
        {LE<double>({0.0, -0.0, 0.25}), R8, BOOLEAN, {0, 0, 0xFF}},
        {LE<I16>({0, 256}), I2, BOOLEAN, {0x00, 0xFF}},
        // Only whole values of the inclusive range count; it is cut to the buffer.
        {{1, 0, 2, 0, 9}, I2, I2, {1, 0, 2, 0}},
        {{1, 0, 2, 0, 9}, I2, UI1, {2}, 2, 4},
        {{1, 0, 2, 0, 9}, I2, R8, {}, 3, 3},
        {{1, 0, 2, 0, 9}, I2, R8, {}, 4, 1},
        {{1, 0, 2, 0, 9}, UI1, UI1, {1, 0, 2, 0, 9}, -4, 99},
    };
    for (const auto& c : cases) {
        CCombuf buf;
        for (BYTE b : c.in) {
            buf += b;
        }
        CByteArray out;
        out.Add(42);
        EXPECT_EQ(buf.ConvertDataIntoBuffer(c.from, c.to, &out, c.start, c.end), 1);
        EXPECT_EQ(Bytes(out.GetData(), out.GetData() + out.GetSize()), c.out)
            << c.from << " to " << c.to << " of " << ::testing::PrintToString(c.in);
    }
}

TEST(DataConversion, OutputMayBeTheSource) {
    CCombuf buf;
    buf = "\x01\x02";
    ASSERT_EQ(buf.ConvertDataIntoBuffer(UI1, I2, &buf, 0, -1), 1);
    EXPECT_EQ(Bytes(buf.GetData(), buf.GetData() + buf.GetSize()), (Bytes{1, 0, 2, 0}));
}

TEST(DataConversion, InvalidCodesReturnZeroAndLeaveOutputAlone) {
    CCombuf buf;
    buf = "abcd";
    CByteArray out;
    out.Add(42);
    for (int bad : {0, 1, 6, int{STR}, 10, 12, 16, 18, 0xFFFF}) {
        EXPECT_EQ(buf.ConvertDataIntoBuffer(static_cast<WORD>(bad), I2, &out, 0, -1), 0) << bad;
        EXPECT_EQ(buf.ConvertDataIntoBuffer(I2, static_cast<WORD>(bad), &out, 0, -1), 0) << bad;
    }
    EXPECT_EQ(out.GetSize(), 1);
    EXPECT_EQ(out[0], 42);
    EXPECT_EQ(buf.ConvertDataIntoBuffer(I2, I4, nullptr, 0, -1), 0);
}

}  // namespace
