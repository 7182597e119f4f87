#include <gtest/gtest.h>

#include <random>
#include <string>

#include "kelvara/addressing/EDFFormat.h"

#include "support/EDFReference.h"

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
    // Bounds read by the hexadecimal reader for a decimal field go through
    // strtod: "1E2" is 100.
    ExpectResults("[N2H 00 to FF][N3C 0 to 1E2]",
                  {{"FF100", EDF_OK}, {"FF101", EDF_OUT_OF_RANGE}, {"FF+99", EDF_OK}});
    // Digits beyond what a double holds exactly still compare like strtod.
    ExpectResults("[NVD 0 to 99999999999999999999]",
                  {{"99999999999999999999", EDF_OK}, {"100000000000000020000", EDF_OUT_OF_RANGE}});
}

TEST(EDFValidate, RangeEntriesReplacedAfterTheParseAreUsed) {
    CEDFFormat format("[N1D 0 to 9]", nullptr);
    format.ValidateFormat();
    CEDFField* field = format.m_Fields.FindIndex(1);
    field->DeleteRanges();
    field->AddRange("2.5", "7.5");
    EXPECT_EQ(format.Validate("2"), EDF_OUT_OF_RANGE);
    EXPECT_EQ(format.Validate("3"), EDF_OK);
    EXPECT_EQ(format.Validate("7"), EDF_OK);
    EXPECT_EQ(format.Validate("8"), EDF_OUT_OF_RANGE);
    field->DeleteRanges();
    EXPECT_EQ(format.Validate("x"), EDF_OK);
}

TEST(EDFValidate, FieldOfAnotherTypeFails) {
    CEDFFormat format("[N2D 0 to 99]", nullptr);
    format.ValidateFormat();
    CEDFField* field = format.m_Fields.FindIndex(1);
    field->m_cType = 'X';
    EXPECT_EQ(format.Validate("12"), EDF_FAILED);
    EXPECT_EQ(format.Validate("1"), EDF_TOO_SHORT);
    field->m_nWidth = -1;
    EXPECT_EQ(format.Validate("12"), EDF_FAILED);
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

using testsupport::ValidateByFields;

TEST(EDFValidate, AgreesWithTheFieldOperationsOnRandomAddresses) {
    // Each piece of format with the kind of text that fits it: a number of
    // decimal ("9") or hexadecimal ("F") digits, or the text itself. The
    // addresses are made of such texts and then damaged.
    struct Piece {
        const char* format;
        const char* fits;
    };
    const Piece pieces[] = {
        {"[N4D 0 to 9999]", "9999"},
        {"[N2D 10 to 89]", "99"},
        {"[N3D 5 to 900, 0 to 500]", "999"},
        {"[N4H 0100 to FEFF]", "FFFF"},
        {"[N2H 10 to 7F]", "FF"},
        {"[NVD 0 to 65535]", "99999"},
        {"[NVD 10 to 20]", "99"},
        {"[NVH 0 to FF]", "99"},
        {"[N9D 0 to 999999999]", "999999999"},
        {"[T1 D M X]", "M"},
        {"[T2 DB DW]", "DW"},
        {"[TV DB DW D]", "D"},
        {"[TVI db dw]", "Dw"},
        {":", ":"},
        {"R", "R"},
    };
    const std::string noise = "0123456789ABCDEFafdbw+- :RX";
    std::mt19937 rng(31337u);
    const auto pick = [&rng](size_t n) {
        return std::uniform_int_distribution<size_t>(0, n - 1)(rng);
    };
    for (int n = 0; n < 4000; ++n) {
        std::string formatText;
        std::string address;
        for (size_t k = 1 + pick(4); k > 0; --k) {
            const Piece& piece = pieces[pick(std::size(pieces))];
            formatText += piece.format;
            for (const char* p = piece.fits; *p; ++p) {
                address += *p == '9' ? "0123456789"[pick(10)]
                                     : (*p == 'F' ? "0123456789ABCDEF"[pick(16)] : *p);
            }
        }
        for (size_t damage = pick(4); damage > 0 && !address.empty(); --damage) {
            const size_t at = pick(address.size());
            switch (pick(3)) {
                case 0:
                    address[at] = noise[pick(noise.size())];
                    break;
                case 1:
                    address.erase(at, 1);
                    break;
                default:
                    address.insert(at, 1, noise[pick(noise.size())]);
                    break;
            }
        }
        CEDFFormat format(formatText.c_str(), nullptr);
        format.ValidateFormat();
        ASSERT_EQ(format.Validate(address.c_str()), ValidateByFields(format, address))
            << formatText << " on " << address;
    }
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
