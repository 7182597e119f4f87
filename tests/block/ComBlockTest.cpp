// Communication blocks: ids, defaults, errors and their counting, data,
// extraction, offset pairs, copies, archive records and log lines.
#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <string>

#include "kelvara/Kelvara.h"
#include "support/ArchiveBytes.h"
#include "support/HugeFile.h"

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

// The archive's encodings, written out here rather than taken from the
// library, so that stored records are checked against their format.
void PutWord(Bytes& out, WORD w) {
    out.push_back(static_cast<BYTE>(w & 0xFF));
    out.push_back(static_cast<BYTE>(w >> 8));
}

void PutDword(Bytes& out, DWORD dw) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<BYTE>(dw >> shift));
    }
}

// Signed fields go as their two's-complement bit pattern.
void PutLong(Bytes& out, LONG l) {
    PutDword(out, static_cast<DWORD>(l));
}

void PutString(Bytes& out, const std::string& s) {
    if (s.size() < 255) {
        out.push_back(static_cast<BYTE>(s.size()));
    } else if (s.size() < 0xFFFE) {
        out.push_back(0xFF);
        PutWord(out, static_cast<WORD>(s.size()));
    } else {
        out.push_back(0xFF);
        PutWord(out, 0xFFFF);
        PutDword(out, static_cast<DWORD>(s.size()));
    }
    out.insert(out.end(), s.begin(), s.end());
}

// A 32-bit length, then the bytes (the block's data and encoded EDF).
void PutSizedBytes(Bytes& out, const Bytes& bytes) {
    PutDword(out, static_cast<DWORD>(bytes.size()));
    out.insert(out.end(), bytes.begin(), bytes.end());
}

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

void PutLocation(Bytes& out, const LocationValues& l) {
    PutLong(out, 2);  // version
    PutDword(out, l.dwIdentifier);
    PutLong(out, l.nLocation);
    PutLong(out, l.descriptor.eNumberBase);
    PutLong(out, l.descriptor.nFormatLength);
    PutLong(out, l.descriptor.nIncrement);
    PutLong(out, l.range.nMinLocation);
    PutLong(out, l.range.nMaxLocation);
    PutLong(out, l.bValid);
    PutString(out, l.strDelimiter);
    PutLong(out, 0);  // no friend
    PutLong(out, l.descriptor.nShortestFormatLength);
    PutLong(out, l.nError);
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

// Fields 0 to 23 of the record: everything before the data.
Bytes EncodeHead(const BlockValues& v) {
    Bytes out;
    PutLong(out, 2);  // version of a block built with values
    PutDword(out, v.dwIdentifier);
    PutDword(out, static_cast<DWORD>(v.eBaseUnit));
    PutWord(out, v.wBlockType);
    PutDword(out, static_cast<DWORD>(v.eReadOrWrite));
    PutDword(out, static_cast<DWORD>(v.ePriority));
    PutDword(out, 1);  // disabled
    PutDword(out, v.dwComTime);
    PutDword(out, v.dwStandardErrorCode);
    PutDword(out, v.dwDeviceErrorCode);
    PutString(out, v.strStandardError);
    PutString(out, v.strDeviceError);
    PutDword(out, 1);  // bad
    PutDword(out, v.dwItemCount);
    PutDword(out, v.dwPointCount);
    PutDword(out, v.dwElementSize);
    PutString(out, v.strFirstAddress);
    PutString(out, v.strDeviceAddress);
    PutString(out, v.strTableName);
    PutLocation(out, v.tableOffset);
    PutLocation(out, v.deviceLocation);
    PutLong(out, v.nStringLength);
    PutLong(out, v.nBitOffset);
    PutLong(out, v.nPLCDeviceType);
    PutDword(out, 1);  // table-addressed
    return out;
}

Bytes EncodeRecord(const BlockValues& v) {
    Bytes out = EncodeHead(v);
    PutSizedBytes(out, v.data);
    PutDword(out, static_cast<DWORD>(v.pairs.size()));
    for (const BitOffsetMapping& pair : v.pairs) {
        PutLong(out, pair.nSecondOffset);
        PutLong(out, pair.nFirstOffset);
    }
    PutSizedBytes(out, v.encodedEDF);
    return out;
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

TEST(BlockElements, UnknownBaseUnitsTakeTheirSizeFromTheBlockType) {
    CString table("T");
    CQZLocation offset;
    CByteArray sixteen;
    sixteen.SetSize(16);
    const struct {
        WORD wType;
        int nSize;
    } cases[] = {{3, 4}, {4, 4}, {5, 8}, {8, 1},  {11, 1}, {17, 1}, {2, 2},
                 {6, 2}, {7, 2}, {9, 2}, {16, 2}, {0, 2},  {18, 2}, {0xFFFF, 2}};
    for (const auto baseUnit : {7, 8, 100, -1}) {
        CComBlock b(&table, 0, &offset, static_cast<ProtocolBaseUnit>(baseUnit), 1, 1);
        b.SetBlockData(&sixteen);
        for (const auto& c : cases) {
            b.SetBlockType(c.wType);
            CByteArray out;
            EXPECT_TRUE(b.GetBlockElement(0, out));
            EXPECT_EQ(out.GetSize(), c.nSize) << "base unit " << baseUnit << ", type " << c.wType;
            const DWORD past = static_cast<DWORD>(16 / c.nSize);
            EXPECT_TRUE(b.GetBlockElement(past - 1, out));
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
    CByteArray data;
    for (BYTE by : v.data) {
        data.Add(by);
    }
    b.SetBlockData(&data);
    for (const BitOffsetMapping& pair : v.pairs) {
        b.AddNewOffsetPair(pair.nFirstOffset, pair.nSecondOffset);
    }
    CByteArray edf;
    for (BYTE by : v.encodedEDF) {
        edf.Add(by);
    }
    b.SetEncodedEDF(&edf);

    EXPECT_EQ(kelvara_test::StoreWith([&](CArchive& ar) { b.Serialize(ar); }), EncodeRecord(v));
}

TEST(BlockArchive, LoadsEveryFieldOfAHandBuiltRecord) {
    BlockValues v;
    v.dwElementSize = 6;
    const Bytes record = EncodeRecord(v);
    CComBlock b;
    kelvara_test::LoadFrom(record, [&](CArchive& ar) { b.Serialize(ar); });
    EXPECT_EQ(b.m_dwIdentifier, v.dwIdentifier);
    EXPECT_EQ(b.GetProtocolBaseUnit(), v.eBaseUnit);
    EXPECT_EQ(b.GetBlockType(), v.wBlockType);
    EXPECT_EQ(b.GetReadOrWrite(), v.eReadOrWrite);
    EXPECT_EQ(b.GetPriority(), v.ePriority);
    EXPECT_FALSE(b.IsBlockEnabled());
    EXPECT_EQ(b.GetComTime(), v.dwComTime);
    EXPECT_EQ(b.GetStandardErrorCode(), v.dwStandardErrorCode);
    EXPECT_EQ(b.GetDeviceErrorCode(), v.dwDeviceErrorCode);
    EXPECT_EQ(b.GetStandardErrorString()->str(), v.strStandardError);
    EXPECT_EQ(b.GetDeviceErrorString()->str(), v.strDeviceError);
    EXPECT_FALSE(b.IsBlockGood());
    EXPECT_EQ(b.GetItemCount(), v.dwItemCount);
    EXPECT_EQ(b.GetPointCount(), v.dwPointCount);
    EXPECT_EQ(b.GetElementSize(), v.dwElementSize);
    EXPECT_EQ(b.GetFirstAddress()->m_strAddress.str(), v.strFirstAddress);
    EXPECT_EQ(b.GetDeviceAddress()->m_strAddress.str(), v.strDeviceAddress);
    EXPECT_EQ(b.GetTableName()->str(), v.strTableName);
    EXPECT_EQ(b.GetTableOffset()->GetNumberBase(), LR_HEXADECIMAL);
    EXPECT_EQ(b.GetTableOffset()->GetDelimiter(), ":");
    EXPECT_EQ(b.GetDeviceLocation()->GetMaxLocation(), 1000);
    EXPECT_EQ(b.GetDeviceLocation()->GetFormatLength(), 5);
    EXPECT_EQ(b.GetStringLength(), v.nStringLength);
    EXPECT_EQ(b.GetBitOffset(), v.nBitOffset);
    EXPECT_EQ(b.GetPLCDeviceType(), v.nPLCDeviceType);
    EXPECT_TRUE(b.IsTableAddressed());
    EXPECT_EQ(b.GetBufferSize(), static_cast<int>(v.data.size()));
    EXPECT_EQ(ToBytes(*b.GetEncodedEDF()), v.encodedEDF);
    int first = 0;
    int second = 0;
    for (const BitOffsetMapping& pair : v.pairs) {
        ASSERT_TRUE(b.GetNextOffsetPair(&first, &second));
        EXPECT_EQ(first, pair.nFirstOffset);
        EXPECT_EQ(second, pair.nSecondOffset);
    }
    EXPECT_EQ(kelvara_test::StoreWith([&](CArchive& ar) { b.Serialize(ar); }), record);
}

TEST(BlockArchive, RefusesAHugeDataLengthBeforeTouchingTheData) {
    Bytes record = EncodeHead(BlockValues{});
    PutDword(record, 0xFFFFFFFF);
    record.insert(record.end(), {1, 2, 3});
    CComBlock b;
    CByteArray data = MakeBytes({7, 8, 9});
    b.SetBlockData(&data);
    kelvara_test::LoadFrom(record,
                           [&](CArchive& ar) { EXPECT_THROW(b.Serialize(ar), CArchiveException); });
    EXPECT_EQ(b.GetBufferSize(), 3);

    // Lengths of 2^31 are refused even by a file that claims to hold them.
    const auto refuses = [](const Bytes& head) {
        kelvara_test::CHugeFile file(head);
        CArchive ar(&file, CArchive::load);
        CComBlock victim;
        EXPECT_THROW(victim.Serialize(ar), CArchiveException);
    };
    Bytes hugeData = EncodeHead(BlockValues{});
    PutDword(hugeData, 0x80000000u);
    refuses(hugeData);
    Bytes hugeEDF = EncodeHead(BlockValues{});
    PutSizedBytes(hugeEDF, {});
    PutDword(hugeEDF, 0);  // no pairs
    PutDword(hugeEDF, 0x80000000u);
    refuses(hugeEDF);
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
        EXPECT_EQ(b.GetPropArray()->GetAt(0), &props);
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
