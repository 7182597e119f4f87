// Parsing format texts into fields and layouts.
#include <gtest/gtest.h>

#include <string>

#include "kelvara/addressing/EDFFormat.h"

namespace {

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
        {"[N4D 0 to 9999]", "1=$$$1:N4/10{0..9999}", "F"},
        {"[T1(Area) D M X][N4D(Offset) 0 to 9999]", "1=Area:T1/10{D,M,X} 2=Offset:N4/10{0..9999}",
         "FF"},
        {"[N2D 1 to 99]:[N4H 0000 to FFFF]", "1=$$$1:N2/10{1..99} 2=$$$2:N4/16{0000..FFFF}",
         "FL:F"},
        {"R[-2N3D 0 to 999]", "1=$$$1:N3/10-2{0..999}", "LRF"},
        {"[NVD 0 to 65535]", "1=$$$1:NV/10{0..65535}", "F"},
        {"[TVI db dw]", "1=$$$1:TV/10 nocase{db,dw}", "F"},
        {"[T2S, AB,CD,EF]", "1=$$$1:T2/10{AB,CD,EF}", "F"},
        {"[N4D(Blk)0 to 9999]", "1=Blk:N4/10{0..9999}", "F"},
        {"[]", "", ""},
        {"", "", ""},
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
        {"[T1(K)A B]", "1=K:T1/10{A,B}", "F"},
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
        {"[TF]", "1=$$$1:T0/10 free{}", "F"},
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
    EXPECT_EQ(copy.m_strAttributes, "U1U2");
    EXPECT_EQ(copy.Field("X0042", "Offset", value), EDF_OK);
    EXPECT_EQ(value, "0042");
    format.DeleteFields();
    EXPECT_EQ(copy.Field("X0042", 2, value), EDF_OK);
    EXPECT_EQ(format.Validate("X0042"), EDF_UNKNOWN_FIELD_INDEX);
    copy = copy;
    EXPECT_EQ(copy.m_Fields.GetCount(), 2);

    // A new parse starts from the new text only.
    copy.m_strFormat = "[T1(B) X Y]";
    copy.ValidateFormat();
    EXPECT_EQ(DescribeFields(copy), "1=B:T1/10{X,Y}");
}

}  // namespace
