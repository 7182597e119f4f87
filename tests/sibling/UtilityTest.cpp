// Digit checks, conversions, bits, string resources and CQZObject records.
#include <gtest/gtest.h>

#include "kelvara/Kelvara.h"
#include "support/ArchiveBytes.h"

namespace {

using kelvara_test::Bytes;

TEST(DigitChecks, AcceptOnlyWholeTextsOfTheirBase) {
    EXPECT_TRUE(IsNumeric("0042"));
    EXPECT_TRUE(IsNumeric("-17"));
    EXPECT_FALSE(IsNumeric("00A2"));
    EXPECT_FALSE(IsNumeric(""));
    EXPECT_FALSE(IsNumeric("-"));
    EXPECT_FALSE(IsNumeric(" 1"));
    EXPECT_FALSE(IsNumeric(nullptr));
    EXPECT_TRUE(IsHexadecimal("00aF"));
    EXPECT_FALSE(IsHexadecimal("0x1F"));
    EXPECT_FALSE(IsHexadecimal("-1"));
    EXPECT_TRUE(IsOctal("0777"));
    EXPECT_FALSE(IsOctal("8"));
}

TEST(DigitConversions, ReadLeadingDigitsAndWrapBeyondThirtyTwoBits) {
    EXPECT_EQ(HexToLong("1A2b"), 0x1A2B);
    EXPECT_EQ(HexToLong("FFFFFFFF"), -1);
    EXPECT_EQ(HexToLong("123456789"), 0x23456789);
    EXPECT_EQ(HexToLong("12zz"), 0x12);
    EXPECT_EQ(HexToLong(""), 0);
    EXPECT_EQ(HexToLong("-10"), -16);
    EXPECT_EQ(OctalToLong("777"), 0777);
    EXPECT_EQ(OctalToLong("778"), 077);
}

TEST(Bits, PositionZeroIsTheLeastSignificantAndAnyNonzeroSets) {
    EXPECT_EQ(GetBit(0, 0x01), 1);
    EXPECT_EQ(GetBit(7, 0x80), 1);
    EXPECT_EQ(GetBit(1, 0x01), 0);
    EXPECT_EQ(GetBit(8, 0xFF), 0);
    unsigned char b = 0;
    SetBit(3, 0x40, b);
    EXPECT_EQ(b, 0x08);
    SetBit(3, 0, b);
    EXPECT_EQ(b, 0x00);
    SetBit(9, 1, b);
    EXPECT_EQ(b, 0x00);
}

TEST(ByteArrayConversions, AreLittleEndianAndRoundTrip) {
    CByteArray a;
    a.SetSize(4);
    LongToByteArray(0x11223344, a);
    EXPECT_EQ(a[0], 0x44);
    EXPECT_EQ(a[3], 0x11);
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

TEST(StringResources, LoadTheLibraryTextsInEitherLanguage) {
    CString s("unchanged");
    EXPECT_TRUE(ModuleLoadString(&s, 12001, KelvaraGetResourceHandle()));
    EXPECT_EQ(s, "Operation timed out");
    EXPECT_TRUE(ModuleLoadString(&s, 12014, KelvaraGetResourceHandle()));
    EXPECT_EQ(s, "%s : Reported Win32 error code %d, message \"%s\"");
    EXPECT_TRUE(ModuleLoadString(&s, 13007, KelvaraGetResourceHandle()));
    EXPECT_EQ(s.Left(24), "The offset specifed cont");

    s = "unchanged";
    EXPECT_FALSE(ModuleLoadString(&s, 13000 + 2000, KelvaraGetResourceHandle()));
    EXPECT_EQ(s, "unchanged");
    EXPECT_FALSE(ModuleLoadString(&s, 10000, nullptr));

    SetResourceLanguage(LANG_ITALIAN_ITALY);
    EXPECT_TRUE(ModuleLoadString(&s, 13000, KelvaraGetResourceHandle()));
    EXPECT_EQ(s, "Protocol Properties");
    SetResourceLanguage(LANG_ENGLISH_UK);
}

TEST(QZObjectRecord, IsVersionThenSecondMemberAndLoadingRestoresBoth) {
    CQZObject o(2);
    const Bytes b = kelvara_test::StoreWith([&](CArchive& ar) { o.Serialize(ar); });
    EXPECT_EQ(b, (Bytes{2, 0, 0, 0, 0, 0, 0, 0}));
    CQZObject back(1);
    kelvara_test::LoadFrom(b, [&](CArchive& ar) { back.Serialize(ar); });
    EXPECT_EQ(back.GetVersion(), 2);
}

TEST(QZObjectRecord, HasItsOwnRunTimeClassDerivedFromCObject) {
    CQZObject o;
    EXPECT_EQ(o.GetRuntimeClass(), RUNTIME_CLASS(CQZObject));
    EXPECT_STREQ(o.GetRuntimeClass()->m_lpszClassName, "CQZObject");
    EXPECT_TRUE(o.IsKindOf(RUNTIME_CLASS(CObject)));
    EXPECT_FALSE(o.IsSerializable());
}

TEST(AssignObjects, CopiesEveryValueOfARecordOfTheSameClass) {
    CQZObject from(7);
    from.m_dwIdentifier = 99;
    CQZObject to(1);
    EXPECT_TRUE(AssignObjects(&to, &from));
    EXPECT_EQ(to.GetVersion(), 7);
    EXPECT_EQ(to.m_dwIdentifier, 99u);
    EXPECT_FALSE(AssignObjects(&to, nullptr));
}

}  // namespace
