// Loads arbitrary bytes as archive records: strings, counts, byte arrays,
// string lists and objects. Every outcome must be a value or a
// CArchiveException, never a crash or a sanitizer report.
#include <kelvara/Kelvara.h>

#include <cstddef>
#include <cstdint>
#include <set>

namespace {

// Loaded records may refer to each other in any shape, cycles included, so
// no node owns another: every node lives in this set until the input is done.
std::set<CObject*> g_live;

// Objects of the library's own classes met while loading. The archive hands
// each one to exactly one caller (or deletes it when its record fails), so
// the harness owns them all once they are returned.
std::set<CObject*> g_loaded;

void Keep(CObject* p) {
    if (p != nullptr && g_live.count(p) == 0) {
        g_loaded.insert(p);
    }
}

class CFuzzNode : public CObject {
    DECLARE_SERIAL(CFuzzNode)
public:
    CFuzzNode() { g_live.insert(this); }
    ~CFuzzNode() override { g_live.erase(this); }
    void Serialize(CArchive& ar) override {
        if (ar.IsLoading()) {
            ar >> m_strName >> m_pChild;
            Keep(m_pChild);
            m_Data.Serialize(ar);
        }
    }
    CString m_strName;
    CObject* m_pChild = nullptr;
    CByteArray m_Data;
};
IMPLEMENT_SERIAL(CFuzzNode, CObject, 1)

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    CMemFile file;
    file.Write(data + 1, static_cast<UINT>(size - 1));
    file.SeekToBegin();
    CArchive ar(&file, CArchive::load);
    try {
        for (int i = 0; i < 64; ++i) {
            switch ((data[0] >> (i % 4 * 2)) & 3) {
                case 0: {
                    CString s;
                    ar >> s;
                    break;
                }
                case 1: {
                    CStringList list;
                    list.Serialize(ar);
                    break;
                }
                case 2: {
                    CByteArray a;
                    a.Serialize(ar);
                    break;
                }
                default: {
                    CObject* p = nullptr;
                    ar >> p;
                    Keep(p);
                    break;
                }
            }
        }
    } catch (const CArchiveException&) {
    }
    for (CObject* p : g_loaded) {
        delete p;
    }
    g_loaded.clear();
    while (!g_live.empty()) {
        delete *g_live.begin();
    }
    return 0;
}
