/** \addtogroup platform
 @{ */
// Shared objects loaded at run time, for driver plug-ins.
#pragma once

#include <string>

#include "kelvara/framework/Export.h"

namespace kelvara::platform {

/// A shared object loaded at run time, unloaded when the object goes.
class KELVARA_API DynamicLibrary {
public:
    /// Constructs with the defaults of the class.
    DynamicLibrary() = default;
    ~DynamicLibrary();
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;

    /// Loads the shared object at strPath; false with the loader's reason in
    /// Error() when it cannot.
    bool Open(const std::string& strPath);
    /// The address of an exported symbol, or nullptr (reason in Error()).
    void* Symbol(const char* pszName);
    /// Unloads the library; its symbols are gone from then on.
    void Close();
    /// True while a library is loaded.
    bool IsOpen() const { return m_hLibrary != nullptr; }
    /// Why the last Open or Symbol failed.
    const std::string& Error() const { return m_strError; }

private:
    void* m_hLibrary = nullptr;
    std::string m_strError;
};

}  // namespace kelvara::platform
/** @} */
