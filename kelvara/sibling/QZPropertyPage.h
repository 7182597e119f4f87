/** \addtogroup sibling
 @{ */
// CQZPropertyPage: the property page of a property record. It knows its
// record, so that a host's property-sheet handler can show and edit the
// record's settings (for example through its string-list lines).
#pragma once

#include "kelvara/framework/Export.h"
#include "kelvara/framework/Ui.h"

class CQZProperties;

/// The property page of a property record.
class KELVARA_API CQZPropertyPage : public CPropertyPage {
public:
    /// A page for pRecord with a caption.
    CQZPropertyPage(CQZProperties* pRecord, const char* pszCaption)
        : CPropertyPage(pszCaption), m_pRecord(pRecord) {}
    CQZPropertyPage(const CQZPropertyPage&) = delete;
    CQZPropertyPage& operator=(const CQZPropertyPage&) = delete;

    /// The record the page edits.
    CQZProperties* GetRecord() const { return m_pRecord; }

private:
    CQZProperties* m_pRecord;
};
/** @} */
