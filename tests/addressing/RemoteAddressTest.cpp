// Remote addresses: the step flag, copies, archive records, compressing to
// bytes and stepping to the next address.
#include <gtest/gtest.h>

#include <string>

#include "kelvara/addressing/RemoteAddress.h"
#include "support/ArchiveBytes.h"

namespace {

using kelvara_test::Bytes;
using kelvara_test::LoadFrom;
using kelvara_test::StoreWith;

Bytes BytesOf(const CByteArray& array) {
    return Bytes(array.begin(), array.end());
}

constexpr const char* kAreaOffset = "[T1(Area) D M X][N4D(Offset) 0 to 9999]";
constexpr const char* kStepping = "[T1(Area) D M][+1N4D(Offset) 0 to 9999]";

TEST(RemoteAddress, ValidateSetsTheStepFlagFromTheFieldsWhateverTheResult) {
    CRemoteAddress address("D0100", kStepping, nullptr);
    address.SetAddress("Q0100");
    EXPECT_EQ(address.GetAddress(), "Q0100");
    EXPECT_EQ(address.Validate(), EDF_NOT_A_KEYWORD);
    EXPECT_TRUE(address.IsAutoIncrementable());

    CRemoteAddress plain;
    plain.m_Format.m_strFormat = "[N1D 0 to 9]";
    plain.m_bAutoIncrement = TRUE;
    plain.SetAddress("x");
    EXPECT_TRUE(plain.IsAutoIncrementable()) << "SetAddress waits for Validate";
    EXPECT_EQ(plain.Validate(), EDF_NOT_A_NUMBER);
    EXPECT_FALSE(plain.IsAutoIncrementable());

    // A later field of the same name displaces the earlier one, step and all.
    EXPECT_FALSE(
        CRemoteAddress("12", "[+1N1D(A) 0 to 9][N1D(A) 0 to 9]", nullptr).IsAutoIncrementable());
    EXPECT_TRUE(
        CRemoteAddress("12", "[N1D(A) 0 to 9][+1N1D(A) 0 to 9]", nullptr).IsAutoIncrementable());
    CRemoteAddress copy(CRemoteAddress("1", "[N1D 0 to 9][+1N1D(B) 0 to 9]", nullptr));
    copy.m_Format.m_Fields.Find("B")->m_bIncrement = FALSE;
    copy.Validate();
    EXPECT_FALSE(copy.IsAutoIncrementable());
}

// The constructor parses and validates, so an address and its copies answer
// at once; a copy takes a new base object, an assignment keeps its own.
TEST(RemoteAddress, ConstructsParsedAndCopiesDeeply) {
    CRemoteAddress source("M0042", kStepping, "U1U2");
    source.m_Object.m_dwIdentifier = 7;
    int position = -1;
    EXPECT_EQ(source.Field(1, &position), EDF_OK);
    EXPECT_EQ(position, 1);
    CRemoteAddress copy(source);
    EXPECT_EQ(copy.m_Object.m_dwIdentifier, 0u);
    EXPECT_EQ(copy.m_Object.GetVersion(), 1);
    EXPECT_TRUE(copy.IsAutoIncrementable());
    CRemoteAddress assigned;
    assigned.m_Object.m_dwIdentifier = 3;
    assigned = source;
    EXPECT_EQ(assigned.m_Object.m_dwIdentifier, 3u);
    source.m_Format.DeleteFields();
    CString value;
    EXPECT_EQ(copy.Field("Offset", value), EDF_OK);
    EXPECT_EQ(value, "0042");
    EXPECT_EQ(assigned.m_Format.m_Fields.FindIndex(2)->m_nEncodedSize, 2);
    assigned = assigned;
    EXPECT_EQ(assigned.GetAddress(), "M0042");
}

// The record is the base object, the format text and the step flag. Loading
// reparses and revalidates the text the address holds; the flag read is
// replaced by the fields'. A short record throws and leaves the format.
TEST(RemoteAddressArchive, HoldsFormatAndFlagAndLoadingRevalidates) {
    CRemoteAddress address("D0100", kStepping, "U1U2");
    Bytes bytes = StoreWith([&](CArchive& ar) { address.Serialize(ar); });
    const std::string format(kStepping);
    Bytes expected = {1, 0, 0, 0, 0, 0, 0, 0, static_cast<BYTE>(format.size())};
    expected.insert(expected.end(), format.begin(), format.end());
    expected.insert(expected.end(), {1, 0, 0, 0});
    EXPECT_EQ(bytes, expected);

    bytes[bytes.size() - 4] = 0;
    CRemoteAddress other("5", "[N1D(Old) 0 to 9]", "U1");
    LoadFrom(bytes, [&](CArchive& ar) { other.Serialize(ar); });
    EXPECT_EQ(other.m_Format.m_strFormat, kStepping);
    EXPECT_EQ(other.m_Format.m_strAttributes, "U1");
    EXPECT_TRUE(other.IsAutoIncrementable());
    EXPECT_EQ(other.GetAddress(), "5");
    EXPECT_EQ(other.Validate(), EDF_NOT_A_KEYWORD);
    CString value;
    EXPECT_EQ(other.Field("Old", value), EDF_UNKNOWN_FIELD_NAME);
    EXPECT_EQ(other.m_Format.m_Fields.FindIndex(1)->m_nEncodedSize, 1);

    const Bytes cut(bytes.begin(), bytes.end() - 2);
    CRemoteAddress target("5", "[N1D 0 to 9]", nullptr);
    EXPECT_THROW(LoadFrom(cut, [&](CArchive& ar) { target.Serialize(ar); }), CArchiveException);
    EXPECT_EQ(target.Validate(), EDF_OK);
}

TEST(Compress, EncodesEachFieldInItsSizeLittleEndian) {
    const struct {
        const char* address;
        const char* format;
        const char* attributes;
        EDF_RET result;
        Bytes bytes;
    } cases[] = {
        // A keyword field encodes its position in the list.
        {"M0100", kAreaOffset, "U1U2", EDF_OK, {0x01, 0x64, 0x00}},
        {"X0100", kAreaOffset, "U1U4", EDF_OK, {0x02, 0x64, 0x00, 0x00, 0x00}},
        {"12:00AF", "[N2D 1 to 99]:[N4H 0000 to FFFF]", "U1I2", EDF_OK, {0x0C, 0xAF, 0x00}},
        // Numbers keep their low bits, in two's complement.
        {"-0002", "[N5D -9999 to 9999]", "U4", EDF_OK, {0xFE, 0xFF, 0xFF, 0xFF}},
        {"70000", "[NVD 0 to 99999]", "U2", EDF_OK, {0x70, 0x11}},
        // Sizes other than 1, 2 and 4 fail, but later fields still encode; a
        // short attribute text leaves the later fields with size 0.
        {"123", "[N3D 0 to 999]", "U3", EDF_FAILED, {}},
        {"M0100", kAreaOffset, "U0U2", EDF_FAILED, {0x64, 0x00}},
        {"M0100", kAreaOffset, "U1", EDF_FAILED, {0x01}},
        // Attribute text beyond the fields is ignored.
        {"5", "[N1D 0 to 9]", "U2I1Ux", EDF_OK, {0x05, 0x00}},
        // A keyword field of two or four bytes adds nothing.
        {"X0100", kAreaOffset, "U2U2", EDF_OK, {0x64, 0x00}},
        // A field displaced by a later one of the same name stops the encoding.
        {"12", "[N1D(A) 0 to 9][N1D(A) 0 to 9]", "U1U1", EDF_FAILED, {}},
    };
    for (const auto& c : cases) {
        CRemoteAddress address(c.address, c.format, c.attributes);
        CByteArray array;
        EXPECT_EQ(address.Compress(array), c.result) << c.format << " " << c.attributes;
        EXPECT_EQ(BytesOf(array), c.bytes) << c.format << " " << c.attributes;
    }
}

TEST(GetNextAddress, StepsTheIncrementingFieldAndKeepsTheRest) {
    const struct {
        const char* address;
        const char* format;
        EDF_RET result;
        const char* next;
    } cases[] = {
        {"D0100", kStepping, EDF_OK, "D0101"},
        {"M9999", kStepping, EDF_OK, "M10000"},
        {"D0100XYZ", kStepping, EDF_OK, "D0101"},
        {"R010", "R[-2N3D 0 to 999]", EDF_OK, "R008"},
        {"R001", "R[-2N3D 0 to 999]", EDF_OK, "R-001"},
        {"FFF8", "[+16N4H 0000 to FFFF]", EDF_OK, "10008"},
        {"0099", "[+1NVD 0 to 65535]", EDF_OK, "100"},
        {"0009", "[+1N4D 0 to 9999]", EDF_OK, "0010"},
        {"3", "[-5NVD 0 to 99]", EDF_OK, "-2"},
        {"0001", "[-2N4H 0000 to FFFF]", EDF_OK, "FFFFFFFF"},
        // A keyword field with a step becomes a number.
        {"AB", "[+1T2 AB CD]", EDF_OK, "01"},
        // A format without fields gives its literals.
        {"AB", "AB", EDF_OK, "AB"},
        // Failure leaves the target unchanged.
        {"Q0100", kStepping, EDF_NOT_A_KEYWORD, "untouched"},
        {"X010", "R[-2N3D 0 to 999]", EDF_LITERAL_MISMATCH, "untouched"},
    };
    for (const auto& c : cases) {
        CRemoteAddress address(c.address, c.format, nullptr);
        CRemoteAddress next("untouched", "", nullptr);
        EXPECT_EQ(address.GetNextAddress(next), c.result) << c.format << " " << c.address;
        EXPECT_EQ(next.GetAddress(), c.next) << c.format << " " << c.address;
    }
}

// The next address keeps the format, attributes and flag, and may be the
// address itself; Compress appends to what the array holds. An unparsed
// format has no fields: nothing to encode, no text to step.
TEST(GetNextAddress, StepsIntoItselfAndCompressAppendsButBothNeedAParsedFormat) {
    CRemoteAddress address("D0100", kStepping, "U1U2");
    CRemoteAddress next;
    ASSERT_EQ(address.GetNextAddress(next), EDF_OK);
    EXPECT_TRUE(next.IsAutoIncrementable());
    ASSERT_EQ(next.GetNextAddress(next), EDF_OK);
    EXPECT_EQ(next.GetAddress(), "D0102");
    CByteArray array;
    array.Add(0xAA);
    EXPECT_EQ(next.Compress(array), EDF_OK);
    EXPECT_EQ(address.Compress(array), EDF_OK);
    EXPECT_EQ(BytesOf(array), (Bytes{0xAA, 0, 0x66, 0, 0, 0x64, 0}));

    CRemoteAddress unparsed;
    unparsed.SetAddress("0001");
    unparsed.m_Format.m_strFormat = "[+1N4D 0 to 9999]";
    unparsed.m_Format.m_strAttributes = "U1";
    array.RemoveAll();
    EXPECT_EQ(unparsed.Compress(array), EDF_OK);
    EXPECT_EQ(array.GetSize(), 0);
    CRemoteAddress target("untouched", "", nullptr);
    EXPECT_EQ(unparsed.GetNextAddress(target), EDF_OK);
    EXPECT_EQ(target.GetAddress(), "");
}

}  // namespace
