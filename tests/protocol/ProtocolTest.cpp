// The protocol base classes used as a host uses a driver: load its
// properties three ways (archive, string lines, packed record), start,
// transfer blocks, read statistics, stop; and driver plug-ins.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include "kelvara/Kelvara.h"
#include "support/ArchiveBytes.h"

namespace {

using kelvara_test::Bytes;
using kelvara_test::StoreWith;

constexpr const char* kRemoteFormat = "[T1(Area) D M][+1N4D(Offset) 0 to 9999]";

// A record's start as a host stored it: version 2, second member 0,
// layout 2, the record's name.
void Header(CArchive& ar, const char* pszName) {
    ar << DWORD{2} << DWORD{0} << DWORD{2} << CString(pszName);
}

// A serial driver's properties as a host stored them: general, port, flow
// and timing records, each value distinct so that a record read in the
// wrong place shows.
Bytes StoredSerialProperties() {
    return StoreWith([](CArchive& ar) {
        Header(ar, "General");
        ar << CString("Line 7 settings");
        Header(ar, "Port");  // port, baud, parity on, even, data bits, two stop bits, RS-485
        ar << WORD{7} << DWORD{19200} << DWORD{1} << DWORD{1} << WORD{7} << DWORD{2} << DWORD{1};
        Header(ar, "Flow");  // flow control on, RTS handshake, DTR disabled, RTS/CTS delay
        ar << DWORD{1} << DWORD{2} << DWORD{0} << DWORD{15};
        Header(ar, "Timing");  // retries, time-out, request message delay
        ar << DWORD{4} << DWORD{1500} << DWORD{20};
    });
}

// A network driver's: general and time-out records.
Bytes StoredNetworkProperties() {
    return StoreWith([](CArchive& ar) {
        Header(ar, "General");
        ar << CString("Ring 2");
        Header(ar, "TimeoutOnly");
        ar << DWORD{1200};
    });
}

CStringList ListOf(const std::vector<const char*>& lines) {
    CStringList list;
    for (const char* psz : lines) {
        list.AddTail(CString(psz));
    }
    return list;
}

std::vector<CString> Lines(const CStringList& list) {
    std::vector<CString> lines;
    for (POSITION pos = list.GetHeadPosition(); pos != nullptr;) {
        lines.push_back(list.GetNext(pos));
    }
    return lines;
}

// Everything a driver's properties hold, as its archive.
Bytes PropertiesOf(CProtocol& driver) {
    return StoreWith([&](CArchive& ar) { driver.SerializeProperties(ar); });
}

// Loads a driver's properties; the cause of the archive exception, or none.
int LoadProperties(CProtocol& driver, const Bytes& bytes) {
    return kelvara_test::LoadCause(bytes, [&](CArchive& ar) { driver.SerializeProperties(ar); });
}

TEST(ProtocolBase, StartsOnceStopsOnceAndCountsEveryBlockItIsGiven) {
    CProtocol driver;
    CRemoteAddress address("D0010", kRemoteFormat, nullptr);
    ASSERT_EQ(driver.ValidateRemoteAddress(&address), static_cast<DWORD>(EDF_OK));
    const auto transfer = [&](DWORD dwComTime, bool bDevice) {
        CComBlock block(&address, 17, 1, 4, 1);
        block.SetComTime(dwComTime);
        return bDevice ? driver.TransferDeviceData(&block) : driver.TransferData(&block);
    };
    EXPECT_EQ(driver.StopProtocol(), 2007u);
    EXPECT_EQ(transfer(10, false), 0u);  // counted although not started
    ASSERT_EQ(driver.StartProtocol(), 0u);
    EXPECT_EQ(driver.StartProtocol(), 2006u);
    EXPECT_TRUE(driver.IsStarted());
    EXPECT_EQ(transfer(10, false), 0u);
    EXPECT_EQ(transfer(10, false), 0u);
    EXPECT_EQ(transfer(0, true), 2000u);
    EXPECT_EQ(driver.TransferData(nullptr), 2005u);
    EXPECT_EQ(driver.TransferDeviceData(nullptr), 2005u);
    EXPECT_EQ(driver.StopProtocol(), 0u);
    EXPECT_EQ(driver.StopProtocol(), 2007u);
    EXPECT_FALSE(driver.IsStarted());

    const std::vector<DWORD> counted = {driver.GetBlockCount(), driver.GetTotalCommsTime(),
                                        driver.GetAveBlockExecutionTime(),
                                        driver.GetBlocksPerSecond()};
    EXPECT_EQ(counted, (std::vector<DWORD>{4, 30, 7, 133}));
    driver.ResetStatistics();
    EXPECT_EQ(driver.GetBlockCount(), 0u);
}

TEST(DriverProperties, SerialSettersGettersArchiveAndPackedRecordAgreeFieldByField) {
    CSerialProtocol driver;
    driver.GetGeneralProperties()->m_strVersion = "Line 7 settings";
    driver.SetPortDefaults(TRUE, 19200, CPortProperties::PARITY_EVEN, CPortProperties::STOPBITS_TWO,
                           7, 7, CPortProperties::MEDIA_RS485);
    driver.SetFlowDefaults(TRUE, 15, CFlowProperties::DTR_DISABLE, CFlowProperties::RTS_HANDSHAKE);
    driver.SetTimingDefaults(20, 4, 1500);
    EXPECT_EQ(PropertiesOf(driver), StoredSerialProperties());

    CSerialProtocol loaded;
    ASSERT_EQ(LoadProperties(loaded, StoredSerialProperties()), CArchiveException::none);
    EXPECT_EQ(loaded.GetGeneralProperties()->m_strVersion, "Line 7 settings");
    const std::vector<long long> held = {
        loaded.GetPortNumber(), loaded.GetBaudRate(),           loaded.IsParityEnabled(),
        loaded.GetParity(),     loaded.GetDataBits(),           loaded.GetStopBits(),
        loaded.GetMediaType(),  loaded.IsFlowControlEnabled(),  loaded.GetRTSControl(),
        loaded.GetDTRControl(), loaded.GetRTSCTSDelay(),        loaded.GetRetryCount(),
        loaded.GetTimeout(),    loaded.GetRequestMessageDelay()};
    EXPECT_EQ(held, (std::vector<long long>{7, 19200, 1, 1, 7, 2, 1, 1, 2, 0, 15, 4, 1500, 20}));

    // A packed record: the port number given, its seconds in milliseconds if
    // they fit in 32 bits; without a record, nothing changes.
    const Bytes before = PropertiesOf(driver);
    EXPECT_FALSE(driver.PackedFileConvertProperties(nullptr, 4));
    EXPECT_EQ(PropertiesOf(driver), before);
    CPortData packed;
    packed.m_PortProperties.m_dwBaudRate = 4800;
    packed.m_TimingProperties.m_dwTimeout = 4294968;  // seconds: too many ms for 32 bits
    EXPECT_FALSE(driver.PackedFileConvertProperties(&packed, 4));
    EXPECT_EQ(PropertiesOf(driver), before);
    packed.m_TimingProperties.m_dwTimeout = 4294967;  // the most that fits
    EXPECT_TRUE(driver.PackedFileConvertProperties(&packed, 4));
    EXPECT_EQ(driver.GetTimeout(), 4294967000u);
    EXPECT_EQ(driver.GetPortNumber(), 4);
    EXPECT_EQ(driver.GetBaudRate(), 4800u);
}

TEST(DriverProperties, BaseAndNetworkDriversKeepTheirOwnRecordsOnly) {
    // The base class has the general record only: an archive loads it,
    // string lists are not taken, a packed record brings nothing.
    CProtocol base;
    const Bytes general = StoreWith([](CArchive& ar) {
        Header(ar, "General");
        ar << CString("Table 3");
    });
    ASSERT_EQ(LoadProperties(base, general), CArchiveException::none);
    CStringList lines = ListOf({"General.Version=other"});
    EXPECT_FALSE(base.UpdateFromStringList(&lines));
    EXPECT_EQ(lines.GetCount(), 1);
    CPortData packed;
    EXPECT_TRUE(base.PackedFileConvertProperties(&packed, 3));
    EXPECT_EQ(PropertiesOf(base), general);

    // A network driver adds its time-out, and has no packed record either.
    CNetworkProtocol network;
    ASSERT_EQ(LoadProperties(network, StoredNetworkProperties()), CArchiveException::none);
    EXPECT_EQ(network.GetGeneralProperties()->m_strVersion, "Ring 2");
    EXPECT_EQ(network.GetTimeout(), 1200u);
    EXPECT_EQ(PropertiesOf(network), StoredNetworkProperties());
    lines = ListOf({"TimeoutOnly.Timeout=300"});
    ASSERT_TRUE(network.UpdateFromStringList(&lines));
    EXPECT_TRUE(lines.IsEmpty());
    EXPECT_TRUE(network.PackedFileConvertProperties(&packed, 4));
    EXPECT_EQ(network.GetTimeout(), 300u);
    EXPECT_EQ(network.GetPortNumber(), 0xFFFF);
    EXPECT_FALSE(network.UpdateFromStringList(nullptr));
}

TEST(DriverProperties, ArchivesOfAnotherDriverOrCutShortFailAndChangeNothing) {
    CSerialProtocol serial;
    serial.SetTimingDefaults(3, 2, 900);
    CNetworkProtocol network;
    const Bytes serialBefore = PropertiesOf(serial);
    const Bytes networkBefore = PropertiesOf(network);

    // Both start with a general record, which loads; the next one is not
    // what the other driver expects, and the general record goes back.
    EXPECT_EQ(LoadProperties(network, StoredSerialProperties()), CArchiveException::badClass);
    EXPECT_EQ(LoadProperties(serial, StoredNetworkProperties()), CArchiveException::badClass);
    // Each driver's own archive, cut short anywhere.
    for (auto [pDriver, whole] : {std::pair<CProtocol*, Bytes>{&network, StoredNetworkProperties()},
                                  {&serial, StoredSerialProperties()}}) {
        for (size_t n = 0; n < whole.size(); ++n) {
            const Bytes cut(whole.begin(), whole.begin() + static_cast<long>(n));
            EXPECT_EQ(LoadProperties(*pDriver, cut), CArchiveException::endOfFile) << n;
        }
    }
    EXPECT_EQ(PropertiesOf(serial), serialBefore);
    EXPECT_EQ(PropertiesOf(network), networkBefore);
}

TEST(DriverProperties, SerialStringListUpdatesAllRecordsOrNone) {
    CSerialProtocol source;
    source.SetTimingDefaults(7, 2, 333);
    source.SetFlowDefaults(TRUE, 15, CFlowProperties::DTR_DISABLE, CFlowProperties::RTS_TOGGLE);
    CStringList dumped;
    ASSERT_TRUE(source.DumpToStringList(dumped));
    dumped.AddTail(CString("Other.Setting=1"));
    CSerialProtocol copy;
    ASSERT_TRUE(copy.UpdateFromStringList(&dumped));
    EXPECT_EQ(Lines(dumped), std::vector<CString>{"Other.Setting=1"});
    EXPECT_EQ(PropertiesOf(copy), PropertiesOf(source));

    // A failure in any record leaves every record and the list as they were.
    const std::vector<std::vector<const char*>> failing = {
        {"Port.BaudRate=fast", "Flow.RTSCTSDelay=5", "Timing.Timeout=5"},
        {"Port.BaudRate=2400", "Flow.RTSControl=4", "Timing.Timeout=5"},
        {"Port.BaudRate=2400", "Flow.RTSCTSDelay=5", "Timing.Timeout=-5"},
        {"Port.BaudRate=2400", "Flow.RTSCTSDelay=5", "Timing.Timeout=5", "garbage"},
        {"Port.BaudRate=2400", "Flow.RTSCTSDelay=5"},  // no timing lines
        {"Port.BaudRate=2400", "Timing.Timeout=5"},    // no flow lines
    };
    const Bytes before = PropertiesOf(copy);
    for (const auto& lines : failing) {
        CStringList list = ListOf(lines);
        EXPECT_FALSE(copy.UpdateFromStringList(&list)) << lines.back();
        EXPECT_EQ(PropertiesOf(copy), before) << lines.back();
        EXPECT_EQ(Lines(list), Lines(ListOf(lines))) << lines.back();
    }
    EXPECT_FALSE(copy.UpdateFromStringList(nullptr));
}

TEST(ProtocolBase, SheetIsNamedHasAPagePerRecordAndShowsOnlyThroughTheHost) {
    CSerialProtocol driver;
    EXPECT_EQ(driver.GetPropertySheet()->GetCaption(), "Protocol Properties");
    EXPECT_EQ(driver.GetGeneralProperties()->m_strVersion,
              "Protocol version string not implemented!");
    EXPECT_EQ(CNetworkProtocol().GetPropertySheet()->GetPageCount(), 2);  // general, time-out
    EXPECT_EQ(driver.DisplayModalPropertySheet(), 2009u);
    // The host edits a record through its page: general, port, flow, timing.
    int pages = 0;
    AfxSetPropertySheetHandler([&](CPropertySheet& sheet) {
        pages = sheet.GetPageCount();
        auto* pPage = dynamic_cast<CQZPropertyPage*>(sheet.GetPage(1));
        CStringList edit = ListOf({"Port.BaudRate=57600"});
        return pPage && pPage->GetRecord()->UpdateFromStringList(&edit) ? IDOK : IDCANCEL;
    });
    EXPECT_EQ(driver.DisplayModalPropertySheet(), 0u);
    AfxSetPropertySheetHandler(nullptr);
    EXPECT_EQ(pages, 4);
    EXPECT_EQ(driver.GetBaudRate(), 57600u);
}

TEST(ProtocolBase, StepsAndValidatesAddressesCopyingAnEmptyOneFirstAndHasTheDataTable) {
    CProtocol p;
    CRemoteAddress current("D0100", kRemoteFormat, "U1U2");
    CRemoteAddress next;
    EXPECT_EQ(p.ValidateRemoteAddress(&current), static_cast<DWORD>(EDF_OK));
    EXPECT_EQ(p.GetNextRemoteAddress(&current, next), static_cast<DWORD>(EDF_OK));
    EXPECT_EQ(next.m_strAddress, "D0101");

    CRemoteAddress fixed("", "[]", nullptr);
    CRemoteAddress target("X", kRemoteFormat, nullptr);
    EXPECT_EQ(p.GetNextRemoteAddress(&fixed, target), 2008u);
    EXPECT_EQ(target.m_strAddress, "") << "the empty address was copied before the step test";
    EXPECT_FALSE(target.IsAutoIncrementable());
    EXPECT_EQ(p.GetNextDeviceAddress(&fixed, target), 0u);
    EXPECT_EQ(p.GetNextRemoteAddress(nullptr, target), 2008u);
    CRemoteAddress bad("Q0100", kRemoteFormat, "U1U2");
    EXPECT_EQ(p.ValidateDeviceAddress(&bad), static_cast<DWORD>(EDF_NOT_A_KEYWORD));
    EXPECT_NE(p.ValidateRemoteAddress(nullptr), 0u);

    // Its one table.
    CStringArray tables;
    tables.Add("Existing");
    p.GetProtocolTables(&tables);
    ASSERT_EQ(tables.GetSize(), 2);
    EXPECT_EQ(tables[1], "Data");
    EXPECT_EQ(p.GetTableFromAddress(nullptr), "Data");
}

TEST(DriverPlugins, ADriverAndItsClassesKeepTheirTypesInTheHostUntilUnloaded) {
    CDriverLibrary library;
    ASSERT_TRUE(library.Load(KELVARA_TEST_DRIVER_PLUGIN)) << library.GetLastError().GetString();
    EXPECT_EQ(library.GetDriverName(), "Loopback test driver");
    {
        std::unique_ptr<CProtocol> driver(library.CreateDriver());
        ASSERT_NE(driver, nullptr);
        EXPECT_NE(dynamic_cast<CSerialProtocol*>(driver.get()), nullptr);
        EXPECT_EQ(driver->GetVersionInfo(), "Loopback driver 1.0");
    }

    // A record of the plug-in's own class reads back whole; cut short, the
    // library's exception leaves the plug-in's Serialize and is caught here.
    const CRuntimeClass* pClass = CRuntimeClass::FromName("CLoopbackRecord");
    ASSERT_NE(pClass, nullptr);
    std::unique_ptr<CObject> record(pClass->CreateObject());
    ASSERT_NE(record, nullptr);
    const Bytes whole = StoreWith([&](CArchive& ar) { ar << record.get(); });
    CObject* pLoaded = nullptr;
    kelvara_test::LoadFrom(whole, [&](CArchive& ar) { ar >> pLoaded; });
    std::unique_ptr<CObject> loaded(pLoaded);
    ASSERT_NE(loaded, nullptr);
    const CObject& rLoaded = *loaded;
    const CObject& rRecord = *record;
    EXPECT_EQ(typeid(rLoaded), typeid(rRecord));
    const Bytes cut(whole.begin(), whole.end() - 1);
    EXPECT_THROW(kelvara_test::LoadFrom(cut, [&](CArchive& ar) { ar >> pLoaded; }),
                 CArchiveException);
    record.reset();
    loaded.reset();

    // Unloaded, the class is gone: its archive loads as an unknown class
    // rather than calling code that is gone.
    library.Unload();
    EXPECT_FALSE(library.IsLoaded());
    EXPECT_EQ(CRuntimeClass::FromName("CLoopbackRecord"), nullptr);
    EXPECT_THROW(kelvara_test::LoadFrom(whole, [&](CArchive& ar) { ar >> pLoaded; }),
                 CArchiveException);
}

TEST(DriverPlugins, RefuseFilesThatAreNotDriversOfThisInterface) {
    struct Refused {
        const char* pszPath;
        const char* pszReason;  // a part of the reason given
    };
    for (const Refused& refused : {
             Refused{"/nonexistent/libnothing.so", "libnothing.so"},
             Refused{nullptr, "no path given"},
             Refused{KELVARA_TEST_LIBRARY, "is not a driver plug-in"},
             Refused{KELVARA_TEST_OTHER_INTERFACE_PLUGIN, "was built for driver interface 2, "},
         }) {
        CDriverLibrary library;
        EXPECT_FALSE(library.Load(refused.pszPath));
        EXPECT_NE(library.GetLastError().str().find(refused.pszReason), std::string::npos)
            << library.GetLastError().GetString();
        EXPECT_FALSE(library.IsLoaded());
        EXPECT_EQ(library.CreateDriver(), nullptr);
    }
}

}  // namespace
