// Kelvara demo host: shows the library's pieces working end to end.
//
// Today it stores a small configuration record in an archive, shows the
// exact bytes, loads it back into new objects, and prints the table of
// standard error texts that every driver and host shares.
#include <kelvara/Kelvara.h>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

// A host-side record: a named device with a poll list, serialised with the
// framework's object records.
class CDemoDevice : public CObject {
    DECLARE_SERIAL(CDemoDevice)
public:
    CDemoDevice() = default;
    CDemoDevice(const char* name, WORD node) : m_strName(name), m_wNode(node) {}

    void Serialize(CArchive& ar) override {
        if (ar.IsStoring()) {
            ar << m_strName << m_wNode << m_Registers.GetSize() << m_Created;
            for (int i = 0; i < m_Registers.GetSize(); ++i) {
                ar << m_Registers[i];
            }
        } else {
            int count = 0;
            ar >> m_strName >> m_wNode >> count >> m_Created;
            m_Registers.SetSize(0);
            for (int i = 0; i < count; ++i) {
                CString reg;
                ar >> reg;
                m_Registers.Add(reg);
            }
        }
    }

    CString m_strName;
    WORD m_wNode = 0;
    CStringArray m_Registers;
    COleDateTime m_Created = COleDateTime::GetCurrentTime();
};

IMPLEMENT_SERIAL(CDemoDevice, CObject, 1)

void PrintHex(const BYTE* p, ULONGLONG n) {
    for (ULONGLONG i = 0; i < n; ++i) {
        std::printf("%02X%s", p[i], (i % 16 == 15 || i + 1 == n) ? "\n" : " ");
    }
}

bool ShowArchiveRoundTrip() {
    std::printf("== Archive round trip\n");
    CDemoDevice plc("Line 1 PLC", 7);
    plc.m_Registers.Add("40001");
    plc.m_Registers.Add("40002");

    CMemFile file;
    {
        CArchive ar(&file, CArchive::store);
        // The same object twice and a null: the second is a back reference.
        ar << &plc << &plc << static_cast<CObject*>(nullptr);
    }
    std::printf("stored %llu bytes:\n", static_cast<unsigned long long>(file.GetLength()));
    PrintHex(file.GetBuffer(), file.GetLength());

    file.SeekToBegin();
    CArchive ar(&file, CArchive::load);
    CDemoDevice* first = nullptr;
    CDemoDevice* second = nullptr;
    CObject* none = nullptr;
    ar >> first >> second;
    ar >> none;
    std::unique_ptr<CDemoDevice> owner(first);
    const bool ok = first && first == second && none == nullptr &&
                    first->m_strName == plc.m_strName && first->m_Registers.GetSize() == 2 &&
                    first->m_Created == plc.m_Created;
    std::printf("loaded \"%s\" node %u, %d registers, created %s: %s\n\n",
                first->m_strName.GetString(), first->m_wNode, first->m_Registers.GetSize(),
                first->m_Created.Format().GetString(), ok ? "identical" : "MISMATCH");
    return ok;
}

void ShowErrorTable() {
    std::printf("== Standard error codes\n");
    const DWORD ranges[][2] = {{0, 0}, {1100, 1108}, {1200, 1204}, {1400, 1405}, {2000, 2013}};
    for (const auto& range : ranges) {
        for (DWORD code = range[0]; code <= range[1]; ++code) {
            CString text;
            if (ModuleLoadString(&text, 10000 + code, AfxGetResourceHandle())) {
                std::printf("%5u  %s\n", code, text.GetString());
            }
        }
    }
    std::printf("\n");
}

// A driver's statistics over a few simulated exchanges: bytes out and in,
// one time-out, one checksum error, each block's com time; then the host
// drains the comms log as it would between transfers.
bool ShowCommsStatistics() {
    std::printf("== Communications statistics and comms log\n");
    CCommsStats stats;
    stats.ActivateCommsLog(true);
    stats.LogAsHex(true);

    struct Exchange {
        std::vector<BYTE> request;
        std::vector<BYTE> reply;  // empty: no reply
        DWORD dwError;
        DWORD dwComTime;
    };
    const Exchange exchanges[] = {
        {{0x01, 0x03, 0x00, 0x00, 0x00, 0x02}, {0x01, 0x03, 0x04, 0x00, 0x2A, 0x01, 0x00}, 0, 12},
        {{0x01, 0x03, 0x00, 0x10, 0x00, 0x01}, {}, SE_TIMEOUT, 1000},
        {{0x01, 0x06, 0x00, 0x01, 0x00, 0x07},
         {0x01, 0x06, 0x00, 0x01, 0x00, 0x08},
         SE_CHECKSUM_ERROR,
         9},
        {{'R', 'D', ' ', 'D', 'M', '1', '0', '\r'}, {'O', 'K', ' ', '4', '2', '\r'}, 0, 7},
    };
    for (const Exchange& x : exchanges) {
        // The last exchange speaks text, and is logged as text.
        stats.LogAsHex(x.request[0] < 0x20);
        CByteArray out;
        for (BYTE b : x.request) {
            out.Add(b);
        }
        stats.AddBytesOut(static_cast<DWORD>(out.GetSize()));
        stats.AddToCommsLog(&out, false);
        if (!x.reply.empty()) {
            CByteArray in;
            for (BYTE b : x.reply) {
                in.Add(b);
            }
            stats.AddBytesIn(static_cast<DWORD>(in.GetSize()));
            stats.AddToCommsLog(&in, true);
        }
        if (x.dwError != 0) {
            // What storing the code in a block does to the statistics.
            stats.IncrementStandardErrors();
            stats.SetLastError(GetStandardErrorMessage(x.dwError));
            if (x.dwError == SE_TIMEOUT) {
                stats.IncrementTimeoutErrors();
            } else if (x.dwError == SE_CHECKSUM_ERROR) {
                stats.IncrementCRCErrors();
            }
        }
        stats.AddBlockExecutionTime(x.dwComTime);
    }

    std::printf("comms log (%d lines):\n", stats.GetCommsLogCount());
    CString line;
    while (stats.GetCommsLogCount() > 0) {
        stats.GetFromCommsLog(&line);
        std::printf("  %s\n", line.GetString());
    }
    std::printf("blocks %lu, total %lu ms, average %lu ms, %lu blocks/s, %lu bytes/s\n",
                static_cast<unsigned long>(stats.GetBlockCount()),
                static_cast<unsigned long>(stats.GetTotalBlockExecutionTime()),
                static_cast<unsigned long>(stats.GetAverageBlockExecutionTime()),
                static_cast<unsigned long>(stats.GetBlocksPerSecond()),
                static_cast<unsigned long>(stats.GetBytesPerSecond()));
    std::printf("bytes in %lu, out %lu; errors %lu (time-outs %lu, checksum %lu); last: \"%s\"\n\n",
                static_cast<unsigned long>(stats.GetTotalBytesIn()),
                static_cast<unsigned long>(stats.GetTotalBytesOut()),
                static_cast<unsigned long>(stats.GetNumberStandardErrors()),
                static_cast<unsigned long>(stats.GetNumberTimeoutErrors()),
                static_cast<unsigned long>(stats.GetNumberCRCErrors()),
                stats.GetLastErrorString().GetString());
    return stats.GetBlockCount() == 4 && stats.GetCommsLogCount() == 0 &&
           stats.GetNumberStandardErrors() == 2;
}

void PrintBlock(CComBlock& block) {
    std::printf("%s\n", block.CreateLogString().GetString());
    if (!block.IsBlockGood()) {
        std::printf("  failed: %lu \"%s\"\n",
                    static_cast<unsigned long>(block.GetStandardErrorCode()),
                    block.GetStandardErrorString()->GetString());
        return;
    }
    CByteArray element;
    std::printf("  data:");
    for (DWORD i = 0; block.GetBlockElement(i, element); ++i) {
        std::printf(" %u", element.GetSize() == 2 ? element[0] | element[1] << 8 : element[0]);
    }
    std::printf("\n");
}

// Loads the sample driver plug-in and drives it as a host would: properties,
// start, blocks built from addresses, transfers, statistics, comms log, stop.
bool ShowDriverPlugin(const char* pszPath) {
    std::printf("== Driver plug-in %s\n", pszPath);
    CDriverLibrary library;
    if (!library.Load(pszPath)) {
        std::printf("cannot load the driver: %s\n", library.GetLastError().GetString());
        return false;
    }
    std::unique_ptr<CProtocol> driver(library.CreateDriver());
    std::printf("driver \"%s\", version \"%s\"\n", library.GetDriverName().GetString(),
                driver->GetVersionInfo().GetString());

    // Properties as a host keeps them: name=value lines.
    CStringList properties;
    driver->DumpToStringList(properties);
    properties.SetAt(properties.FindIndex(1), "Port.BaudRate=19200");
    driver->UpdateFromStringList(&properties);
    driver->ActivateCommsLog(true);
    driver->LogAsHex(true);
    driver->StartProtocol();

    const char* kAttributes = "U1U2";
    const char* format = driver->GetEDFFormatRemote()->m_strFormat.GetString();
    CRemoteAddress first("R0100", format, kAttributes);
    std::printf("address R0100 against %s: %s\n", format,
                driver->ValidateRemoteAddress(&first) == EDF_OK ? "valid" : "invalid");

    CComBlock read(&first, 2, 1, 4, 2);
    driver->TransferData(&read);
    PrintBlock(read);

    CByteArray values;
    for (BYTE b : {0x39, 0x30, 0x01, 0x00}) {  // 12345, 1
        values.Add(b);
    }
    CComBlock write(&first, 2, 1, 2, 2);
    write.FillWriteBuffer(&values);
    driver->TransferData(&write);
    PrintBlock(write);
    driver->TransferData(&read);
    PrintBlock(read);

    // The next run of registers starts where the stepped address says.
    CRemoteAddress next;
    CRemoteAddress last = first;
    for (int i = 0; i < 4; ++i) {
        driver->GetNextRemoteAddress(&last, next);
        last = next;
    }
    CComBlock following(&next, 2, 1, 3, 2);
    driver->TransferData(&following);
    PrintBlock(following);

    CRemoteAddress beyond("R0998", format, kAttributes);
    CComBlock missing(&beyond, 2, 1, 5, 2);
    driver->TransferData(&missing);
    PrintBlock(missing);

    std::printf("blocks %lu, %lu ms, bytes in %lu out %lu, time-outs %lu, retries %lu\n",
                static_cast<unsigned long>(driver->GetBlockCount()),
                static_cast<unsigned long>(driver->GetTotalCommsTime()),
                static_cast<unsigned long>(driver->GetTotalBytesIn()),
                static_cast<unsigned long>(driver->GetTotalBytesOut()),
                static_cast<unsigned long>(driver->GetNumberTimeoutErrors()),
                static_cast<unsigned long>(driver->GetNumberOfRetries()));
    std::printf("comms log:\n");
    for (CString line; driver->GetCommsLogCount() > 0;) {
        driver->GetFromCommsLog(&line);
        std::printf("  %s\n", line.GetString());
    }
    driver->StopProtocol();
    const bool ok = read.IsBlockGood() && !missing.IsBlockGood() && driver->GetBlockCount() == 5;
    driver.reset();
    std::printf("\n");
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    bool ok = ShowArchiveRoundTrip();
    ShowErrorTable();
    ok = ShowCommsStatistics() && ok;
    ok = ShowDriverPlugin(argc > 1 ? argv[1] : KELVARA_DEMO_DRIVER) && ok;
    return ok ? 0 : 1;
}
