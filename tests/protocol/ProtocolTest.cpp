// The protocol base classes used as a host uses a driver: load its
// properties three ways (archive, string lines, packed record), start,
// transfer blocks, read statistics, stop; and driver plug-ins.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include "kelvara/Kelvara.h"
#include "kelvara/platform/FakeSerialDevice.h"
#include "support/ArchiveBytes.h"
#include "support/Wait.h"

namespace {

using kelvara::platform::FakeSerialDevice;
using kelvara_test::Bytes;
using kelvara_test::StoreWith;

constexpr const char* kRemoteFormat = "[T1(Area) D M][+1N4D(Offset) 0 to 9999]";

// A serial driver as a driver author writes one: StartProtocol opens its
// COM port with the driver's records, and each block is one exchange: the
// request 'R', offset (two bytes, high first), count; the reply the points.
class CTestSerialDriver : public CSerialProtocol {
public:
    CTestSerialDriver() : CSerialProtocol("", kRemoteFormat) {}
    ~CTestSerialDriver() override { StopProtocol(); }
    DWORD StartProtocol() override {
        DWORD dwResult = CSerialProtocol::StartProtocol();
        if (dwResult == SE_NO_ERROR) {
            m_pPort = std::make_unique<CComPort>(&m_PortProperties, &m_FlowProperties,
                                                 &m_TimingProperties, this);
            dwResult = m_pPort->Open();
        }
        return dwResult == SE_NO_ERROR ? m_pPort->Init() : dwResult;
    }
    DWORD StopProtocol() override {
        if (m_pPort) {
            m_pPort->Close();
            m_pPort.reset();
        }
        return CSerialProtocol::StopProtocol();
    }
    DWORD TransferData(CComBlock* pBlock) override {
        CString strOffset;
        pBlock->GetFirstAddress()->Field("Offset", strOffset);
        const auto dwOffset = static_cast<DWORD>(std::strtoul(strOffset, nullptr, 10));
        CCombuf request;
        for (const DWORD dw : {DWORD{'R'}, dwOffset >> 8, dwOffset, pBlock->GetPointCount()}) {
            request += static_cast<BYTE>(dw);
        }
        DWORD dwResult = m_pPort->Write(&request, GetCommsStats());
        CCombuf reply;
        if (dwResult == SE_NO_ERROR) {
            dwResult = m_pPort->Read(&reply, pBlock->GetPointCount(), GetCommsStats());
        }
        if (dwResult == SE_NO_ERROR) {
            CByteArray data;
            data.Append(reply);
            pBlock->SetBlockData(&data);
            pBlock->SetBlockGood();
        } else {
            pBlock->SetStandardErrorCode(dwResult, GetCommsStats());
            pBlock->SetBlockBad();
        }
        pBlock->SetComTime(10);
        CSerialProtocol::TransferData(pBlock);
        return dwResult;
    }

private:
    std::unique_ptr<CComPort> m_pPort;
};

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
    try {
        kelvara_test::LoadFrom(bytes, [&](CArchive& ar) { driver.SerializeProperties(ar); });
    } catch (const CArchiveException& e) {
        return e.m_cause;
    }
    return CArchiveException::none;
}

// A block as a host builds it, from an address the driver has checked.
std::unique_ptr<CComBlock> Block(CProtocol& driver, const char* pszAddress, DWORD dwPoints,
                                 const char* pszFormat = kRemoteFormat) {
    CRemoteAddress address(pszAddress, pszFormat, nullptr);
    EXPECT_EQ(driver.ValidateRemoteAddress(&address), static_cast<DWORD>(EDF_OK)) << pszAddress;
    return std::make_unique<CComBlock>(&address, 17, 1, dwPoints, 1);
}

TEST(ProtocolBase, StartsOnceStopsOnceAndCountsEveryBlockItIsGiven) {
    CProtocol driver;
    EXPECT_EQ(driver.StopProtocol(), 2007u);
    auto early = Block(driver, "D0000", 1);  // counted although not started
    early->SetComTime(10);
    EXPECT_EQ(driver.TransferData(early.get()), 0u);
    ASSERT_EQ(driver.StartProtocol(), 0u);
    EXPECT_EQ(driver.StartProtocol(), 2006u);
    EXPECT_TRUE(driver.IsStarted());
    for (DWORD dwPoints : {4, 2}) {
        auto block = Block(driver, "D0010", dwPoints);
        block->SetComTime(10);
        EXPECT_EQ(driver.TransferData(block.get()), 0u);
    }
    auto device = Block(driver, "D0010", 1);  // no com time
    EXPECT_EQ(driver.TransferDeviceData(device.get()), 2000u);
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

// The serial driver's port is COM7, played by a scripted device.
class SerialHost : public ::testing::Test {
protected:
    SerialHost() {
        kelvara::platform::SetSerialDeviceOpener(device->Opener());
        CComPort::MapDevice(7, "/dev/fake");
        // Answers a request 'R', offset, count below offset 200 with the
        // count bytes offset, offset + 1, ...; stays silent above.
        device->SetResponder([](const std::vector<std::uint8_t>& request) {
            std::vector<std::uint8_t> reply;
            const unsigned offset = request.size() == 4 ? request[1] << 8 | request[2] : 9999;
            for (unsigned i = 0; offset < 200 && i < request[3]; ++i) {
                reply.push_back(static_cast<std::uint8_t>(offset + i));
            }
            return reply;
        });
    }
    ~SerialHost() override {
        CComPort::MapDevice(7, nullptr);
        kelvara::platform::SetSerialDeviceOpener(nullptr);
    }

    std::shared_ptr<FakeSerialDevice> device = std::make_shared<FakeSerialDevice>();
};

TEST_F(SerialHost, SerialDriverRunsItsLineWithTheLoadedProperties) {
    CTestSerialDriver driver;
    ASSERT_EQ(LoadProperties(driver, StoredSerialProperties()), CArchiveException::none);
    // String lines change what they name, record by record.
    CStringList lines = ListOf({"Port.BaudRate=38400", "Flow.FlowControlEnabled=0",
                                "Timing.Timeout=250", "Other.Setting=1"});
    ASSERT_TRUE(driver.UpdateFromStringList(&lines));
    EXPECT_EQ(Lines(lines), std::vector<CString>{"Other.Setting=1"});

    driver.ActivateCommsLog(true);
    ASSERT_EQ(driver.StartProtocol(), 0u);
    EXPECT_EQ(driver.StartProtocol(), 2006u);
    EXPECT_EQ(device->CallCount(FakeSerialDevice::Call::Open), 1) << "a restart opens nothing";
    auto good = Block(driver, "D0100", 4);
    EXPECT_EQ(driver.TransferData(good.get()), 0u);
    EXPECT_TRUE(good->IsBlockGood());
    CByteArray data;
    good->GetBlockData(data);
    EXPECT_EQ(std::vector<BYTE>(data.begin(), data.end()), (std::vector<BYTE>{100, 101, 102, 103}));
    auto silent = Block(driver, "D0300", 2);
    EXPECT_EQ(driver.TransferData(silent.get()), 2001u);
    EXPECT_FALSE(silent->IsBlockGood());
    EXPECT_EQ(driver.StopProtocol(), 0u);

    EXPECT_FALSE(device->m_bOpen);
    EXPECT_EQ(device->m_attributes.dwBaudRate, 38400u);
    EXPECT_EQ(device->m_attributes.byDataBits, 7);
    EXPECT_TRUE(device->m_attributes.bTwoStopBits);
    EXPECT_EQ(device->m_timeouts.dwReadTotalConstant, 250u);
    EXPECT_EQ(testsupport::DrainCommsLog(driver),
              (std::vector<std::string>{"TXR.d.", "RXdefg", "TXR.,.", "NR"}));
    const std::vector<DWORD> counted = {
        driver.GetBlockCount(),          driver.GetTotalCommsTime(),
        driver.GetTotalBytesOut(),       driver.GetTotalBytesIn(),
        driver.GetNumberTimeoutErrors(), driver.GetNumberStandardErrors()};
    EXPECT_EQ(counted, (std::vector<DWORD>{2, 20, 8, 4, 1, 1}));
    EXPECT_EQ(driver.GetLastErrorString(), "Operation timed out");
}

TEST(DriverProperties, SerialSettersGettersAndTheArchiveAgreeFieldByField) {
    CTestSerialDriver driver;
    driver.GetGeneralProperties()->m_strVersion = "Line 7 settings";
    driver.SetPortDefaults(TRUE, 19200, CPortProperties::PARITY_EVEN, CPortProperties::STOPBITS_TWO,
                           7, 7, CPortProperties::MEDIA_RS485);
    driver.SetFlowDefaults(TRUE, 15, CFlowProperties::DTR_DISABLE, CFlowProperties::RTS_HANDSHAKE);
    driver.SetTimingDefaults(20, 4, 1500);
    EXPECT_EQ(PropertiesOf(driver), StoredSerialProperties());

    CTestSerialDriver loaded;
    ASSERT_EQ(LoadProperties(loaded, StoredSerialProperties()), CArchiveException::none);
    EXPECT_EQ(loaded.GetGeneralProperties()->m_strVersion, "Line 7 settings");
    const std::vector<long long> held = {
        loaded.GetPortNumber(), loaded.GetBaudRate(),           loaded.IsParityEnabled(),
        loaded.GetParity(),     loaded.GetDataBits(),           loaded.GetStopBits(),
        loaded.GetMediaType(),  loaded.IsFlowControlEnabled(),  loaded.GetRTSControl(),
        loaded.GetDTRControl(), loaded.GetRTSCTSDelay(),        loaded.GetRetryCount(),
        loaded.GetTimeout(),    loaded.GetRequestMessageDelay()};
    EXPECT_EQ(held, (std::vector<long long>{7, 19200, 1, 1, 7, 2, 1, 1, 2, 0, 15, 4, 1500, 20}));
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
    EXPECT_EQ(PropertiesOf(base), general);
    CStringList lines = ListOf({"General.Version=other"});
    EXPECT_FALSE(base.UpdateFromStringList(&lines));
    EXPECT_EQ(lines.GetCount(), 1);
    CPortData packed;
    EXPECT_TRUE(base.PackedFileConvertProperties(&packed, 3));
    EXPECT_EQ(base.GetPortNumber(), 0xFFFF);
    EXPECT_EQ(PropertiesOf(base), general);

    // A network driver adds its time-out, and has no packed record either.
    CNetworkProtocol network;
    network.SetTimeoutDefaults(750);
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
    CTestSerialDriver serial;
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
    CTestSerialDriver source;
    source.SetTimingDefaults(7, 2, 333);
    source.SetFlowDefaults(TRUE, 15, CFlowProperties::DTR_DISABLE, CFlowProperties::RTS_TOGGLE);
    CStringList dumped;
    ASSERT_TRUE(source.DumpToStringList(dumped));
    CTestSerialDriver copy;
    ASSERT_TRUE(copy.UpdateFromStringList(&dumped));
    EXPECT_TRUE(dumped.IsEmpty());
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

TEST(DriverProperties, PackedRecordGivesThePortNumberAndSecondsThatFitInMilliseconds) {
    CTestSerialDriver driver;
    driver.SetTimingDefaults(0, 3, 1500);
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

TEST(ProtocolBase, SheetIsNamedHasAPagePerRecordAndShowsOnlyThroughTheHost) {
    CTestSerialDriver driver;
    EXPECT_EQ(driver.GetPropertySheet()->GetCaption(), "Protocol Properties");
    EXPECT_EQ(driver.GetGeneralProperties()->m_strVersion,
              "Protocol version string not implemented!");
    EXPECT_EQ(CNetworkProtocol().GetPropertySheet()->GetPageCount(), 2);  // general, time-out
    EXPECT_EQ(driver.DisplayModalPropertySheet(), 2009u);
    int pages = 0;
    AfxSetPropertySheetHandler([&](CPropertySheet& sheet) {
        pages = sheet.GetPageCount();
        return IDCANCEL;
    });
    EXPECT_EQ(driver.DisplayModalPropertySheet(), 0u);
    AfxSetPropertySheetHandler(nullptr);
    EXPECT_EQ(pages, 4);  // general, port, flow, timing
}

TEST(ProtocolBase, StepsValidatesAndCopiesAnEmptyAddressFirst) {
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
}

TEST(ProtocolBase, AppendsTheDataTableLogsThroughTheLogLibraryAndTakesNullArguments) {
    CProtocol p;
    CStringArray tables;
    tables.Add("Existing");
    p.GetProtocolTables(&tables);
    ASSERT_EQ(tables.GetSize(), 2);
    EXPECT_EQ(tables[1], "Data");
    EXPECT_EQ(p.GetTableFromAddress(nullptr), "Data");

    std::vector<std::pair<DWORD, std::string>> logged;
    QZSetLogSink([&](DWORD dwLevel, const char* text) { logged.emplace_back(dwLevel, text); });
    CString text("COM3 : failed");
    p.SendLogMessage(&text, 1);
    p.SendLogMessage(nullptr, 2);
    QZSetLogSink(nullptr);
    EXPECT_EQ(logged, (std::vector<std::pair<DWORD, std::string>>{{1, "COM3 : failed"}, {2, ""}}));

    p.SetPortName(nullptr);
    EXPECT_EQ(p.GetPortName(), "");
    EXPECT_EQ(p.LoadSubProtocol(nullptr), 0u);
}

TEST(DriverPlugins, ADriverAndItsClassesKeepTheirTypesInTheHostUntilUnloaded) {
    CDriverLibrary library;
    ASSERT_TRUE(library.Load(KELVARA_TEST_DRIVER_PLUGIN)) << library.GetLastError().GetString();
    EXPECT_EQ(library.GetDriverName(), "Loopback test driver");
    {
        std::unique_ptr<CProtocol> driver(library.CreateDriver());
        ASSERT_NE(driver, nullptr);
        EXPECT_NE(dynamic_cast<CSerialProtocol*>(driver.get()), nullptr);
        EXPECT_EQ(dynamic_cast<CNetworkProtocol*>(driver.get()), nullptr);
        EXPECT_TRUE(driver->IsKindOf(RUNTIME_CLASS(CQZObject)));
        EXPECT_EQ(driver->GetVersionInfo(), "Loopback driver 1.0");
        EXPECT_EQ(driver->StartProtocol(), 0u);
        auto block = Block(*driver, "R0010", 4, "[T1(Area) R][+1N4D(Offset) 0 to 9999]");
        EXPECT_EQ(driver->TransferData(block.get()), 0u);
        EXPECT_EQ(block->GetBufferSize(), 4);
        EXPECT_EQ(driver->GetTotalCommsTime(), 3u);
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
