// Communication blocks: ids, errors and their counting, data extraction,
// offset pairs, copies, archive records and log lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <tuple>
#include <vector>

#include "kelvara/Kelvara.h"
#include "support/ArchiveBytes.h"
#include "support/HugeFile.h"

namespace {

using kelvara_test::Bytes;
using kelvara_test::LoadFrom;
using kelvara_test::StoreWith;

CByteArray MakeBytes(const Bytes& bytes) {
    CByteArray a;
    for (BYTE b : bytes) {
        a.Add(b);
    }
    return a;
}

Bytes ToBytes(const CByteArray& a) {
    return Bytes(a.begin(), a.end());
}

// One field of a record as the archive lays it out: a little-endian
// integer of `size` bytes, or (size 0) a short string after its length byte.
struct Field {
    DWORD value;
    int size;
    const char* text = nullptr;
};

template <typename... Fields>
Bytes Encode(const Fields&... fields) {
    Bytes b;
    for (const Field& f : {fields...}) {
        if (f.text != nullptr) {
            b.push_back(static_cast<BYTE>(std::strlen(f.text)));
            b.insert(b.end(), f.text, f.text + std::strlen(f.text));
        }
        for (int i = 0; i < f.size; ++i) {
            b.push_back(static_cast<BYTE>(f.value >> (8 * i)));
        }
    }
    return b;
}

// A block record with every field away from its default, written out here
// rather than taken from the library so that it is checked against its
// format. Its last 34 bytes are the data, the pairs (second offset
// first) and the encoded EDF.
Bytes FullRecord(DWORD dwElementSize = 1) {
    const auto D = [](auto value) { return Field{static_cast<DWORD>(value), 4}; };
    const auto W = [](WORD value) { return Field{value, 2}; };
    const auto S = [](const char* text) { return Field{0, 0, text}; };
    // Version, identifier, base unit, type, write, low priority, disabled,
    // time, both error codes and texts, bad, items, points, element size,
    // the three address texts; table offset, then device location (version,
    // identifier, location, radix, format length, increment, range, valid,
    // delimiter, no friend, shortest length, error); string length, bit
    // offset, device type, table-addressed; data, pairs, EDF.
    return Encode(D(2), D(0xA1B2C3D4), D(PBU_DOUBLE_WORD), W(3), D(RW_WRITE), D(BLOCK_PRIORITY_LOW),
                  D(1), D(0xDEADBEEF), D(2001), D(0x7FFF0001), S("Operation timed out"),
                  S("PLC busy"), D(1), D(0x01020304), D(300), D(dwElementSize), S("R100"), S("D2"),
                  S("Holding registers"), D(2), D(0x51), D(500), D(LR_HEXADECIMAL), D(4), D(2),
                  D(4), D(400), D(0), S(":"), D(0), D(2), D(LE_RANGE), D(2), D(0x52), D(7),
                  D(LR_OCTAL), D(5), D(1), D(0), D(1000), D(1), S("-"), D(0), D(3), D(LE_NONE),
                  D(-5), D(13), D(-17), D(1), D(4), D(0xFF302010), D(2), D(-2), D(1), D(400),
                  D(300), D(2), W(0xDFE0));
}

std::vector<int> FirstOffsetsOfWalk(CComBlock& b, int nSteps) {
    std::vector<int> firsts;
    int first = 0;
    int second = 0;
    for (int i = 0; i < nSteps; ++i) {
        b.GetNextOffsetPair(&first, &second);
        firsts.push_back(first);
    }
    return firsts;
}

TEST(BlockIds, AreConsecutiveAndRenewedByCopiesButNotBySelfAssignment) {
    CTimeoutOnlyProperties props;
    CComBlock a;
    CComBlock b;
    EXPECT_EQ(b.GetBlockId(), a.GetBlockId() + 1);
    a = b;
    EXPECT_EQ(a.GetBlockId(), b.GetBlockId() + 1);
    const DWORD before = a.GetBlockId();
    CComBlock& self = a;
    a = self;
    EXPECT_EQ(a.GetBlockId(), before);
    // A copy takes no property records, and no block deletes the ones it
    // was given.
    a.GetPropArray()->Add(&props);
    CComBlock copy(a);
    EXPECT_EQ(copy.GetBlockId(), before + 1);
    EXPECT_EQ(copy.GetPropArray()->GetSize(), 0);
    EXPECT_EQ(CComBlock().GetBlockId(), before + 2);
}

TEST(BlockErrors, CountEveryStandardErrorAndTheirSideCounters) {
    CCommsStats stats;
    CComBlock b;
    b.SetStandardErrorCode(2001, &stats);
    EXPECT_EQ(*b.GetStandardErrorString(), "Operation timed out");
    // Only 2002 is a checksum error.
    for (const DWORD code : {2002u, 2003u, 2002u, 0u}) {
        b.SetStandardErrorCode(code, &stats);
    }
    EXPECT_EQ(stats.GetNumberStandardErrors(), 5u);
    EXPECT_EQ(stats.GetNumberTimeoutErrors(), 1u);
    EXPECT_EQ(stats.GetNumberCRCErrors(), 2u);
    EXPECT_EQ(*b.GetStandardErrorString(), "No error");
    EXPECT_EQ(stats.GetLastErrorString(), "No error");
    EXPECT_TRUE(b.IsBlockGood()) << "an error code leaves the status alone";
    b.SetStandardErrorCode(123456, &stats);
    EXPECT_EQ(*b.GetStandardErrorString(), "Unknown standard error, code  123456");

    CString text("PLC busy");
    b.SetDeviceError(7, &text, &stats);
    EXPECT_EQ(b.GetDeviceErrorCode(), 7u);
    EXPECT_EQ(stats.GetNumberDeviceErrors(), 1u);
    EXPECT_EQ(stats.GetLastErrorString(), "PLC busy");
}

TEST(BlockElements, TakeTheirSizeFromTheElementSizeTheBaseUnitOrTheBlockType) {
    CByteArray sixteen;
    sixteen.SetSize(16);
    sixteen[8] = 0xAA;
    CByteArray out;
    CRemoteAddress address("", "[]", nullptr);
    CComBlock words(&address, 2, 1, 3, 2);
    words.SetBlockData(&sixteen);
    EXPECT_TRUE(words.GetBlockElement(4, out));
    EXPECT_EQ(ToBytes(out), (Bytes{0xAA, 0}));
    EXPECT_FALSE(words.GetBlockElement(8, out) || words.GetBlockElement(0xFFFFFFFFu, out));

    // A table-addressed block has element size 1 and extracts by its base
    // unit (PBU_BIT to PBU_QUAD_WORD below); an unknown base unit takes the
    // size from the block type.
    const int byUnit[] = {1, 1, 1, 1, 2, 4, 8};
    const struct {
        WORD wType;
        int nSize;
    } byType[] = {{3, 4}, {4, 4}, {5, 8}, {8, 1}, {11, 1}, {17, 1}, {2, 2}, {6, 2}, {0xFFFF, 2}};
    CString table("T");
    CQZLocation offset;
    for (int baseUnit = -1; baseUnit <= 7; ++baseUnit) {
        CComBlock b(&table, 0, &offset, static_cast<ProtocolBaseUnit>(baseUnit), 1, 1);
        EXPECT_EQ(b.GetElementSize(), 1u);
        b.SetBlockData(&sixteen);
        for (const auto& c : byType) {
            b.SetBlockType(c.wType);
            const int nSize = baseUnit >= 0 && baseUnit < 7 ? byUnit[baseUnit] : c.nSize;
            const DWORD past = static_cast<DWORD>(16 / nSize);
            EXPECT_TRUE(b.GetBlockElement(past - 1, out));
            EXPECT_TRUE(b.GetBlockElement(8 / nSize, out) && out[0] == 0xAA);
            EXPECT_EQ(out.GetSize(), nSize) << "base unit " << baseUnit << ", type " << c.wType;
            EXPECT_FALSE(b.GetBlockElement(past, out));
        }
    }
}

// Bad or empty blocks refuse every extraction; a refused one leaves the
// output as it was.
TEST(BlockSegments, PackBitsAndNibblesFromPositionZero) {
    CComBlock b;
    CByteArray out = MakeBytes({7});
    EXPECT_FALSE(b.GetBlockData(out) || b.GetBlockSegment(0, 0, out));
    CByteArray data = MakeBytes({1, 0, 1, 1, 0, 0, 0, 0, 1, 1});
    b.SetBlockData(&data);
    EXPECT_EQ(b.GetReadOrWrite(), RW_READ);
    b.SetBlockBad();
    EXPECT_FALSE(b.GetBlockData(out) || b.GetBlockNibbleSegment(0, 1, out) ||
                 b.GetBlockPackedBitSegment(0, 1, out) || b.GetBlockBitSegment(0, 1, out) ||
                 b.GetBlockSegment(0, 1, out) || b.GetBlockElement(0, out));
    EXPECT_EQ(ToBytes(out), Bytes{7});
    b.SetBlockGood();
    EXPECT_TRUE(b.GetBlockData(out));
    EXPECT_EQ(out.GetSize(), 10);
    EXPECT_TRUE(b.GetBlockBitSegment(0, 9, out));
    EXPECT_EQ(ToBytes(out), (Bytes{0x0D, 0x03}));
    EXPECT_TRUE(b.GetBlockSegment(2, 2, out));
    EXPECT_EQ(ToBytes(out), Bytes{1});
    EXPECT_TRUE(b.GetBlockSegment(3, 2, out));
    EXPECT_TRUE(out.IsEmpty());
    out = MakeBytes({7});
    EXPECT_FALSE(b.GetBlockSegment(0, 10, out) || b.GetBlockSegment(-1, 2, out) ||
                 b.GetBlockSegment(5, 2, out));
    EXPECT_EQ(ToBytes(out), Bytes{7});

    CByteArray packed = MakeBytes({0xAB, 0xCD});
    b.SetBlockData(&packed);
    EXPECT_TRUE(b.GetBlockPackedBitSegment(4, 11, out));
    EXPECT_EQ(ToBytes(out), Bytes{0xDA});
    EXPECT_FALSE(b.GetBlockPackedBitSegment(4, 16, out));

    CByteArray nibbles = MakeBytes({0x01, 0x02, 0xF3});
    b.SetBlockData(&nibbles);
    EXPECT_TRUE(b.GetBlockNibbleSegment(0, 2, out));
    EXPECT_EQ(ToBytes(out), (Bytes{0x21, 0x03}));
}

TEST(BlockSegments, PackedBitsReachTheLastBitOfAVeryLargeBlock) {
    // 2^28 bytes hold bits up to INT_MAX, so last + 1 no longer fits an int.
    constexpr int kSize = 1 << 28;
    CComBlock b;
    {
        CByteArray big;
        big.SetSize(kSize);
        big[kSize - 2] = 0x80;
        big[kSize - 1] = 0xA5;
        b.SetBlockData(&big);
    }
    CByteArray out;
    EXPECT_TRUE(b.GetBlockPackedBitSegment(INT_MAX - 8, INT_MAX - 1, out));
    EXPECT_EQ(ToBytes(out), Bytes{0x4B});
    EXPECT_TRUE(b.GetBlockPackedBitSegment(INT_MAX, INT_MAX, out));
    EXPECT_EQ(ToBytes(out), Bytes{0x01});
    EXPECT_TRUE(b.GetBlockPackedBitSegment(INT_MAX, INT_MAX - 1, out));
    EXPECT_TRUE(out.IsEmpty());
    EXPECT_FALSE(b.GetBlockPackedBitSegment(INT_MAX, INT_MAX - 2, out) ||
                 b.GetBlockPackedBitSegment(INT_MAX, INT_MIN, out));
    EXPECT_TRUE(b.GetBlockNibbleSegment(kSize - 1, kSize - 1, out));
    EXPECT_EQ(ToBytes(out), Bytes{0x05});
}

TEST(OffsetPairs, WalkInOrderReportTheEndOnceAndStartAgainAndCopiesReverseThem) {
    CComBlock b;
    int first = 0;
    int second = 0;
    EXPECT_FALSE(b.GetNextOffsetPair(&first, &second));
    EXPECT_EQ(first + second, -2);
    b.AddNewOffsetPair(1, 2);
    BitOffsetMappingList more;
    more.AddTail(new BitOffsetMapping{3, 4});
    b.AddOffsetPairs(&more);
    const int expected[][3] = {{1, 2, 1}, {3, 4, 1}, {-1, -1, 0}, {1, 2, 1}};
    for (const auto& e : expected) {
        EXPECT_EQ(b.GetNextOffsetPair(&first, &second), e[2]);
        EXPECT_EQ(first, e[0]);
        EXPECT_EQ(second, e[1]);
    }
    // A copy holds the pairs reversed, ahead of the target's own.
    CComBlock copy(b);
    EXPECT_EQ(FirstOffsetsOfWalk(copy, 3), (std::vector<int>{3, 1, -1}));
    CComBlock target;
    target.AddNewOffsetPair(9, 9);
    target = b;
    EXPECT_EQ(FirstOffsetsOfWalk(target, 4), (std::vector<int>{3, 1, 9, -1}));
}

TEST(BlockRecycling, ClearsResultsAndRestartsThePairWalk) {
    CCommsStats stats;
    CComBlock b;
    CByteArray data = MakeBytes({1, 2, 3});
    b.FillWriteBuffer(&data);
    b.AddNewOffsetPair(1, 2);
    b.AddNewOffsetPair(3, 4);
    FirstOffsetsOfWalk(b, 1);
    b.SetStandardErrorCode(2001, &stats);
    b.SetBlockBad();
    b.SetComTime(50);
    b.RecycleBlockLeaveData();
    EXPECT_TRUE(b.IsBlockGood() && b.GetStandardErrorString()->IsEmpty());
    EXPECT_EQ(b.GetStandardErrorCode() + b.GetComTime(), 0u);
    EXPECT_EQ(b.GetBufferSize(), 3);
    EXPECT_EQ(b.GetReadOrWrite(), RW_WRITE);
    EXPECT_EQ(FirstOffsetsOfWalk(b, 2), (std::vector<int>{1, 3}));
    b.RecycleBlock();
    EXPECT_EQ(b.GetBufferSize(), 0);
    EXPECT_EQ(FirstOffsetsOfWalk(b, 1), std::vector<int>{1});
}

// Loaded, every field goes to the member that means it; stored again, the
// block gives the record's own bytes back. The address texts load into the
// block's own formats, and loaded pairs go after the ones the block held.
TEST(BlockArchive, LoadsEveryFieldAndStoresTheSameBytes) {
    const Bytes record = FullRecord(6);
    CRemoteAddress address("D0100", "[T1(Area) D M][+1N4D(Offset) 0 to 9999]", "U1U2");
    CComBlock b(&address, 2, 1, 1, 2);
    b.AddNewOffsetPair(5, 6);
    const DWORD id = b.GetBlockId();
    LoadFrom(record, [&](CArchive& ar) { b.Serialize(ar); });
    EXPECT_EQ(b.GetBlockId(), id);
    EXPECT_EQ(
        std::tuple(b.m_dwIdentifier, b.GetProtocolBaseUnit(), b.GetBlockType(), b.GetReadOrWrite(),
                   b.GetPriority(), b.IsBlockEnabled(), b.GetComTime()),
        std::tuple(0xA1B2C3D4u, PBU_DOUBLE_WORD, 3, RW_WRITE, BLOCK_PRIORITY_LOW, 0, 0xDEADBEEFu));
    EXPECT_EQ(std::tuple(b.GetStandardErrorCode(), b.GetDeviceErrorCode(), b.IsBlockGood(),
                         b.GetItemCount(), b.GetPointCount(), b.GetElementSize()),
              std::tuple(2001u, 0x7FFF0001u, 0, 0x01020304u, 300u, 6u));
    EXPECT_EQ(*b.GetStandardErrorString() + *b.GetDeviceErrorString() + *b.GetTableName(),
              "Operation timed outPLC busyHolding registers");
    EXPECT_EQ(b.GetFirstAddress()->m_strAddress + b.GetDeviceAddress()->m_strAddress, "R100D2");
    EXPECT_TRUE(b.GetFirstAddress()->IsAutoIncrementable());
    EXPECT_EQ(b.GetTableOffset()->GetDelimiter() + b.GetDeviceLocation()->GetDelimiter(), ":-");
    EXPECT_EQ(std::tuple(b.GetStringLength(), b.GetBitOffset(), b.GetPLCDeviceType(),
                         b.IsTableAddressed()),
              std::tuple(-5, 13, -17, TRUE));
    CByteArray data;
    b.SetBlockGood();
    EXPECT_TRUE(b.GetBlockData(data));
    EXPECT_EQ(ToBytes(data), (Bytes{0x10, 0x20, 0x30, 0xFF}));
    EXPECT_EQ(ToBytes(*b.GetEncodedEDF()), (Bytes{0xE0, 0xDF}));
    EXPECT_EQ(FirstOffsetsOfWalk(b, 3), (std::vector<int>{5, 1, 300}));

    CComBlock fresh;
    LoadFrom(record, [&](CArchive& ar) { fresh.Serialize(ar); });
    EXPECT_EQ(StoreWith([&](CArchive& ar) { fresh.Serialize(ar); }), record);
}

TEST(BlockArchive, RefusesDamagedCountsAndHugeLengthsBeforeTouchingTheData) {
    const Bytes record = FullRecord();
    const Bytes head(record.begin(), record.end() - 34);
    Bytes hugeData = head;
    hugeData.insert(hugeData.end(), {0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3});
    Bytes hugePairCount = record;
    std::fill(hugePairCount.end() - 26, hugePairCount.end() - 22, 0xFF);
    const Bytes truncated(record.begin(), record.end() - 3);
    CByteArray data = MakeBytes({7, 8, 9});
    for (const Bytes& bad : {hugeData, hugePairCount, truncated}) {
        CComBlock b;
        b.SetBlockData(&data);
        LoadFrom(bad, [&](CArchive& ar) { EXPECT_THROW(b.Serialize(ar), CArchiveException); });
        EXPECT_TRUE(bad != hugeData || b.GetBufferSize() == 3);
    }

    // Lengths of 2^31 are refused even by a file that claims to hold them.
    Bytes dataAt2To31 = head;
    dataAt2To31.insert(dataAt2To31.end(), {0, 0, 0, 0x80});
    Bytes edfAt2To31 = head;
    edfAt2To31.insert(edfAt2To31.end(), {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x80});
    for (const Bytes& bad : {dataAt2To31, edfAt2To31}) {
        kelvara_test::CHugeFile file(bad);
        CArchive ar(&file, CArchive::load);
        CComBlock victim;
        EXPECT_THROW(victim.Serialize(ar), CArchiveException);
    }
}

TEST(BlockLogLine, NamesDirectionPointsAndAddresses) {
    CRemoteAddress address("R100", "[]", nullptr);
    CComBlock b(&address, 2, 1, 10, 2);
    EXPECT_EQ(b.CreateLogString(),
              "Generated read block containing 10 point(s), starting at address R100");
    b.SetReadOrWrite(RW_WRITE);
    b.GetDeviceAddress()->SetAddress("D2");
    EXPECT_EQ(b.CreateLogString(),
              "Generated write block containing 10 point(s), starting at address R100, device D2");
}

}  // namespace
