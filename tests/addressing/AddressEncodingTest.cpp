#include <gtest/gtest.h>

#include <vector>

#include "kelvara/addressing/RemoteAddress.h"

namespace {

std::vector<BYTE> BytesOf(const CByteArray& array) {
    return std::vector<BYTE>(array.begin(), array.end());
}

struct Encoded {
    EDF_RET result;
    std::vector<BYTE> bytes;
};

Encoded Encode(const char* pszAddress, const char* pszFormat, const char* pszAttributes) {
    CRemoteAddress address(pszAddress, pszFormat, pszAttributes);
    CByteArray array;
    const EDF_RET result = address.Compress(array);
    return {result, BytesOf(array)};
}

constexpr const char* kAreaOffset = "[T1(Area) D M X][N4D(Offset) 0 to 9999]";

TEST(Compress, DocumentedExamples) {
    Encoded e = Encode("M0100", kAreaOffset, "U1U2");
    EXPECT_EQ(e.result, EDF_OK);
    EXPECT_EQ(e.bytes, (std::vector<BYTE>{0x01, 0x64, 0x00}));
    e = Encode("X0100", kAreaOffset, "U1U4");
    EXPECT_EQ(e.result, EDF_OK);
    EXPECT_EQ(e.bytes, (std::vector<BYTE>{0x02, 0x64, 0x00, 0x00, 0x00}));
    e = Encode("12:00AF", "[N2D 1 to 99]:[N4H 0000 to FFFF]", "U1I2");
    EXPECT_EQ(e.result, EDF_OK);
    EXPECT_EQ(e.bytes, (std::vector<BYTE>{0x0C, 0xAF, 0x00}));
}

TEST(Compress, NumbersKeepTheirLowBitsAndTwosComplement) {
    EXPECT_EQ(Encode("-0002", "[N5D -9999 to 9999]", "U4").bytes,
              (std::vector<BYTE>{0xFE, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(Encode("0300", "[N4D 0 to 9999]", "U1").bytes, (std::vector<BYTE>{0x2C}));
    EXPECT_EQ(Encode("70000", "[NVD 0 to 99999]", "U2").bytes, (std::vector<BYTE>{0x70, 0x11}));
    EXPECT_EQ(Encode("123", "[N3D 0 to 999]", "U3").result, EDF_FAILED);
}

TEST(Compress, SizesOtherThanOneTwoFourFailButLaterFieldsStillEncode) {
    Encoded e = Encode("M0100", kAreaOffset, "U0U2");
    EXPECT_EQ(e.result, EDF_FAILED);
    EXPECT_EQ(e.bytes, (std::vector<BYTE>{0x64, 0x00}));
    // A short attribute text leaves the later fields with size 0.
    e = Encode("M0100", kAreaOffset, "U1");
    EXPECT_EQ(e.result, EDF_FAILED);
    EXPECT_EQ(e.bytes, (std::vector<BYTE>{0x01}));
}

TEST(Compress, KeywordFieldOfTwoOrFourBytesAddsNothing) {
    Encoded e = Encode("X0100", kAreaOffset, "U2U2");
    EXPECT_EQ(e.result, EDF_OK);
    EXPECT_EQ(e.bytes, (std::vector<BYTE>{0x64, 0x00}));
}

TEST(Compress, AppendsToWhatTheArrayHolds) {
    CRemoteAddress address("D0001", kAreaOffset, "U1U2");
    CByteArray array;
    array.Add(0xAA);
    address.Compress(array);
    address.Compress(array);
    EXPECT_EQ(BytesOf(array), (std::vector<BYTE>{0xAA, 0, 1, 0, 0, 1, 0}));
}

TEST(Compress, NoFieldsOrUnparsedFormatEncodeNothing) {
    EXPECT_EQ(Encode("AB", "AB", "U1").result, EDF_OK);
    EXPECT_TRUE(Encode("AB", "AB", "U1").bytes.empty());
    CRemoteAddress unparsed;
    unparsed.m_Format.m_strFormat = "[N1D 0 to 9]";
    unparsed.m_Format.m_strAttributes = "U1";
    CByteArray array;
    EXPECT_EQ(unparsed.Compress(array), EDF_OK);
    EXPECT_EQ(array.GetSize(), 0);
}

TEST(Compress, DisplacedFieldIndexStopsTheEncoding) {
    Encoded e = Encode("12", "[N1D(A) 0 to 9][N1D(A) 0 to 9]", "U1U1");
    EXPECT_EQ(e.result, EDF_FAILED);
    EXPECT_TRUE(e.bytes.empty());
}

std::string Next(const char* pszAddress, const char* pszFormat, EDF_RET expected = EDF_OK) {
    CRemoteAddress address(pszAddress, pszFormat, nullptr);
    CRemoteAddress next("untouched", "", nullptr);
    EXPECT_EQ(address.GetNextAddress(next), expected) << pszFormat << " " << pszAddress;
    return next.GetAddress().str();
}

TEST(GetNextAddress, DocumentedExamples) {
    const char* stepping = "[T1(Area) D M][+1N4D(Offset) 0 to 9999]";
    EXPECT_EQ(Next("D0100", stepping), "D0101");
    EXPECT_EQ(Next("M9999", stepping), "M10000");
    EXPECT_EQ(Next("D0100XYZ", stepping), "D0101");
    EXPECT_EQ(Next("R010", "R[-2N3D 0 to 999]"), "R008");
    EXPECT_EQ(Next("R001", "R[-2N3D 0 to 999]"), "R-001");
    EXPECT_EQ(Next("00F0", "[+16N4H 0000 to FFFF]"), "0100");
    EXPECT_EQ(Next("FFF8", "[+16N4H 0000 to FFFF]"), "10008");
    EXPECT_EQ(Next("0099", "[+1NVD 0 to 65535]"), "100");
}

TEST(GetNextAddress, ZeroFillAndVariableWidth) {
    EXPECT_EQ(Next("0009", "[+1N4D 0 to 9999]"), "0010");
    EXPECT_EQ(Next("9", "[+1NVD 0 to 99]"), "10");
    EXPECT_EQ(Next("3", "[-5NVD 0 to 99]"), "-2");
    EXPECT_EQ(Next("0001", "[-2N4H 0000 to FFFF]"), "FFFFFFFF");
}

TEST(GetNextAddress, CopiesFormatAndFlag) {
    CRemoteAddress address("D0100", "[T1(Area) D M][+1N4D(Offset) 0 to 9999]", "U1U2");
    CRemoteAddress next;
    ASSERT_EQ(address.GetNextAddress(next), EDF_OK);
    EXPECT_TRUE(next.IsAutoIncrementable());
    EXPECT_EQ(next.Validate(), EDF_OK);
    CByteArray array;
    EXPECT_EQ(next.Compress(array), EDF_OK);
    EXPECT_EQ(BytesOf(array), (std::vector<BYTE>{0x00, 0x65, 0x00}));
    // Stepping into itself works too.
    ASSERT_EQ(next.GetNextAddress(next), EDF_OK);
    EXPECT_EQ(next.GetAddress(), "D0102");
}

TEST(GetNextAddress, KeywordFieldWithAStepBecomesANumber) {
    EXPECT_EQ(Next("AB", "[+1T2 AB CD]"), "01");
}

TEST(GetNextAddress, FailureLeavesTheTargetUnchanged) {
    EXPECT_EQ(Next("Q0100", "[T1(Area) D M][+1N4D(Offset) 0 to 9999]", EDF_NOT_A_KEYWORD),
              "untouched");
    EXPECT_EQ(Next("X010", "R[-2N3D 0 to 999]", EDF_LITERAL_MISMATCH), "untouched");
}

TEST(GetNextAddress, FormatWithoutFieldsGivesItsLiterals) {
    EXPECT_EQ(Next("AB", "AB"), "AB");
    EXPECT_EQ(Next("", "[]"), "");
    CRemoteAddress unparsed;
    unparsed.SetAddress("0001");
    unparsed.m_Format.m_strFormat = "[+1N4D 0 to 9999]";
    CRemoteAddress next("untouched", "", nullptr);
    EXPECT_EQ(unparsed.GetNextAddress(next), EDF_OK);
    EXPECT_EQ(next.GetAddress(), "");
}

}  // namespace
