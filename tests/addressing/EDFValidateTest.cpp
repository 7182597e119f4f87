#include <gtest/gtest.h>

#include "kelvara/addressing/EDFFormat.h"

namespace {

struct Check {
    const char* address;
    EDF_RET expected;
};

void ExpectResults(const char* pszFormat, std::initializer_list<Check> checks) {
    CEDFFormat format(pszFormat, nullptr);
    for (const Check& c : checks) {
        EXPECT_EQ(format.Validate(c.address), c.expected) << pszFormat << " on " << c.address;
    }
}

TEST(EDFValidate, FixedWidthNumber) {
    ExpectResults("[N4D 0 to 9999]", {{"0042", EDF_OK},
                                      {"42", EDF_TOO_SHORT},
                                      {"12345", EDF_EXTRA_CHARACTERS},
                                      {"00A2", EDF_NOT_A_NUMBER},
                                      {"", EDF_TOO_SHORT},
                                      {"-001", EDF_OUT_OF_RANGE},
                                      {"+123", EDF_OK}});
}

TEST(EDFValidate, LiteralsAndHexadecimalRanges) {
    ExpectResults("[N2D 1 to 99]:[N4H 0000 to FFFF]", {{"12:00AF", EDF_OK},
                                                       {"12:00af", EDF_OK},
                                                       {"12-00AF", EDF_LITERAL_MISMATCH},
                                                       {"12", EDF_LITERAL_MISMATCH},
                                                       {"00:00AF", EDF_OUT_OF_RANGE},
                                                       {"12:00G0", EDF_NOT_A_NUMBER}});
    ExpectResults("[N2H 10 to 7F]", {{"0F", EDF_OUT_OF_RANGE}, {"80", EDF_OUT_OF_RANGE}});
}

TEST(EDFValidate, RangesAreAnIntersection) {
    ExpectResults("[N4D 0 to 99, 50 to 200]",
                  {{"0060", EDF_OK}, {"0010", EDF_OUT_OF_RANGE}, {"0150", EDF_OUT_OF_RANGE}});
}

TEST(EDFValidate, DecimalBoundsCompareAsNumbersNotText) {
    ExpectResults("[NVD 5 to 10]", {{"9", EDF_OK}, {"10", EDF_OK}, {"11", EDF_OUT_OF_RANGE}});
    ExpectResults("[N3D -5 to 5]", {{"-05", EDF_OK}, {"-06", EDF_OUT_OF_RANGE}});
    // Digits beyond what a double holds exactly still compare like strtod.
    ExpectResults("[NVD 0 to 99999999999999999999]",
                  {{"99999999999999999999", EDF_OK}, {"100000000000000020000", EDF_OUT_OF_RANGE}});
}

TEST(EDFValidate, VariableWidthKeywordsTakeTheShortestMatch) {
    ExpectResults("[TV DB DW D]", {{"D", EDF_OK},
                                   {"DB", EDF_EXTRA_CHARACTERS},
                                   {"X", EDF_NO_KEYWORD_MATCH},
                                   {"", EDF_NO_KEYWORD_MATCH}});
    ExpectResults("[TV DB DW]", {{"DB", EDF_OK}, {"D", EDF_NO_KEYWORD_MATCH}});
    ExpectResults("[TVI db dw]", {{"DB", EDF_OK}, {"dW", EDF_OK}});
    ExpectResults("[TVC db dw]", {{"DB", EDF_NO_KEYWORD_MATCH}});
    // An empty keyword matches nothing.
    ExpectResults("[TV a ]", {{"a", EDF_OK}, {"", EDF_NO_KEYWORD_MATCH}});
}

TEST(EDFValidate, FixedWidthKeywordsAlwaysCompareExactly) {
    ExpectResults("[T2I db dw]", {{"DB", EDF_NOT_A_KEYWORD}, {"db", EDF_OK}, {"d", EDF_TOO_SHORT}});
    ExpectResults("[T2 AB CD ]", {{"CD", EDF_OK}, {"XY", EDF_NOT_A_KEYWORD}});
}

TEST(EDFValidate, VariableWidthNumberTakesDecimalDigitsWhateverTheRadix) {
    ExpectResults("[NVH 0 to FF]", {{"1F", EDF_EXTRA_CHARACTERS}, {"19", EDF_OK}});
    ExpectResults("[NVD 0 to 65535]",
                  {{"", EDF_TOO_SHORT}, {"X", EDF_NOT_A_NUMBER}, {"65536", EDF_OUT_OF_RANGE}});
    // Later in the address, an empty run is not "too short" but not a number.
    ExpectResults("A[NVD 0 to 9]", {{"A", EDF_NOT_A_NUMBER}});
}

TEST(EDFValidate, FreeFieldsTakeTextUnchecked) {
    ExpectResults("[TVF x]", {{"anything at all", EDF_OK}, {"", EDF_OK}});
    ExpectResults("[NF]:", {{":", EDF_OK}, {"5:", EDF_LITERAL_MISMATCH}});
}

TEST(EDFValidate, EmptyFormatAcceptsOnlyTheEmptyAddress) {
    for (const char* text : {"", "[]"}) {
        ExpectResults(text, {{"", EDF_OK}, {"x", EDF_EXTRA_CHARACTERS}});
    }
    CEDFFormat format(nullptr, nullptr);
    EXPECT_EQ(format.Validate(nullptr), EDF_OK);
}

TEST(EDFValidate, DisplacedFieldStopsTheCheck) {
    CEDFFormat format("[N1D(A) 0 to 9][N1D(A) 0 to 9]", nullptr);
    EXPECT_NE(format.Validate("55"), EDF_OK);
}

class EDFFieldTest : public ::testing::Test {
protected:
    void SetUp() override { m_format.ValidateFormat(); }
    CEDFFormat m_format{"[T1(Area) D M X][N4D(Offset) 0 to 9999]", nullptr};
    CString m_value{"unchanged"};
};

TEST_F(EDFFieldTest, ByNameIsExactAndCaseSensitive) {
    EXPECT_EQ(m_format.Field("D0100", "Offset", m_value), EDF_OK);
    EXPECT_EQ(m_value, "0100");
    EXPECT_EQ(m_format.Field("D0100", "offset", m_value), EDF_UNKNOWN_FIELD_NAME);
    EXPECT_EQ(m_format.Field("D0100", static_cast<const char*>(nullptr), m_value),
              EDF_UNKNOWN_FIELD_NAME);
    EXPECT_EQ(m_value, "0100");
}

TEST_F(EDFFieldTest, ByIndexReportsEarlierErrorsButNotLaterOnes) {
    EXPECT_EQ(m_format.Field("D0100", 3, m_value), EDF_UNKNOWN_FIELD_INDEX);
    EXPECT_EQ(m_format.Field("D0100", 0, m_value), EDF_UNKNOWN_FIELD_INDEX);
    EXPECT_EQ(m_value, "unchanged");
    EXPECT_EQ(m_format.Field("D0100XYZ", 2, m_value), EDF_OK);
    EXPECT_EQ(m_value, "0100");
    EXPECT_EQ(m_format.Field("Q0100", 2, m_value), EDF_NOT_A_KEYWORD);
    EXPECT_EQ(m_format.Field("M99", 1, m_value), EDF_OK);
    EXPECT_EQ(m_value, "M");
}

TEST_F(EDFFieldTest, KeywordPositionIsWrittenOnlyForKeywordFields) {
    int position = -1;
    EXPECT_EQ(m_format.Field("D0100", 1, &position), EDF_OK);
    EXPECT_EQ(position, 0);
    EXPECT_EQ(m_format.Field("X0100", 1, &position), EDF_OK);
    EXPECT_EQ(position, 2);
    position = 77;
    EXPECT_EQ(m_format.Field("M0100", 2, &position), EDF_OK);
    EXPECT_EQ(position, 77);
    EXPECT_EQ(m_format.Field("Q0100", 1, &position), EDF_NOT_A_KEYWORD);
    EXPECT_EQ(position, 77);
}

TEST(EDFField, VariableKeywordPositionIsTheFirstEqualEntry) {
    CEDFFormat format("[TVI ab AB c]-", nullptr);
    format.ValidateFormat();
    int position = -1;
    EXPECT_EQ(format.Field("AB-", 1, &position), EDF_OK);
    EXPECT_EQ(position, 0);
    EXPECT_EQ(format.Field("c-", 1, &position), EDF_OK);
    EXPECT_EQ(position, 2);
}

TEST(EDFErrorString, IsTheCodeInDecimal) {
    CEDFFormat format;
    EXPECT_EQ(format.GetErrorString(EDF_OUT_OF_RANGE), "12");
    EXPECT_EQ(format.GetErrorString(EDF_FAILED), "999");
    EXPECT_EQ(format.GetFieldInError("anything"), 0);
}

}  // namespace
