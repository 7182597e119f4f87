// CCombuf: framing operations, checksums and escapes, each with its own range rule.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
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

TEST(CombufAssembly, TextsAndBytesAppendWithoutTerminator) {
    CCombuf buf;
    buf = "abc";
    buf += "";
    buf += static_cast<const char*>(nullptr);
    buf += static_cast<unsigned char>(0);
    EXPECT_EQ(Contents(buf), (Bytes{0x61, 0x62, 0x63, 0x00}));
    buf += buf;  // appending itself doubles the content
    EXPECT_EQ(Contents(buf), (Bytes{0x61, 0x62, 0x63, 0, 0x61, 0x62, 0x63, 0}));
    CByteArray other;
    other.Add(7);
    buf = other;
    buf.Append(other);
    EXPECT_EQ(Contents(buf), (Bytes{7, 7}));
}

TEST(CombufSegment, InclusiveEndWithMinusOneAsLastByte) {
    CCombuf buf = Buf({1, 2, 3, 4, 5});
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
            if (buf.Polynomial_LRC(poly, 0, -1) != ReferenceLrc(bytes, 0, bytes.size(), poly) ||
                buf.Polynomial_LRC(poly, static_cast<int>(b), static_cast<int>(e)) !=
                    ReferenceLrc(bytes, b, e, poly)) {
                ++*failures;
            }
            BYTE ror = 0;
            BYTE all = 0;
            for (size_t i = b; i < e; ++i) {
                ror = static_cast<BYTE>(((ror >> 1) | (ror << 7)) ^ bytes[i]);
                all ^= bytes[i];
            }
            if (buf.ROR_XOR_CRC(static_cast<int>(b), static_cast<int>(e)) != ror ||
                (e > 0 && buf.XOR_CRC(static_cast<int>(b), static_cast<int>(e) - 1) != all)) {
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
    CByteArray frame;
    for (BYTE b : {0x10, 0x02, 0x10, 0x10, 0x03}) {
        frame.Add(b);
    }
    CCombuf buf;
    buf.AddEscapeChars(frame, 0x10, 0x10);
    EXPECT_EQ(Contents(buf), (Bytes{0x10, 0x10, 0x02, 0x10, 0x10, 0x10, 0x10, 0x03}));
    buf.RemoveEscapeChars(buf, 0x10);  // the source may be the buffer itself
    EXPECT_EQ(Contents(buf), Contents(frame));

    buf.RemoveEscapeChars(Buf({0x1B, 0x1B, 0x41, 0x1B}), 0x1B);  // final escape dropped
    EXPECT_EQ(Contents(buf), (Bytes{0x1B, 0x41}));
}

}  // namespace
