/** \addtogroup protocol
 @{ */
// Drivers built as separate shared objects, loaded by a host at run time.
//
// A driver plug-in exports its factory with one line in one of its source
// files:
//
//     KELVARA_EXPORT_DRIVER(CMyDriver, "My device driver")
//
// where CMyDriver derives from CSerialProtocol, CNetworkProtocol or
// CProtocol and has a default constructor. A host then loads it:
//
//     CDriverLibrary library;
//     if (!library.Load("./libmy_driver.so")) { report library.GetLastError(); }
//     std::unique_ptr<CProtocol> driver(library.CreateDriver());
//
// The library must stay loaded while any driver it created lives: destroy
// the drivers before Unload or the CDriverLibrary object.
#pragma once

#include <memory>

#include "kelvara/framework/Export.h"
#include "kelvara/framework/String.h"
#include "kelvara/framework/Types.h"

class CProtocol;

namespace kelvara::platform {
class DynamicLibrary;
}

/// Raised whenever the plug-in interface changes incompatibly.
constexpr DWORD KELVARA_DRIVER_INTERFACE_VERSION = 1;

/// The factory a plug-in exports.
using KelvaraCreateDriverFn = CProtocol* (*)();
/// The interface version a plug-in was built against.
using KelvaraDriverInterfaceVersionFn = DWORD (*)();
/// The name a plug-in gives its driver.
using KelvaraDriverNameFn = const char* (*)();

/// Exports the plug-in's factory and name (one line in one source file of the plug-in).
#define KELVARA_EXPORT_DRIVER(class_name, display_name)                      \
    extern "C" KELVARA_PLUGIN_EXPORT CProtocol* KelvaraCreateDriver() {      \
        return new class_name;                                               \
    }                                                                        \
    extern "C" KELVARA_PLUGIN_EXPORT DWORD KelvaraDriverInterfaceVersion() { \
        return KELVARA_DRIVER_INTERFACE_VERSION;                             \
    }                                                                        \
    extern "C" KELVARA_PLUGIN_EXPORT const char* KelvaraDriverName() {       \
        return display_name;                                                 \
    }

/// A driver plug-in loaded by a host.
class KELVARA_API CDriverLibrary {
public:
    /// Nothing loaded.
    CDriverLibrary();
    ~CDriverLibrary();
    CDriverLibrary(const CDriverLibrary&) = delete;
    CDriverLibrary& operator=(const CDriverLibrary&) = delete;

    /// Loads a driver plug-in and checks its interface version; FALSE with a
    /// reason in GetLastError() when the file is missing, is not a driver, or
    /// was built for another interface version.
    BOOL Load(const char* pszPath);
    /// Unloads the plug-in; drivers created from it must be gone.
    void Unload();
    /// TRUE while a plug-in is loaded.
    BOOL IsLoaded() const;

    /// A new driver object (owned by the caller), or nullptr when no library
    /// is loaded.
    CProtocol* CreateDriver();
    /// The name the driver gives itself.
    CString GetDriverName() const;
    /// Why the last Load failed.
    CString GetLastError() const { return m_strError; }

private:
    std::unique_ptr<kelvara::platform::DynamicLibrary> m_pLibrary;
    KelvaraCreateDriverFn m_pfnCreate = nullptr;
    KelvaraDriverNameFn m_pfnName = nullptr;
    CString m_strError;
};
/** @} */
