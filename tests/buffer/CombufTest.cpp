// CCombuf: framing operations, checksums, escapes and typed value
// conversion, each with its own range rule.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <thread>
#include <vector>

#include "kelvara/Kelvara.h"

namespace {

using Bytes = std::vector<BYTE>;

CCombuf Buf(const Bytes& bytes) {
    CCombuf buf;
    for (BYTE b : bytes) {
        buf += b;
    }
    return buf;
}

Bytes Contents(const CByteArray& a) {
    return Bytes(a.GetData(), a.GetData() + a.GetSize());
}

// The checksum exactly as its definition reads, one bit at a time.
WORD ReferenceLrc(const Bytes& bytes, size_t b, size_t e, WORD poly) {
    WORD crc = 0xFFFF;
    for (size_t i = b; i < e; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) {
            const bool out = crc & 1;
            crc = static_cast<WORD>(static_cast<std::int16_t>(crc) >> 1);
            if (out) {
                crc ^= poly;
            }
        }
    }
    return crc;
}

Bytes RandomBytes(std::mt19937& rng, size_t n, int alphabet = 256) {
    std::uniform_int_distribution<int> dist(0, alphabet - 1);
    Bytes bytes(n);
    for (BYTE& b : bytes) {
        b = static_cast<BYTE>(dist(rng));
    }
    return bytes;
}

TEST(CombufAssembly, AppendsTextsWithoutTerminatorAndTakesInclusiveSegments) {
    CCombuf buf;
    buf = "abc";
    buf += "";
    buf += static_cast<const char*>(nullptr);
    buf += static_cast<unsigned char>(0);
    buf += buf;  // appending itself doubles the content
    EXPECT_EQ(Contents(buf), (Bytes{0x61, 0x62, 0x63, 0, 0x61, 0x62, 0x63, 0}));
    CByteArray other;
    other.Add(7);
    buf = other;
    buf.Append(other);
    EXPECT_EQ(Contents(buf), (Bytes{7, 7}));

    buf = Buf({1, 2, 3, 4, 5});
    CByteArray out;
    buf.GetDataSegment(&out, 1, -1);
    EXPECT_EQ(Contents(out), (Bytes{2, 3, 4, 5}));
    buf.GetDataSegment(&out, -3, 99);  // cut to the buffer
    EXPECT_EQ(Contents(out), (Bytes{1, 2, 3, 4, 5}));
    buf.GetDataSegment(&out, 3, 1);
    EXPECT_EQ(out.GetSize(), 0);
    buf.GetDataSegment(&buf, 2, 3);
    EXPECT_EQ(Contents(buf), (Bytes{3, 4}));
}

TEST(CombufChecksum, WorkedValuesRangeConventionsAndOutOfRangeIndexes) {
    CCombuf buf;
    buf = "abc";
    EXPECT_EQ(buf.Polynomial_LRC(0xA001, 0, -1), 0xF751);  // arithmetic shift, not 0x5749
    EXPECT_EQ(buf.Polynomial_LRC(buf, 0xA001), 0xF751);
    EXPECT_EQ(buf.Polynomial_LRC(0xA001, -5, 1000), 0xF751);  // cut to the buffer

    EXPECT_EQ(buf.ROR_XOR_CRC(), 0x0A);
    EXPECT_EQ(buf.ROR_XOR_CRC(buf), 0x0A);
    EXPECT_EQ(buf.ROR_XOR_CRC(-2), 0x0A);
    EXPECT_EQ(buf.ROR_XOR_CRC(0, -1), 0);  // -1 is not special here

    EXPECT_EQ(buf.XOR_CRC(0, -1), 0x60);
    EXPECT_EQ(buf.XOR_CRC(2, 1), 0);
    EXPECT_EQ(buf.XOR_CRC(-1, 50), 0x60);
}

// Many polynomials, more than the table cache holds, from several threads at
// once: every checksum must equal its definition computed byte by byte.
TEST(CombufChecksum, TableDrivenMatchesBitByBitDefinition) {
    auto work = [](unsigned seed, int* failures) {
        std::mt19937 rng(seed);
        for (int round = 0; round < 400; ++round) {
            const Bytes bytes = RandomBytes(rng, rng() % 300);
            const WORD poly = round % 4 == 0 ? 0xA001 : static_cast<WORD>(rng());
            CCombuf buf = Buf(bytes);
            const size_t b = bytes.empty() ? 0 : rng() % bytes.size();
            const size_t e = b + (bytes.empty() ? 0 : rng() % (bytes.size() - b + 1));
            BYTE ror = 0;
            BYTE all = 0;
            for (size_t i = b; i < e; ++i) {
                ror = static_cast<BYTE>(((ror >> 1) | (ror << 7)) ^ bytes[i]);
                all ^= bytes[i];
            }
            const int nb = static_cast<int>(b);
            const int ne = static_cast<int>(e);
            if (buf.Polynomial_LRC(poly, 0, -1) != ReferenceLrc(bytes, 0, bytes.size(), poly) ||
                buf.Polynomial_LRC(poly, nb, ne) != ReferenceLrc(bytes, b, e, poly) ||
                buf.ROR_XOR_CRC(nb, ne) != ror || (e > 0 && buf.XOR_CRC(nb, ne - 1) != all)) {
                ++*failures;
            }
        }
    };
    std::vector<int> failures(4, 0);
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < failures.size(); ++t) {
        threads.emplace_back(work, 1000 + t, &failures[t]);
    }
    for (std::thread& t : threads) {
        t.join();
    }
    EXPECT_EQ(failures, std::vector<int>(4, 0));
}

// Random frames over a small alphabet (so special bytes are frequent) and
// random, partly out-of-range, ranges, against the operations written the
// slow, obvious way. An end of -1 leaves the last byte out.
TEST(CombufEscapes, RangeOperationsMatchByteByByteDefinition) {
    std::mt19937 rng(7);
    for (int round = 0; round < 2000; ++round) {
        const Bytes bytes = RandomBytes(rng, rng() % 40, 3);
        const int n = static_cast<int>(bytes.size());
        const int start = static_cast<int>(rng() % 50) - 5;
        const int end = round % 5 == 0 ? -1 : static_cast<int>(rng() % 50) - 5;
        const int e = std::clamp(end == -1 ? n - 1 : end, 0, n);
        const int s = std::clamp(start, 0, n);

        Bytes added;
        Bytes removed;
        for (int i = 0; i < n; ++i) {
            const bool inRange = i >= s && i < e;
            if (inRange && bytes[i] == 1) {
                added.push_back(2);
            }
            added.push_back(bytes[i]);
            if (!inRange || bytes[i] != 2) {
                removed.push_back(bytes[i]);
            }
        }
        CCombuf buf = Buf(bytes);
        buf.AddEscapeChars(1, 2, start, end);
        ASSERT_EQ(Contents(buf), added) << "round " << round;
        buf = Buf(bytes);
        buf.RemoveEscapeChars(2, start, end);
        ASSERT_EQ(Contents(buf), removed) << "round " << round;
    }
}

TEST(CombufEscapes, ArrayOverloadsRoundTripAndTakeEscapedBytesLiterally) {
    const CCombuf frame = Buf({0x10, 0x02, 0x10, 0x10, 0x03});
    CCombuf buf;
    buf.AddEscapeChars(frame, 0x10, 0x10);
    EXPECT_EQ(Contents(buf), (Bytes{0x10, 0x10, 0x02, 0x10, 0x10, 0x10, 0x10, 0x03}));
    buf.RemoveEscapeChars(buf, 0x10);  // the source may be the buffer itself
    EXPECT_EQ(Contents(buf), Contents(frame));
    buf.RemoveEscapeChars(Buf({0x1B, 0x1B, 0x41, 0x1B}), 0x1B);  // final escape dropped
    EXPECT_EQ(Contents(buf), (Bytes{0x1B, 0x41}));
}

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
        // Floating point truncates toward zero; outside the 32-bit range it
        // saturates, NaN gives 0.
        {LE<double>({2.9, -2.9}), R8, I4, LE<I32>({2, -2})},
        {LE<float>({65537.5f}), R4, I2, LE<I16>({1})},
        {LE<double>({-1.5}), R8, UI1, {0xFF}},
        {LE<double>({0.1}), R8, R4, LE<float>({0.1f})},
        {LE<double>({1e12, -1e12, nan}), R8, I4, LE<I32>({INT32_MAX, INT32_MIN, 0})},
        {LE<double>({1e300}), R8, R4, LE<float>({std::numeric_limits<float>::infinity()})},
        // True is -1 in numbers, and any nonzero value is true; boolean to
        // byte copies unnormalised.
        {{0x00, 0x01, 0x80}, BOOLEAN, I2, LE<I16>({0, -1, -1})},
        {{0x00, 0x01, 0x80}, BOOLEAN, UI1, {0x00, 0x01, 0x80}},
        {LE<double>({0.0, -0.0, 0.25}), R8, BOOLEAN, {0, 0, 0xFF}},
        // Only whole values of the inclusive range count; it is cut to the buffer.
        {{1, 0, 2, 0, 9}, I2, I2, {1, 0, 2, 0}},
        {{1, 0, 2, 0, 9}, I2, UI1, {2}, 2, 4},
        {{1, 0, 2, 0, 9}, I2, R8, {}, 3, 3},
        {{1, 0, 2, 0, 9}, UI1, UI1, {1, 0, 2, 0, 9}, -4, 99},
    };
    for (const auto& c : cases) {
        CCombuf buf = Buf(c.in);
        CByteArray out;
        out.Add(42);
        EXPECT_EQ(buf.ConvertDataIntoBuffer(c.from, c.to, &out, c.start, c.end), 1);
        EXPECT_EQ(Contents(out), c.out)
            << c.from << " to " << c.to << " of " << ::testing::PrintToString(c.in);
    }
    // The output may be the source.
    CCombuf buf = Buf({1, 2});
    ASSERT_EQ(buf.ConvertDataIntoBuffer(UI1, I2, &buf, 0, -1), 1);
    EXPECT_EQ(Contents(buf), (Bytes{1, 0, 2, 0}));
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
    EXPECT_EQ(Contents(out), Bytes{42});
    EXPECT_EQ(buf.ConvertDataIntoBuffer(I2, I4, nullptr, 0, -1), 0);
}

}  // namespace
