/** \addtogroup addressing
 @{ */
/// CEDFField: one field of a parsed address format.
#pragma once

#include "kelvara/addressing/EDFRange.h"
#include "kelvara/framework/Array.h"
#include "kelvara/framework/Export.h"
#include "kelvara/framework/String.h"
#include "kelvara/framework/Types.h"
#include "kelvara/sibling/QZObject.h"

/// The field owns the entries of m_Ranges; copying a field copies them too.
class KELVARA_API CEDFField : public CQZObject {
public:
    /// Constructs with the defaults of the class.
    CEDFField() : CQZObject(1) {}
    /// Copies other.
    CEDFField(const CEDFField& other);
    /// Copies other.
    CEDFField& operator=(const CEDFField& other);
    ~CEDFField() override;

    /// Appends an entry the field then owns.
    void AddRange(const CString& strLow, const CString& strHigh);
    /// Destroys every entry of m_Ranges.
    void DeleteRanges();

    char m_cType = 'X';  ///< 'N' numeric, 'T' keyword
    int m_nWidth = 0;    ///< characters; -1 for a variable width
    /// The field's name in the format.
    CString m_strName;
    int m_nRadix = 10;  ///< 10, 16 or 8
    int m_nIndex = 0;   ///< 1-based position among the fields of the format
    /// The entries of the field's list (owned).
    CTypedPtrArray<CPtrArray, CEDFRange*> m_Ranges;
    BOOL m_bIncrement = FALSE;  ///< steps when the next address is made
    /// The step of a stepping field; 0 when the field does not step.
    int m_nStep = 0;
    BOOL m_bFree = FALSE;  ///< text taken without any check
    /// Whether keywords of the field compare case-sensitively.
    BOOL m_bCaseSensitive = TRUE;
    int m_nEncodedSize = 0;  ///< bytes in the encoded address
    BOOL m_bKindI = FALSE;   ///< kind letter "I" in the attribute text; kept for the caller
};
/** @} */
