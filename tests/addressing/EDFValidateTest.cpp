// Checking addresses against formats, and reading single fields.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "kelvara/addressing/EDFFormat.h"

#include "support/EDFReference.h"

namespace {

using testsupport::ValidateByFields;

TEST(EDFValidate, GivesTheFirstFaultOfTheAddress) {
    // A format, a result, and the addresses that give it.
    const struct {
        const char* format;
        EDF_RET expected;
        std::vector<const char*> addresses;
    } cases[] = {
        {"[N4D 0 to 9999]", EDF_OK, {"0042", "+123"}},
        {"[N4D 0 to 9999]", EDF_TOO_SHORT, {"42", ""}},
        {"[N4D 0 to 9999]", EDF_EXTRA_CHARACTERS, {"12345"}},
        {"[N4D 0 to 9999]", EDF_NOT_A_NUMBER, {"00A2"}},
        {"[N4D 0 to 9999]", EDF_OUT_OF_RANGE, {"-001"}},
        {"[N2D 1 to 99]:[N4H 0000 to FFFF]", EDF_OK, {"12:00AF", "12:00af"}},
        {"[N2D 1 to 99]:[N4H 0000 to FFFF]", EDF_LITERAL_MISMATCH, {"12-00AF", "12"}},
        {"F[N1D 0 to 9]L", EDF_LITERAL_MISMATCH, {"X5L", "F5"}},
        // Bounds are inclusive; the value must lie in every range.
        {"[N2H 10 to 7F]", EDF_OK, {"10", "7F"}},
        {"[N2H 10 to 7F]", EDF_OUT_OF_RANGE, {"0F", "80"}},
        {"[N4D 0 to 99, 50 to 200]", EDF_OK, {"0060"}},
        {"[N4D 0 to 99, 50 to 200]", EDF_OUT_OF_RANGE, {"0010", "0150"}},
        // Decimal bounds compare as numbers, not text.
        {"[NVD 5 to 10]", EDF_OK, {"5", "9", "10"}},
        {"[NVD 5 to 10]", EDF_OUT_OF_RANGE, {"4", "11"}},
        {"[N3D -5 to 5]", EDF_OK, {"-05"}},
        {"[N3D -5 to 5]", EDF_OUT_OF_RANGE, {"-06", "006"}},
        // Bounds read by the hexadecimal reader for a decimal field go
        // through strtod: "1E2" is 100.
        {"[N2H 00 to FF][N3C 0 to 1E2]", EDF_OK, {"FF100", "FF+99"}},
        {"[N2H 00 to FF][N3C 0 to 1E2]", EDF_OUT_OF_RANGE, {"FF101"}},
        // Digits beyond what a double holds exactly still compare like strtod.
        {"[NVD 0 to 99999999999999999999]", EDF_OK, {"99999999999999999999"}},
        {"[NVD 0 to 99999999999999999999]", EDF_OUT_OF_RANGE, {"100000000000000020000"}},
        // Variable-width keywords take the shortest match; an empty keyword
        // matches nothing.
        {"[TV DB DW D]", EDF_OK, {"D"}},
        {"[TV DB DW D]", EDF_EXTRA_CHARACTERS, {"DB"}},
        {"[TV DB DW D]", EDF_NO_KEYWORD_MATCH, {"X", ""}},
        {"[TV DB DW]", EDF_OK, {"DB"}},
        {"[TV DB DW]", EDF_NO_KEYWORD_MATCH, {"D"}},
        {"[TVI db dw]", EDF_OK, {"dW"}},
        {"[TVC db dw]", EDF_NO_KEYWORD_MATCH, {"DB"}},
        {"[TV a ]", EDF_OK, {"a"}},
        {"[TV a ]", EDF_NO_KEYWORD_MATCH, {""}},
        // Fixed-width keywords always compare exactly.
        {"[T2I db dw]", EDF_OK, {"db"}},
        {"[T2I db dw]", EDF_NOT_A_KEYWORD, {"DB", "XY"}},
        {"[T2I db dw]", EDF_TOO_SHORT, {"d"}},
        {"[T2 AB CD ]", EDF_OK, {"CD"}},
        // A variable-width number takes decimal digits whatever its radix;
        // later in the address an empty run is not a number.
        {"[NVH 0 to FF]", EDF_OK, {"19"}},
        {"[NVH 0 to FF]", EDF_EXTRA_CHARACTERS, {"1F"}},
        {"[NVD 0 to 65535]", EDF_TOO_SHORT, {""}},
        {"[NVD 0 to 65535]", EDF_NOT_A_NUMBER, {"X"}},
        {"A[NVD 0 to 9]", EDF_NOT_A_NUMBER, {"A"}},
        // Free fields take text unchecked; an empty format accepts only the
        // empty address.
        {"[TVF x]", EDF_OK, {"anything at all", ""}},
        {"[NF]:", EDF_OK, {":"}},
        {"[NF]:", EDF_LITERAL_MISMATCH, {"5:"}},
        {"", EDF_OK, {""}},
        {"[]", EDF_EXTRA_CHARACTERS, {"x"}},
    };
    for (const auto& c : cases) {
        CEDFFormat format(c.format, nullptr);
        for (const char* address : c.addresses) {
            EXPECT_EQ(format.Validate(address), c.expected) << c.format << " on " << address;
            EXPECT_EQ(ValidateByFields(format, address), c.expected)
                << c.format << " on " << address;
        }
    }
    EXPECT_EQ(CEDFFormat(nullptr, nullptr).Validate(nullptr), EDF_OK);
    EXPECT_NE(CEDFFormat("[N1D(A) 0 to 9][N1D(A) 0 to 9]", nullptr).Validate("55"), EDF_OK);
}

TEST(EDFValidate, UsesFieldsAsTheyStandAfterTheParse) {
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
    // A field of another type fails.
    field->m_cType = 'X';
    EXPECT_EQ(format.Validate("1"), EDF_FAILED);
    EXPECT_EQ(format.Validate(""), EDF_TOO_SHORT);
    field->m_nWidth = -1;
    EXPECT_EQ(format.Validate("12"), EDF_FAILED);
}

TEST(EDFValidate, AgreesWithTheFieldOperationsOnRandomAddresses) {
    // Each piece of format with the kind of text that fits it: a number of
    // decimal ("9") or hexadecimal ("F") digits, or the text itself. The
    // addresses are made of such texts and then damaged.
    const struct {
        const char* format;
        const char* fits;
    } pieces[] = {
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
            const auto& piece = pieces[pick(std::size(pieces))];
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

// A field is read by its exact name or its index; only errors before it
// count. A keyword field also gives the position of the first equal entry.
TEST(EDFField, ReadsByNameOrIndexReportingOnlyEarlierErrors) {
    CEDFFormat format("[T1(Area) D M X][N4D(Offset) 0 to 9999]", nullptr);
    format.ValidateFormat();
    CString value("unchanged");
    int position = 77;
    EXPECT_EQ(format.Field("D0100", 3, value), EDF_UNKNOWN_FIELD_INDEX);
    EXPECT_EQ(format.Field("D0100", 0, value), EDF_UNKNOWN_FIELD_INDEX);
    EXPECT_EQ(format.Field("D0100", "offset", value), EDF_UNKNOWN_FIELD_NAME);
    EXPECT_EQ(format.Field("D0100", static_cast<const char*>(nullptr), value),
              EDF_UNKNOWN_FIELD_NAME);
    EXPECT_EQ(format.Field("M0100", 2, &position), EDF_OK);
    EXPECT_EQ(format.Field("Q0100", 1, &position), EDF_NOT_A_KEYWORD);
    EXPECT_EQ(value, "unchanged");
    EXPECT_EQ(position, 77);
    EXPECT_EQ(format.Field("D0100", "Offset", value), EDF_OK);
    EXPECT_EQ(value, "0100");
    EXPECT_EQ(format.Field("M0042XYZ", 2, value), EDF_OK);
    EXPECT_EQ(value, "0042");
    EXPECT_EQ(format.Field("Q0100", 2, value), EDF_NOT_A_KEYWORD);
    EXPECT_EQ(format.Field("M99", 1, value), EDF_OK);
    EXPECT_EQ(value, "M");
    EXPECT_EQ(format.Field("X0100", 1, &position), EDF_OK);
    EXPECT_EQ(position, 2);

    CEDFFormat variable("[TVI ab AB c]-", nullptr);
    variable.ValidateFormat();
    EXPECT_EQ(variable.Field("AB-", 1, &position), EDF_OK);
    EXPECT_EQ(position, 0);
    EXPECT_EQ(variable.Field("c-", 1, &position), EDF_OK);
    EXPECT_EQ(position, 2);
    // Error texts are the code in decimal.
    EXPECT_EQ(format.GetErrorString(EDF_OUT_OF_RANGE), "12");
    EXPECT_EQ(format.GetErrorString(EDF_FAILED), "999");
    EXPECT_EQ(format.GetFieldInError("anything"), 0);
}

}  // namespace
