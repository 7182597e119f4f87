// Property records: string-list lines, archive records, copies, pages and
// the property sheet.
#include <gtest/gtest.h>

#include <vector>

#include "kelvara/Kelvara.h"
#include "support/ArchiveBytes.h"

namespace {

using kelvara_test::Bytes;

std::vector<CString> Lines(const CStringList& list) {
    std::vector<CString> lines;
    for (POSITION pos = list.GetHeadPosition(); pos != nullptr;) {
        lines.push_back(list.GetNext(pos));
    }
    return lines;
}

CStringList ListOf(const std::vector<const char*>& lines) {
    CStringList list;
    for (const char* psz : lines) {
        list.AddTail(CString(psz));
    }
    return list;
}

Bytes Stored(CObject& record) {
    return kelvara_test::StoreWith([&](CArchive& ar) { record.Serialize(ar); });
}

// Loads a record; the cause of the archive exception, or none.
int LoadCause(CObject& record, const Bytes& bytes) {
    return kelvara_test::LoadCause(bytes, [&](CArchive& ar) { record.Serialize(ar); });
}

TEST(PropertyStringList, RecordsReadBackInDumpOrderEachTakingOnlyItsOwnLines) {
    CPortProperties port;
    port.m_dwBaudRate = 0xFFFFFFFFu;
    port.m_StopBits = CPortProperties::STOPBITS_TWO;
    CFlowProperties flow;
    flow.m_RTSControl = CFlowProperties::RTS_TOGGLE;
    CTimingProperties timing;
    timing.m_dwTimeout = 2500;
    CStringList list;
    ASSERT_TRUE(port.DumpToStringList(list) && flow.DumpToStringList(list) &&
                timing.DumpToStringList(list));
    const std::vector<CString> lines = Lines(list);
    ASSERT_EQ(lines.size(), 14u);
    EXPECT_EQ(lines[1], "Port.BaudRate=4294967295");
    EXPECT_EQ(lines[7], "Flow.FlowControlEnabled=0");
    EXPECT_EQ(lines[12], "Timing.Timeout=2500");

    CPortProperties port2;
    CFlowProperties flow2;
    CTimingProperties timing2;
    ASSERT_TRUE(port2.UpdateFromStringList(&list));
    EXPECT_EQ(list.GetCount(), 7);
    ASSERT_TRUE(flow2.UpdateFromStringList(&list) && timing2.UpdateFromStringList(&list));
    EXPECT_TRUE(list.IsEmpty());
    EXPECT_EQ(Stored(port2), Stored(port));
    EXPECT_EQ(Stored(flow2), Stored(flow));
    EXPECT_EQ(Stored(timing2), Stored(timing));

    // A partial set, blanks around numbers, lowest values; text values are taken whole.
    list = ListOf({"Port.BaudRate= 19200 ", "Port.ParityEnabled=1", "Port.Parity=+1",
                   "Port.DataBits=5", "Flow.X=1", "garbage"});
    ASSERT_TRUE(port2.UpdateFromStringList(&list));
    EXPECT_EQ(port2.m_dwBaudRate, 19200u);
    EXPECT_EQ(port2.m_bParityEnabled, 1);
    EXPECT_EQ(port2.m_Parity, CPortProperties::PARITY_EVEN);
    EXPECT_EQ(port2.m_wDataBits, 5);
    EXPECT_EQ(port2.m_StopBits, CPortProperties::STOPBITS_TWO);  // absent: kept
    EXPECT_EQ(Lines(list), (std::vector<CString>{"Flow.X=1", "garbage"}));
    list = ListOf({"General.Version=v1.2 = final"});
    CGeneralProperties general;
    ASSERT_TRUE(general.UpdateFromStringList(&list));
    EXPECT_EQ(general.m_strVersion, "v1.2 = final");
}

TEST(PropertyStringList, BadLinesFailAndChangeNeitherRecordNorList) {
    const std::vector<std::vector<const char*>> bad = {
        {},
        {"Flow.DTRControl=1"},  // another record's line first
        {"garbage"},
        {"Port.BaudRate"},
        {"Port.BaudRate=12abc"},
        {"Port.BaudRate=-1"},          // unsigned field
        {"Port.BaudRate=4294967296"},  // one past 32 bits
        {"Port.PortNumber=65536"},
        // Each kind of field outside its values: enumeration, bounded integer, flag.
        {"Port.Parity=3"},
        {"Port.Parity=-1"},
        {"Port.DataBits=4"},
        {"Port.DataBits=9"},
        {"Port.BaudRate=0"},
        {"Port.ParityEnabled=2"},
        {"Port.BaudRate=1200", "Port.Speed=3"},  // unknown field after a good line
        {"Port.BaudRate=1200", "Port.DataBits=0x8"},
        {"port.BaudRate=1200"},
        // A line that is no "Record.Field=Value" among the record's lines.
        {"Port.BaudRate=1200", "garbage"},
        {"Port.BaudRate=1200", ""},
        {"Port.BaudRate=1200", "Flow RTSControl=1"},
    };
    CPortProperties port;
    port.m_dwBaudRate = 4800;
    const Bytes unchanged = Stored(port);
    for (const auto& lines : bad) {
        CStringList list = ListOf(lines);
        EXPECT_FALSE(port.UpdateFromStringList(&list)) << (lines.empty() ? "(empty)" : lines[0]);
        EXPECT_EQ(Stored(port), unchanged);
        EXPECT_EQ(Lines(list), Lines(ListOf(lines)));
    }
    EXPECT_FALSE(port.UpdateFromStringList(nullptr));
}

TEST(PollList, StringListReplacesTheItemsAndArchiveKeepsThemWholeBothCheckingTheCount) {
    CPollProperties poll;
    poll.AddItem(7, 12)->m_bDataValid = 1;
    poll.AddItem(0xFFFFFFFFu, 255);
    CStringList list;
    ASSERT_TRUE(poll.DumpToStringList(list));
    EXPECT_EQ(Lines(list),
              (std::vector<CString>{"Poll.Count=2", "Poll.Item=7,12", "Poll.Item=4294967295,255"}));
    CPollProperties back;
    back.AddItem(1, 1);
    ASSERT_TRUE(back.UpdateFromStringList(&list));
    ASSERT_EQ(back.m_PollList.GetSize(), 2);
    EXPECT_EQ(back.m_PollList[0]->m_dwBlockId, 7u);
    EXPECT_EQ(back.m_PollList[0]->m_bDataValid, 0);  // replies start afresh
    EXPECT_EQ(back.m_PollList[1]->m_byNode, 255);

    for (auto lines :
         {ListOf({"Poll.Count=2", "Poll.Item=1,2"}), ListOf({"Poll.Item=1,2"}),
          ListOf({"Poll.Count=1", "Poll.Item=1,256"}), ListOf({"Poll.Count=1", "Poll.Item=1"}),
          ListOf({"Poll.Count=99999999999", "Poll.Item=1,2"})}) {
        EXPECT_FALSE(back.UpdateFromStringList(&lines));
        EXPECT_EQ(back.m_PollList.GetSize(), 2);
    }
    CStringList empty = ListOf({"Poll.Count=0"});
    ASSERT_TRUE(poll.UpdateFromStringList(&empty));
    EXPECT_EQ(poll.m_PollList.GetSize(), 0);

    // An archive keeps every item whole and refuses counts beyond its bytes.
    CPollListItem* pItem = poll.AddItem(42, 3);
    pItem->m_Data.Add(0xAB);
    pItem->m_ftSent = MakeFileTime(0x0123456789ABCDEFull);
    pItem->m_dwError = 2001;
    CPollProperties loaded;
    const Bytes b = Stored(poll);
    ASSERT_EQ(LoadCause(loaded, b), CArchiveException::none);
    ASSERT_EQ(loaded.m_PollList.GetSize(), 1);
    EXPECT_EQ(loaded.m_PollList[0]->m_Data.GetSize(), 1);
    EXPECT_EQ(FileTimeToULongLong(loaded.m_PollList[0]->m_ftSent), 0x0123456789ABCDEFull);
    EXPECT_EQ(loaded.m_PollList[0]->m_dwError, 2001u);

    // The header: object record, layout and the name "Poll".
    Bytes huge(b.begin(), b.begin() + 17);
    huge.insert(huge.end(), {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F});  // count 2^31 - 1
    EXPECT_NE(LoadCause(loaded, huge), CArchiveException::none);
    EXPECT_EQ(loaded.m_PollList.GetSize(), 1);
}

TEST(PropertyArchive, RecordStartsWithTheObjectRecordAndLoadsWholeOrNotAtAll) {
    CTimingProperties timing;
    timing.m_dwRetryCount = 5;
    timing.m_dwTimeout = 0x01020304;
    const Bytes b = Stored(timing);
    const Bytes expected = {
        2, 0,   0,   0,   0,   0,   0,   0,  // version 2, second member 0
        2, 0,   0,   0,                      // layout 2
        6, 'T', 'i', 'm', 'i', 'n', 'g',     // the record's name
        5, 0,   0,   0,   4,   3,   2,   1,  // retries, time-out,
        0, 0,   0,   0,                      // request delay
    };
    EXPECT_EQ(b, expected);

    CTimingProperties back(timing);
    EXPECT_EQ(back.GetVersion(), 1);  // as every copy
    back.m_dwTimeout = 1;
    ASSERT_EQ(LoadCause(back, b), CArchiveException::none);
    EXPECT_EQ(back.m_dwTimeout, 0x01020304u);
    EXPECT_EQ(back.GetVersion(), 2);  // restored by the load

    // Damaged or another record's: an exception, and the record as it was.
    CPortProperties port;
    port.m_dwBaudRate = 38400;
    const Bytes stored = Stored(port);
    CPortProperties target;
    const Bytes unchanged = Stored(target);
    for (size_t n = 0; n < stored.size(); ++n) {
        EXPECT_EQ(LoadCause(target, Bytes(stored.begin(), stored.begin() + static_cast<long>(n))),
                  CArchiveException::endOfFile);
    }
    Bytes layout = stored;
    layout[8] = 9;  // an unknown layout
    EXPECT_EQ(LoadCause(target, layout), CArchiveException::badSchema);
    layout[8] = 1;  // the layout before records carried their names
    EXPECT_EQ(LoadCause(target, layout), CArchiveException::badSchema);
    // Another record's archive, even one as long: the name tells.
    CFlowProperties flow;
    EXPECT_EQ(LoadCause(target, Stored(flow)), CArchiveException::badClass);
    CTimeoutOnlyProperties timeout;
    EXPECT_EQ(LoadCause(target, Stored(timeout)), CArchiveException::badClass);
    EXPECT_EQ(Stored(target), unchanged);
}

}  // namespace
