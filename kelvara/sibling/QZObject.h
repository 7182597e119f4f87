/** \addtogroup sibling
 @{ */
/// CQZObject: the serialisable base object of the library's records.
///
/// It keeps a version (2 from value constructors, 1 from copies and the
/// addressing records) and one more 32-bit member. Its archive record is the
/// version, then that member; every derived record starts with these bytes,
/// and a loader tests the version it gets back. It has a run-time class record
/// of its own, so records derived from it can be asked IsKindOf(CQZObject).
#pragma once

#include "kelvara/framework/Archive.h"
#include "kelvara/framework/Export.h"
#include "kelvara/framework/Object.h"
#include "kelvara/framework/Types.h"

class KELVARA_API CQZObject : public CObject {
    DECLARE_DYNAMIC(CQZObject)
public:
    /// A record of the given version.
    explicit CQZObject(int nVersion = 2) : m_nVersion(nVersion) {}
    ///@{
    /// Copyable.
    CQZObject(const CQZObject&) = default;
    CQZObject& operator=(const CQZObject&) = default;
    ///@}
    ~CQZObject() override = default;

    /// The version, then the second member, as two 32-bit values.
    void Serialize(CArchive& ar) override;
    /// Identifies the kind of record; 0 for the base object.
    virtual DWORD GetQZIdentifier() const { return m_dwIdentifier; }

    ///@{
    /// The version a loader tests.
    int GetVersion() const { return m_nVersion; }
    void SetVersion(int nVersion) { m_nVersion = nVersion; }
    ///@}

    /// The version (see GetVersion).
    int m_nVersion;
    /// The record kind, as GetQZIdentifier returns it.
    DWORD m_dwIdentifier = 0;
};
/** @} */
