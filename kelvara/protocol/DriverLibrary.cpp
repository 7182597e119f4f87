#include "kelvara/protocol/DriverLibrary.h"

#include "kelvara/platform/DynamicLibrary.h"
#include "kelvara/protocol/Protocol.h"

CDriverLibrary::CDriverLibrary()
    : m_pLibrary(std::make_unique<kelvara::platform::DynamicLibrary>()) {}

CDriverLibrary::~CDriverLibrary() = default;

BOOL CDriverLibrary::Load(const char* pszPath) {
    Unload();
    if (pszPath == nullptr || !m_pLibrary->Open(pszPath)) {
        m_strError = pszPath ? m_pLibrary->Error().c_str() : "no path given";
        return FALSE;
    }
    auto pfnVersion = reinterpret_cast<KelvaraDriverInterfaceVersionFn>(
        m_pLibrary->Symbol("KelvaraDriverInterfaceVersion"));
    auto pfnCreate =
        reinterpret_cast<KelvaraCreateDriverFn>(m_pLibrary->Symbol("KelvaraCreateDriver"));
    if (pfnVersion == nullptr || pfnCreate == nullptr) {
        m_strError.Format("%s is not a driver plug-in (no KELVARA_EXPORT_DRIVER)", pszPath);
        m_pLibrary->Close();
        return FALSE;
    }
    if (pfnVersion() != KELVARA_DRIVER_INTERFACE_VERSION) {
        m_strError.Format("%s was built for driver interface %u, this library has %u", pszPath,
                          pfnVersion(), KELVARA_DRIVER_INTERFACE_VERSION);
        m_pLibrary->Close();
        return FALSE;
    }
    m_pfnCreate = pfnCreate;
    m_pfnName = reinterpret_cast<KelvaraDriverNameFn>(m_pLibrary->Symbol("KelvaraDriverName"));
    m_strError.Empty();
    return TRUE;
}

void CDriverLibrary::Unload() {
    m_pfnCreate = nullptr;
    m_pfnName = nullptr;
    m_pLibrary->Close();
}

BOOL CDriverLibrary::IsLoaded() const {
    return m_pfnCreate != nullptr;
}

CProtocol* CDriverLibrary::CreateDriver() {
    return m_pfnCreate ? m_pfnCreate() : nullptr;
}

CString CDriverLibrary::GetDriverName() const {
    const char* name = m_pfnName ? m_pfnName() : nullptr;
    return name ? name : "";
}
