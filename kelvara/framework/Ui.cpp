#include "kelvara/framework/Ui.h"

#include <cstdio>
#include <mutex>

namespace {

struct Handlers {
    std::mutex lock;
    PropertySheetHandler sheet;
    MessageBoxHandler messageBox;
};

Handlers& TheHandlers() {
    static Handlers handlers;
    return handlers;
}

}  // namespace

void AfxSetPropertySheetHandler(PropertySheetHandler handler) {
    Handlers& h = TheHandlers();
    std::lock_guard<std::mutex> guard(h.lock);
    h.sheet = std::move(handler);
}

void AfxSetMessageBoxHandler(MessageBoxHandler handler) {
    Handlers& h = TheHandlers();
    std::lock_guard<std::mutex> guard(h.lock);
    h.messageBox = std::move(handler);
}

int AfxMessageBox(const char* lpszText, UINT nType, UINT) {
    MessageBoxHandler handler;
    {
        Handlers& h = TheHandlers();
        std::lock_guard<std::mutex> guard(h.lock);
        handler = h.messageBox;
    }
    if (handler) {
        return handler(lpszText ? lpszText : "", nType);
    }
    std::fprintf(stderr, "%s\n", lpszText ? lpszText : "");
    return IDOK;
}

CPropertySheet::CPropertySheet(const char* pszCaption, CWnd* pParentWnd, UINT iSelectPage)
    : m_strCaption(pszCaption), m_pParentWnd(pParentWnd), m_iSelectPage(iSelectPage) {}

void CPropertySheet::AddPage(CPropertyPage* pPage) {
    if (pPage) {
        m_pages.push_back(pPage);
    }
}

void CPropertySheet::RemovePage(int nPage) {
    if (nPage >= 0 && nPage < GetPageCount()) {
        m_pages.erase(m_pages.begin() + nPage);
    }
}

CPropertyPage* CPropertySheet::GetPage(int nPage) const {
    return nPage >= 0 && nPage < GetPageCount() ? m_pages[static_cast<size_t>(nPage)] : nullptr;
}

int CPropertySheet::DoModal() {
    PropertySheetHandler handler;
    {
        Handlers& h = TheHandlers();
        std::lock_guard<std::mutex> guard(h.lock);
        handler = h.sheet;
    }
    return handler ? handler(*this) : 0;
}
