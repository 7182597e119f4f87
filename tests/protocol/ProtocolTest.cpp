// The protocol base classes used as a host uses a driver: construct, load
// properties, start, transfer, read statistics, stop; and driver plug-ins.
#include <gtest/gtest.h>

#include <memory>

#include "kelvara/Kelvara.h"
#include "support/ArchiveBytes.h"

namespace {

using kelvara_test::Bytes;
using kelvara_test::LoadFrom;
using kelvara_test::StoreWith;

constexpr const char* kRemoteFormat = "[T1(Area) D M][+1N4D(Offset) 0 to 9999]";

class CTestSerialDriver : public CSerialProtocol {
public:
    CTestSerialDriver() : CSerialProtocol("", kRemoteFormat) {}
    CString GetVersionInfo() override { return "Test serial 2.1"; }
};

class CTestNetworkDriver : public CNetworkProtocol {
public:
    CTestNetworkDriver() { SetTimeoutDefaults(750); }
};

TEST(ProtocolLifecycle, StartsOnceAndStopsOnce) {
    CProtocol p;
    EXPECT_EQ(p.StopProtocol(), 2007u);
    EXPECT_EQ(p.StartProtocol(), 0u);
    EXPECT_EQ(p.StartProtocol(), 2006u);
    EXPECT_TRUE(p.IsStarted());
    EXPECT_EQ(p.StopProtocol(), 0u);
    EXPECT_EQ(p.StopProtocol(), 2007u);
}

TEST(ProtocolConstruction, NamesTheSheetAndStoresTheBaseVersionText) {
    CTestSerialDriver driver;
    EXPECT_EQ(driver.GetPropertySheet()->GetCaption(), "Protocol Properties");
    EXPECT_EQ(driver.GetGeneralProperties()->m_strVersion,
              "Protocol version string not implemented!");
    EXPECT_EQ(driver.GetVersionInfo(), "Test serial 2.1");
    // General, port, flow and timing pages.
    EXPECT_EQ(driver.GetPropertySheet()->GetPageCount(), 4);
    CTestNetworkDriver network;
    EXPECT_EQ(network.GetPropertySheet()->GetPageCount(), 2);
    EXPECT_EQ(network.GetPortNumber(), 0xFFFF);
    EXPECT_EQ(network.GetTimeout(), 750u);
    EXPECT_EQ(CProtocol().GetPortNumber(), 0xFFFF);
}

TEST(ProtocolTransfers, CountBlocksAndTheirTimeInEitherState) {
    CProtocol p;
    CComBlock a;
    a.SetComTime(40);
    CComBlock b;
    b.SetComTime(60);
    EXPECT_EQ(p.TransferData(&a), 0u);
    EXPECT_EQ(p.TransferDeviceData(&b), 2000u);
    EXPECT_EQ(p.GetBlockCount(), 2u);
    EXPECT_EQ(p.GetTotalCommsTime(), 100u);
    EXPECT_EQ(p.GetAveBlockExecutionTime(), 50u);
    EXPECT_EQ(p.GetBlocksPerSecond(), 20u);
    EXPECT_EQ(p.TransferData(nullptr), 2005u);
    EXPECT_EQ(p.GetBlockCount(), 2u);
    p.ResetStatistics();
    EXPECT_EQ(p.GetBlockCount(), 0u);
}

TEST(ProtocolAddresses, StepValidateAndCopyAnEmptyAddressFirst) {
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
}

TEST(ProtocolTables, AppendTheDataTable) {
    CProtocol p;
    CStringArray tables;
    tables.Add("Existing");
    p.GetProtocolTables(&tables);
    ASSERT_EQ(tables.GetSize(), 2);
    EXPECT_EQ(tables[1], "Data");
    EXPECT_EQ(p.GetTableFromAddress(nullptr), "Data");
}

TEST(ProtocolPropertySheet, FailsWith2009WhenNotShown) {
    CTestSerialDriver driver;
    EXPECT_EQ(driver.DisplayModalPropertySheet(), 2009u);
    int pages = 0;
    AfxSetPropertySheetHandler([&](CPropertySheet& sheet) {
        pages = sheet.GetPageCount();
        return IDCANCEL;
    });
    EXPECT_EQ(driver.DisplayModalPropertySheet(), 0u);
    EXPECT_EQ(pages, 4);
    AfxSetPropertySheetHandler(nullptr);
}

TEST(ProtocolLogging, SendsTextsToTheLogLibrary) {
    CString received;
    DWORD level = 0;
    QZSetLogSink([&](DWORD dwLevel, const char* text) {
        level = dwLevel;
        received = text;
    });
    CProtocol p;
    CString text("COM3 : failed");
    p.SendLogMessage(&text, 1);
    QZSetLogSink(nullptr);
    EXPECT_EQ(level, 1u);
    EXPECT_EQ(received, "COM3 : failed");
}

TEST(ProtocolNullArguments, GiveDefinedResults) {
    CProtocol p;
    p.SetPortName(nullptr);
    EXPECT_EQ(p.GetPortName(), "");
    EXPECT_EQ(p.LoadSubProtocol(nullptr), 0u);
    EXPECT_NE(p.ValidateRemoteAddress(nullptr), 0u);
    CTestSerialDriver driver;
    EXPECT_FALSE(driver.UpdateFromStringList(nullptr));
    EXPECT_TRUE(driver.PackedFileConvertProperties(nullptr, 4));
    EXPECT_EQ(driver.GetPortNumber(), 4);
}

TEST(SerialProperties, DefaultsSettersAndGettersAgree) {
    CTestSerialDriver driver;
    driver.SetPortDefaults(TRUE, 19200, CPortProperties::PARITY_ODD, CPortProperties::STOPBITS_TWO,
                           7, 5, CPortProperties::MEDIA_RS485);
    EXPECT_EQ(driver.GetPortNumber(), 5);
    EXPECT_EQ(driver.GetBaudRate(), 19200u);
    EXPECT_EQ(driver.GetParity(), CPortProperties::PARITY_ODD);
    EXPECT_EQ(driver.GetStopBits(), CPortProperties::STOPBITS_TWO);
    EXPECT_EQ(driver.GetDataBits(), 7);
    EXPECT_TRUE(driver.IsParityEnabled());
    EXPECT_EQ(driver.GetMediaType(), CPortProperties::MEDIA_RS485);
    driver.SetFlowDefaults(TRUE, 15, CFlowProperties::DTR_DISABLE, CFlowProperties::RTS_TOGGLE);
    EXPECT_EQ(driver.GetRTSCTSDelay(), 15u);
    EXPECT_EQ(driver.GetDTRControl(), CFlowProperties::DTR_DISABLE);
    EXPECT_EQ(driver.GetRTSControl(), CFlowProperties::RTS_TOGGLE);
    driver.SetTimingDefaults(20, 4, 1500);
    EXPECT_EQ(driver.GetRequestMessageDelay(), 20u);
    EXPECT_EQ(driver.GetRetryCount(), 4u);
    EXPECT_EQ(driver.GetTimeout(), 1500u);
}

TEST(SerialProperties, ArchiveHoldsGeneralPortFlowTimingInOrder) {
    CTestSerialDriver source;
    source.SetPortDefaults(FALSE, 38400, CPortProperties::PARITY_NONE,
                           CPortProperties::STOPBITS_ONE, 8, 3, CPortProperties::MEDIA_RS232);
    source.SetTimingDefaults(0, 1, 900);
    const Bytes stored = StoreWith([&](CArchive& ar) { source.SerializeProperties(ar); });

    // The same bytes, record by record, from the records themselves.
    CGeneralProperties general;
    general.m_strVersion = "Protocol version string not implemented!";
    const Bytes expected = StoreWith([&](CArchive& ar) {
        general.Serialize(ar);
        source.GetPortProperties()->Serialize(ar);
        source.GetFlowProperties()->Serialize(ar);
        source.GetTimingProperties()->Serialize(ar);
    });
    EXPECT_EQ(stored, expected);

    CTestSerialDriver loaded;
    LoadFrom(stored, [&](CArchive& ar) { loaded.SerializeProperties(ar); });
    EXPECT_EQ(loaded.GetBaudRate(), 38400u);
    EXPECT_EQ(loaded.GetPortNumber(), 3);
    EXPECT_EQ(loaded.GetTimeout(), 900u);
}

TEST(SerialProperties, TruncatedArchiveLeavesEverySettingAsItWas) {
    CTestSerialDriver source;
    source.SetTimingDefaults(0, 9, 4321);
    source.SetPortDefaults(FALSE, 1200, CPortProperties::PARITY_NONE, CPortProperties::STOPBITS_ONE,
                           8, 9, CPortProperties::MEDIA_RS232);
    Bytes stored = StoreWith([&](CArchive& ar) { source.SerializeProperties(ar); });
    stored.resize(stored.size() - 2);
    CTestSerialDriver target;
    LoadFrom(stored, [&](CArchive& ar) {
        EXPECT_THROW(target.SerializeProperties(ar), CArchiveException);
    });
    EXPECT_EQ(target.GetBaudRate(), 9600u);
    EXPECT_EQ(target.GetPortNumber(), 1);
    EXPECT_EQ(target.GetTimeout(), 1000u);

    // A network driver's archive is not a serial driver's.
    CTestNetworkDriver network;
    const Bytes other = StoreWith([&](CArchive& ar) { network.SerializeProperties(ar); });
    LoadFrom(other, [&](CArchive& ar) {
        EXPECT_THROW(target.SerializeProperties(ar), CArchiveException);
    });
    EXPECT_EQ(target.GetBaudRate(), 9600u);
}

TEST(SerialProperties, StringListRoundTripStopsAtTheFirstFailure) {
    CTestSerialDriver source;
    source.SetTimingDefaults(7, 2, 333);
    CStringList list;
    ASSERT_TRUE(source.DumpToStringList(list));
    CTestSerialDriver target;
    ASSERT_TRUE(target.UpdateFromStringList(&list));
    EXPECT_EQ(target.GetTimeout(), 333u);
    EXPECT_TRUE(list.IsEmpty());

    CStringList broken;
    source.DumpToStringList(broken);
    broken.SetAt(broken.GetHeadPosition(), "Port.BaudRate=fast");
    CTestSerialDriver untouched;
    EXPECT_FALSE(untouched.UpdateFromStringList(&broken));
    EXPECT_EQ(untouched.GetTimeout(), 1000u) << "flow and timing were not reached";
}

TEST(SerialProperties, PackedRecordTimeOutBecomesMilliseconds) {
    CPortData packed;
    packed.m_TimingProperties.m_dwTimeout = 3;
    packed.m_PortProperties.m_wPortNumber = 8;
    packed.m_PortProperties.m_dwBaudRate = 4800;
    CTestSerialDriver driver;
    EXPECT_TRUE(driver.PackedFileConvertProperties(&packed, 2));
    EXPECT_EQ(driver.GetTimeout(), 3000u);
    EXPECT_EQ(driver.GetPortNumber(), 2);
    EXPECT_EQ(driver.GetBaudRate(), 4800u);
}

TEST(NetworkProtocolHooks, DefaultsMatchIdZeroAndBuildNothing) {
    CTestNetworkDriver driver;
    CCombuf packet;
    packet.Add(0x42);
    EXPECT_EQ(driver.GetBlockIdFromPacket(&packet), 0u);
    EXPECT_EQ(driver.GetDataOffsetInPacket(), 0u);
    CPollListItem item;
    EXPECT_EQ(driver.FormatTxMessage(&packet, &item, NETMSG_POLL_REQUEST), 0u);
    EXPECT_EQ(packet.GetSize(), 1);

    CStringList list;
    ASSERT_TRUE(driver.DumpToStringList(list));
    CTestNetworkDriver other;
    other.SetTimeoutDefaults(10);
    ASSERT_TRUE(other.UpdateFromStringList(&list));
    EXPECT_EQ(other.GetTimeout(), 750u);
}

TEST(DriverPlugins, LoadCreateAndRunADriverFromASharedObject) {
    CDriverLibrary library;
    ASSERT_TRUE(library.Load(KELVARA_TEST_DRIVER_PLUGIN)) << library.GetLastError().GetString();
    EXPECT_EQ(library.GetDriverName(), "Loopback test driver");
    std::unique_ptr<CProtocol> driver(library.CreateDriver());
    ASSERT_NE(driver, nullptr);
    EXPECT_TRUE(driver->IsSerialProtocol());
    EXPECT_EQ(driver->GetVersionInfo(), "Loopback driver 1.0");
    EXPECT_EQ(driver->StartProtocol(), 0u);
    CRemoteAddress address("R0010", "[T1(Area) R][+1N4D(Offset) 0 to 9999]", nullptr);
    ASSERT_EQ(driver->ValidateRemoteAddress(&address), static_cast<DWORD>(EDF_OK));
    CComBlock block(&address, 17, 1, 4, 1);
    EXPECT_EQ(driver->TransferData(&block), 0u);
    EXPECT_EQ(block.GetBufferSize(), 4);
    EXPECT_EQ(driver->GetBlockCount(), 1u);
    EXPECT_EQ(driver->StopProtocol(), 0u);
    driver.reset();
    library.Unload();
    EXPECT_FALSE(library.IsLoaded());
}

TEST(DriverPlugins, ClassesRegisteredByAPluginLeaveWithIt) {
    CDriverLibrary library;
    ASSERT_TRUE(library.Load(KELVARA_TEST_DRIVER_PLUGIN)) << library.GetLastError().GetString();
    const CRuntimeClass* pClass = CRuntimeClass::FromName("CLoopbackRecord");
    ASSERT_NE(pClass, nullptr);
    std::unique_ptr<CObject> record(pClass->CreateObject());
    EXPECT_NE(record, nullptr);
    record.reset();
    library.Unload();
    EXPECT_EQ(CRuntimeClass::FromName("CLoopbackRecord"), nullptr);

    // Stored while the plug-in was loaded, an archive of the class now
    // loads as an unknown class rather than calling code that is gone.
    CMemFile file;
    {
        CArchive ar(&file, CArchive::store);
        ar << static_cast<WORD>(0xFFFF) << static_cast<WORD>(1) << static_cast<WORD>(15);
        ar.Write("CLoopbackRecord", 15);
    }
    file.SeekToBegin();
    CArchive ar(&file, CArchive::load);
    CObject* pObject = nullptr;
    EXPECT_THROW(ar >> pObject, CArchiveException);
}

TEST(DriverPlugins, RefuseFilesThatAreNotDrivers) {
    CDriverLibrary library;
    EXPECT_FALSE(library.Load("/nonexistent/libnothing.so"));
    EXPECT_FALSE(library.GetLastError().IsEmpty());
    EXPECT_FALSE(library.Load(nullptr));
    EXPECT_EQ(library.CreateDriver(), nullptr);
}

}  // namespace
