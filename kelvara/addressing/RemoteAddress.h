/** \addtogroup addressing
 @{ */
/// CRemoteAddress: the address of a data point in a remote device, as text
/// with the EDF format it must fit; checks itself, hands out field values,
/// encodes itself into bytes and computes the address that follows it.
#pragma once

#include "kelvara/addressing/EDFFormat.h"
#include "kelvara/addressing/EDFRet.h"
#include "kelvara/framework/Archive.h"
#include "kelvara/framework/Array.h"
#include "kelvara/framework/Export.h"
#include "kelvara/framework/String.h"
#include "kelvara/framework/Types.h"
#include "kelvara/sibling/QZObject.h"

/// Every address owns its format and fields; copies are deep and carry the
/// parsed state, so a copy answers Field at once.
class KELVARA_API CRemoteAddress {
public:
    /// Empty address and format, not parsed, not validated.
    CRemoteAddress() = default;
    /// Address text, format text and attribute text (null pointers count as
    /// empty). Parses and validates at once; the result is dropped: call
    /// Validate again to learn it.
    CRemoteAddress(const char* pszAddress, const char* pszFormat, const char* pszAttributes);
    /// Copies other.
    CRemoteAddress(const CRemoteAddress& other);
    /// Copies the address text, the format and the stepping flag; m_Object
    /// stays as it is.
    CRemoteAddress& operator=(const CRemoteAddress& other);
    ~CRemoteAddress() = default;

    /// Replaces the text; validates nothing and leaves the stepping flag.
    void SetAddress(CString strAddress);
    /// The address text.
    const CString& GetAddress() const { return m_strAddress; }

    /// Checks the text against the format (parsing it first when needed) and
    /// brings the stepping flag up to date, whatever the result.
    EDF_RET Validate();

    ///@{
    /// Field values of the text; these neither parse nor validate.
    EDF_RET Field(const char* pszName, CString& strValue) const;
    EDF_RET Field(int nIndex, CString& strValue) const;
    EDF_RET Field(int nIndex, int* pnKeyword) const;
    ///@}

    /// TRUE when a field of the format steps, as of the last Validate.
    int IsAutoIncrementable() const { return m_bAutoIncrement; }
    /// The 1-based index of the field in error, as of the format's checks.
    int GetFieldInError() const { return m_Format.GetFieldInError(m_strAddress); }
    /// The text of an EDF_RET code.
    CString GetErrorString(EDF_RET eCode) const { return m_Format.GetErrorString(eCode); }

    /// The base object, the format text and the stepping flag. Loading keeps
    /// the address text and the attribute text, then parses the new format
    /// and validates against it (the flag read is replaced by the new one).
    void Serialize(CArchive& ar);

    /// Appends the encoded address: per field in index order its value in
    /// m_nEncodedSize bytes, little-endian. EDF_FAILED when a field is
    /// missing (the encoding stops) or has a size other than 1, 2 or 4 (it
    /// adds nothing and the others are still encoded). Call it on a valid
    /// address: a value that cannot be read is encoded as 0.
    EDF_RET Compress(CByteArray& encoded) const;
    /// The address after this one: the stepping field moved by its step,
    /// everything else repeated. Not validated: stepping past a range or a
    /// width gives an address that Validate rejects, which ends a run. On a
    /// failure reading this address, rNext is left unchanged.
    EDF_RET GetNextAddress(CRemoteAddress& rNext) const;

    /// The address text.
    CString m_strAddress;
    /// The version record of the address.
    CQZObject m_Object{1};
    /// The format the address must fit.
    CEDFFormat m_Format;
    /// TRUE when a field of the format steps.
    BOOL m_bAutoIncrement = FALSE;
};
/** @} */
