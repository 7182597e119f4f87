// The framework's value types: strings, arrays, lists, memory files and
// date-times.
#include <gtest/gtest.h>

#include <algorithm>
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
    EXPECT_EQ(s.CompareNoCase("abcdef"), 0);
    CString t("a,b,,c");
    EXPECT_EQ(t.Replace(",", ";;"), 3);
    EXPECT_EQ(t, "a;;b;;;;c");
}

TEST(CStringText, KeepsEmbeddedZeroBytesThroughAnArchive) {
    const char raw[] = {'a', '\0', 'b'};
    const CString s(raw, 3);
    EXPECT_EQ(s.GetLength(), 3);
    CString back;
    kelvara_test::LoadFrom(kelvara_test::StoreWith([&](CArchive& ar) { ar << s; }),
                           [&](CArchive& ar) { ar >> back; });
    EXPECT_EQ(back, s);
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

TEST(ConstAccessors, ReadOutOfRangeFromManyThreadsWithoutWriting) {
    CStringArray strings;
    strings.Add("only");
    CStringList emptyList;
    const CStringArray& a = strings;
    const CStringList& l = emptyList;
    const auto reader = [&](int* pMisses) {
        for (int i = 0; i < 2000; ++i) {
            POSITION pos = nullptr;
            const bool defaults = a.ElementAt(-1).IsEmpty() && a[5].IsEmpty() &&
                                  a.GetAt(9).IsEmpty() && l.GetHead().IsEmpty() &&
                                  l.GetTail().IsEmpty() && l.GetAt(nullptr).IsEmpty() &&
                                  l.GetNext(pos).IsEmpty();
            *pMisses += defaults && a[0] == "only" ? 0 : 1;
        }
    };
    std::vector<int> misses(4, 0);
    std::vector<std::thread> threads;
    for (int& m : misses) {
        threads.emplace_back(reader, &m);
    }
    for (std::thread& t : threads) {
        t.join();
    }
    EXPECT_EQ(misses, std::vector<int>(4, 0));
}

TEST(CStringListOrder, AddsAtTailAndRemovesAtHead) {
    CStringList list;
    list.AddTail("one");
    list.AddTail("two");
    list.AddHead("zero");
    EXPECT_EQ(list.GetCount(), 3);
    EXPECT_EQ(list.RemoveHead(), "zero");
    POSITION pos = list.GetHeadPosition();
    EXPECT_EQ(list.GetNext(pos), "one");
    EXPECT_EQ(list.GetNext(pos), "two");
    EXPECT_EQ(pos, nullptr);
    list.RemoveAt(list.Find("one"));
    EXPECT_EQ(list.GetHead(), "two");
    list.RemoveAll();
    EXPECT_EQ(list.RemoveHead(), "");
    list.AddTail("x");
    list.AddTail(&list);
    EXPECT_EQ(list.GetCount(), 2);
}

TEST(CMemFileStorage, AttachedFixedBufferCannotGrow) {
    BYTE buffer[4] = {1, 2, 3, 4};
    CMemFile file(buffer, sizeof buffer);
    BYTE out[8] = {};
    EXPECT_EQ(file.Read(out, 8), 4u);
    EXPECT_EQ(out[3], 4);
    file.SeekToBegin();
    const BYTE more[6] = {};
    EXPECT_THROW(file.Write(more, 6), CArchiveException);
    EXPECT_EQ(file.Detach(), buffer);
}

TEST(CMemFileStorage, WritingPastTheEndFillsTheGapWithZeros) {
    CMemFile file;
    const BYTE old[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    file.Write(old, sizeof old);
    // Cut back: the old bytes stay in the buffer but are no longer the file.
    file.SetLength(2);
    EXPECT_EQ(file.Seek(6, CFile::begin), 6u);
    const BYTE last = 0xEE;
    file.Write(&last, 1);
    ASSERT_EQ(file.GetLength(), 7u);
    const BYTE* p = file.GetBuffer();
    EXPECT_EQ((Bytes(p, p + 7)), (Bytes{1, 2, 0, 0, 0, 0, 0xEE}));

    CMemFile fresh;
    fresh.Seek(3000, CFile::begin);
    fresh.Write(&last, 1);
    ASSERT_EQ(fresh.GetLength(), 3001u);
    const BYTE* q = fresh.GetBuffer();
    EXPECT_TRUE(std::all_of(q, q + 3000, [](BYTE b) { return b == 0; }));
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

TEST(PropertySheetShell, IsNotShownWithoutAHostHandler) {
    CPropertySheet sheet("Caption");
    CPropertyPage page("Port");
    sheet.AddPage(&page);
    EXPECT_EQ(sheet.DoModal(), 0);
    AfxSetPropertySheetHandler([](CPropertySheet& s) { return s.GetPageCount() == 1 ? IDOK : 0; });
    EXPECT_EQ(sheet.DoModal(), IDOK);
    AfxSetPropertySheetHandler(nullptr);
}

}  // namespace
