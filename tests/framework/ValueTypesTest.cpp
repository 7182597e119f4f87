// The framework's value types: strings, arrays, lists, memory files and
// date-times.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "kelvara/Kelvara.h"
#include "support/ArchiveBytes.h"

namespace {

using kelvara_test::Bytes;

TEST(CStringFormat, GrowsToAnyLengthAndTakesTheStringsOwnText) {
    const std::string big(100000, 'z');
    CString s;
    s.Format("<%s>%d", big.c_str(), 42);
    EXPECT_EQ(s.GetLength(), 100004);
    EXPECT_EQ(s.Right(3), ">42");
    s.AppendFormat("%05.1f", 2.25);
    EXPECT_EQ(s.Right(5), "002.2");

    // Results of 256 characters or more are built outside the fixed buffer,
    // so the argument must still be readable while the string grows.
    const std::string text(300, 'q');
    CString t(text);
    t.AppendFormat("[%s]", t.GetString());
    EXPECT_EQ(t.str(), text + "[" + text + "]");
    CString u(text);
    u.Format("%s|%s", u.GetString(), u.GetString());
    EXPECT_EQ(u.str(), text + "|" + text);
    CString v("ab");
    v.AppendFormat("%s", v.GetString());
    EXPECT_EQ(v, "abab");
}

TEST(CStringSubstrings, ClampCountsAndPositions) {
    const CString s("ABCDEF");
    const struct {
        CString got;
        const char* expected;
    } cases[] = {
        {s.Left(2), "AB"},      {s.Left(99), "ABCDEF"}, {s.Left(-1), ""},     {s.Right(2), "EF"},
        {s.Right(9), "ABCDEF"}, {s.Mid(4), "EF"},       {s.Mid(0), "ABCDEF"}, {s.Mid(2, 2), "CD"},
        {s.Mid(2, 4), "CDEF"},  {s.Mid(10, 2), ""},     {s.Mid(-3, 2), "AB"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.got, c.expected);
    }
    EXPECT_EQ(s.GetAt(6), '\0');
    EXPECT_EQ(s.Find("CD"), 2);
    EXPECT_EQ(s.Find('Z'), -1);
    CString t("a,b,,c");
    EXPECT_EQ(t.Replace(",", ";;"), 3);
    EXPECT_EQ(t, "a;;b;;;;c");
}

TEST(CByteArrayAccess, OutOfRangeIndexesTouchNoElementAndInsertsGrow) {
    CByteArray a;
    EXPECT_EQ(a.Add(1), 0);
    EXPECT_EQ(a.Add(2), 1);
    a.SetAt(5, 9);
    a[7] = 9;
    EXPECT_EQ(a.GetSize(), 2);
    EXPECT_EQ(a.GetAt(-1), 0);
    EXPECT_EQ(a[9], 0);
    a.RemoveAt(1, 50);
    EXPECT_EQ(a.GetSize(), 1);
    a.InsertAt(3, 7, 2);
    a.InsertAt(0, 5);
    EXPECT_EQ(Bytes(a.begin(), a.end()), (Bytes{5, 1, 0, 0, 7, 7}));
    CByteArray b;
    b.Copy(a);
    EXPECT_EQ(b.Append(a), 6);
    EXPECT_EQ(b.Append(b), 12);
    EXPECT_EQ(b.GetSize(), 24);
    EXPECT_EQ(b[23], 7);
    b.InsertAt(1, &b);
    EXPECT_EQ(b.GetSize(), 48);
    EXPECT_EQ(b[1], 5);
    EXPECT_EQ(b[25], 1);
}

// Reads of missing elements give an empty value without writing to a shared
// one.
TEST(ConstAccessors, ReadOutOfRangeFromManyThreadsWithoutWriting) {
    CStringArray strings;
    strings.Add("only");
    const CStringArray& a = strings;
    const CStringList l;
    std::atomic<int> misses{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 2000; ++i) {
                POSITION pos = nullptr;
                const bool empty = a.ElementAt(-1).IsEmpty() && a[5].IsEmpty() &&
                                   a.GetAt(9).IsEmpty() && l.GetHead().IsEmpty() &&
                                   l.GetTail().IsEmpty() && l.GetAt(nullptr).IsEmpty() &&
                                   l.GetNext(pos).IsEmpty();
                misses += empty && a[0] == "only" ? 0 : 1;
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    EXPECT_EQ(misses, 0);
}

// Lists are added at the tail and taken from the head; an empty list gives
// an empty string, and a list may be appended to itself.
TEST(CStringListOrder, AddsAtTailAndRemovesAtHead) {
    CStringList list;
    EXPECT_EQ(list.RemoveHead(), "");
    list.AddTail("one");
    list.AddHead("zero");
    list.AddTail(&list);
    POSITION pos = list.Find("one");
    list.RemoveAt(pos);
    EXPECT_EQ(list.RemoveHead(), "zero");
    EXPECT_EQ(list.RemoveHead(), "zero");
    EXPECT_EQ(list.RemoveHead(), "one");
    EXPECT_TRUE(list.IsEmpty());
}

// An attached buffer cannot grow; a growing file fills a gap left by a seek
// with zeros, even where it once held other bytes.
TEST(CMemFileStorage, FixedBuffersCannotGrowAndGapsAreZeros) {
    BYTE buffer[4] = {1, 2, 3, 4};
    CMemFile fixed(buffer, sizeof buffer);
    BYTE out[8] = {};
    EXPECT_EQ(fixed.Read(out, 8), 4u);
    fixed.SeekToBegin();
    EXPECT_THROW(fixed.Write(out, 6), CArchiveException);
    EXPECT_EQ(fixed.Detach(), buffer);

    CMemFile file;
    const BYTE old[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    file.Write(old, sizeof old);
    file.SetLength(2);
    EXPECT_EQ(file.Seek(6, CFile::begin), 6u);
    file.Write(old, 1);
    ASSERT_EQ(file.GetLength(), 7u);
    const BYTE* p = file.GetBuffer();
    EXPECT_EQ((Bytes(p, p + 7)), (Bytes{1, 2, 0, 0, 0, 0, 1}));
    file.Seek(3000, CFile::begin);
    file.Write(old, 1);
    p = file.GetBuffer();
    EXPECT_TRUE(std::all_of(p + 7, p + 3000, [](BYTE b) { return b == 0; }));
}

TEST(COleDateTimeValue, CountsDaysFromTheEndOf1899) {
    EXPECT_EQ(static_cast<double>(COleDateTime(1899, 12, 30, 0, 0, 0)), 0.0);
    EXPECT_EQ(static_cast<double>(COleDateTime(1900, 1, 1, 12, 0, 0)), 2.5);
    EXPECT_EQ(static_cast<double>(COleDateTime(1899, 12, 29, 6, 0, 0)), -1.25);
    const COleDateTime d(2026, 12, 6, 23, 59, 59);
    EXPECT_EQ(d.Format(), "2026-12-06 23:59:59");
    EXPECT_EQ(d.GetDayOfWeek(), 1);  // a Sunday
    EXPECT_EQ(COleDateTime(1899, 12, 29, 6, 0, 0).Format(), "1899-12-29 06:00:00");
    EXPECT_EQ(COleDateTime(2023, 2, 29, 0, 0, 0).GetStatus(), COleDateTime::invalid);
    EXPECT_EQ(COleDateTime::GetCurrentTime().GetStatus(), COleDateTime::valid);
}

}  // namespace
