/** \addtogroup sibling
 @{ */
/// CQZSheet: the property sheet that shows the pages of a driver's property
/// records. Shown modally through the host's property-sheet handler; without
/// a handler it is not shown and DoModal returns 0.
#pragma once

#include "kelvara/framework/Export.h"
#include "kelvara/framework/Types.h"
#include "kelvara/framework/Ui.h"

class KELVARA_API CQZSheet : public CPropertySheet {
public:
    /// A value kept for the host, the caption, the parent window and the page
    /// selected first.
    CQZSheet(DWORD dwValue, const char* pszCaption, CWnd* pParentWnd, UINT iSelectPage)
        : CPropertySheet(pszCaption, pParentWnd, iSelectPage), m_dwValue(dwValue) {}
    CQZSheet(const CQZSheet&) = delete;
    CQZSheet& operator=(const CQZSheet&) = delete;

    ///@{
    /// The caption of the sheet.
    void SetCaption(const char* pszCaption) { SetTitle(pszCaption); }
    const CString& GetCaption() const { return GetTitle(); }
    ///@}
    /// What DoModal returned last.
    DWORD GetValue() const { return m_dwValue; }

private:
    DWORD m_dwValue;
};
/** @} */
