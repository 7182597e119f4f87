// Remote addresses: their format, the step flag, copies and archive records.
#include <gtest/gtest.h>

#include "kelvara/addressing/RemoteAddress.h"
#include "support/ArchiveBytes.h"

using kelvara_test::Bytes;
using kelvara_test::LoadFrom;
using kelvara_test::StoreWith;

namespace {

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
// at once; a copy takes a base object of its own.
TEST(RemoteAddress, ConstructsParsedAndCopiesDeeply) {
    CRemoteAddress source("M0042", kStepping, "U1U2");
    source.m_Object.m_dwIdentifier = 7;
    int position = -1;
    EXPECT_EQ(source.Field(1, &position), EDF_OK);
    EXPECT_EQ(position, 1);
    CRemoteAddress copy(source);
    EXPECT_EQ(copy.m_Object.m_dwIdentifier, 0u);
    EXPECT_EQ(copy.m_Object.GetVersion(), 1);
    CString value;
    EXPECT_EQ(copy.Field("Offset", value), EDF_OK);
    EXPECT_EQ(value, "0042");
    EXPECT_TRUE(copy.IsAutoIncrementable());

    CRemoteAddress assigned;
    assigned.m_Object.m_dwIdentifier = 3;
    assigned = source;
    EXPECT_EQ(assigned.m_Object.m_dwIdentifier, 3u);
    source.m_Format.DeleteFields();
    source.SetAddress("D0001");
    EXPECT_EQ(assigned.Field(1, value), EDF_OK);
    EXPECT_EQ(value, "M");
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

}  // namespace
