/** \addtogroup framework
 @{ */
// Windows, property pages, property sheets and message boxes, as shells.
//
// A headless library cannot show a dialog itself: a host installs handlers
// that show them in its own user interface. Without a handler, a property
// sheet is "not shown" (DoModal returns 0) and a message box writes its text
// to standard error and answers IDOK.
#pragma once

#include <functional>
#include <vector>

#include "kelvara/framework/Export.h"
#include "kelvara/framework/Object.h"
#include "kelvara/framework/String.h"
#include "kelvara/framework/Types.h"

constexpr UINT MB_OK = 0x00000000u;               ///< Message box with an OK button.
constexpr UINT MB_OKCANCEL = 0x00000001u;         ///< OK and Cancel buttons.
constexpr UINT MB_YESNO = 0x00000004u;            ///< Yes and No buttons.
constexpr UINT MB_ICONEXCLAMATION = 0x00000030u;  ///< Exclamation-mark icon.
constexpr UINT MB_ICONINFORMATION = 0x00000040u;  ///< Information icon.
///@{
/// Message-box answers.
constexpr int IDOK = 1;
/// The Cancel button.
constexpr int IDCANCEL = 2;
/// The Yes button.
constexpr int IDYES = 6;
/// The No button.
constexpr int IDNO = 7;
///@}

/// The framework's window, as a shell with a text.
class KELVARA_API CWnd : public CObject {
public:
    /// A window without text.
    CWnd() = default;
    /// The window's text.
    CString m_strWindowText;
};

/// A property page: a caption, shown by the host's property-sheet handler.
class KELVARA_API CPropertyPage : public CWnd {
public:
    /// A page with the given caption.
    explicit CPropertyPage(const char* pszCaption = "") : m_strCaption(pszCaption) {}
    ///@{
    /// The caption on the page's tab.
    const CString& GetCaption() const { return m_strCaption; }
    void SetCaption(const char* pszCaption) { m_strCaption = pszCaption; }
    ///@}

private:
    CString m_strCaption;
};

class CPropertySheet;

/// Shows a property sheet modally and returns what the framework's DoModal
/// would: 0 when it could not be shown, else IDOK or IDCANCEL.
using PropertySheetHandler = std::function<int(CPropertySheet&)>;
/// Shows a message box and returns the button pressed (IDOK, IDCANCEL, ...).
using MessageBoxHandler = std::function<int(const char* text, UINT type)>;

///@{
/// Installs the host's handler; an empty handler restores the default.
KELVARA_API void AfxSetPropertySheetHandler(PropertySheetHandler handler);
KELVARA_API void AfxSetMessageBoxHandler(MessageBoxHandler handler);
///@}

/// Shows a message box through the host's handler; the button pressed.
KELVARA_API int AfxMessageBox(const char* lpszText, UINT nType = MB_OK, UINT nIDHelp = 0);

/// Pages are not owned by the sheet.
class KELVARA_API CPropertySheet : public CWnd {
public:
    /// A sheet with a caption, a parent and the page to show first.
    explicit CPropertySheet(const char* pszCaption = "", CWnd* pParentWnd = nullptr,
                            UINT iSelectPage = 0);

    ///@{
    /// The caption of the sheet.
    void SetTitle(const char* pszText) { m_strCaption = pszText; }
    const CString& GetTitle() const { return m_strCaption; }
    ///@}
    ///@{
    /// The pages, in order; GetPage gives nullptr outside them.
    void AddPage(CPropertyPage* pPage);
    void RemovePage(int nPage);
    int GetPageCount() const { return static_cast<int>(m_pages.size()); }
    CPropertyPage* GetPage(int nPage) const;
    ///@}
    ///@{
    /// The page shown first, and the parent window.
    UINT GetActiveIndex() const { return m_iSelectPage; }
    CWnd* GetParent() const { return m_pParentWnd; }
    ///@}

    /// Shows the sheet through the host's handler; 0 when it could not be shown.
    virtual int DoModal();

private:
    CString m_strCaption;
    CWnd* m_pParentWnd;
    UINT m_iSelectPage;
    std::vector<CPropertyPage*> m_pages;
};
/** @} */
