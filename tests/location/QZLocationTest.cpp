// CQZLocation as drivers and hosts use it: parsing offsets typed by users,
// formatting them back, error texts, counting through tables, comparisons,
// definitions and archive records.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "kelvara/Kelvara.h"
#include "support/ArchiveBytes.h"

namespace {

using kelvara_test::Bytes;
using kelvara_test::LoadFrom;
using kelvara_test::StoreWith;

QZLocationDescriptor Desc(LocationRadix base, LONG length, LONG increment = 1, LONG shortest = 1) {
    return {increment, base, length, shortest};
}

CString Text(const CQZLocation& location) {
    CQZLocation copy(location);
    CString s;
    copy.Format(s);
    return s;
}

CString Error(CQZLocation& location) {
    CString s;
    location.FormatError(s);
    return s;
}

// An inner decimal component of two characters (range innerMin-63) whose
// friend is a decimal of four characters ending in a colon (range 0-255).
std::unique_ptr<CQZLocation> TwoPart(LONG friendValue, LONG innerValue, LONG innerMin = 0) {
    auto inner = std::make_unique<CQZLocation>(innerValue, TableOffsetRange{innerMin, 63},
                                               Desc(LR_DECIMAL, 2));
    auto outer = new CQZLocation(friendValue, TableOffsetRange{0, 255}, Desc(LR_DECIMAL, 4));
    CString colon(":");
    outer->AttatchDelimiter(&colon);
    inner->AttatchFriendLocation(outer);
    return inner;
}

int Friend(const CQZLocation& l) {
    return l.GetFriendLocation()->GetRawLocation();
}

int Inner(const CQZLocation& l) {
    return l.GetRawLocation() - 64 * Friend(l);
}

TEST(LocationText, ShortTextIsPaddedAndWrongLengthOrRangeIsRejected) {
    CQZLocation l(TableOffsetRange{0, 255}, Desc(LR_DECIMAL, 3));
    CString t("7");
    ASSERT_EQ(l.Update(&t), 1);
    EXPECT_EQ(Text(l), "007");

    t = "0123";
    EXPECT_EQ(l.Update(&t), 0);
    EXPECT_EQ(l.GetLocationError(), LE_LENGTH);
    EXPECT_EQ(Error(l),
              "The offset specifed contains an invalid number of characters, the correct length is "
              "3");
    EXPECT_EQ(l.GetRawLocation(), 7);

    t = "300";
    EXPECT_EQ(l.Update(&t), 0);
    EXPECT_EQ(l.GetRawLocation(), 7);
    EXPECT_EQ(Error(l),
              "The offset specified is out of range, the valid range is 000-255 for the selected "
              "table");
    EXPECT_EQ(l.GetLocationError(), LE_NONE);  // the message leaves the chain valid
    EXPECT_EQ(Error(l), "No error");

    t = "";
    EXPECT_EQ(l.Update(&t), 1);
    EXPECT_EQ(l.GetRawLocation(), 0);
}

TEST(LocationText, IncrementAllowsOnlyItsMultiples) {
    CQZLocation l(TableOffsetRange{0, 255}, Desc(LR_DECIMAL, 3, 2));
    CString t("007");
    EXPECT_EQ(l.Update(&t), 0);
    EXPECT_EQ(Error(l), "The offset specified does not lie on a valid offset boundary");
    t = "008";
    ASSERT_EQ(l.Update(&t), 1);
    EXPECT_EQ(l.GetRawLocation(), 4);
    EXPECT_EQ(Text(l), "008");
}

TEST(LocationText, ChainParsesOutermostFirstAndNamesTheMissingDelimiter) {
    auto l = TwoPart(0, 0);
    CString t("7:12");
    ASSERT_EQ(l->Update(&t), 1);
    EXPECT_EQ(Friend(*l), 7);
    EXPECT_EQ(Inner(*l), 12);
    EXPECT_EQ(Text(*l), "007:12");
    EXPECT_EQ(l->GetTotalFormatLength(), 6);
    EXPECT_EQ(l->GetShortestFormatLength(), 3);

    t = "12";
    EXPECT_EQ(l->Update(&t), 0);
    EXPECT_EQ(l->GetLocationError(), LE_LENGTH);

    t = "7-12";
    EXPECT_EQ(l->Update(&t), 0);
    EXPECT_EQ(l->GetLocationError(), LE_DELIMITER);
    EXPECT_EQ(Error(*l), "The offset specified is missing a delimiter :");
}

TEST(LocationText, EachNumberBaseReadsAndWritesItsOwnDigits) {
    CQZLocation hex(TableOffsetRange{0, 4095}, Desc(LR_HEXADECIMAL, 4));
    CString t("0aF");
    ASSERT_EQ(hex.Update(&t), 1);
    EXPECT_EQ(Text(hex), "00AF");
    t = "00G1";
    EXPECT_EQ(hex.Update(&t), 0);
    EXPECT_EQ(hex.GetLocationError(), LE_HEXADECIMAL);

    CQZLocation oct(TableOffsetRange{0, 511}, Desc(LR_OCTAL, 3));
    t = "17";
    ASSERT_EQ(oct.Update(&t), 1);
    EXPECT_EQ(oct.GetRawLocation(), 15);
    t = "018";
    EXPECT_EQ(oct.Update(&t), 0);
    EXPECT_EQ(oct.GetLocationError(), LE_OCTAL);

    CQZLocation alpha(TableOffsetRange{0, 26}, Desc(LR_ALPHABETIC, 1));
    t = "A";
    ASSERT_EQ(alpha.Update(&t), 1);
    EXPECT_EQ(alpha.GetRawLocation(), 1);
    t = " ";
    ASSERT_EQ(alpha.Update(&t), 1);
    EXPECT_EQ(Text(alpha), " ");
    for (const char* bad : {"0", ""}) {
        t = bad;
        EXPECT_EQ(alpha.Update(&t), 0);
        EXPECT_EQ(alpha.GetLocationError(), LE_ALPHABETIC);
    }

    CQZLocation negative(-1, TableOffsetRange{-5, 5}, Desc(LR_DECIMAL, 3));
    EXPECT_EQ(Text(negative), "4294967295");
}

TEST(LocationText, AnyTextGivesAResultWithTheErrorSet) {
    auto l = TwoPart(0, 0);
    const std::string huge(1 << 20, '9');
    const std::string cases[] = {
        "",     huge,     "\xC3\xA9:12", "+7:12", "-7:12", "7:-1", std::string("7\0:12", 5),
        "::::", "7:1\x80"};
    for (const std::string& s : cases) {
        CString t(s);
        const int result = l->Update(&t);
        EXPECT_EQ(result, l->IsValid()) << s.size();
        if (result == 0) {
            EXPECT_NE(l->GetLocationError(), LE_NONE);
        }
    }
    EXPECT_EQ(l->Update(nullptr), 0);
    EXPECT_EQ(l->GetLocationError(), LE_LENGTH);
}

TEST(LocationText, NineDigitComponentCarriesIntoItsFriend) {
    auto inner = std::make_unique<CQZLocation>(0, TableOffsetRange{0, 63}, Desc(LR_DECIMAL, 9));
    inner->AttatchFriendLocation(
        new CQZLocation(0, TableOffsetRange{0, 99999999}, Desc(LR_DECIMAL, 8)));
    CString t("0999999999");
    ASSERT_EQ(inner->Update(&t), 1);
    EXPECT_EQ(inner->GetFriendLocation()->GetRawLocation(), 999999999 / 64);
    EXPECT_EQ(inner->GetRawLocation() % 64, 999999999 % 64);
}

TEST(LocationDefinitionLimits, ZeroIncrementAndHugeLengthsGiveDefinedResults) {
    CQZLocation zero(7, TableOffsetRange{0, 9}, Desc(LR_DECIMAL, 1, 0));
    EXPECT_TRUE(zero.IsValid());
    CString t("8");
    ASSERT_EQ(zero.Update(&t), 1);
    EXPECT_EQ(Text(zero), "8");

    CQZLocation wide(TableOffsetRange{0, 9}, Desc(LR_DECIMAL, 0x7FFFFFFF));
    t = "5";
    EXPECT_EQ(wide.Update(&t), 0);
    EXPECT_EQ(wide.GetLocationError(), LE_LENGTH);
    EXPECT_EQ(Text(wide).GetLength(), CQZLocation::MAX_FORMAT_LENGTH);
}

TEST(LocationArithmetic, SingleComponentGoesOutOfRangeAndKeepsTheError) {
    CQZLocation l(255, TableOffsetRange{0, 255}, Desc(LR_DECIMAL, 3));
    ++l;
    EXPECT_EQ(l.GetRawLocation(), 256);
    EXPECT_EQ(l.IsValid(), 0);
    EXPECT_EQ(l.GetLocationError(), LE_RANGE);
    --l;
    EXPECT_EQ(l.IsValid(), 1);
    EXPECT_EQ(l.GetLocationError(), LE_RANGE);
    l = 3;
    EXPECT_EQ(l.GetLocationError(), LE_NONE);
}

TEST(LocationArithmetic, ChainCarriesLikeAMixedRadixNumber) {
    auto l = TwoPart(0, 63);
    ++*l;
    EXPECT_EQ(Friend(*l), 1);
    EXPECT_EQ(Inner(*l), 0);
    (*l)--;
    EXPECT_EQ(Friend(*l), 0);
    EXPECT_EQ(Inner(*l), 63);
    *l = 100;
    EXPECT_EQ(Friend(*l), 1);
    EXPECT_EQ(Inner(*l), 36);
    *l = 0;
    *l += 200;
    EXPECT_EQ(Friend(*l), 3);
    EXPECT_EQ(Inner(*l), 8);

    auto top = TwoPart(255, 63);
    EXPECT_EQ(&(*top)++, top.get());
    EXPECT_EQ(Friend(*top), 256);
    EXPECT_EQ(Inner(*top), 0);
    EXPECT_EQ(top->IsValid(), 0);
    EXPECT_EQ(top->GetLocationError(), LE_RANGE);

    auto low = TwoPart(1, 3, 2);
    *low -= 5;
    EXPECT_EQ(low->GetFriendLocation()->GetRawLocation(), 0);
    EXPECT_EQ(low->GetRawLocation(), 62);

    auto start = TwoPart(2, 10);
    const CQZLocation further = *start + 5;
    EXPECT_EQ(Inner(*start), 10);
    EXPECT_EQ(Inner(further), 15);
    EXPECT_EQ(Inner(*start - *start), 0);
}

TEST(LocationArithmetic, HugeCountsGiveTheSameResultAsTheDefinition) {
    // outermost 0-99999, middle 0-999, inner 0-63
    auto l = std::make_unique<CQZLocation>(5, TableOffsetRange{0, 63}, Desc(LR_DECIMAL, 2));
    auto middle = new CQZLocation(7, TableOffsetRange{0, 999}, Desc(LR_DECIMAL, 3));
    middle->AttatchFriendLocation(
        new CQZLocation(11, TableOffsetRange{0, 99999}, Desc(LR_DECIMAL, 5)));
    l->AttatchFriendLocation(middle);
    const long long before = 5 + 64LL * (7 + 1000LL * 11);
    *l += 2000000000;
    const long long after = before + 2000000000;
    EXPECT_EQ(l->GetFriendLocation()->GetFriendLocation()->GetRawLocation(), after / 64000);
    EXPECT_EQ(middle->GetRawLocation() % 1000, (after / 64) % 1000);
    EXPECT_EQ(l->GetRawLocation() % 64, after % 64);
    EXPECT_EQ(l->IsValid(), 1);
    *l -= 2000000000;
    EXPECT_EQ(l->GetRawLocation(), before);
    EXPECT_EQ(l->GetLocationError(), LE_NONE);
}

TEST(LocationComparison, OrdersChainsOfOneDefinitionAndRejectsOthers) {
    auto a = TwoPart(1, 0);
    auto b = TwoPart(0, 63);
    EXPECT_EQ(*a > *b, 1);
    EXPECT_EQ(*a < *b, 0);
    EXPECT_EQ(*a <= *b, 0);
    EXPECT_EQ(*b <= *a, 1);
    EXPECT_EQ(*a == *TwoPart(1, 0), 1);
    EXPECT_EQ(*a >= *TwoPart(1, 0), 1);

    CQZLocation x(5, TableOffsetRange{0, 255}, Desc(LR_DECIMAL, 3));
    CQZLocation y(5, TableOffsetRange{0, 255}, Desc(LR_DECIMAL, 3));
    CString colon(":");
    y.AttatchDelimiter(&colon);
    EXPECT_EQ(x == y, 0);
    EXPECT_EQ(x < y, 0);
    EXPECT_EQ(x > y, 0);

    CQZLocation ten(10, TableOffsetRange{0, 255}, Desc(LR_DECIMAL, 3));
    EXPECT_EQ(ten == 10, 1);
    EXPECT_EQ(ten < 11, 1);
    EXPECT_EQ(ten >= 11, 0);
    ten.AttatchDelimiter(&colon);
    EXPECT_EQ(ten == 10, 0);
    EXPECT_EQ(*a == 64, 0);
}

TEST(LocationDefinition, CopiesAreDeepAndDefinitionsCanBeTakenOver) {
    auto source = TwoPart(3, 4);
    CQZLocation copy(*source);
    EXPECT_EQ(copy.CheckDefinition(source.get()), 1);
    EXPECT_NE(copy.GetFriendLocation(), source->GetFriendLocation());
    *copy.GetFriendLocation() = 9;
    EXPECT_EQ(Friend(*source), 3);

    *source = *source;
    EXPECT_EQ(Friend(*source), 3);
    CQZLocation alias(*source);
    alias = *alias.GetFriendLocation();  // from inside its own chain
    EXPECT_EQ(alias.GetRawLocation(), 3);
    EXPECT_EQ(alias.GetFriendLocation(), nullptr);

    CQZLocation single(100, TableOffsetRange{0, 255}, Desc(LR_DECIMAL, 3));
    EXPECT_EQ(single.CheckDefinition(source.get()), 0);
    // The raw position 100 is carried into the copied friend, which keeps
    // its own value 3.
    EXPECT_EQ(single.UpdateDefinition(source.get()), 1);
    EXPECT_EQ(single.CheckDefinition(source.get()), 1);
    EXPECT_EQ(Friend(single), 4);
    EXPECT_EQ(Inner(single), 36);

    single.SetAsMax();
    EXPECT_EQ(Text(single), "255:63");
    single.SetAsMin();
    EXPECT_EQ(Text(single), "000:00");

    CQZLocation* own = single.GetFriendLocation();
    own->AttatchFriendLocation(&single);  // would close the chain into a ring
    EXPECT_EQ(own->GetFriendLocation(), nullptr);
}

TEST(LocationRecord, IsTheBasePartThenTheFieldsInTheirOrder) {
    CQZLocation l(5, TableOffsetRange{0, 255}, Desc(LR_HEXADECIMAL, 3, 1, 2));
    CString colon(":");
    l.AttatchDelimiter(&colon);
    const Bytes b = StoreWith([&](CArchive& ar) { l.Serialize(ar); });
    const Bytes expected = {2, 0, 0, 0, 0, 0,   0, 0,  // version 2, identifier 0
                            5, 0, 0, 0, 1, 0,   0, 0, 3, 0, 0, 0, 1, 0, 0,
                            0, 0, 0, 0, 0, 255, 0, 0, 0, 1, 0, 0, 0, 1, ':',  // valid, delimiter
                            0, 0, 0, 0,                                       // no friend
                            2, 0, 0, 0, 0, 0,   0, 0};  // shortest length, error
    EXPECT_EQ(b, expected);
}

TEST(LocationRecord, ChainRoundTripsThroughAnObjectRecord) {
    auto l = TwoPart(200, 17);
    ++*l->GetFriendLocation();
    const Bytes b = StoreWith([&](CArchive& ar) { ar << static_cast<const CObject*>(l.get()); });
    LoadFrom(b, [&](CArchive& ar) {
        CQZLocation* back = nullptr;
        ar >> back;
        std::unique_ptr<CQZLocation> own(back);
        ASSERT_NE(back, nullptr);
        EXPECT_TRUE(back->IsKindOf(RUNTIME_CLASS(CQZObject)));
        EXPECT_EQ(back->CheckDefinition(l.get()), 1);
        EXPECT_EQ(*back == *l, 1);
        EXPECT_EQ(Text(*back), "201:17");
        EXPECT_EQ(back->IsValid(), l->IsValid());
    });
}

TEST(LocationRecord, OlderVersionHasNoShortestLengthOrError) {
    const Bytes b = {1, 0, 0, 0, 0, 0, 0, 0,  9, 0, 0, 0, 2, 0, 0, 0, 4, 0, 0, 0, 1,
                     0, 0, 0, 0, 0, 0, 0, 99, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0};
    CQZLocation l;
    LoadFrom(b, [&](CArchive& ar) { l.Serialize(ar); });
    EXPECT_EQ(l.GetShortestFormatLength(), 4);
    EXPECT_EQ(Text(l), "0009");
    EXPECT_EQ(StoreWith([&](CArchive& ar) { l.Serialize(ar); }), b);
}

TEST(LocationRecord, DamagedChainsThrowInsteadOfGrowing) {
    // One component: base part, seven fields, empty delimiter, friend flag.
    Bytes component = {2, 0, 0, 0, 0, 0, 0, 0};
    component.insert(component.end(), 28, 0);
    component.push_back(0);
    const auto withFlag = [&](BYTE flag) {
        Bytes c = component;
        c.insert(c.end(), {flag, 0, 0, 0});
        return c;
    };
    Bytes endless;
    for (int i = 0; i < 1000; ++i) {
        const Bytes c = withFlag(1);
        endless.insert(endless.end(), c.begin(), c.end());
    }
    for (const Bytes& damaged :
         {endless, Bytes(endless.begin(), endless.begin() + 100), withFlag(2)}) {
        CQZLocation l;
        EXPECT_THROW(LoadFrom(damaged, [&](CArchive& ar) { l.Serialize(ar); }), CArchiveException);
    }
}

}  // namespace
