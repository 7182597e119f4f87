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

enum : unsigned short { I2 = 2, I4 = 3, R4 = 4, R8 = 5, STR = 8, BOOLEAN = 11, UI1 = 17 };

// Little-endian bytes of a value, as the utility conversions lay them out.
template <typename T>
Bytes LE(T value) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof value);
    Bytes out;
    for (size_t i = 0; i < sizeof value; ++i) {
        out.push_back(static_cast<BYTE>(bits >> (8 * i)));
    }
    return out;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

Bytes Convert(const Bytes& in, unsigned short from, unsigned short to, int start = 0,
              int end = -1) {
    CCombuf buf;
    for (BYTE b : in) {
        buf += b;
    }
    CByteArray out;
    EXPECT_EQ(buf.ConvertDataIntoBuffer(from, to, &out, start, end), 1);
    return Bytes(out.GetData(), out.GetData() + out.GetSize());
}

TEST(DataConversion, IntegersExtendAndNarrow) {
    EXPECT_EQ(Convert(Cat({LE<std::int16_t>(-2), LE<std::int16_t>(300)}), I2, I4),
              Cat({LE<std::int32_t>(-2), LE<std::int32_t>(300)}));
    EXPECT_EQ(Convert(LE<std::int16_t>(0x1234), I2, UI1), Bytes{0x34});
    EXPECT_EQ(Convert(LE<std::int32_t>(0x12345678), I4, I2), LE<std::int16_t>(0x5678));
    EXPECT_EQ(Convert({0xFE}, UI1, I2), LE<std::int16_t>(254));  // zero-extended
    EXPECT_EQ(Convert(LE<std::int32_t>(16777217), I4, R4), LE<float>(16777216.0f));
    EXPECT_EQ(Convert(LE<std::int16_t>(-7), I2, R8), LE<double>(-7.0));
}

TEST(DataConversion, FloatingPointTruncatesTowardZero) {
    EXPECT_EQ(Convert(Cat({LE(2.9), LE(-2.9)}), R8, I4),
              Cat({LE<std::int32_t>(2), LE<std::int32_t>(-2)}));
    EXPECT_EQ(Convert(LE(65537.5f), R4, I2), LE<std::int16_t>(1));
    EXPECT_EQ(Convert(LE(-1.5), R8, UI1), Bytes{0xFF});
    EXPECT_EQ(Convert(LE(1.5f), R4, R8), LE(1.5));
    EXPECT_EQ(Convert(LE(0.1), R8, R4), LE(0.1f));
    // Outside the 32-bit range: saturated; NaN: 0.
    EXPECT_EQ(Convert(Cat({LE(1e12), LE(-1e12), LE(std::nan(""))}), R8, I4),
              Cat({LE(INT32_MAX), LE(INT32_MIN), LE<std::int32_t>(0)}));
    EXPECT_EQ(Convert(LE(1e300), R8, R4), LE(std::numeric_limits<float>::infinity()));
}

TEST(DataConversion, BooleansBecomeMinusOneAndCopyUnnormalised) {
    const Bytes flags = {0x00, 0x01, 0x80};
    EXPECT_EQ(Convert(flags, BOOLEAN, I2),
              Cat({LE<std::int16_t>(0), LE<std::int16_t>(-1), LE<std::int16_t>(-1)}));
    EXPECT_EQ(Convert(flags, BOOLEAN, R4), Cat({LE(0.0f), LE(-1.0f), LE(-1.0f)}));
    EXPECT_EQ(Convert(flags, BOOLEAN, BOOLEAN), flags);
    EXPECT_EQ(Convert(flags, BOOLEAN, UI1), flags);
    EXPECT_EQ(Convert(flags, UI1, BOOLEAN), (Bytes{0x00, 0xFF, 0xFF}));
    EXPECT_EQ(Convert(Cat({LE(0.0), LE(-0.0), LE(0.25)}), R8, BOOLEAN), (Bytes{0, 0, 0xFF}));
    EXPECT_EQ(Convert(Cat({LE<std::int16_t>(0), LE<std::int16_t>(256)}), I2, BOOLEAN),
              (Bytes{0x00, 0xFF}));
}

TEST(DataConversion, CountsWholeValuesOfTheRange) {
    const Bytes five = {1, 0, 2, 0, 9};
    EXPECT_EQ(Convert(five, I2, I2), (Bytes{1, 0, 2, 0}));  // fifth byte ignored
    EXPECT_EQ(Convert(five, I2, UI1, 2, 4), Bytes{2});
    EXPECT_TRUE(Convert(five, I2, R8, 3, 3).empty());
    EXPECT_TRUE(Convert(five, I2, R8, 4, 1).empty());  // start after end
    EXPECT_EQ(Convert(five, UI1, UI1, -4, 99), five);  // cut to the buffer

    CCombuf buf;
    buf = "\x01\x02";
    ASSERT_EQ(buf.ConvertDataIntoBuffer(UI1, I2, &buf, 0, -1), 1);  // output is the source
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
