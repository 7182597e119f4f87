#include "kelvara/sibling/PollProperties.h"

#include <memory>
#include <vector>

IMPLEMENT_SERIAL(CPollProperties, CQZProperties, 1)

CPollProperties::CPollProperties() : CQZProperties("Poll", "Poll List") {}

CPollProperties::CPollProperties(const CPollProperties& other) : CQZProperties(other) {
    CopyItems(other);
}

CPollProperties& CPollProperties::operator=(const CPollProperties& other) {
    if (this != &other) {
        CQZProperties::operator=(other);
        RemoveAllItems();
        CopyItems(other);
    }
    return *this;
}

CPollProperties::~CPollProperties() {
    RemoveAllItems();
}

void CPollProperties::CopyItems(const CPollProperties& other) {
    for (int i = 0; i < other.m_PollList.GetSize(); ++i) {
        if (const CPollListItem* pItem = other.m_PollList.GetAt(i)) {
            m_PollList.Add(new CPollListItem(*pItem));
        }
    }
}

CPollListItem* CPollProperties::AddItem(DWORD dwBlockId, BYTE byNode) {
    auto* pItem = new CPollListItem(dwBlockId, byNode);
    m_PollList.Add(pItem);
    return pItem;
}

void CPollProperties::RemoveAllItems() {
    for (int i = 0; i < m_PollList.GetSize(); ++i) {
        delete m_PollList.GetAt(i);
    }
    m_PollList.RemoveAll();
}

void CPollProperties::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        SerializeHeader(ar);
        int nItems = 0;
        for (int i = 0; i < m_PollList.GetSize(); ++i) {
            nItems += m_PollList.GetAt(i) != nullptr ? 1 : 0;
        }
        ar.WriteCount(static_cast<DWORD>(nItems));
        for (int i = 0; i < m_PollList.GetSize(); ++i) {
            if (CPollListItem* pItem = m_PollList.GetAt(i)) {
                pItem->Serialize(ar);
            }
        }
        return;
    }
    CPollProperties loaded;
    loaded.SerializeHeader(ar);
    const int nCount = ar.CheckLoadCount(ar.ReadCount(), CPollListItem::kMinArchiveSize);
    for (int i = 0; i < nCount; ++i) {
        loaded.AddItem(0, 0)->Serialize(ar);
    }
    *this = loaded;
}

bool CPollProperties::DumpToStringList(CStringList& list) {
    CString strLine;
    int nItems = 0;
    for (int i = 0; i < m_PollList.GetSize(); ++i) {
        nItems += m_PollList.GetAt(i) != nullptr ? 1 : 0;
    }
    strLine.Format("Poll.Count=%d", nItems);
    list.AddTail(strLine);
    for (int i = 0; i < m_PollList.GetSize(); ++i) {
        if (const CPollListItem* pItem = m_PollList.GetAt(i)) {
            strLine.Format("Poll.Item=%lu,%u", static_cast<unsigned long>(pItem->m_dwBlockId),
                           static_cast<unsigned>(pItem->m_byNode));
            list.AddTail(strLine);
        }
    }
    return true;
}

bool CPollProperties::UpdateFromStringList(CStringList* pList) {
    if (pList == nullptr) {
        return false;
    }
    std::vector<OwnLine> lines;
    if (!ReadOwnLines(*pList, lines)) {
        return false;
    }
    const int nLines = static_cast<int>(lines.size());
    long long nCount = -1;
    std::vector<CPollListItem> items;
    for (const OwnLine& line : lines) {
        if (line.strField == "Count") {
            if (nCount >= 0 || !items.empty() ||
                !ParseInteger(line.strValue, 0, nLines - 1, nCount)) {
                return false;
            }
        } else if (line.strField == "Item") {
            CPollListItem item;
            if (!ParseItem(line.strValue, item)) {
                return false;
            }
            items.push_back(item);
        } else {
            return false;
        }
    }
    if (nCount != static_cast<long long>(items.size())) {
        return false;
    }
    RemoveAllItems();
    for (const CPollListItem& item : items) {
        AddItem(item.m_dwBlockId, item.m_byNode);
    }
    RemoveHeadLines(*pList, nLines);
    return true;
}

bool CPollProperties::ParseItem(const CString& strValue, CPollListItem& item) {
    const int nComma = strValue.Find(',');
    if (nComma < 0) {
        return false;
    }
    long long nBlockId = 0;
    long long nNode = 0;
    if (!ParseInteger(strValue.Left(nComma), 0, 0xFFFFFFFFLL, nBlockId) ||
        !ParseInteger(strValue.Mid(nComma + 1), 0, 0xFF, nNode)) {
        return false;
    }
    item.m_dwBlockId = static_cast<DWORD>(nBlockId);
    item.m_byNode = static_cast<BYTE>(nNode);
    return true;
}
