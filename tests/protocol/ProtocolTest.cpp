// The protocol base classes used as a host uses a driver: construct, load
// properties, start, transfer, read statistics, stop; and driver plug-ins.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <typeinfo>
#include <utility>
#include <vector>

#include "kelvara/Kelvara.h"
#include "kelvara/platform/FakeSerialLine.h"
#include "support/ArchiveBytes.h"

namespace {

using kelvara::platform::FakeSerialDevice;
using kelvara_test::Bytes;
using kelvara_test::LoadFrom;
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
    ~CTestSerialDriver() override { ClosePort(); }
    CString GetVersionInfo() override { return "Test serial 2.1"; }
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
            ClosePort();
            CSerialProtocol::StopProtocol();
        }
        return dwResult;
    }
    DWORD StopProtocol() override {
        const DWORD dwResult = CSerialProtocol::StopProtocol();
        if (dwResult == SE_NO_ERROR) {
            ClosePort();
        }
        return dwResult;
    }
    DWORD TransferData(CComBlock* pBlock) override {
        CByteArray data;
        if (!m_pPort) {
            return FinishTransfer(*this, pBlock, SE_PROTOCOL_NOT_STARTED, data);
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
        data.Append(reply);
        return FinishTransfer(*this, pBlock, dwResult, data);
    }

private:
    void ClosePort() {
        if (m_pPort) {
            m_pPort->Close();
            m_pPort.reset();
        }
    }
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

// A stored property archive, written out piece by piece (little-endian).
class CStoredArchive {
public:
    CStoredArchive& Dword(DWORD dw) {
        for (int i = 0; i < 4; ++i) {
            m_bytes.push_back(static_cast<BYTE>(dw >> (8 * i)));
        }
        return *this;
    }
    CStoredArchive& Word(WORD w) {
        m_bytes.push_back(static_cast<BYTE>(w));
        m_bytes.push_back(static_cast<BYTE>(w >> 8));
        return *this;
    }
    CStoredArchive& Text(const char* psz) {
        m_bytes.push_back(static_cast<BYTE>(std::strlen(psz)));
        m_bytes.insert(m_bytes.end(), psz, psz + std::strlen(psz));
        return *this;
    }
    // A record's start: version 2, second member 0, layout 2, its name.
    CStoredArchive& Record(const char* pszName) { return Dword(2).Dword(0).Dword(2).Text(pszName); }
    const Bytes& GetBytes() const { return m_bytes; }

private:
    Bytes m_bytes;
};

// A serial driver's properties as a host stored them: general, port, flow
// and timing records, each value distinct so that a record read in the
// wrong place shows.
Bytes StoredSerialProperties() {
    return CStoredArchive()
        .Record("General")
        .Text("Line 7 settings")
        .Record("Port")
        .Word(7)       // port number
        .Dword(19200)  // baud rate
        .Dword(1)      // parity enabled
        .Dword(1)      // even parity
        .Word(7)       // data bits
        .Dword(2)      // two stop bits
        .Dword(1)      // RS-485
        .Record("Flow")
        .Dword(1)   // flow control enabled
        .Dword(2)   // RTS handshake
        .Dword(0)   // DTR disabled
        .Dword(15)  // RTS/CTS delay
        .Record("Timing")
        .Dword(4)     // retries
        .Dword(1500)  // time-out
        .Dword(20)    // request message delay
        .GetBytes();
}

// A network driver's: general and time-out records.
Bytes StoredNetworkProperties() {
    return CStoredArchive()
        .Record("General")
        .Text("Ring 2")
        .Record("TimeoutOnly")
        .Dword(1200)
        .GetBytes();
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

// A block as a host builds it, from an address the driver has checked.
std::unique_ptr<CComBlock> Block(CProtocol& driver, const char* pszAddress, DWORD dwPoints) {
    CRemoteAddress address(pszAddress, kRemoteFormat, nullptr);
    EXPECT_EQ(driver.ValidateRemoteAddress(&address), static_cast<DWORD>(EDF_OK)) << pszAddress;
    return std::make_unique<CComBlock>(&address, 17, 1, dwPoints, 1);
}

std::vector<BYTE> DataOf(CComBlock& block) {
    CByteArray data;
    block.GetBlockData(data);
    return std::vector<BYTE>(data.begin(), data.end());
}

TEST(HostFlow, ProtocolDriverAnswersFromMemoryAndCountsEveryBlock) {
    CTestTableDriver driver;

    // The base class has the general record only: an archive loads it,
    // string lists are not taken, a packed record brings nothing.
    LoadFrom(CStoredArchive().Record("General").Text("Table 3").GetBytes(),
             [&](CArchive& ar) { driver.SerializeProperties(ar); });
    EXPECT_EQ(driver.GetGeneralProperties()->m_strVersion, "Table 3");
    CStringList lines = ListOf({"General.Version=other"});
    EXPECT_FALSE(driver.UpdateFromStringList(&lines));
    EXPECT_EQ(lines.GetCount(), 1);
    CPortData packed;
    EXPECT_TRUE(driver.PackedFileConvertProperties(&packed, 3));
    EXPECT_EQ(driver.GetPortNumber(), 0xFFFF);
    EXPECT_EQ(driver.GetGeneralProperties()->m_strVersion, "Table 3");

    // The base class counts a block in either state.
    auto early = Block(driver, "D0000", 1);
    EXPECT_EQ(driver.TransferData(early.get()), 0u);
    EXPECT_EQ(driver.StopProtocol(), 2007u);
    EXPECT_EQ(driver.StartProtocol(), 0u);
    EXPECT_EQ(driver.StartProtocol(), 2006u);
    EXPECT_TRUE(driver.IsStarted());

    auto read = Block(driver, "D0010", 4);
    EXPECT_EQ(driver.TransferData(read.get()), 0u);
    EXPECT_TRUE(read->IsBlockGood());
    EXPECT_EQ(DataOf(*read), (std::vector<BYTE>{10, 11, 12, 13}));
    auto beyond = Block(driver, "D0098", 4);
    EXPECT_EQ(driver.TransferData(beyond.get()), 2004u);
    EXPECT_FALSE(beyond->IsBlockGood());
    auto device = Block(driver, "D0010", 1);
    EXPECT_EQ(driver.TransferDeviceData(device.get()), 2000u);

    EXPECT_EQ(driver.GetBlockCount(), 4u);
    EXPECT_EQ(driver.GetTotalCommsTime(), 30u);  // the device block has no com time
    EXPECT_EQ(driver.GetAveBlockExecutionTime(), 7u);
    EXPECT_EQ(driver.GetBlocksPerSecond(), 133u);
    EXPECT_EQ(driver.GetNumberStandardErrors(), 1u);
    EXPECT_EQ(driver.GetLastErrorString(), "Negative Acknowledge (NAK) received");
    driver.ResetStatistics();
    EXPECT_EQ(driver.GetBlockCount(), 0u);
    EXPECT_EQ(driver.GetNumberStandardErrors(), 0u);

    EXPECT_EQ(driver.StopProtocol(), 0u);
    EXPECT_EQ(driver.StopProtocol(), 2007u);
    EXPECT_FALSE(driver.IsStarted());
}

// The serial driver's port is COM7, played by a scripted device.
class SerialHost : public ::testing::Test {
protected:
    SerialHost() {
        kelvara::platform::SetSerialLineOpener(device->Opener());
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
        kelvara::platform::SetSerialLineOpener(nullptr);
    }

    std::shared_ptr<FakeSerialDevice> device = std::make_shared<FakeSerialDevice>();
};

TEST_F(SerialHost, SerialDriverRunsItsLineWithTheLoadedProperties) {
    CTestSerialDriver driver;

    // An older packed record: the port number given, seconds to ms.
    CPortData packed;
    packed.m_PortProperties.m_wPortNumber = 1;
    packed.m_PortProperties.m_dwBaudRate = 4800;
    packed.m_TimingProperties.m_dwTimeout = 3;
    ASSERT_TRUE(driver.PackedFileConvertProperties(&packed, 6));
    EXPECT_EQ(driver.GetPortNumber(), 6);
    EXPECT_EQ(driver.GetBaudRate(), 4800u);
    EXPECT_EQ(driver.GetTimeout(), 3000u);

    // A stored archive: general, port, flow, timing, in that order.
    LoadFrom(StoredSerialProperties(), [&](CArchive& ar) { driver.SerializeProperties(ar); });
    EXPECT_EQ(driver.GetGeneralProperties()->m_strVersion, "Line 7 settings");
    EXPECT_EQ(driver.GetPortNumber(), 7);
    EXPECT_EQ(driver.GetBaudRate(), 19200u);
    EXPECT_TRUE(driver.IsParityEnabled());
    EXPECT_EQ(driver.GetParity(), CPortProperties::PARITY_EVEN);
    EXPECT_EQ(driver.GetDataBits(), 7);
    EXPECT_EQ(driver.GetStopBits(), CPortProperties::STOPBITS_TWO);
    EXPECT_EQ(driver.GetMediaType(), CPortProperties::MEDIA_RS485);
    EXPECT_TRUE(driver.IsFlowControlEnabled());
    EXPECT_EQ(driver.GetRTSControl(), CFlowProperties::RTS_HANDSHAKE);
    EXPECT_EQ(driver.GetDTRControl(), CFlowProperties::DTR_DISABLE);
    EXPECT_EQ(driver.GetRTSCTSDelay(), 15u);
    EXPECT_EQ(driver.GetRetryCount(), 4u);
    EXPECT_EQ(driver.GetTimeout(), 1500u);
    EXPECT_EQ(driver.GetRequestMessageDelay(), 20u);
    // Stored again, the same bytes in the same order.
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

    EXPECT_EQ(driver.StopProtocol(), 2007u);
    ASSERT_EQ(driver.StartProtocol(), 0u);
    EXPECT_EQ(driver.StartProtocol(), 2006u);
    EXPECT_EQ(device->CallCount(FakeSerialDevice::Call::Open), 1) << "a restart opens nothing";
    EXPECT_EQ(device->m_attributes.dwBaudRate, 38400u);
    EXPECT_EQ(device->m_attributes.byDataBits, 7);
    EXPECT_TRUE(device->m_attributes.bTwoStopBits);
    EXPECT_EQ(device->m_timeouts.dwReadTotalConstant, 250u);

    driver.ActivateCommsLog(true);
    auto read = Block(driver, "D0100", 4);
    EXPECT_EQ(driver.TransferData(read.get()), 0u);
    EXPECT_EQ(device->m_sent, (std::vector<std::uint8_t>{'R', 0, 100, 4}));
    EXPECT_EQ(DataOf(*read), (std::vector<BYTE>{100, 101, 102, 103}));
    EXPECT_EQ(driver.GetCommsLogCount(), 2) << "the request and the reply";
    CString line;
    driver.GetFromCommsLog(&line);
    driver.GetFromCommsLog(&line);
    EXPECT_EQ(driver.GetCommsLogCount(), 0);
    driver.ActivateCommsLog(false);

    auto silent = Block(driver, "D0300", 2);
    EXPECT_EQ(driver.TransferData(silent.get()), 2001u);
    EXPECT_FALSE(silent->IsBlockGood());
    auto device2 = Block(driver, "D0100", 1);
    EXPECT_EQ(driver.TransferDeviceData(device2.get()), 2000u);

    EXPECT_EQ(driver.GetBlockCount(), 3u);
    EXPECT_EQ(driver.GetTotalCommsTime(), 20u);
    EXPECT_EQ(driver.GetTotalBytesOut(), 8u);
    EXPECT_EQ(driver.GetTotalBytesIn(), 4u);
    EXPECT_EQ(driver.GetNumberTimeoutErrors(), 1u);
    EXPECT_EQ(driver.GetNumberStandardErrors(), 1u);
    EXPECT_EQ(driver.GetLastErrorString(), "Operation timed out");

    EXPECT_EQ(driver.StopProtocol(), 0u);
    EXPECT_FALSE(device->m_bOpen);
    EXPECT_EQ(driver.StopProtocol(), 2007u);
    auto stopped = Block(driver, "D0100", 1);
    EXPECT_EQ(driver.TransferData(stopped.get()), 2007u);
}

TEST(HostFlow, NetworkDriverJudgesRepliesByItsLoadedTimeout) {
    CTestNetworkDriver driver;
    EXPECT_EQ(driver.GetTimeout(), 750u);

    LoadFrom(StoredNetworkProperties(), [&](CArchive& ar) { driver.SerializeProperties(ar); });
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

    EXPECT_EQ(driver.StopProtocol(), 2007u);
    ASSERT_EQ(driver.StartProtocol(), 0u);
    EXPECT_EQ(driver.StartProtocol(), 2006u);

    auto fresh = Block(driver, "D0001", 2);
    auto overdue = Block(driver, "D0002", 2);
    driver.Deliver(fresh->GetBlockId(), {7, 8}, 100);
    driver.Deliver(overdue->GetBlockId(), {9, 9}, 2000);
    EXPECT_EQ(driver.TransferData(fresh.get()), 0u);
    EXPECT_EQ(DataOf(*fresh), (std::vector<BYTE>{7, 8}));
    EXPECT_EQ(driver.TransferData(overdue.get()), 2001u);
    EXPECT_EQ(driver.TransferDeviceData(fresh.get()), 2000u);

    EXPECT_EQ(driver.GetBlockCount(), 3u);
    EXPECT_EQ(driver.GetNumberTimeoutErrors(), 1u);
    EXPECT_EQ(driver.GetLastErrorString(), "Operation timed out");
    EXPECT_EQ(driver.StopProtocol(), 0u);
    EXPECT_EQ(driver.StopProtocol(), 2007u);
}

TEST(DriverProperties, ArchivesOfAnotherDriverOrCutShortFailAndChangeNothing) {
    auto causeOfLoading = [](CProtocol& driver, const Bytes& bytes) {
        try {
            LoadFrom(bytes, [&](CArchive& ar) { driver.SerializeProperties(ar); });
        } catch (const CArchiveException& e) {
            return e.m_cause;
        }
        return static_cast<int>(CArchiveException::none);
    };
    CTestSerialDriver serial;
    serial.SetTimingDefaults(3, 2, 900);
    CTestNetworkDriver network;
    const Bytes serialBefore = PropertiesOf(serial);
    const Bytes networkBefore = PropertiesOf(network);

    // Both start with a general record; the next one is not what the other
    // driver expects.
    EXPECT_EQ(causeOfLoading(network, StoredSerialProperties()), CArchiveException::badClass);
    EXPECT_EQ(network.GetTimeout(), 750u);
    EXPECT_EQ(causeOfLoading(serial, StoredNetworkProperties()), CArchiveException::badClass);
    EXPECT_EQ(PropertiesOf(serial), serialBefore);
    EXPECT_EQ(PropertiesOf(network), networkBefore);

    // Each driver's own archive, cut short anywhere.
    const std::vector<std::pair<CProtocol*, Bytes>> own = {{&network, StoredNetworkProperties()},
                                                           {&serial, StoredSerialProperties()}};
    for (const auto& [pDriver, whole] : own) {
        for (size_t n = 0; n < whole.size(); ++n) {
            const Bytes cut(whole.begin(), whole.begin() + static_cast<long>(n));
            EXPECT_EQ(causeOfLoading(*pDriver, cut), CArchiveException::endOfFile) << n;
        }
    }
    EXPECT_EQ(PropertiesOf(serial), serialBefore);
    EXPECT_EQ(PropertiesOf(network), networkBefore);
}

TEST(DriverProperties, SerialStringListUpdatesAllRecordsOrNone) {
    CTestSerialDriver source;
    source.SetTimingDefaults(7, 2, 333);
    source.SetPortDefaults(TRUE, 1200, CPortProperties::PARITY_ODD, CPortProperties::STOPBITS_ONE,
                           8, 2, CPortProperties::MEDIA_RS422);
    CStringList dumped;
    ASSERT_TRUE(source.DumpToStringList(dumped));
    CTestSerialDriver copy;
    ASSERT_TRUE(copy.UpdateFromStringList(&dumped));
    EXPECT_TRUE(dumped.IsEmpty());
    EXPECT_EQ(copy.GetTimeout(), 333u);
    EXPECT_EQ(copy.GetMediaType(), CPortProperties::MEDIA_RS422);

    // A failure in any record leaves every record and the list as they were.
    const std::vector<std::vector<const char*>> failing = {
        {"Port.BaudRate=fast", "Flow.RTSCTSDelay=5", "Timing.Timeout=5"},
        {"Port.BaudRate=2400", "Flow.RTSControl=4", "Timing.Timeout=5"},
        {"Port.BaudRate=2400", "Flow.RTSCTSDelay=5", "Timing.Timeout=-5"},
        {"Port.BaudRate=2400", "Flow.RTSCTSDelay=5", "Timing.Timeout=5", "garbage"},
        {"Port.BaudRate=2400", "Flow.RTSCTSDelay=5"},  // no timing lines
        {"Port.BaudRate=2400", "Timing.Timeout=5"},    // no flow lines
    };
    CTestSerialDriver driver;
    driver.SetTimingDefaults(1, 1, 4444);
    const Bytes before = PropertiesOf(driver);
    for (const auto& lines : failing) {
        CStringList list = ListOf(lines);
        const std::vector<CString> listBefore = Lines(list);
        EXPECT_FALSE(driver.UpdateFromStringList(&list)) << lines.back();
        EXPECT_EQ(PropertiesOf(driver), before) << lines.back();
        EXPECT_EQ(Lines(list), listBefore) << lines.back();
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
    EXPECT_EQ(driver.GetPortNumber(), 1);
    EXPECT_EQ(driver.GetTimeout(), 1500u);
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
    EXPECT_EQ(p.TransferData(nullptr), 2005u);
    EXPECT_EQ(p.TransferDeviceData(nullptr), 2005u);
    EXPECT_EQ(p.GetBlockCount(), 0u);
    CTestSerialDriver driver;
    EXPECT_FALSE(driver.UpdateFromStringList(nullptr));
    CTestNetworkDriver network;
    EXPECT_FALSE(network.UpdateFromStringList(nullptr));
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

TEST(NetworkProtocolHooks, DefaultsMatchIdZeroAndBuildNothing) {
    CNetworkProtocol driver;
    CCombuf packet;
    packet.Add(0x42);
    EXPECT_EQ(driver.GetBlockIdFromPacket(&packet), 0u);
    EXPECT_EQ(driver.GetDataOffsetInPacket(), 0u);
    CPollListItem item;
    EXPECT_EQ(driver.FormatTxMessage(&packet, &item, NETMSG_POLL_REQUEST), 0u);
    EXPECT_EQ(packet.GetSize(), 1);
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
    LoadFrom(whole, [&](CArchive& ar) { ar >> pLoaded; });
    ASSERT_NE(pLoaded, nullptr);
    const CObject& rRecord = *record;
    EXPECT_EQ(typeid(*pLoaded), typeid(rRecord));
    EXPECT_EQ(pLoaded->GetRuntimeClass(), pClass);
    delete pLoaded;

    const Bytes cut(whole.begin(), whole.end() - 1);
    int nCause = CArchiveException::none;
    try {
        LoadFrom(cut, [&](CArchive& ar) { ar >> pLoaded; });
    } catch (const CArchiveException& e) {
        nCause = e.m_cause;
    }
    EXPECT_EQ(nCause, CArchiveException::endOfFile);
    bool bCaughtAsBase = false;
    try {
        LoadFrom(cut, [&](CArchive& ar) { ar >> pLoaded; });
    } catch (const CException&) {
        bCaughtAsBase = true;
    }
    EXPECT_TRUE(bCaughtAsBase);
    record.reset();
    library.Unload();
}

TEST(DriverPlugins, RefuseFilesThatAreNotDrivers) {
    CDriverLibrary library;
    EXPECT_FALSE(library.Load("/nonexistent/libnothing.so"));
    EXPECT_FALSE(library.GetLastError().IsEmpty());
    EXPECT_FALSE(library.Load(nullptr));
    EXPECT_EQ(library.CreateDriver(), nullptr);
}

}  // namespace
