#include "kelvara/framework/Resource.h"

#include <algorithm>
#include <atomic>

namespace {

std::atomic<WORD> g_wLanguage{LANG_ENGLISH_UK};

const char* FindInTable(const StringResourceTable& table, UINT nID) {
    const StringResourceEntry* first = table.pEntries;
    const StringResourceEntry* last = table.pEntries + table.nEntries;
    const StringResourceEntry* it = std::lower_bound(
        first, last, nID, [](const StringResourceEntry& e, UINT id) { return e.nID < id; });
    return (it != last && it->nID == nID) ? it->pszText : nullptr;
}

}  // namespace

void SetResourceLanguage(WORD wLanguage) {
    g_wLanguage.store(wLanguage, std::memory_order_relaxed);
}

WORD GetResourceLanguage() {
    return g_wLanguage.load(std::memory_order_relaxed);
}

const char* FindStringResource(HINSTANCE hModule, UINT nID) {
    if (hModule == nullptr || hModule->pTables == nullptr) {
        return nullptr;
    }
    const WORD wLanguage = GetResourceLanguage();
    const StringResourceTable* begin = hModule->pTables;
    const StringResourceTable* end = begin + hModule->nTables;
    for (const StringResourceTable* t = begin; t != end; ++t) {
        if (t->wLanguage == wLanguage) {
            if (const char* text = FindInTable(*t, nID)) {
                return text;
            }
        }
    }
    for (const StringResourceTable* t = begin; t != end; ++t) {
        if (const char* text = FindInTable(*t, nID)) {
            return text;
        }
    }
    return nullptr;
}
