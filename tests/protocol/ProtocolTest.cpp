// The protocol base classes used as a host uses a driver: load its
// properties three ways (archive, string lines, packed record), start,
// transfer blocks, read statistics, stop; and driver plug-ins.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
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

// The offset field of a block's first address.
DWORD OffsetOf(CComBlock* pBlock) {
    CString strOffset;
    pBlock->GetFirstAddress()->Field("Offset", strOffset);
    return static_cast<DWORD>(std::strtoul(strOffset, nullptr, 10));
}

// Ends a transfer as drivers do: the block good with its data or bad with
// its error, its com time set, and the base class counting it.
DWORD FinishTransfer(CProtocol& driver, CComBlock* pBlock, DWORD dwResult, CByteArray& data) {
    if (dwResult == SE_NO_ERROR) {
        pBlock->SetBlockData(&data);
        pBlock->SetBlockGood();
    } else {
        pBlock->SetStandardErrorCode(dwResult, driver.GetCommsStats());
        pBlock->SetBlockBad();
    }
    pBlock->SetComTime(10);
    driver.CProtocol::TransferData(pBlock);
    return dwResult;
}

// A driver straight on CProtocol, without a port: it answers reads from a
// table of 100 points in memory and refuses points beyond it with a NAK.
class CTestTableDriver : public CProtocol {
public:
    CTestTableDriver() : CProtocol("", kRemoteFormat) {}
    BOOL IsNoPortProtocol() override { return 1; }
    DWORD TransferData(CComBlock* pBlock) override {
        const DWORD dwFirst = OffsetOf(pBlock);
        CByteArray data;
        if (dwFirst + pBlock->GetPointCount() > 100) {
            return FinishTransfer(*this, pBlock, SE_NAK_RECEIVED, data);
        }
        for (DWORD i = 0; i < pBlock->GetPointCount(); ++i) {
            data.Add(static_cast<BYTE>(dwFirst + i));
        }
        return FinishTransfer(*this, pBlock, SE_NO_ERROR, data);
    }
};

// A serial driver as a driver author writes one: StartProtocol opens its
// COM port with the driver's records, and each block is one exchange: the
// request 'R', offset (two bytes, high first), count; the reply the points.
class CTestSerialDriver : public CSerialProtocol {
public:
    CTestSerialDriver() : CSerialProtocol("", kRemoteFormat) {}
    ~CTestSerialDriver() override { StopProtocol(); }
    BOOL IsSerialProtocol() override { return 1; }
    DWORD StartProtocol() override {
        DWORD dwResult = CSerialProtocol::StartProtocol();
        if (dwResult != SE_NO_ERROR) {
            return dwResult;
        }
        m_pPort = std::make_unique<CComPort>(&m_PortProperties, &m_FlowProperties,
                                             &m_TimingProperties, this);
        dwResult = m_pPort->Open();
        if (dwResult == SE_NO_ERROR) {
            dwResult = m_pPort->Init();
        }
        if (dwResult != SE_NO_ERROR) {
            StopProtocol();
        }
        return dwResult;
    }
    DWORD StopProtocol() override {
        if (m_pPort) {
            m_pPort->Close();
            m_pPort.reset();
        }
        return CSerialProtocol::StopProtocol();
    }
    DWORD TransferData(CComBlock* pBlock) override {
        if (!m_pPort) {
            return SE_PROTOCOL_NOT_STARTED;
        }
        const DWORD dwOffset = OffsetOf(pBlock);
        CCombuf request;
        request += static_cast<BYTE>('R');
        request += static_cast<BYTE>(dwOffset >> 8);
        request += static_cast<BYTE>(dwOffset);
        request += static_cast<BYTE>(pBlock->GetPointCount());
        DWORD dwResult = m_pPort->Write(&request, GetCommsStats());
        CCombuf reply;
        if (dwResult == SE_NO_ERROR) {
            dwResult = m_pPort->Read(&reply, pBlock->GetPointCount(), GetCommsStats());
        }
        CByteArray data;
        data.Append(reply);
        return FinishTransfer(*this, pBlock, dwResult, data);
    }

private:
    std::unique_ptr<CComPort> m_pPort;
};

// A network driver without a card. Its port's poll thread would leave each
// block's reply in the poll list with the time it came; the test delivers
// them, and a reply older than the driver's time-out is overdue.
class CTestNetworkDriver : public CNetworkProtocol {
public:
    CTestNetworkDriver() : CNetworkProtocol("", kRemoteFormat) { SetTimeoutDefaults(750); }
    BOOL IsNetworkProtocol() override { return 1; }
    void Deliver(DWORD dwBlockId, const std::vector<BYTE>& data, DWORD dwAgeMs) {
        CPollListItem* pItem = m_Poll.AddItem(dwBlockId, 1);
        for (const BYTE by : data) {
            pItem->m_Data.Add(by);
        }
        FILETIME now;
        GetCurrentFileTime(now);
        pItem->m_ftReceived = MakeFileTime(FileTimeToULongLong(now) - dwAgeMs * 10000ull);
        pItem->m_bDataValid = 1;
    }
    DWORD TransferData(CComBlock* pBlock) override {
        FILETIME now;
        GetCurrentFileTime(now);
        CByteArray data;
        for (int i = 0; i < m_Poll.m_PollList.GetSize(); ++i) {
            const CPollListItem* pItem = m_Poll.m_PollList[i];
            const ULONGLONG age =
                FileTimeToULongLong(now) - FileTimeToULongLong(pItem->m_ftReceived);
            if (pItem->m_dwBlockId == pBlock->GetBlockId() && pItem->m_bDataValid &&
                age <= GetTimeout() * 10000ull) {
                data.Append(pItem->m_Data);
                return FinishTransfer(*this, pBlock, SE_NO_ERROR, data);
            }
        }
        return FinishTransfer(*this, pBlock, SE_TIMEOUT, data);
    }

private:
    CPollProperties m_Poll;
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

std::vector<BYTE> DataOf(CComBlock& block) {
    CByteArray data;
    block.GetBlockData(data);
    return std::vector<BYTE>(data.begin(), data.end());
}

// One block of a host's run and what the driver should make of it.
struct HostBlock {
    const char* pszAddress;
    DWORD dwPoints;
    DWORD dwResult;
    std::vector<BYTE> data;  // of a good block
    bool bDevice = false;    // given to TransferDeviceData
};

// A host's run of a loaded driver: 2007 before the start, 2006 for a second
// start, the blocks in order (arrive sees each block before the driver
// does), then 2007 again after the stop. The statistics outlive the stop.
void RunAsHost(CProtocol& driver, const std::vector<HostBlock>& blocks,
               const std::function<void(const HostBlock&, CComBlock&)>& arrive = {}) {
    EXPECT_EQ(driver.StopProtocol(), 2007u);
    ASSERT_EQ(driver.StartProtocol(), 0u);
    EXPECT_EQ(driver.StartProtocol(), 2006u);
    EXPECT_TRUE(driver.IsStarted());
    for (const HostBlock& expected : blocks) {
        auto block = Block(driver, expected.pszAddress, expected.dwPoints);
        if (arrive) {
            arrive(expected, *block);
        }
        const DWORD dwResult = expected.bDevice ? driver.TransferDeviceData(block.get())
                                                : driver.TransferData(block.get());
        EXPECT_EQ(dwResult, expected.dwResult) << expected.pszAddress;
        if (!expected.bDevice) {
            EXPECT_EQ(block->IsBlockGood() != 0, dwResult == SE_NO_ERROR) << expected.pszAddress;
            EXPECT_EQ(DataOf(*block), expected.data) << expected.pszAddress;
        }
    }
    EXPECT_EQ(driver.StopProtocol(), 0u);
    EXPECT_EQ(driver.StopProtocol(), 2007u);
    EXPECT_FALSE(driver.IsStarted());
}

TEST(HostFlow, ProtocolDriverAnswersFromMemoryAndCountsEveryBlock) {
    CTestTableDriver driver;
    // The base class has the general record only: an archive loads it,
    // string lists are not taken, a packed record brings nothing.
    const Bytes general = StoreWith([](CArchive& ar) {
        Header(ar, "General");
        ar << CString("Table 3");
    });
    ASSERT_EQ(LoadProperties(driver, general), CArchiveException::none);
    EXPECT_EQ(driver.GetGeneralProperties()->m_strVersion, "Table 3");
    CStringList lines = ListOf({"General.Version=other"});
    EXPECT_FALSE(driver.UpdateFromStringList(&lines));
    EXPECT_EQ(lines.GetCount(), 1);
    CPortData packed;
    EXPECT_TRUE(driver.PackedFileConvertProperties(&packed, 3));
    EXPECT_EQ(driver.GetPortNumber(), 0xFFFF);
    EXPECT_EQ(PropertiesOf(driver), general);

    // The base class counts a block whether or not the driver is started.
    auto early = Block(driver, "D0000", 1);
    EXPECT_EQ(driver.TransferData(early.get()), 0u);
    RunAsHost(driver, {{"D0010", 4, SE_NO_ERROR, {10, 11, 12, 13}},
                       {"D0098", 4, SE_NAK_RECEIVED, {}},
                       {"D0010", 1, SE_NOT_IMPLEMENTED, {}, true}});

    EXPECT_EQ(driver.GetBlockCount(), 4u);
    EXPECT_EQ(driver.GetTotalCommsTime(), 30u);  // the device block has no com time
    EXPECT_EQ(driver.GetAveBlockExecutionTime(), 7u);
    EXPECT_EQ(driver.GetBlocksPerSecond(), 133u);
    EXPECT_EQ(driver.GetNumberStandardErrors(), 1u);
    EXPECT_EQ(driver.GetLastErrorString(), "Negative Acknowledge (NAK) received");
    driver.ResetStatistics();
    EXPECT_EQ(driver.GetBlockCount(), 0u);
    EXPECT_EQ(driver.GetNumberStandardErrors(), 0u);
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
    // An older packed record: the port number given, seconds to ms.
    CPortData packed;
    packed.m_PortProperties.m_dwBaudRate = 4800;
    packed.m_TimingProperties.m_dwTimeout = 3;
    ASSERT_TRUE(driver.PackedFileConvertProperties(&packed, 6));
    EXPECT_EQ(driver.GetPortNumber(), 6);
    EXPECT_EQ(driver.GetBaudRate(), 4800u);
    EXPECT_EQ(driver.GetTimeout(), 3000u);

    // A stored archive, every getter reading its own field; stored again,
    // the same bytes in the same order.
    ASSERT_EQ(LoadProperties(driver, StoredSerialProperties()), CArchiveException::none);
    EXPECT_EQ(driver.GetGeneralProperties()->m_strVersion, "Line 7 settings");
    const std::vector<long long> held = {
        driver.GetPortNumber(), driver.GetBaudRate(),           driver.IsParityEnabled(),
        driver.GetParity(),     driver.GetDataBits(),           driver.GetStopBits(),
        driver.GetMediaType(),  driver.IsFlowControlEnabled(),  driver.GetRTSControl(),
        driver.GetDTRControl(), driver.GetRTSCTSDelay(),        driver.GetRetryCount(),
        driver.GetTimeout(),    driver.GetRequestMessageDelay()};
    EXPECT_EQ(held, (std::vector<long long>{7, 19200, 1, 1, 7, 2, 1, 1, 2, 0, 15, 4, 1500, 20}));
    EXPECT_EQ(PropertiesOf(driver), StoredSerialProperties());

    // String lines change what they name, record by record.
    CStringList lines = ListOf({"Port.BaudRate=38400", "Flow.FlowControlEnabled=0",
                                "Timing.Timeout=250", "Other.Setting=1"});
    ASSERT_TRUE(driver.UpdateFromStringList(&lines));
    EXPECT_EQ(Lines(lines), std::vector<CString>{"Other.Setting=1"});
    EXPECT_EQ(driver.GetBaudRate(), 38400u);
    EXPECT_FALSE(driver.IsFlowControlEnabled());
    EXPECT_EQ(driver.GetTimeout(), 250u);
    EXPECT_EQ(driver.GetDataBits(), 7);

    driver.ActivateCommsLog(true);
    RunAsHost(driver, {{"D0100", 4, SE_NO_ERROR, {100, 101, 102, 103}},
                       {"D0300", 2, SE_TIMEOUT, {}},
                       {"D0100", 1, SE_NOT_IMPLEMENTED, {}, true}});
    EXPECT_EQ(device->CallCount(FakeSerialDevice::Call::Open), 1) << "a restart opens nothing";
    EXPECT_FALSE(device->m_bOpen);
    EXPECT_EQ(device->m_attributes.dwBaudRate, 38400u);
    EXPECT_EQ(device->m_attributes.byDataBits, 7);
    EXPECT_TRUE(device->m_attributes.bTwoStopBits);
    EXPECT_EQ(device->m_timeouts.dwReadTotalConstant, 250u);
    EXPECT_EQ(testsupport::DrainCommsLog(driver),
              (std::vector<std::string>{"TXR.d.", "RXdefg", "TXR.,.", "NR"}));

    EXPECT_EQ(driver.GetBlockCount(), 3u);
    EXPECT_EQ(driver.GetTotalCommsTime(), 20u);
    EXPECT_EQ(driver.GetTotalBytesOut(), 8u);
    EXPECT_EQ(driver.GetTotalBytesIn(), 4u);
    EXPECT_EQ(driver.GetNumberTimeoutErrors(), 1u);
    EXPECT_EQ(driver.GetNumberStandardErrors(), 1u);
    EXPECT_EQ(driver.GetLastErrorString(), "Operation timed out");
}

TEST(HostFlow, NetworkDriverJudgesRepliesByItsLoadedTimeout) {
    CTestNetworkDriver driver;
    EXPECT_EQ(driver.GetTimeout(), 750u);
    ASSERT_EQ(LoadProperties(driver, StoredNetworkProperties()), CArchiveException::none);
    EXPECT_EQ(driver.GetGeneralProperties()->m_strVersion, "Ring 2");
    EXPECT_EQ(driver.GetTimeout(), 1200u);
    EXPECT_EQ(PropertiesOf(driver), StoredNetworkProperties());
    CStringList lines = ListOf({"TimeoutOnly.Timeout=300"});
    ASSERT_TRUE(driver.UpdateFromStringList(&lines));
    EXPECT_TRUE(lines.IsEmpty());
    EXPECT_EQ(driver.GetTimeout(), 300u);
    // A network driver has no packed record of its own: nothing changes.
    CPortData packed;
    EXPECT_TRUE(driver.PackedFileConvertProperties(&packed, 4));
    EXPECT_EQ(driver.GetTimeout(), 300u);
    EXPECT_EQ(driver.GetPortNumber(), 0xFFFF);

    // Each reply arrives with its block: the good one well within the
    // time-out, the overdue one long after it.
    RunAsHost(driver,
              {{"D0001", 2, SE_NO_ERROR, {7, 8}},
               {"D0002", 2, SE_TIMEOUT, {}},
               {"D0001", 2, SE_NOT_IMPLEMENTED, {}, true}},
              [&](const HostBlock& expected, CComBlock& block) {
                  const bool bOverdue = expected.dwResult == SE_TIMEOUT;
                  driver.Deliver(block.GetBlockId(), {7, 8}, bOverdue ? 2000 : 100);
              });
    EXPECT_EQ(driver.GetBlockCount(), 3u);
    EXPECT_EQ(driver.GetNumberTimeoutErrors(), 1u);
    EXPECT_EQ(driver.GetLastErrorString(), "Operation timed out");
}

TEST(DriverProperties, ArchivesOfAnotherDriverOrCutShortFailAndChangeNothing) {
    CTestSerialDriver serial;
    serial.SetTimingDefaults(3, 2, 900);
    CTestNetworkDriver network;
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
    CTestNetworkDriver network;
    CStringList list = ListOf({"TimeoutOnly.Timeout=5", "garbage"});
    EXPECT_FALSE(network.UpdateFromStringList(&list));
    EXPECT_EQ(network.GetTimeout(), 750u);
    EXPECT_EQ(list.GetCount(), 2);
}

TEST(DriverProperties, PackedConversionNeedsARecordThatFitsInMilliseconds) {
    CTestSerialDriver driver;
    driver.SetTimingDefaults(0, 3, 1500);
    const Bytes before = PropertiesOf(driver);
    EXPECT_FALSE(driver.PackedFileConvertProperties(nullptr, 4));
    EXPECT_EQ(PropertiesOf(driver), before);
    CPortData packed;
    packed.m_TimingProperties.m_dwTimeout = 4294968;  // seconds: too many ms for 32 bits
    EXPECT_FALSE(driver.PackedFileConvertProperties(&packed, 4));
    EXPECT_EQ(PropertiesOf(driver), before);
    packed.m_TimingProperties.m_dwTimeout = 4294967;  // the most that fits
    EXPECT_TRUE(driver.PackedFileConvertProperties(&packed, 4));
    EXPECT_EQ(driver.GetTimeout(), 4294967000u);
    EXPECT_EQ(driver.GetPortNumber(), 4);
}

TEST(DriverProperties, DriverDefaultsAreWhatAnArchiveOfTheSameValuesHolds) {
    CTestSerialDriver driver;
    driver.GetGeneralProperties()->m_strVersion = "Line 7 settings";
    driver.SetPortDefaults(TRUE, 19200, CPortProperties::PARITY_EVEN, CPortProperties::STOPBITS_TWO,
                           7, 7, CPortProperties::MEDIA_RS485);
    driver.SetFlowDefaults(TRUE, 15, CFlowProperties::DTR_DISABLE, CFlowProperties::RTS_HANDSHAKE);
    driver.SetTimingDefaults(20, 4, 1500);
    EXPECT_EQ(PropertiesOf(driver), StoredSerialProperties());
}

TEST(ProtocolBase, SheetIsNamedHasAPagePerRecordAndShowsOnlyThroughTheHost) {
    CTestSerialDriver driver;
    EXPECT_EQ(driver.GetPropertySheet()->GetCaption(), "Protocol Properties");
    EXPECT_EQ(driver.GetGeneralProperties()->m_strVersion,
              "Protocol version string not implemented!");
    EXPECT_EQ(driver.GetPropertySheet()->GetPageCount(), 4);  // general, port, flow, timing
    EXPECT_EQ(CTestNetworkDriver().GetPropertySheet()->GetPageCount(), 2);
    EXPECT_EQ(driver.DisplayModalPropertySheet(), 2009u);
    int pages = 0;
    AfxSetPropertySheetHandler([&](CPropertySheet& sheet) {
        pages = sheet.GetPageCount();
        return IDCANCEL;
    });
    EXPECT_EQ(driver.DisplayModalPropertySheet(), 0u);
    AfxSetPropertySheetHandler(nullptr);
    EXPECT_EQ(pages, 4);
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
}

TEST(ProtocolBase, AppendsTheDataTableAndLogsThroughTheLogLibrary) {
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
    QZSetLogSink(nullptr);
    EXPECT_EQ(logged, (std::vector<std::pair<DWORD, std::string>>{{1, "COM3 : failed"}}));
}

TEST(ProtocolBase, NullArgumentsAndDefaultHooksGiveDefinedResults) {
    CProtocol p;
    p.SetPortName(nullptr);
    EXPECT_EQ(p.GetPortName(), "");
    EXPECT_EQ(p.LoadSubProtocol(nullptr), 0u);
    EXPECT_NE(p.ValidateRemoteAddress(nullptr), 0u);
    EXPECT_EQ(p.TransferData(nullptr), 2005u);
    EXPECT_EQ(p.TransferDeviceData(nullptr), 2005u);
    EXPECT_EQ(p.GetBlockCount(), 0u);
    EXPECT_FALSE(CTestSerialDriver().UpdateFromStringList(nullptr));
    EXPECT_FALSE(CTestNetworkDriver().UpdateFromStringList(nullptr));

    CNetworkProtocol network;
    CCombuf packet;
    packet.Add(0x42);
    EXPECT_EQ(network.GetBlockIdFromPacket(&packet), 0u);
    EXPECT_EQ(network.GetDataOffsetInPacket(), 0u);
    CPollListItem item;
    EXPECT_EQ(network.FormatTxMessage(&packet, &item, NETMSG_POLL_REQUEST), 0u);
    EXPECT_EQ(packet.GetSize(), 1);
}

TEST(DriverPlugins, LoadCreateRunAndUnloadADriverWithItsClasses) {
    CDriverLibrary library;
    ASSERT_TRUE(library.Load(KELVARA_TEST_DRIVER_PLUGIN)) << library.GetLastError().GetString();
    EXPECT_EQ(library.GetDriverName(), "Loopback test driver");
    std::unique_ptr<CProtocol> driver(library.CreateDriver());
    ASSERT_NE(driver, nullptr);
    EXPECT_TRUE(driver->IsSerialProtocol());
    EXPECT_EQ(driver->GetVersionInfo(), "Loopback driver 1.0");
    EXPECT_EQ(driver->StartProtocol(), 0u);
    auto block = Block(*driver, "R0010", 4, "[T1(Area) R][+1N4D(Offset) 0 to 9999]");
    EXPECT_EQ(driver->TransferData(block.get()), 0u);
    EXPECT_EQ(block->GetBufferSize(), 4);
    EXPECT_EQ(driver->GetBlockCount(), 1u);
    EXPECT_EQ(driver->StopProtocol(), 0u);
    driver.reset();

    // The plug-in's own record class is registered while it is loaded only.
    const CRuntimeClass* pClass = CRuntimeClass::FromName("CLoopbackRecord");
    ASSERT_NE(pClass, nullptr);
    EXPECT_NE(std::unique_ptr<CObject>(pClass->CreateObject()), nullptr);
    library.Unload();
    EXPECT_FALSE(library.IsLoaded());
    EXPECT_EQ(CRuntimeClass::FromName("CLoopbackRecord"), nullptr);
    // An archive of the class now loads as an unknown class rather than
    // calling code that is gone.
    const Bytes stored = StoreWith([](CArchive& ar) {
        ar << WORD{0xFFFF} << WORD{1} << WORD{15};
        ar.Write("CLoopbackRecord", 15);
    });
    CObject* pObject = nullptr;
    EXPECT_THROW(kelvara_test::LoadFrom(stored, [&](CArchive& ar) { ar >> pObject; }),
                 CArchiveException);
}

TEST(DriverPlugins, PluginObjectsKeepTheirTypesAndErrorsInTheHost) {
    CDriverLibrary library;
    ASSERT_TRUE(library.Load(KELVARA_TEST_DRIVER_PLUGIN)) << library.GetLastError().GetString();
    {
        std::unique_ptr<CProtocol> driver(library.CreateDriver());
        ASSERT_NE(driver, nullptr);
        EXPECT_NE(dynamic_cast<CSerialProtocol*>(driver.get()), nullptr);
        EXPECT_EQ(dynamic_cast<CNetworkProtocol*>(driver.get()), nullptr);
        const CProtocol& rDriver = *driver;
        EXPECT_NE(typeid(rDriver), typeid(CSerialProtocol));
        EXPECT_TRUE(driver->IsKindOf(RUNTIME_CLASS(CQZObject)));
    }

    // A record of the plug-in's class reads back whole; cut short, the
    // library's exception leaves the plug-in's Serialize and is caught here,
    // by its own type and by its base.
    const CRuntimeClass* pClass = CRuntimeClass::FromName("CLoopbackRecord");
    ASSERT_NE(pClass, nullptr);
    std::unique_ptr<CObject> record(pClass->CreateObject());
    ASSERT_NE(record, nullptr);
    const Bytes whole = StoreWith([&](CArchive& ar) { ar << record.get(); });
    CObject* pLoaded = nullptr;
    kelvara_test::LoadFrom(whole, [&](CArchive& ar) { ar >> pLoaded; });
    ASSERT_NE(pLoaded, nullptr);
    const CObject& rRecord = *record;
    EXPECT_EQ(typeid(*pLoaded), typeid(rRecord));
    EXPECT_EQ(pLoaded->GetRuntimeClass(), pClass);
    delete pLoaded;

    const Bytes cut(whole.begin(), whole.end() - 1);
    int nCause = CArchiveException::none;
    try {
        kelvara_test::LoadFrom(cut, [&](CArchive& ar) { ar >> pLoaded; });
    } catch (const CArchiveException& e) {
        nCause = e.m_cause;
    }
    EXPECT_EQ(nCause, CArchiveException::endOfFile);
    EXPECT_THROW(kelvara_test::LoadFrom(cut, [&](CArchive& ar) { ar >> pLoaded; }), CException);
    record.reset();
    library.Unload();
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
