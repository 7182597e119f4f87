#include "kelvara/addressing/EDFFieldMap.h"

CEDFFieldMap& CEDFFieldMap::operator=(const CEDFFieldMap& other) {
    if (this != &other) {
        RemoveAll();
        CopyFrom(other);
    }
    return *this;
}

void CEDFFieldMap::CopyFrom(const CEDFFieldMap& other) {
    for (const auto& [name, pField] : other.m_byName) {
        SetAt(CString(name), new CEDFField(*pField));
    }
}

CEDFField* CEDFFieldMap::Find(std::string_view name) const {
    const auto it = m_byName.find(name);
    return it == m_byName.end() ? nullptr : it->second.get();
}

BOOL CEDFFieldMap::Lookup(const char* pszName, CEDFField*& rpField) const {
    CEDFField* pField = Find(pszName ? std::string_view(pszName) : std::string_view());
    if (pField == nullptr) {
        return FALSE;
    }
    rpField = pField;
    return TRUE;
}

CEDFField* CEDFFieldMap::FindIndex(int nIndex) const {
    const auto it = m_byIndex.find(nIndex);
    if (it == m_byIndex.end() || it->second->m_nIndex != nIndex) {
        return nullptr;
    }
    return it->second;
}

void CEDFFieldMap::SetAt(const CString& strName, CEDFField* pField) {
    if (pField == nullptr) {
        return;
    }
    std::unique_ptr<CEDFField>& slot = m_byName[strName.str()];
    if (slot.get() == pField) {
        m_byIndex[pField->m_nIndex] = pField;
        return;
    }
    if (slot) {
        const auto it = m_byIndex.find(slot->m_nIndex);
        if (it != m_byIndex.end() && it->second == slot.get()) {
            m_byIndex.erase(it);
        }
    }
    slot.reset(pField);
    m_byIndex[pField->m_nIndex] = pField;
}

void CEDFFieldMap::RemoveAll() {
    m_byIndex.clear();
    m_byName.clear();
}
