// Communication blocks: ids, errors and their counting, data extraction,
// offset pairs, copies, archive records and log lines.
#include <gtest/gtest.h>

#include <climits>
#include <string>
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

// The archive's encodings, written out here rather than taken from the
// library, so that stored records are checked against their format. Signed
// fields go as their two's-complement bit pattern.
struct Record {
    Bytes b;
    Record& Word(WORD w) {
        b.insert(b.end(), {static_cast<BYTE>(w), static_cast<BYTE>(w >> 8)});
        return *this;
    }
    Record& Dword(DWORD dw) {
        return Word(static_cast<WORD>(dw)).Word(static_cast<WORD>(dw >> 16));
    }
    Record& Long(LONG l) { return Dword(static_cast<DWORD>(l)); }
    // Shorter than 255: one length byte; else 0xFF and a 16-bit length.
    Record& String(const std::string& s) {
        if (s.size() < 255) {
            b.push_back(static_cast<BYTE>(s.size()));
        } else {
            b.push_back(0xFF);
            Word(static_cast<WORD>(s.size()));
        }
        b.insert(b.end(), s.begin(), s.end());
        return *this;
    }
    // A 32-bit length, then the bytes (the block's data and encoded EDF).
    Record& Sized(const Bytes& bytes) {
        Dword(static_cast<DWORD>(bytes.size()));
        b.insert(b.end(), bytes.begin(), bytes.end());
        return *this;
    }
};

// One location component without a friend, as its record lays it out.
struct LocationValues {
    DWORD dwIdentifier;
    LONG nLocation;
    TableOffsetRange range;
    QZLocationDescriptor descriptor;
    std::string strDelimiter;
    BOOL bValid;
    LONG nError;
};

void PutLocation(Record& r, const LocationValues& l) {
    r.Long(2).Dword(l.dwIdentifier).Long(l.nLocation).Long(l.descriptor.eNumberBase);
    r.Long(l.descriptor.nFormatLength).Long(l.descriptor.nIncrement);
    r.Long(l.range.nMinLocation).Long(l.range.nMaxLocation).Long(l.bValid);
    r.String(l.strDelimiter).Long(0).Long(l.descriptor.nShortestFormatLength).Long(l.nError);
}

CQZLocation MakeLocation(const LocationValues& l) {
    CQZLocation location(l.nLocation, l.range, l.descriptor);
    CString delimiter(l.strDelimiter);
    location.AttatchDelimiter(&delimiter);
    location.m_dwIdentifier = l.dwIdentifier;
    return location;
}

// Every field of a block record, none at its default.
struct BlockValues {
    DWORD dwIdentifier = 0xA1B2C3D4;
    ProtocolBaseUnit eBaseUnit = PBU_DOUBLE_WORD;
    WORD wBlockType = 3;
    ReadOrWrite eReadOrWrite = RW_WRITE;
    BlockPriority ePriority = BLOCK_PRIORITY_LOW;
    DWORD dwComTime = 0xDEADBEEF;
    DWORD dwStandardErrorCode = 123456;
    std::string strStandardError = "Unknown standard error, code  123456";
    DWORD dwDeviceErrorCode = 0x7FFF0001;
    // Long enough for the 16-bit string length.
    std::string strDeviceError = std::string(300, 'e') + "!";
    DWORD dwItemCount = 0x01020304;
    DWORD dwPointCount = 300;
    // A table-addressed block is built with element size 1; no operation
    // changes it (a loaded record may hold any other).
    DWORD dwElementSize = 1;
    std::string strFirstAddress = "R100";
    std::string strDeviceAddress = "D2";
    std::string strTableName = "Holding registers";
    // Outside its range: not valid, with the range error.
    LocationValues tableOffset{0x51, 500, {4, 400}, {2, LR_HEXADECIMAL, 4, 2}, ":", 0, LE_RANGE};
    LocationValues deviceLocation{0x52, 7, {0, 1000}, {1, LR_OCTAL, 5, 3}, "-", 1, LE_NONE};
    LONG nStringLength = -5;
    LONG nBitOffset = 13;
    LONG nPLCDeviceType = -17;
    Bytes data = {0x10, 0x20, 0x30, 0xFF};
    std::vector<BitOffsetMapping> pairs = {{1, -2}, {300, 400}};
    Bytes encodedEDF = {0xE0, 0xDF};
};

// Fields 0 to 23 of the record: everything before the data. A block built
// with values is version 2; the constants are disabled, bad and
// table-addressed.
Record EncodeHead(const BlockValues& v) {
    Record r;
    r.Long(2).Dword(v.dwIdentifier).Dword(v.eBaseUnit).Word(v.wBlockType).Dword(v.eReadOrWrite);
    r.Dword(v.ePriority).Dword(1).Dword(v.dwComTime).Dword(v.dwStandardErrorCode);
    r.Dword(v.dwDeviceErrorCode).String(v.strStandardError).String(v.strDeviceError).Dword(1);
    r.Dword(v.dwItemCount).Dword(v.dwPointCount).Dword(v.dwElementSize);
    r.String(v.strFirstAddress).String(v.strDeviceAddress).String(v.strTableName);
    PutLocation(r, v.tableOffset);
    PutLocation(r, v.deviceLocation);
    r.Long(v.nStringLength).Long(v.nBitOffset).Long(v.nPLCDeviceType).Dword(1);
    return r;
}

// Pairs are stored second offset first.
Bytes EncodeRecord(const BlockValues& v) {
    Record r = EncodeHead(v);
    r.Sized(v.data).Dword(static_cast<DWORD>(v.pairs.size()));
    for (const BitOffsetMapping& pair : v.pairs) {
        r.Long(pair.nSecondOffset).Long(pair.nFirstOffset);
    }
    return r.Sized(v.encodedEDF).b;
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
    EXPECT_EQ(b.GetPointCount() + b.GetItemCount() + b.GetElementSize(), 3u);
    EXPECT_EQ(b.GetPriority(), BLOCK_PRIORITY_NORMAL);
    EXPECT_EQ(b.GetReadOrWrite(), RW_READ);
    EXPECT_TRUE(b.IsBlockEnabled() && b.IsBlockGood());
    EXPECT_EQ(b.GetStringLength(), -1);
    EXPECT_EQ(b.GetBitOffset(), -1);
    EXPECT_EQ(b.GetFirstAddress()->Validate(), EDF_OK);
    EXPECT_FALSE(b.GetFirstAddress()->IsAutoIncrementable());
}

TEST(BlockErrors, CountEveryStandardErrorAndTheirSideCounters) {
    CCommsStats stats;
    CComBlock b;
    b.SetStandardErrorCode(2001, &stats);
    EXPECT_EQ(stats.GetNumberTimeoutErrors(), 1u);
    EXPECT_EQ(*b.GetStandardErrorString(), "Operation timed out");
    b.SetStandardErrorCode(2002, &stats);
    b.SetStandardErrorCode(2003, &stats);
    b.SetStandardErrorCode(0, &stats);
    EXPECT_EQ(stats.GetNumberStandardErrors(), 4u);
    EXPECT_EQ(stats.GetNumberTimeoutErrors(), 1u);
    EXPECT_EQ(stats.GetNumberCRCErrors(), 1u);
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
    EXPECT_TRUE(b.IsBlockGood());
    EXPECT_EQ(b.GetStandardErrorCode(), 0u);
    EXPECT_TRUE(b.GetStandardErrorString()->IsEmpty());
    EXPECT_EQ(b.GetComTime(), 0u);
    EXPECT_EQ(b.GetBufferSize(), 3);
    EXPECT_EQ(b.GetReadOrWrite(), RW_WRITE);
    EXPECT_EQ(FirstOffsetsOfWalk(b, 2), (std::vector<int>{1, 3}));

    b.RecycleBlock();
    EXPECT_EQ(b.GetBufferSize(), 0);
    EXPECT_EQ(FirstOffsetsOfWalk(b, 1), std::vector<int>{1});
}

TEST(BlockData, BadOrEmptyBlocksRefuseEveryExtractionAndLeaveTheOutput) {
    CComBlock b;
    CByteArray out = MakeBytes({9});
    EXPECT_FALSE(b.GetBlockData(out));
    EXPECT_FALSE(b.GetBlockSegment(0, 0, out));
    CByteArray data = MakeBytes({5, 6});
    b.SetBlockData(&data);
    EXPECT_EQ(b.GetReadOrWrite(), RW_READ);
    b.SetBlockBad();
    EXPECT_FALSE(b.GetBlockData(out));
    EXPECT_FALSE(b.GetBlockNibbleSegment(0, 1, out));
    EXPECT_FALSE(b.GetBlockPackedBitSegment(0, 1, out));
    EXPECT_FALSE(b.GetBlockBitSegment(0, 1, out));
    EXPECT_FALSE(b.GetBlockSegment(0, 1, out));
    EXPECT_FALSE(b.GetBlockElement(0, out));
    EXPECT_EQ(ToBytes(out), Bytes{9});
    b.SetBlockGood();
    EXPECT_TRUE(b.GetBlockData(out));
    EXPECT_EQ(ToBytes(out), (Bytes{5, 6}));
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
    EXPECT_FALSE(words.GetBlockElement(8, out));
    EXPECT_FALSE(words.GetBlockElement(0xFFFFFFFFu, out));

    // A table-addressed block has element size 1 and extracts by its base
    // unit; an unknown base unit takes the size from the block type.
    const struct {
        WORD wType;
        int nSize;
    } byType[] = {{3, 4}, {4, 4}, {5, 8}, {8, 1},  {11, 1}, {17, 1}, {2, 2},
                  {6, 2}, {7, 2}, {9, 2}, {16, 2}, {0, 2},  {18, 2}, {0xFFFF, 2}};
    CString table("T");
    CQZLocation offset;
    for (const int baseUnit : {int{PBU_QUAD_WORD}, int{PBU_DOUBLE_WORD}, 7, 8, 100, -1}) {
        CComBlock b(&table, 0, &offset, static_cast<ProtocolBaseUnit>(baseUnit), 1, 1);
        EXPECT_EQ(b.GetElementSize(), 1u);
        b.SetBlockData(&sixteen);
        for (const auto& c : byType) {
            b.SetBlockType(c.wType);
            const int nSize = baseUnit == PBU_QUAD_WORD     ? 8
                              : baseUnit == PBU_DOUBLE_WORD ? 4
                                                            : c.nSize;
            const DWORD past = static_cast<DWORD>(16 / nSize);
            EXPECT_TRUE(b.GetBlockElement(past - 1, out));
            EXPECT_TRUE(b.GetBlockElement(8 / nSize, out) && out[0] == 0xAA);
            EXPECT_EQ(out.GetSize(), nSize) << "base unit " << baseUnit << ", type " << c.wType;
            EXPECT_FALSE(b.GetBlockElement(past, out));
        }
    }
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
    EXPECT_TRUE(b.GetBlockPackedBitSegment(INT_MAX - 7, INT_MAX, out));
    EXPECT_EQ(ToBytes(out), Bytes{0xA5});
    EXPECT_TRUE(b.GetBlockPackedBitSegment(INT_MAX - 8, INT_MAX - 1, out));
    EXPECT_EQ(ToBytes(out), Bytes{0x4B});
    EXPECT_TRUE(b.GetBlockPackedBitSegment(INT_MAX, INT_MAX, out));
    EXPECT_EQ(ToBytes(out), Bytes{0x01});
    EXPECT_TRUE(b.GetBlockPackedBitSegment(INT_MAX, INT_MAX - 1, out));
    EXPECT_TRUE(out.IsEmpty());
    out = MakeBytes({7});
    EXPECT_FALSE(b.GetBlockPackedBitSegment(INT_MAX, INT_MAX - 2, out));
    EXPECT_FALSE(b.GetBlockPackedBitSegment(INT_MAX, INT_MIN, out));
    EXPECT_EQ(ToBytes(out), Bytes{7});
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

TEST(BlockArchive, StoresEveryFieldInRecordOrder) {
    const BlockValues v;
    CString table(v.strTableName);
    CQZLocation offset = MakeLocation(v.tableOffset);
    CComBlock b(&table, v.nPLCDeviceType, &offset, v.eBaseUnit, v.dwItemCount, v.dwPointCount);
    b.m_dwIdentifier = v.dwIdentifier;
    b.SetBlockType(v.wBlockType);
    b.SetReadOrWrite(v.eReadOrWrite);
    b.SetBlockPriority(v.ePriority);
    b.DisableBlock();
    b.SetComTime(v.dwComTime);
    CCommsStats stats;
    b.SetStandardErrorCode(v.dwStandardErrorCode, &stats);
    CString deviceError(v.strDeviceError);
    b.SetDeviceError(v.dwDeviceErrorCode, &deviceError, &stats);
    b.SetBlockBad();
    b.GetFirstAddress()->SetAddress(v.strFirstAddress);
    b.GetDeviceAddress()->SetAddress(v.strDeviceAddress);
    CQZLocation deviceLocation = MakeLocation(v.deviceLocation);
    b.SetDeviceLocation(&deviceLocation);
    b.SetStringLength(v.nStringLength);
    b.SetBitOffset(v.nBitOffset);
    CByteArray data = MakeBytes(v.data);
    b.SetBlockData(&data);
    for (const BitOffsetMapping& pair : v.pairs) {
        b.AddNewOffsetPair(pair.nFirstOffset, pair.nSecondOffset);
    }
    CByteArray edf = MakeBytes(v.encodedEDF);
    b.SetEncodedEDF(&edf);
    EXPECT_EQ(StoreWith([&](CArchive& ar) { b.Serialize(ar); }), EncodeRecord(v));
}

// Stored again, a loaded record gives its own bytes back, so every field
// went to the member it came from; the reads below check what the members
// mean.
TEST(BlockArchive, LoadsAHandBuiltRecordBackToTheSameBytes) {
    BlockValues v;
    v.dwElementSize = 6;
    const Bytes record = EncodeRecord(v);
    CComBlock b;
    b.AddNewOffsetPair(5, 6);
    const DWORD id = b.GetBlockId();
    LoadFrom(record, [&](CArchive& ar) { b.Serialize(ar); });
    EXPECT_EQ(b.GetBlockId(), id);
    EXPECT_EQ(b.m_dwIdentifier, v.dwIdentifier);
    EXPECT_EQ(b.GetBlockType(), v.wBlockType);
    EXPECT_FALSE(b.IsBlockEnabled() || b.IsBlockGood());
    EXPECT_EQ(b.GetDeviceErrorString()->str(), v.strDeviceError);
    EXPECT_EQ(b.GetElementSize(), v.dwElementSize);
    EXPECT_EQ(b.GetFirstAddress()->m_strAddress.str(), v.strFirstAddress);
    EXPECT_EQ(b.GetTableOffset()->GetDelimiter(), ":");
    EXPECT_EQ(b.GetDeviceLocation()->GetMaxLocation(), 1000);
    EXPECT_EQ(b.GetPLCDeviceType(), v.nPLCDeviceType);
    EXPECT_TRUE(b.IsTableAddressed());
    EXPECT_EQ(b.GetBufferSize(), static_cast<int>(v.data.size()));
    EXPECT_EQ(ToBytes(*b.GetEncodedEDF()), v.encodedEDF);
    // Loaded pairs go after the ones the block held.
    EXPECT_EQ(FirstOffsetsOfWalk(b, 3), (std::vector<int>{5, 1, 300}));

    CComBlock fresh;
    LoadFrom(record, [&](CArchive& ar) { fresh.Serialize(ar); });
    EXPECT_EQ(StoreWith([&](CArchive& ar) { fresh.Serialize(ar); }), record);
}

TEST(BlockArchive, RefusesHugeDataAndEDFLengthsBeforeTouchingTheData) {
    Bytes record = EncodeHead(BlockValues{}).Dword(0xFFFFFFFF).b;
    record.insert(record.end(), {1, 2, 3});
    CComBlock b;
    CByteArray data = MakeBytes({7, 8, 9});
    b.SetBlockData(&data);
    LoadFrom(record, [&](CArchive& ar) { EXPECT_THROW(b.Serialize(ar), CArchiveException); });
    EXPECT_EQ(b.GetBufferSize(), 3);

    // Lengths of 2^31 are refused even by a file that claims to hold them.
    for (const Bytes& head : {EncodeHead(BlockValues{}).Dword(0x80000000u).b,
                              EncodeHead(BlockValues{}).Sized({}).Dword(0).Dword(0x80000000u).b}) {
        kelvara_test::CHugeFile file(head);
        CArchive ar(&file, CArchive::load);
        CComBlock victim;
        EXPECT_THROW(victim.Serialize(ar), CArchiveException);
    }
}

TEST(BlockArchive, KeepsTheAddressFormatAndRefusesDamagedCounts) {
    CComBlock b;
    b.GetFirstAddress()->SetAddress("R100");
    const Bytes stored = StoreWith([&](CArchive& ar) { b.Serialize(ar); });
    CRemoteAddress address("D0100", "[T1(Area) D M][+1N4D(Offset) 0 to 9999]", "U1U2");
    CComBlock loaded(&address, 2, 1, 1, 2);
    LoadFrom(stored, [&](CArchive& ar) { loaded.Serialize(ar); });
    EXPECT_EQ(loaded.GetFirstAddress()->m_strAddress, "R100");
    EXPECT_TRUE(loaded.GetFirstAddress()->IsAutoIncrementable());

    // The same record with the pair count raised to 2^32 - 1, and cut short.
    Bytes damaged = stored;
    std::fill(damaged.end() - 8, damaged.end() - 4, 0xFF);
    const Bytes truncated(stored.begin(), stored.end() - 3);
    for (const Bytes& bad : {damaged, truncated}) {
        CComBlock victim;
        LoadFrom(bad, [&](CArchive& ar) { EXPECT_THROW(victim.Serialize(ar), CArchiveException); });
    }
}

// A property record that counts the live instances of its class.
class CCountedProperties : public CTimeoutOnlyProperties {
public:
    CCountedProperties() { ++s_nLive; }
    ~CCountedProperties() override { --s_nLive; }
    static int s_nLive;
};
int CCountedProperties::s_nLive = 0;

TEST(BlockLifetime, DestroyingABlockLeavesItsPropertyRecordsAlone) {
    CCountedProperties props;
    {
        CComBlock b;
        b.GetPropArray()->Add(&props);
        CComBlock copy(b);
        EXPECT_EQ(copy.GetPropArray()->GetSize(), 0) << "copies do not share property records";
    }
    EXPECT_EQ(CCountedProperties::s_nLive, 1);
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
