// A driver plug-in as a driver author would build one: a serial driver
// with a record class of its own.
#include <kelvara/Kelvara.h>

namespace {

class CLoopbackDriver : public CSerialProtocol {
public:
    CString GetVersionInfo() override { return "Loopback driver 1.0"; }
};

// A record class of the plug-in's own: registered while the plug-in is
// loaded, gone from the registry once it is unloaded. Its one value is read
// by the plug-in's own code, so a short archive fails inside the plug-in.
class CLoopbackRecord : public CObject {
    DECLARE_SERIAL(CLoopbackRecord)

public:
    void Serialize(CArchive& ar) override {
        if (ar.IsStoring()) {
            ar << m_dwValue;
        } else {
            ar >> m_dwValue;
        }
    }

private:
    DWORD m_dwValue = 0x12345678;
};
IMPLEMENT_SERIAL(CLoopbackRecord, CObject, 1)

}  // namespace

KELVARA_EXPORT_DRIVER(CLoopbackDriver, "Loopback test driver")
