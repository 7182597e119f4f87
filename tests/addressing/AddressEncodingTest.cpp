// Compressing an address to bytes and stepping to the next address.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kelvara/addressing/RemoteAddress.h"

namespace {

using Bytes = std::vector<BYTE>;

Bytes BytesOf(const CByteArray& array) {
    return Bytes(array.begin(), array.end());
}

constexpr const char* kAreaOffset = "[T1(Area) D M X][N4D(Offset) 0 to 9999]";
constexpr const char* kStepping = "[T1(Area) D M][+1N4D(Offset) 0 to 9999]";

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
