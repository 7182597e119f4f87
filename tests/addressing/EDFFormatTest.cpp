// EDF formats: parsing format texts into fields and layouts, checking
// addresses against them, and reading single fields.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "kelvara/addressing/EDFFormat.h"
#include "support/EDFReference.h"

namespace {

using testsupport::ValidateByFields;

// "index=name:T1/10{D,M,X}" per field in index order, joined by spaces; a
// range is "low..high", an empty keyword "". Steps show as "+1"/"-2", free
// fields as "free", a case-insensitive field as "nocase".
std::string DescribeFields(const CEDFFormat& format) {
    std::string s;
    for (const auto& [index, pField] : format.m_Fields) {
        const CEDFField& field = *pField;
        s += (s.empty() ? "" : " ") + std::to_string(index) + "=" + field.m_strName.str() + ":" +
             field.m_cType +
             (field.m_nWidth < 0 ? std::string("V") : std::to_string(field.m_nWidth)) + "/" +
             std::to_string(field.m_nRadix);
        if (field.m_bIncrement) {
            s += (field.m_nStep < 0 ? "" : "+") + std::to_string(field.m_nStep);
        }
        s += std::string(field.m_bFree ? " free" : "") + (field.m_bCaseSensitive ? "" : " nocase");
        for (int i = 0; i < field.m_Ranges.GetSize(); ++i) {
            const CEDFRange* r = field.m_Ranges.GetAt(i);
            s +=
                (i ? "," : "{") + (r->m_strLow.IsEmpty() ? std::string("\"\"") : r->m_strLow.str());
            s += field.m_cType == 'N' ? ".." + r->m_strHigh.str() : "";
        }
        s += field.m_Ranges.GetSize() ? "}" : "{}";
    }
    return s;
}

TEST(EDFParse, CompleteFormatsBuildTheirFieldsAndLayouts) {
    const struct {
        const char* format;
        const char* fields;
        const char* layout;
    } cases[] = {
        {"[T1(Area) D M X][N4D(Offset) 0 to 9999]", "1=Area:T1/10{D,M,X} 2=Offset:N4/10{0..9999}",
         "FF"},
        {"[N2D 1 to 99]:[N4H 0000 to FFFF]", "1=$$$1:N2/10{1..99} 2=$$$2:N4/16{0000..FFFF}",
         "FL:F"},
        {"R[-2N3D 0 to 999]", "1=$$$1:N3/10-2{0..999}", "LRF"},
        {"[TVI db dw]", "1=$$$1:TV/10 nocase{db,dw}", "F"},
        {"[T2S, AB,CD,EF]", "1=$$$1:T2/10{AB,CD,EF}", "F"},
        {"[N4D(Blk)0 to 9999]", "1=Blk:N4/10{0..9999}", "F"},
        {"[]", "", ""},
        // Literals outside brackets are characters, even field letters.
        {"F[N1D 0 to 9]L", "1=$$$1:N1/10{0..9}", "LFFLL"},
        // Text after empty brackets is ignored.
        {"[N4D 0 to 9999][]XYZ", "1=$$$1:N4/10{0..9999}", "F"},
        // A separator before the bracket adds an empty keyword; repeated
        // separators add nothing; the list may follow a tab once an
        // attribute has been read, or a name.
        {"[T2 AB CD ]", "1=$$$1:T2/10{AB,CD,\"\"}", "F"},
        {"[TV a   bc]", "1=$$$1:TV/10{a,bc}", "F"},
        {"[T1C\tA B]", "1=$$$1:T1/10{A,B}", "F"},
        // A decimal item without "to" is dropped.
        {"[N4D 5, 1 to 9]", "1=$$$1:N4/10{1..9}", "F"},
        // Without a radix letter a list goes through the last radix's reader
        // (hexadecimal here); the field's own radix stays 10.
        {"[N2H 00 to FF][N2C 0 to 99]", "1=$$$1:N2/16{00..FF} 2=$$$2:N2/10{0..99}", "FF"},
        // The step prefix may have no digits.
        {"[+N2D 0 to 99]", "1=$$$1:N2/10+0{0..99}", "F"},
        {"[+16N4H 0000 to FFFF]", "1=$$$1:N4/16+16{0000..FFFF}", "F"},
        // The free mark makes this and every later keyword field free when
        // its list closes; a numeric field is not made free by it.
        {"[NF]", "1=$$$1:N0/10 free{}", "F"},
        {"[TF(Tag)]", "1=Tag:T0/10{\"\"}", "F"},
        {"[TVF a][N1D 0 to 9][TV b]",
         "1=$$$1:TV/10 free{a} 2=$$$2:N1/10{0..9} 3=$$$3:TV/10 free{b}", "FFF"},
        // A repeated name leaves only the later field.
        {"[N2D(A) 0 to 9][N2D(A) 0 to 5]", "2=A:N2/10{0..5}", "FF"},
    };
    for (const auto& c : cases) {
        CEDFFormat format(c.format, nullptr);
        EXPECT_EQ(format.ValidateFormat(), EDF_OK) << c.format;
        EXPECT_EQ(DescribeFields(format), c.fields) << c.format;
        EXPECT_EQ(format.m_strLayout, c.layout) << c.format;
        EXPECT_TRUE(format.GetParseReport().Succeeded()) << c.format;
    }
}

// Fields completed before the fault stay, and so does the layout; the
// field under construction is dropped. Faults in the first field keep
// nothing.
TEST(EDFParse, FaultsStopTheParseKeepingWhatWasComplete) {
    const auto stops = [](const char* text, const char* fields, const char* layout) {
        CEDFFormat format(text, nullptr);
        EXPECT_EQ(format.ValidateFormat(), EDF_OK) << text;
        EXPECT_FALSE(format.GetParseReport().Succeeded()) << text;
        EXPECT_EQ(format.m_bParsed, TRUE) << text;
        EXPECT_EQ(DescribeFields(format), fields) << text;
        EXPECT_EQ(format.m_strLayout, layout) << text;
    };
    // A hexadecimal item without "to" fails; lower-case hexadecimal digits
    // are not digits.
    for (const char* text :
         {"[N4 0 to 9999]", "[N4D]", "[N4D(Blk)]", "[T3 AB]", "[T2 AB CDE]", "[N2L 0 to 9]",
          "[T2L AB]", "[X2D 0 to 9]", "[N2D 0 to 9", "[N2S, 0 to 9]", "[N2H 0 to 9 ; 3]", "[N2DF]",
          "[N2D 0 to 9,", "[N4H 5, 1 to 9]", "[N2H 00 to ff]"}) {
        stops(text, "", "");
    }
    stops("[N2H 00 to FF][N2C 0 to 99, 5]", "1=$$$1:N2/16{00..FF}", "F");
    // A second step prefix, and an octal range list, never complete.
    stops("[+1N1D 0 to 9][-1N1D 0 to 9]", "1=$$$1:N1/10+1{0..9}", "F");
    stops("[N1D 0 to 9][N2O 0 to 7]-", "1=$$$1:N1/10{0..9}", "F");
    stops("[N2D 1 to 9]-[T3 AB]", "1=$$$1:N2/10{1..9}", "FL-");
    EXPECT_EQ(CEDFFormat("[N2D 1 to 9]-[T3 AB]", nullptr).Validate("05-AB"), EDF_EXTRA_CHARACTERS);
}

TEST(EDFParse, ParseIsLazyAndCopiesOwnTheirFields) {
    CEDFFormat format("[T1(Area) D M X][N4D(Offset) 0 to 9999]", "U1U2");
    CString value;
    EXPECT_EQ(format.Field("D0100", "Offset", value), EDF_UNKNOWN_FIELD_NAME);
    EXPECT_EQ(format.m_bParsed, FALSE);
    EXPECT_EQ(format.Validate("D0100"), EDF_OK);
    EXPECT_EQ(format.m_bParsed, TRUE);
    CEDFFormat copy;
    copy = format;
    format.DeleteFields();
    EXPECT_EQ(format.Validate("X0042"), EDF_UNKNOWN_FIELD_INDEX);
    EXPECT_EQ(copy.m_strAttributes, "U1U2");
    EXPECT_EQ(copy.Field("X0042", "Offset", value), EDF_OK);
    EXPECT_EQ(value, "0042");
    copy = copy;
    EXPECT_EQ(copy.m_Fields.GetCount(), 2);
    // A new parse starts from the new text only.
    copy.m_strFormat = "[T1(B) X Y]";
    copy.ValidateFormat();
    EXPECT_EQ(DescribeFields(copy), "1=B:T1/10{X,Y}");
}

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
        // Each damage replaces, removes or inserts one character.
        for (size_t damage = pick(4); damage > 0 && !address.empty(); --damage) {
            const size_t at = pick(address.size());
            const size_t kind = pick(3);
            const std::string c(kind == 1 ? 0 : 1, noise[pick(noise.size())]);
            address.replace(at, kind == 2 ? 0 : 1, c);
        }
        CEDFFormat format(formatText.c_str(), nullptr);
        format.ValidateFormat();
        ASSERT_EQ(format.Validate(address.c_str()), ValidateByFields(format, address))
            << formatText << " on " << address;
    }
}

// A field is read by its exact name or its index; only errors before it
// count, and a failed read leaves the value. A keyword field also gives the
// position of its first equal entry.
TEST(EDFField, ReadsByNameOrIndexReportingOnlyEarlierErrors) {
    using Read = std::pair<EDF_RET, std::string>;
    CEDFFormat format("[T1(Area) D M X][N4D(Offset) 0 to 9999]", nullptr);
    format.ValidateFormat();
    const auto read = [&format](const char* address, auto field) {
        CString value("unchanged");
        const EDF_RET result = format.Field(address, field, value);
        return Read(result, value.str());
    };
    EXPECT_EQ(read("D0100", 3), Read(EDF_UNKNOWN_FIELD_INDEX, "unchanged"));
    EXPECT_EQ(read("D0100", 0), Read(EDF_UNKNOWN_FIELD_INDEX, "unchanged"));
    EXPECT_EQ(read("D0100", "offset"), Read(EDF_UNKNOWN_FIELD_NAME, "unchanged"));
    EXPECT_EQ(read("D0100", static_cast<const char*>(nullptr)),
              Read(EDF_UNKNOWN_FIELD_NAME, "unchanged"));
    EXPECT_EQ(read("Q0100", 2), Read(EDF_NOT_A_KEYWORD, "unchanged"));
    EXPECT_EQ(read("D0100", "Offset"), Read(EDF_OK, "0100"));
    EXPECT_EQ(read("M0042XYZ", 2), Read(EDF_OK, "0042"));
    EXPECT_EQ(read("M99", 1), Read(EDF_OK, "M"));

    const auto position = [](const CEDFFormat& f, const char* address, int index) {
        int nPosition = 77;
        const EDF_RET result = f.Field(address, index, &nPosition);
        return std::pair(result, nPosition);
    };
    EXPECT_EQ(position(format, "X0100", 1), std::pair(EDF_OK, 2));
    EXPECT_EQ(position(format, "M0100", 2), std::pair(EDF_OK, 77));
    EXPECT_EQ(position(format, "Q0100", 1), std::pair(EDF_NOT_A_KEYWORD, 77));
    CEDFFormat variable("[TVI ab AB c]-", nullptr);
    variable.ValidateFormat();
    EXPECT_EQ(position(variable, "AB-", 1), std::pair(EDF_OK, 0));
    EXPECT_EQ(position(variable, "c-", 1), std::pair(EDF_OK, 2));
    // Error texts are the code in decimal.
    EXPECT_EQ(format.GetErrorString(EDF_OUT_OF_RANGE), "12");
    EXPECT_EQ(format.GetErrorString(EDF_FAILED), "999");
    EXPECT_EQ(format.GetFieldInError("anything"), 0);
}

}  // namespace
