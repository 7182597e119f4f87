// Digit checks, conversions, bits and CQZObject records.
#include <gtest/gtest.h>

#include <vector>

#include "kelvara/Kelvara.h"
#include "support/ArchiveBytes.h"

namespace {

using kelvara_test::Bytes;

TEST(DigitChecks, AcceptOnlyWholeTextsOfTheirBaseAndConversionsReadTheLeadingDigits) {
    struct Digits {
        const char* psz;
        bool bNumeric, bHex, bOctal;
    };
    for (const Digits& d : {Digits{"0042", true, true, true}, Digits{"-17", true, false, false},
                            Digits{"00A2", false, true, false}, Digits{"", false, false, false},
                            Digits{"-", false, false, false}, Digits{" 1", false, false, false},
                            Digits{"00aF", false, true, false}, Digits{"0x1F", false, false, false},
                            Digits{"8", true, true, false}, Digits{nullptr, false, false, false}}) {
        const std::vector<bool> got = {IsNumeric(d.psz) != 0, IsHexadecimal(d.psz) != 0,
                                       IsOctal(d.psz) != 0};
        EXPECT_EQ(got, (std::vector<bool>{d.bNumeric, d.bHex, d.bOctal})) << (d.psz ? d.psz : "");
    }
    // 32 bits: longer texts wrap.
    const std::vector<long> hex = {
        HexToLong("1A2b"), HexToLong("FFFFFFFF"), HexToLong("123456789"), HexToLong("12zz"),
        HexToLong(""),     HexToLong("-10"),      OctalToLong("777"),     OctalToLong("778")};
    EXPECT_EQ(hex, (std::vector<long>{0x1A2B, -1, 0x23456789, 0x12, 0, -16, 0777, 077}));
}

// Bit 0 is the least significant, in bytes as in byte arrays.
TEST(BitsAndByteArrays, AreLittleEndianAndRoundTrip) {
    const std::vector<int> got = {GetBit(0, 0x01), GetBit(7, 0x80), GetBit(1, 0x01),
                                  GetBit(8, 0xFF), GetBit(-1, 0xFF)};
    EXPECT_EQ(got, (std::vector<int>{1, 1, 0, 0, 0}));
    unsigned char b = 0;
    SetBit(3, 0x40, b);
    EXPECT_EQ(b, 0x08);
    SetBit(9, 1, b);  // no such bit: nothing changes
    SetBit(3, 0, b);
    EXPECT_EQ(b, 0x00);

    CByteArray a;
    a.SetSize(4);
    LongToByteArray(0x11223344, a);
    EXPECT_EQ((std::vector<int>{a[0], a[3]}), (std::vector<int>{0x44, 0x11}));
    EXPECT_EQ(ByteArrayToLong(a), 0x11223344);
    ShortToByteArray(-2, a);
    EXPECT_EQ(ByteArrayToShort(a), -2);
    CByteArray d;
    DoubleToByteArray(-1.25, d);
    ASSERT_EQ(d.GetSize(), 8);
    EXPECT_EQ(ByteArrayToDouble(d), -1.25);
    FloatToByteArray(3.5f, a);
    EXPECT_EQ(ByteArrayToFloat(a), 3.5f);
    CByteArray shortArray;
    shortArray.Add(0x7F);
    EXPECT_EQ(ByteArrayToLong(shortArray), 0x7F);
    EXPECT_EQ(ByteArrayToChar(shortArray), 0x7F);
}

TEST(QZObjectRecord, IsVersionThenSecondMemberAndCopiesOnlyIntoItsOwnClass) {
    CQZObject o(2);
    const Bytes b = kelvara_test::StoreWith([&](CArchive& ar) { o.Serialize(ar); });
    EXPECT_EQ(b, (Bytes{2, 0, 0, 0, 0, 0, 0, 0}));
    CQZObject back(1);
    kelvara_test::LoadFrom(b, [&](CArchive& ar) { back.Serialize(ar); });
    EXPECT_EQ(back.GetVersion(), 2);

    CQZObject from(7);
    from.m_dwIdentifier = 99;
    EXPECT_TRUE(AssignObjects(&back, &from));
    EXPECT_EQ(back.GetVersion(), 7);
    EXPECT_EQ(back.m_dwIdentifier, 99u);
    EXPECT_FALSE(AssignObjects(&back, nullptr));
    // Records of the driver: the packed one's copy into the driver's own.
    CPortData packed;
    packed.m_PortProperties.m_dwBaudRate = 115200;
    CPortProperties port;
    ASSERT_TRUE(AssignObjects(&port, &packed.m_PortProperties));
    EXPECT_EQ(port.m_dwBaudRate, 115200u);
    EXPECT_FALSE(AssignObjects(&port, &packed.m_TimingProperties));
}

}  // namespace
