#include "kelvara/addressing/EDFFieldMap.h"

#include <algorithm>

CEDFFieldMap& CEDFFieldMap::operator=(const CEDFFieldMap& other) {
    if (this != &other) {
        RemoveAll();
        CopyFrom(other);
    }
    return *this;
}

void CEDFFieldMap::CopyFrom(const CEDFFieldMap& other) {
    // The copy's table is as large as the source's from the start, so fields
    // arriving in name order still all find their place in it.
    m_dense.assign(other.m_dense.size(), nullptr);
    for (const auto& [name, entry] : other.m_byName) {
        SetAt(CString(name), new CEDFField(*entry.pField));
    }
}

CEDFField* CEDFFieldMap::Find(std::string_view name) const {
    const auto it = m_byName.find(name);
    return it == m_byName.end() ? nullptr : it->second.pField.get();
}

BOOL CEDFFieldMap::Lookup(const char* pszName, CEDFField*& rpField) const {
    CEDFField* pField = Find(pszName ? std::string_view(pszName) : std::string_view());
    if (pField == nullptr) {
        return FALSE;
    }
    rpField = pField;
    return TRUE;
}

CEDFField* CEDFFieldMap::FindIndexSlow(int nIndex) const {
    const auto it = m_byIndex.find(nIndex);
    if (it == m_byIndex.end() || it->second->m_nIndex != nIndex) {
        return nullptr;
    }
    return it->second;
}

void CEDFFieldMap::Unindex(const Entry& entry) {
    const CEDFField* pField = entry.pField.get();
    const int nIndex = entry.nStoredIndex;
    const auto it = m_byIndex.find(nIndex);
    if (it != m_byIndex.end() && it->second == pField) {
        m_byIndex.erase(it);
    }
    if (nIndex >= 1 && static_cast<size_t>(nIndex) <= m_dense.size() &&
        m_dense[static_cast<size_t>(nIndex) - 1] == pField) {
        m_dense[static_cast<size_t>(nIndex) - 1] = nullptr;
    }
}

BOOL CEDFFieldMap::SetAt(const CString& strName, CEDFField* pField) {
    if (pField == nullptr) {
        return FALSE;
    }
    Entry& entry = m_byName[strName.str()];
    const BOOL bReplaced = entry.pField && entry.pField.get() != pField;
    if (entry.pField) {
        Unindex(entry);
    }
    if (bReplaced) {
        *std::find(m_all.begin(), m_all.end(), entry.pField.get()) = pField;
    } else if (!entry.pField) {
        m_all.push_back(pField);
    }
    if (entry.pField.get() != pField) {
        entry.pField.reset(pField);
    }
    const int nIndex = pField->m_nIndex;
    entry.nStoredIndex = nIndex;
    // The parse stores indexes in rising order: appending at the end then
    // takes constant time.
    if (m_byIndex.empty() || m_byIndex.rbegin()->first < nIndex) {
        m_byIndex.emplace_hint(m_byIndex.end(), nIndex, pField);
    } else {
        m_byIndex[nIndex] = pField;
    }
    const size_t nLimit = std::max(2 * m_byName.size() + 16, m_dense.size());
    if (nIndex >= 1 && static_cast<size_t>(nIndex) <= nLimit) {
        if (m_dense.size() < static_cast<size_t>(nIndex)) {
            m_dense.resize(static_cast<size_t>(nIndex), nullptr);
        }
        m_dense[static_cast<size_t>(nIndex) - 1] = pField;
    }
    return bReplaced;
}

void CEDFFieldMap::RemoveAll() {
    m_all.clear();
    m_dense.clear();
    m_byIndex.clear();
    m_byName.clear();
}
