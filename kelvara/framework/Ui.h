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

constexpr UINT MB_OK = 0x00000000u;
constexpr UINT MB_OKCANCEL = 0x00000001u;
constexpr UINT MB_YESNO = 0x00000004u;
constexpr UINT MB_ICONEXCLAMATION = 0x00000030u;
constexpr UINT MB_ICONINFORMATION = 0x00000040u;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

class KELVARA_API CWnd : public CObject {
public:
    CWnd() = default;
    CString m_strWindowText;
};

class KELVARA_API CPropertyPage : public CWnd {
public:
    explicit CPropertyPage(const char* pszCaption = "") : m_strCaption(pszCaption) {}
    const CString& GetCaption() const { return m_strCaption; }
    void SetCaption(const char* pszCaption) { m_strCaption = pszCaption; }

private:
    CString m_strCaption;
};

class CPropertySheet;

// Shows a property sheet modally and returns what the framework's DoModal
// would: 0 when it could not be shown, else IDOK or IDCANCEL.
using PropertySheetHandler = std::function<int(CPropertySheet&)>;
// Shows a message box and returns the button pressed (IDOK, IDCANCEL, ...).
using MessageBoxHandler = std::function<int(const char* text, UINT type)>;

KELVARA_API void AfxSetPropertySheetHandler(PropertySheetHandler handler);
KELVARA_API void AfxSetMessageBoxHandler(MessageBoxHandler handler);

KELVARA_API int AfxMessageBox(const char* lpszText, UINT nType = MB_OK, UINT nIDHelp = 0);

// Pages are not owned by the sheet.
class KELVARA_API CPropertySheet : public CWnd {
public:
    explicit CPropertySheet(const char* pszCaption = "", CWnd* pParentWnd = nullptr,
                            UINT iSelectPage = 0);

    void SetTitle(const char* pszText) { m_strCaption = pszText; }
    const CString& GetTitle() const { return m_strCaption; }
    void AddPage(CPropertyPage* pPage);
    void RemovePage(int nPage);
    int GetPageCount() const { return static_cast<int>(m_pages.size()); }
    CPropertyPage* GetPage(int nPage) const;
    UINT GetActiveIndex() const { return m_iSelectPage; }
    CWnd* GetParent() const { return m_pParentWnd; }

    virtual int DoModal();

private:
    CString m_strCaption;
    CWnd* m_pParentWnd;
    UINT m_iSelectPage;
    std::vector<CPropertyPage*> m_pages;
};
