// Communication blocks: ids, defaults, errors and their counting, data,
// extraction, offset pairs, copies, archive records and log lines.
#include <gtest/gtest.h>

#include <memory>

#include "kelvara/Kelvara.h"
#include "support/ArchiveBytes.h"

namespace {

using kelvara_test::Bytes;

CByteArray MakeBytes(std::initializer_list<BYTE> bytes) {
    CByteArray a;
    for (BYTE b : bytes) {
        a.Add(b);
    }
    return a;
}

Bytes ToBytes(const CByteArray& a) {
    return Bytes(a.begin(), a.end());
}

TEST(BlockIds, AreConsecutiveAndRenewedByAssignmentButNotBySelfAssignment) {
    CComBlock a;
    CComBlock b;
    CComBlock c;
    EXPECT_EQ(b.GetBlockId(), a.GetBlockId() + 1);
    EXPECT_EQ(c.GetBlockId(), b.GetBlockId() + 1);
    a = c;
    EXPECT_EQ(a.GetBlockId(), c.GetBlockId() + 1);
    const DWORD before = a.GetBlockId();
    CComBlock& self = a;
    a = self;
    EXPECT_EQ(a.GetBlockId(), before);
    CComBlock copy(a);
    EXPECT_EQ(copy.GetBlockId(), before + 1);
    CComBlock next;
    EXPECT_EQ(next.GetBlockId(), before + 2);
}

TEST(BlockDefaults, DescribeAGoodEnabledReadOfOneByte) {
    CComBlock b;
    EXPECT_EQ(b.GetBlockType(), 17);
    EXPECT_EQ(b.GetPointCount(), 1u);
    EXPECT_EQ(b.GetItemCount(), 1u);
    EXPECT_EQ(b.GetElementSize(), 1u);
    EXPECT_EQ(b.GetPriority(), BLOCK_PRIORITY_NORMAL);
    EXPECT_EQ(b.GetReadOrWrite(), RW_READ);
    EXPECT_TRUE(b.IsBlockEnabled());
    EXPECT_TRUE(b.IsBlockGood());
    EXPECT_EQ(b.GetStringLength(), -1);
    EXPECT_EQ(b.GetBitOffset(), -1);
    EXPECT_EQ(b.GetBufferSize(), 0);
    EXPECT_EQ(b.GetOffsetPairCount(), 0);
    EXPECT_EQ(b.GetFirstAddress()->Validate(), EDF_OK);
    EXPECT_FALSE(b.GetFirstAddress()->IsAutoIncrementable());
}

TEST(BlockErrors, CountEveryStandardErrorAndTheirSideCounters) {
    CCommsStats stats;
    CComBlock b;
    b.SetStandardErrorCode(2001, &stats);
    EXPECT_EQ(stats.GetNumberStandardErrors(), 1u);
    EXPECT_EQ(stats.GetNumberTimeoutErrors(), 1u);
    EXPECT_EQ(*b.GetStandardErrorString(), "Operation timed out");
    b.SetStandardErrorCode(2002, &stats);
    EXPECT_EQ(stats.GetNumberCRCErrors(), 1u);
    b.SetStandardErrorCode(2003, &stats);
    b.SetStandardErrorCode(0, &stats);
    EXPECT_EQ(stats.GetNumberStandardErrors(), 4u);
    EXPECT_EQ(stats.GetNumberTimeoutErrors(), 1u);
    EXPECT_EQ(stats.GetNumberCRCErrors(), 1u);
    EXPECT_EQ(*b.GetStandardErrorString(), "No error");
    EXPECT_EQ(stats.GetLastErrorString(), *b.GetStandardErrorString());
    EXPECT_TRUE(b.IsBlockGood()) << "an error code leaves the status alone";

    b.SetStandardErrorCode(123456, &stats);
    EXPECT_EQ(*b.GetStandardErrorString(), "Unknown standard error, code  123456");

    CString text("PLC busy");
    b.SetDeviceError(7, &text, &stats);
    EXPECT_EQ(b.GetDeviceErrorCode(), 7u);
    EXPECT_EQ(stats.GetNumberDeviceErrors(), 1u);
    EXPECT_EQ(stats.GetLastErrorString(), "PLC busy");
}

TEST(BlockRecycling, ClearsResultsAndRestartsThePairWalk) {
    CCommsStats stats;
    CComBlock b;
    CByteArray data = MakeBytes({1, 2, 3});
    b.FillWriteBuffer(&data);
    EXPECT_EQ(b.GetReadOrWrite(), RW_WRITE);
    b.AddNewOffsetPair(1, 2);
    b.AddNewOffsetPair(3, 4);
    int first = 0;
    int second = 0;
    b.GetNextOffsetPair(&first, &second);
    b.SetStandardErrorCode(2001, &stats);
    b.SetBlockBad();
    b.SetComTime(50);

    b.RecycleBlockLeaveData();
    EXPECT_TRUE(b.IsBlockGood());
    EXPECT_EQ(b.GetStandardErrorCode(), 0u);
    EXPECT_TRUE(b.GetStandardErrorString()->IsEmpty());
    EXPECT_EQ(b.GetComTime(), 0u);
    EXPECT_EQ(b.GetBufferSize(), 3);
    EXPECT_EQ(b.GetReadOrWrite(), RW_WRITE);
    ASSERT_TRUE(b.GetNextOffsetPair(&first, &second));
    EXPECT_EQ(first, 1);

    b.RecycleBlock();
    EXPECT_EQ(b.GetBufferSize(), 0);
    EXPECT_EQ(b.GetOffsetPairCount(), 2);
    ASSERT_TRUE(b.GetNextOffsetPair(&first, &second));
    EXPECT_EQ(first, 1);
}

TEST(BlockData, IsRefusedWhenBadOrEmpty) {
    CComBlock b;
    CByteArray out = MakeBytes({9});
    EXPECT_FALSE(b.GetBlockData(out));
    CByteArray data = MakeBytes({5, 6});
    b.SetBlockData(&data);
    EXPECT_EQ(b.GetReadOrWrite(), RW_READ);
    b.SetBlockBad();
    EXPECT_FALSE(b.GetBlockData(out));
    EXPECT_EQ(ToBytes(out), Bytes{9});
    b.SetBlockGood();
    EXPECT_TRUE(b.GetBlockData(out));
    EXPECT_EQ(ToBytes(out), (Bytes{5, 6}));
}

TEST(BlockElements, UseTheElementSizeOrTheTableBaseUnit) {
    CRemoteAddress address("", "[]", nullptr);
    CComBlock words(&address, 2, 1, 3, 2);
    CByteArray data = MakeBytes({1, 2, 3, 4, 5, 6});
    words.SetBlockData(&data);
    CByteArray out;
    EXPECT_TRUE(words.GetBlockElement(2, out));
    EXPECT_EQ(ToBytes(out), (Bytes{5, 6}));
    EXPECT_FALSE(words.GetBlockElement(3, out));
    EXPECT_FALSE(words.GetBlockElement(0xFFFFFFFFu, out));

    CComBlock tiny(&address, 2, 1, 1, 2);
    CByteArray one = MakeBytes({1});
    tiny.SetBlockData(&one);
    EXPECT_FALSE(tiny.GetBlockElement(0, out));

    CString table("Registers");
    CQZLocation offset;
    CComBlock quads(&table, 0, &offset, PBU_QUAD_WORD, 1, 2);
    EXPECT_EQ(quads.GetElementSize(), 1u);
    CByteArray sixteen;
    sixteen.SetSize(16);
    sixteen[8] = 0xAA;
    quads.SetBlockData(&sixteen);
    EXPECT_TRUE(quads.GetBlockElement(1, out));
    ASSERT_EQ(out.GetSize(), 8);
    EXPECT_EQ(out[0], 0xAA);
    EXPECT_FALSE(quads.GetBlockElement(2, out));

    CComBlock dwords(&table, 0, &offset, PBU_DOUBLE_WORD, 1, 1);
    dwords.SetBlockData(&sixteen);
    EXPECT_TRUE(dwords.GetBlockElement(3, out));
    EXPECT_EQ(out.GetSize(), 4);
}

TEST(BlockSegments, PackBitsAndNibblesFromPositionZero) {
    CComBlock b;
    CByteArray data = MakeBytes({1, 0, 1, 1, 0, 0, 0, 0, 1, 1});
    b.SetBlockData(&data);
    CByteArray out;
    EXPECT_TRUE(b.GetBlockBitSegment(0, 9, out));
    EXPECT_EQ(ToBytes(out), (Bytes{0x0D, 0x03}));
    EXPECT_TRUE(b.GetBlockSegment(2, 2, out));
    EXPECT_EQ(ToBytes(out), Bytes{1});
    EXPECT_TRUE(b.GetBlockSegment(3, 2, out));
    EXPECT_TRUE(out.IsEmpty());
    out = MakeBytes({7});
    EXPECT_FALSE(b.GetBlockSegment(0, 10, out));
    EXPECT_FALSE(b.GetBlockSegment(-1, 2, out));
    EXPECT_FALSE(b.GetBlockSegment(5, 2, out));
    EXPECT_EQ(ToBytes(out), Bytes{7});

    CByteArray packed = MakeBytes({0xAB, 0xCD});
    b.SetBlockData(&packed);
    EXPECT_TRUE(b.GetBlockPackedBitSegment(4, 11, out));
    EXPECT_EQ(ToBytes(out), Bytes{0xDA});
    EXPECT_FALSE(b.GetBlockPackedBitSegment(4, 16, out));

    CByteArray nibbles = MakeBytes({0x01, 0x02, 0x03});
    b.SetBlockData(&nibbles);
    EXPECT_TRUE(b.GetBlockNibbleSegment(0, 2, out));
    EXPECT_EQ(ToBytes(out), (Bytes{0x21, 0x03}));
    CByteArray high = MakeBytes({0xF1, 0xF2});
    b.SetBlockData(&high);
    EXPECT_TRUE(b.GetBlockNibbleSegment(0, 1, out));
    EXPECT_EQ(ToBytes(out), Bytes{0x21});

    b.SetBlockBad();
    EXPECT_FALSE(b.GetBlockNibbleSegment(0, 1, out));
    EXPECT_FALSE(b.GetBlockPackedBitSegment(0, 1, out));
    EXPECT_FALSE(b.GetBlockBitSegment(0, 1, out));
    EXPECT_FALSE(b.GetBlockSegment(0, 1, out));
    EXPECT_FALSE(b.GetBlockElement(0, out));
}

TEST(OffsetPairs, WalkInOrderReportTheEndOnceAndStartAgain) {
    CComBlock b;
    int first = 0;
    int second = 0;
    EXPECT_FALSE(b.GetNextOffsetPair(&first, &second));
    EXPECT_EQ(first, -1);
    EXPECT_EQ(second, -1);
    b.AddNewOffsetPair(1, 2);
    BitOffsetMappingList more;
    more.AddTail(new BitOffsetMapping{3, 4});
    b.AddOffsetPairs(&more);
    EXPECT_EQ(b.GetOffsetPairCount(), 2);
    const int expected[][3] = {{1, 2, 1}, {3, 4, 1}, {-1, -1, 0}, {1, 2, 1}};
    for (const auto& e : expected) {
        EXPECT_EQ(b.GetNextOffsetPair(&first, &second), e[2]);
        EXPECT_EQ(first, e[0]);
        EXPECT_EQ(second, e[1]);
    }
}

TEST(BlockCopies, ReverseTheOffsetPairsAndKeepTheirOwnPairsBehind) {
    CComBlock src;
    src.AddNewOffsetPair(1, 2);
    src.AddNewOffsetPair(3, 4);
    CComBlock copy(src);
    EXPECT_NE(copy.GetBlockId(), src.GetBlockId());
    int first = 0;
    int second = 0;
    copy.GetNextOffsetPair(&first, &second);
    EXPECT_EQ(first, 3);
    copy.GetNextOffsetPair(&first, &second);
    EXPECT_EQ(first, 1);

    CComBlock target;
    target.AddNewOffsetPair(9, 9);
    target = src;
    ASSERT_EQ(target.GetOffsetPairCount(), 3);
    for (int expected : {3, 1, 9}) {
        target.GetNextOffsetPair(&first, &second);
        EXPECT_EQ(first, expected);
    }
}

TEST(BlockArchive, WritesPairsSecondFirstAndLoadsThemInOrder) {
    CComBlock b;
    b.AddNewOffsetPair(1, 2);
    b.AddNewOffsetPair(3, 4);
    CByteArray data = MakeBytes({7, 8, 9});
    b.SetBlockData(&data);
    const Bytes stored = kelvara_test::StoreWith([&](CArchive& ar) { b.Serialize(ar); });
    // The record ends with the data, the pair count, the pairs and the EDF
    // length.
    const Bytes tail = {3, 0, 0, 0, 7, 8, 9, 2, 0, 0, 0, 2, 0, 0, 0, 1,
                        0, 0, 0, 4, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0};
    ASSERT_GE(stored.size(), tail.size());
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), stored.end() - tail.size()));

    CComBlock loaded;
    loaded.AddNewOffsetPair(5, 6);
    const DWORD id = loaded.GetBlockId();
    kelvara_test::LoadFrom(stored, [&](CArchive& ar) { loaded.Serialize(ar); });
    EXPECT_EQ(loaded.GetBlockId(), id);
    EXPECT_EQ(loaded.GetBufferSize(), 3);
    EXPECT_EQ(loaded.GetEncodedEDF()->GetSize(), 0);
    int first = 0;
    int second = 0;
    for (int expected : {5, 1, 3}) {
        loaded.GetNextOffsetPair(&first, &second);
        EXPECT_EQ(first, expected);
    }
    // A record stored and loaded again is byte for byte the same.
    CComBlock again;
    kelvara_test::LoadFrom(stored, [&](CArchive& ar) { again.Serialize(ar); });
    EXPECT_EQ(kelvara_test::StoreWith([&](CArchive& ar) { again.Serialize(ar); }), stored);
}

TEST(BlockArchive, KeepsTheAddressFormatAndRefusesDamagedCounts) {
    CComBlock b;
    b.GetFirstAddress()->SetAddress("R100");
    const Bytes stored = kelvara_test::StoreWith([&](CArchive& ar) { b.Serialize(ar); });
    CRemoteAddress address("D0100", "[T1(Area) D M][+1N4D(Offset) 0 to 9999]", "U1U2");
    CComBlock loaded(&address, 2, 1, 1, 2);
    kelvara_test::LoadFrom(stored, [&](CArchive& ar) { loaded.Serialize(ar); });
    EXPECT_EQ(loaded.GetFirstAddress()->m_strAddress, "R100");
    EXPECT_TRUE(loaded.GetFirstAddress()->IsAutoIncrementable());

    // The same record with the pair count raised to 2^32 - 1.
    Bytes damaged = stored;
    const size_t countAt = damaged.size() - 8;
    for (size_t i = 0; i < 4; ++i) {
        damaged[countAt + i] = 0xFF;
    }
    CComBlock victim;
    kelvara_test::LoadFrom(
        damaged, [&](CArchive& ar) { EXPECT_THROW(victim.Serialize(ar), CArchiveException); });
    Bytes truncated(stored.begin(), stored.end() - 3);
    kelvara_test::LoadFrom(
        truncated, [&](CArchive& ar) { EXPECT_THROW(victim.Serialize(ar), CArchiveException); });
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
    b.GetFirstAddress()->SetAddress(" ");
    EXPECT_EQ(b.CreateLogString(), "");
    b.GetFirstAddress()->SetAddress("");
    b.GetDeviceAddress()->SetAddress("");
    EXPECT_EQ(b.CreateLogString().Right(8), "address ");
}

}  // namespace
