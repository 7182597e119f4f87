// Kelvara demo host: shows the library's pieces working end to end.
//
// Today it stores a small configuration record in an archive, shows the
// exact bytes, loads it back into new objects, and prints the table of
// standard error texts that every driver and host shares.
#include <kelvara/Kelvara.h>

#include <cstdio>
#include <memory>

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

}  // namespace

int main() {
    const bool ok = ShowArchiveRoundTrip();
    ShowErrorTable();
    return ok ? 0 : 1;
}
