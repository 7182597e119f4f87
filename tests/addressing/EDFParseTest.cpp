#include <gtest/gtest.h>

#include "addressing/EDFTestSupport.h"
#include "kelvara/addressing/EDFFormat.h"

using kelvara_test::Parsed;

namespace {

std::string LayoutOf(const char* pszFormat) {
    CEDFFormat format(pszFormat, nullptr);
    format.ValidateFormat();
    return format.m_strLayout.str();
}

bool Completes(const char* pszFormat) {
    CEDFFormat format(pszFormat, nullptr);
    format.ValidateFormat();
    return format.GetParseReport().Succeeded();
}

TEST(EDFParse, DocumentedFormatsBuildTheirFieldsAndLayouts) {
    struct Case {
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
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Parsed(c.format), c.fields) << c.format;
        EXPECT_EQ(LayoutOf(c.format), c.layout) << c.format;
        EXPECT_TRUE(Completes(c.format)) << c.format;
    }
}

TEST(EDFParse, GrammarFaultsStopTheParseWithoutTheFieldUnderConstruction) {
    for (const char* text : {"[N4 0 to 9999]", "[N4D]", "[N4D(Blk)]", "[T3 AB]", "[T2 AB CDE]",
                             "[+1N2D 0 to 9][-1N2D 0 to 9]", "[N2L 0 to 9]", "[T2L AB]",
                             "[X2D 0 to 9]", "[N2D 0 to 9", "[N2S, 0 to 9]", "[N2H 0 to 9 ; 3]"}) {
        CEDFFormat format(text, nullptr);
        EXPECT_EQ(format.ValidateFormat(), EDF_OK) << text;
        EXPECT_FALSE(format.GetParseReport().Succeeded()) << text;
        EXPECT_EQ(format.m_bParsed, TRUE) << text;
    }
    // Fields completed before the fault stay, and so does the layout.
    CEDFFormat format;
    EXPECT_EQ(Parsed("[N2D 1 to 9]-[T3 AB]", &format), "1=$$$1:N2/10{1..9}");
    EXPECT_EQ(format.m_strLayout, "FL-");
    EXPECT_EQ(format.Validate("05-AB"), EDF_EXTRA_CHARACTERS);
}

TEST(EDFParse, TextAfterEmptyBracketsIsIgnored) {
    CEDFFormat format;
    EXPECT_EQ(Parsed("[N4D 0 to 9999][]XYZ", &format), "1=$$$1:N4/10{0..9999}");
    EXPECT_EQ(format.m_strLayout, "F");
    EXPECT_EQ(format.Validate("0001"), EDF_OK);
}

TEST(EDFParse, LiteralsOutsideBracketsAreCharactersEvenFieldLetters) {
    EXPECT_EQ(LayoutOf("ABC"), "LALBLC");
    EXPECT_EQ(LayoutOf("F[N1D 0 to 9]L"), "LFFLL");
    CEDFFormat format("F[N1D 0 to 9]L", nullptr);
    EXPECT_EQ(format.Validate("F5L"), EDF_OK);
    EXPECT_EQ(format.Validate("X5L"), EDF_LITERAL_MISMATCH);
}

TEST(EDFParse, KeywordListsFollowWidthSeparatorAndTrailingSeparatorRules) {
    EXPECT_EQ(Parsed("[T2 AB CD]"), "1=$$$1:T2/10{AB,CD}");
    // A separator before the bracket adds an empty keyword.
    EXPECT_EQ(Parsed("[T2 AB CD ]"), "1=$$$1:T2/10{AB,CD,\"\"}");
    // Repeated separators add nothing.
    EXPECT_EQ(Parsed("[TV a   bc]"), "1=$$$1:TV/10{a,bc}");
    // The list may follow a tab once an attribute has been read, or a name.
    EXPECT_EQ(Parsed("[T1C\tA B]"), "1=$$$1:T1/10{A,B}");
    EXPECT_EQ(Parsed("[T1(K)A B]"), "1=K:T1/10{A,B}");
}

TEST(EDFParse, DecimalItemWithoutToIsDroppedButHexadecimalFails) {
    EXPECT_EQ(Parsed("[N4D 5, 1 to 9]"), "1=$$$1:N4/10{1..9}");
    EXPECT_FALSE(Completes("[N4H 5, 1 to 9]"));
    EXPECT_EQ(Parsed("[N4H 5, 1 to 9]"), "");
    // Lower-case hexadecimal digits are not read as digits.
    EXPECT_FALSE(Completes("[N2H 00 to ff]"));
}

TEST(EDFParse, LastRadixLetterDecidesHowARangeListIsRead) {
    // The second field has no radix letter: its list goes through the
    // hexadecimal reader, its own radix stays 10.
    EXPECT_EQ(Parsed("[N2H 00 to FF][N2C 0 to 99]"), "1=$$$1:N2/16{00..FF} 2=$$$2:N2/10{0..99}");
    EXPECT_FALSE(Completes("[N2H 00 to FF][N2C 0 to 99, 5]"));
}

TEST(EDFParse, OctalRangeListNeverCompletes) {
    EXPECT_FALSE(Completes("[N2O 0 to 7]"));
    CEDFFormat format;
    EXPECT_EQ(Parsed("[N1D 0 to 9][N2O 0 to 7]-", &format), "1=$$$1:N1/10{0..9}");
    EXPECT_EQ(format.m_strLayout, "F");
}

TEST(EDFParse, StepPrefixIsAllowedOnceAndMayHaveNoDigits) {
    EXPECT_EQ(Parsed("[+N2D 0 to 99]"), "1=$$$1:N2/10+0{0..99}");
    EXPECT_EQ(Parsed("[+16N4H 0000 to FFFF]"), "1=$$$1:N4/16+16{0000..FFFF}");
    EXPECT_EQ(Parsed("[+1N1D 0 to 9][-1N1D 0 to 9]"), "1=$$$1:N1/10+1{0..9}");
}

TEST(EDFParse, FreeFieldsAndTheFreeMark) {
    EXPECT_EQ(Parsed("[NF]"), "1=$$$1:N0/10 free{}");
    EXPECT_EQ(Parsed("[TF]"), "1=$$$1:T0/10 free{}");
    // A keyword list that closes later takes its freedom from the mark.
    EXPECT_EQ(Parsed("[TF(Tag)]"), "1=Tag:T0/10{\"\"}");
    // The mark makes this and every later keyword field free when its list
    // closes; a numeric field is not made free by it.
    EXPECT_EQ(Parsed("[TVF a][N1D 0 to 9][TV b]"),
              "1=$$$1:TV/10 free{a} 2=$$$2:N1/10{0..9} 3=$$$3:TV/10 free{b}");
    EXPECT_FALSE(Completes("[N2DF]"));
}

TEST(EDFParse, RepeatedNameLeavesOnlyTheLaterField) {
    CEDFFormat format;
    EXPECT_EQ(Parsed("[N2D(A) 0 to 9][N2D(A) 0 to 5]", &format), "2=A:N2/10{0..5}");
    EXPECT_EQ(format.m_strLayout, "FF");
    EXPECT_EQ(format.m_Fields.GetCount(), 1);
    EXPECT_EQ(format.m_Fields.FindIndex(1), nullptr);
}

TEST(EDFParse, AttributeTextSetsKindAndEncodedSizePerField) {
    CEDFFormat format("[N1D 0 to 9][N1D 0 to 9][N1D 0 to 9]", "U2I1U4");
    format.ValidateFormat();
    const int sizes[] = {2, 1, 4};
    const BOOL kinds[] = {FALSE, TRUE, FALSE};
    for (int i = 1; i <= 3; ++i) {
        EXPECT_EQ(format.m_Fields.FindIndex(i)->m_nEncodedSize, sizes[i - 1]);
        EXPECT_EQ(format.m_Fields.FindIndex(i)->m_bKindI, kinds[i - 1]);
    }
    CEDFFormat shortFormat("[N1D 0 to 9]", "U2I1Ux");
    shortFormat.ValidateFormat();
    EXPECT_EQ(shortFormat.m_Fields.GetCount(), 1);
    EXPECT_EQ(shortFormat.m_Fields.FindIndex(1)->m_nEncodedSize, 2);
    CEDFFormat letterSize("[N1D 0 to 9]", "Ux");
    letterSize.ValidateFormat();
    EXPECT_EQ(letterSize.m_Fields.FindIndex(1)->m_nEncodedSize, 0);
}

TEST(EDFParse, ParseIsLazyAndAssignmentCarriesParsedFields) {
    CEDFFormat format("[T1(Area) D M X][N4D(Offset) 0 to 9999]", "U1U2");
    CString value;
    EXPECT_EQ(format.m_bParsed, FALSE);
    EXPECT_EQ(format.Field("D0100", "Offset", value), EDF_UNKNOWN_FIELD_NAME);
    EXPECT_EQ(format.m_bParsed, FALSE);
    EXPECT_EQ(format.Validate("D0100"), EDF_OK);
    EXPECT_EQ(format.m_bParsed, TRUE);

    CEDFFormat copy;
    copy = format;
    EXPECT_EQ(copy.m_bParsed, TRUE);
    EXPECT_EQ(copy.m_strAttributes, "U1U2");
    EXPECT_EQ(copy.Field("X0042", "Offset", value), EDF_OK);
    EXPECT_EQ(value, "0042");
    // The copy owns its fields.
    EXPECT_NE(copy.m_Fields.FindIndex(2), format.m_Fields.FindIndex(2));
    format.DeleteFields();
    EXPECT_EQ(copy.Field("X0042", 2, value), EDF_OK);
    EXPECT_EQ(format.Validate("X0042"), EDF_UNKNOWN_FIELD_INDEX);

    copy = copy;
    EXPECT_EQ(copy.m_Fields.GetCount(), 2);
}

TEST(EDFParse, ReparseStartsFromTheNewTextOnly) {
    CEDFFormat format("[N1D(Old) 0 to 9][N1D(B) 0 to 9]", nullptr);
    format.ValidateFormat();
    format.m_strFormat = "[T1(B) X Y]";
    format.ValidateFormat();
    EXPECT_EQ(kelvara_test::DescribeFields(format), "1=B:T1/10{X,Y}");
}

TEST(EDFParse, ReportTellsWhereAndWhyTheParseStopped) {
    CEDFFormat format("[N2D 0 to 9][N4 0 to 9999]", nullptr);
    format.ValidateFormat();
    const CEDFFormat::ParseReport& report = format.GetParseReport();
    EXPECT_EQ(report.eFinalState, CEDFFormat::PS_FAILED);
    EXPECT_EQ(report.nStopPosition, 15);
    ASSERT_NE(report.pszStopReason, nullptr);

    CEDFFormat unfinished("[N2D 0 to 9,", nullptr);
    unfinished.ValidateFormat();
    EXPECT_EQ(unfinished.GetParseReport().nStopPosition, 12);
    EXPECT_EQ(unfinished.GetParseReport().eFinalState, CEDFFormat::PS_RANGES);
    EXPECT_EQ(unfinished.m_Fields.GetCount(), 0);
}

}  // namespace
