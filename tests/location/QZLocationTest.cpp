// CQZLocation as drivers and hosts use it: parsing offsets typed by users,
// formatting them back, error texts, counting through tables, comparisons,
// definitions and archive records.
#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>

#include "kelvara/Kelvara.h"
#include "support/ArchiveBytes.h"

namespace {

using kelvara_test::Bytes;
using kelvara_test::LoadFrom;
using kelvara_test::StoreWith;
using Location = std::unique_ptr<CQZLocation>;

QZLocationDescriptor Desc(LocationRadix base, LONG length, LONG increment = 1, LONG shortest = 1) {
    return {increment, base, length, shortest};
}

Location Single(LONG value, LONG max, QZLocationDescriptor d, const char* delimiter = "") {
    auto l = std::make_unique<CQZLocation>(value, TableOffsetRange{0, max}, d);
    CString text(delimiter);
    l->AttatchDelimiter(&text);
    return l;
}

// An inner decimal component of two characters (range innerMin-63) whose
// friend is a decimal of four characters ending in a colon (range 0-255).
Location TwoPart(LONG friendValue, LONG innerValue, LONG innerMin = 0) {
    auto inner = std::make_unique<CQZLocation>(innerValue, TableOffsetRange{innerMin, 63},
                                               Desc(LR_DECIMAL, 2));
    inner->AttatchFriendLocation(Single(friendValue, 255, Desc(LR_DECIMAL, 4), ":").release());
    return inner;
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

int Friend(const CQZLocation& l) {
    return l.GetFriendLocation()->GetRawLocation();
}

int Inner(const CQZLocation& l) {
    return l.GetRawLocation() - 64 * Friend(l);
}

// Every location starts at raw 5 (the two-part one at 0:5), which a failed
// Update must leave in place.
TEST(LocationText, ParsesPadsAndRejectsByDefinition) {
    const auto dec3 = [] { return Single(5, 255, Desc(LR_DECIMAL, 3)); };
    const auto even = [] { return Single(5, 255, Desc(LR_DECIMAL, 3, 2)); };
    const auto hex4 = [] { return Single(5, 4095, Desc(LR_HEXADECIMAL, 4)); };
    const auto oct3 = [] { return Single(5, 511, Desc(LR_OCTAL, 3)); };
    const auto alpha = [] { return Single(5, 26, Desc(LR_ALPHABETIC, 1)); };
    const auto twoPart = [] { return TwoPart(0, 5); };
    const auto nine = [] {
        auto inner = Single(0, 63, Desc(LR_DECIMAL, 9));
        inner->AttatchFriendLocation(Single(0, 99999999, Desc(LR_DECIMAL, 8)).release());
        return inner;
    };
    const auto noStep = [] { return Single(5, 9, Desc(LR_DECIMAL, 1, 0)); };
    const auto huge = [] { return Single(5, 9, Desc(LR_DECIMAL, 0x7FFFFFFF)); };
    const struct {
        Location (*make)();
        const char* text;
        LONG error;  // LE_NONE: parses
        int raw;
        const char* formatted;
        const char* message = nullptr;  // FormatError's text, where checked
    } cases[] = {
        {dec3, "7", LE_NONE, 7, "007"},
        {dec3, "", LE_NONE, 0, "000"},
        {dec3, "0123", LE_LENGTH, 5, "005",
         "The offset specifed contains an invalid number of characters, the correct length is 3"},
        {dec3, "300", LE_RANGE, 5, "005",
         "The offset specified is out of range, the valid range is 000-255 for the selected table"},
        {dec3, "1x3", LE_DECIMAL, 5, "005"},
        {even, "007", LE_BOUNDARY, 5, "010",
         "The offset specified does not lie on a valid offset boundary"},
        {even, "008", LE_NONE, 4, "008"},
        {hex4, "0aF", LE_NONE, 0xAF, "00AF"},
        {hex4, "00G1", LE_HEXADECIMAL, 5, "0005"},
        {oct3, "17", LE_NONE, 15, "017"},
        {oct3, "018", LE_OCTAL, 5, "005"},
        {alpha, "A", LE_NONE, 1, "A"},
        {alpha, " ", LE_NONE, 0, " "},
        {alpha, "0", LE_ALPHABETIC, 5, "E"},
        {alpha, "", LE_ALPHABETIC, 5, "E"},
        {twoPart, "7:12", LE_NONE, 7 * 64 + 12, "007:12"},
        {twoPart, "12", LE_LENGTH, 5, "000:05"},
        {twoPart, "7-12", LE_DELIMITER, 5, "000:05",
         "The offset specified is missing a delimiter :"},
        {nine, "0999999999", LE_NONE, 999999999, "15624999000000063"},
        {noStep, "8", LE_NONE, 8, "8"},
        {huge, "5", LE_LENGTH, 5, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        Location l = c.make();
        CString text(c.text);
        EXPECT_EQ(l->Update(&text), c.error == LE_NONE ? 1 : 0);
        EXPECT_EQ(l->GetLocationError(), c.error);
        EXPECT_EQ(l->IsValid(), c.error == LE_NONE ? 1 : 0);
        EXPECT_EQ(l->GetRawLocation(), c.raw);
        if (c.formatted != nullptr) {
            EXPECT_EQ(Text(*l), c.formatted);
        }
        if (c.message != nullptr) {
            EXPECT_EQ(Error(*l), c.message);
            // Formatting the range error leaves the chain valid at its old value.
            EXPECT_EQ(Error(*l), c.error == LE_RANGE ? "No error" : c.message);
        }
    }
    EXPECT_EQ(Text(*huge()).GetLength(), CQZLocation::MAX_FORMAT_LENGTH);
    EXPECT_EQ(Text(CQZLocation(-1, TableOffsetRange{-5, 5}, Desc(LR_DECIMAL, 3))), "4294967295");
    EXPECT_EQ(TwoPart(0, 0)->GetTotalFormatLength(), 6);
    EXPECT_EQ(TwoPart(0, 0)->GetShortestFormatLength(), 3);
    EXPECT_EQ(TwoPart(0, 0)->Update(nullptr), 0);
}

TEST(LocationArithmetic, ChainCarriesLikeAMixedRadixNumber) {
    const struct {
        LONG friendValue, innerValue, innerMin;
        void (*change)(CQZLocation&);
        int friendAfter, innerAfter, valid;
    } cases[] = {
        {0, 63, 0, [](CQZLocation& l) { ++l; }, 1, 0, 1},
        {1, 0, 0, [](CQZLocation& l) { l--; }, 0, 63, 1},
        {7, 7, 0, [](CQZLocation& l) { l = 100; }, 1, 36, 1},
        {0, 0, 0, [](CQZLocation& l) { l += 200; }, 3, 8, 1},
        {3, 8, 0, [](CQZLocation& l) { l -= *TwoPart(1, 0); }, 2, 8, 1},
        {255, 63, 0, [](CQZLocation& l) { l++; }, 256, 0, 0},
        {1, 3, 2, [](CQZLocation& l) { l -= 5; }, 0, 62, 1},
    };
    for (const auto& c : cases) {
        auto l = TwoPart(c.friendValue, c.innerValue, c.innerMin);
        c.change(*l);
        EXPECT_EQ(Friend(*l), c.friendAfter) << c.friendValue << ":" << c.innerValue;
        EXPECT_EQ(Inner(*l), c.innerAfter) << c.friendValue << ":" << c.innerValue;
        EXPECT_EQ(l->IsValid(), c.valid) << c.friendValue << ":" << c.innerValue;
        EXPECT_EQ(l->GetLocationError(), c.valid ? LE_NONE : LE_RANGE);
    }

    auto start = TwoPart(2, 10);
    EXPECT_EQ(&++*start, start.get());
    EXPECT_EQ(&(*start)++, start.get());  // the postfix form too returns the location
    const CQZLocation further = *start + 5;
    EXPECT_EQ(Inner(*start), 12);
    EXPECT_EQ(Inner(further), 17);
    EXPECT_EQ(Inner(*start - 3), 9);
    // Out of range and back: valid again, the range error kept until a new value.
    auto single = Single(255, 255, Desc(LR_DECIMAL, 3));
    ++*single;
    --*single;
    EXPECT_EQ(single->IsValid(), 1);
    EXPECT_EQ(single->GetLocationError(), LE_RANGE);
    *single = 3;
    EXPECT_EQ(single->GetLocationError(), LE_NONE);

    // A table counted by two: the values are indexes, offset 254 is index 127.
    auto even = Single(127, 255, Desc(LR_DECIMAL, 3, 2));
    EXPECT_EQ(even->IsValid(), 1);
    ++*even;
    EXPECT_EQ(even->IsValid(), 0);
    auto evenInner =
        std::make_unique<CQZLocation>(63, TableOffsetRange{0, 127}, Desc(LR_DECIMAL, 3, 2));
    evenInner->AttatchFriendLocation(Single(0, 255, Desc(LR_DECIMAL, 4), ":").release());
    ++*evenInner;
    EXPECT_EQ(Friend(*evenInner), 1);
    EXPECT_EQ(Inner(*evenInner), 0);
    EXPECT_EQ(evenInner->IsValid(), 1);
}

std::array<int, 5> Ops(const CQZLocation& a, const auto& b) {
    return {a == b, a<b, a> b, a <= b, a >= b};
}

TEST(LocationComparison, OrdersChainsOfOneDefinitionAndRejectsOthers) {
    using Five = std::array<int, 5>;  // ==, <, >, <=, >=
    EXPECT_EQ(Ops(*TwoPart(1, 0), *TwoPart(0, 63)), (Five{0, 0, 1, 0, 1}));
    EXPECT_EQ(Ops(*TwoPart(1, 0), *TwoPart(1, 0)), (Five{1, 0, 0, 1, 1}));
    EXPECT_EQ(Ops(*Single(5, 255, Desc(LR_DECIMAL, 3)), *Single(5, 255, Desc(LR_DECIMAL, 3), ":")),
              (Five{0, 0, 0, 0, 0}));
    EXPECT_EQ(Ops(*Single(10, 255, Desc(LR_DECIMAL, 3)), 11), (Five{0, 1, 0, 1, 0}));
    EXPECT_EQ(Ops(*Single(10, 255, Desc(LR_DECIMAL, 3), ":"), 10), (Five{0, 0, 0, 0, 0}));
    EXPECT_EQ(Ops(*TwoPart(1, 0), 64), (Five{0, 0, 0, 0, 0}));
}

TEST(LocationDefinition, CopiesAreDeepAndDefinitionsCanBeTakenOver) {
    auto source = TwoPart(3, 4);
    CQZLocation copy(*source);
    EXPECT_EQ(copy.CheckDefinition(source.get()), 1);
    *copy.GetFriendLocation() = 9;
    EXPECT_EQ(Friend(*source), 3);

    *source = *source;
    EXPECT_EQ(Friend(*source), 3);
    CQZLocation alias(*source);
    alias = *alias.GetFriendLocation();  // from inside its own chain
    EXPECT_EQ(alias.GetRawLocation(), 3);
    EXPECT_EQ(alias.GetFriendLocation(), nullptr);

    // The raw position 100 is carried into the copied friend, which keeps
    // its own value 3.
    CQZLocation single(100, TableOffsetRange{0, 255}, Desc(LR_DECIMAL, 3));
    EXPECT_EQ(single.CheckDefinition(source.get()), 0);
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

TEST(LocationRecord, IsTheBasePartThenTheFieldsInTheirOrderAndChainsRoundTrip) {
    auto l = Single(5, 255, Desc(LR_HEXADECIMAL, 3, 1, 2), ":");
    const Bytes expected = {2, 0, 0, 0, 0, 0,   0, 0,  // version 2, identifier 0
                            5, 0, 0, 0, 1, 0,   0, 0, 3, 0, 0, 0, 1, 0, 0,
                            0, 0, 0, 0, 0, 255, 0, 0, 0, 1, 0, 0, 0, 1, ':',  // valid, delimiter
                            0, 0, 0, 0,                                       // no friend
                            2, 0, 0, 0, 0, 0,   0, 0};  // shortest length, error
    EXPECT_EQ(StoreWith([&](CArchive& ar) { l->Serialize(ar); }), expected);

    auto chain = TwoPart(201, 17);
    const Bytes b =
        StoreWith([&](CArchive& ar) { ar << static_cast<const CObject*>(chain.get()); });
    CQZLocation* back = nullptr;
    LoadFrom(b, [&](CArchive& ar) { ar >> back; });
    std::unique_ptr<CQZLocation> own(back);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->CheckDefinition(chain.get()), 1);
    EXPECT_EQ(Text(*back), "201:17");
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
    const auto withFlag = [](BYTE flag) {
        Bytes c(37, 0);
        c[0] = 2;
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
