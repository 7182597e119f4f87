/** \addtogroup framework
 @{ */
// String resources of a module, in the framework's manner: a module handle
// names a set of string tables, one per resource language.
#pragma once

#include <cstddef>

#include "kelvara/framework/Export.h"
#include "kelvara/framework/Types.h"

/// Resource languages, as the Windows language identifiers.
constexpr WORD LANG_ITALIAN_ITALY = 0x0410;
/// See LANG_ITALIAN_ITALY.
constexpr WORD LANG_ENGLISH_UK = 0x0809;

/// One string of a table: its id and text.
struct StringResourceEntry {
    /// The string id.
    UINT nID;
    /// The text.
    const char* pszText;
};

/// One language's strings, sorted by id.
struct StringResourceTable {
    /// The resource language.
    WORD wLanguage;
    ///@{
    /// The entries, sorted by id.
    const StringResourceEntry* pEntries;
    std::size_t nEntries;
    ///@}
};

/// A module's resources: its string tables, the first being the default.
struct ResourceModule {
    /// The module's name.
    const char* pszName;
    ///@{
    /// The tables.
    const StringResourceTable* pTables;
    std::size_t nTables;
    ///@}
};

///@{
/// Handles of a module's resources.
using HINSTANCE = const ResourceModule*;
/// See HINSTANCE.
using HMODULE = HINSTANCE;
///@}

/// The language string look-ups try first (LANG_ENGLISH_UK unless set); a
/// string missing from it is taken from the module's other tables.
KELVARA_API void SetResourceLanguage(WORD wLanguage);
/// See SetResourceLanguage.
KELVARA_API WORD GetResourceLanguage();

/// The text of string nID of a module, or nullptr when it has none.
KELVARA_API const char* FindStringResource(HINSTANCE hModule, UINT nID);
/** @} */
