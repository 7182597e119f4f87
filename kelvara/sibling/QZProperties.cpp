#include "kelvara/sibling/QZProperties.h"

#include <charconv>
#include <cstring>

// CQZObject has no run-time class record of its own: the chain goes to CObject.
IMPLEMENT_DYNAMIC(CQZProperties, CQZObject)

CQZProperties::CQZProperties(const char* pszRecordName, const char* pszPageCaption)
    : CQZObject(2), m_pszRecordName(pszRecordName), m_Page(this, pszPageCaption) {}

CQZProperties::CQZProperties(const CQZProperties& other)
    : CQZObject(1),
      m_pszRecordName(other.m_pszRecordName),
      m_Page(this, other.m_Page.GetCaption()) {
    m_dwIdentifier = other.m_dwIdentifier;
}

CQZProperties& CQZProperties::operator=(const CQZProperties& other) {
    CQZObject::operator=(other);
    return *this;
}

CQZProperties::~CQZProperties() = default;

CPropertyPage* CQZProperties::GetPropertyPage() {
    return &m_Page;
}

void CQZProperties::SerializeHeader(CArchive& ar) {
    CQZObject::Serialize(ar);
    if (ar.IsStoring()) {
        ar << kLayout;
        return;
    }
    DWORD dwLayout = 0;
    ar >> dwLayout;
    if (dwLayout != kLayout) {
        CArchiveException::Throw(CArchiveException::badSchema);
    }
}

bool CQZProperties::DumpToStringList(CStringList& list) {
    FieldList fields;
    DescribeFields(fields);
    for (const Field& field : fields) {
        CString strLine;
        strLine.Format("%s.%s=%s", m_pszRecordName, field.pszName,
                       static_cast<const char*>(field.format()));
        list.AddTail(strLine);
    }
    return true;
}

bool CQZProperties::UpdateFromStringList(CStringList* pList) {
    if (pList == nullptr) {
        return false;
    }
    std::vector<OwnLine> lines;
    if (!ReadOwnLines(*pList, lines)) {
        return false;
    }
    FieldList fields;
    DescribeFields(fields);
    std::vector<const Field*> pending;
    for (const OwnLine& line : lines) {
        const Field* pField = nullptr;
        for (const Field& field : fields) {
            if (line.strField == field.pszName) {
                pField = &field;
                break;
            }
        }
        if (pField == nullptr || !pField->parse(line.strValue, false)) {
            return false;
        }
        pending.push_back(pField);
    }
    // Every line checked: only now does the record change.
    for (size_t i = 0; i < pending.size(); ++i) {
        pending[i]->parse(lines[i].strValue, true);
    }
    RemoveHeadLines(*pList, static_cast<int>(lines.size()));
    return true;
}

bool CQZProperties::ReadOwnLines(const CStringList& list, std::vector<OwnLine>& lines) const {
    const int nLines = CountOwnLines(list);
    if (nLines == 0) {
        return false;
    }
    lines.resize(static_cast<size_t>(nLines));
    POSITION pos = list.GetHeadPosition();
    for (OwnLine& line : lines) {
        if (!SplitLine(list.GetNext(pos), line.strField, line.strValue)) {
            return false;
        }
    }
    return true;
}

void CQZProperties::RemoveHeadLines(CStringList& list, int nLines) {
    for (int i = 0; i < nLines; ++i) {
        list.RemoveHead();
    }
}

int CQZProperties::CountOwnLines(const CStringList& list) const {
    const size_t nPrefix = std::strlen(m_pszRecordName);
    int nCount = 0;
    POSITION pos = list.GetHeadPosition();
    while (pos != nullptr) {
        const CString& strLine = list.GetNext(pos);
        const bool bOwn = static_cast<size_t>(strLine.GetLength()) > nPrefix &&
                          std::strncmp(strLine, m_pszRecordName, nPrefix) == 0 &&
                          strLine.GetAt(static_cast<int>(nPrefix)) == '.';
        if (!bOwn) {
            break;
        }
        ++nCount;
    }
    return nCount;
}

bool CQZProperties::SplitLine(const CString& strLine, CString& strField, CString& strValue) const {
    const int nStart = static_cast<int>(std::strlen(m_pszRecordName)) + 1;
    const int nEquals = strLine.Find('=', nStart);
    if (nEquals < 0) {
        return false;
    }
    strField = strLine.Mid(nStart, nEquals - nStart);
    strValue = strLine.Mid(nEquals + 1);
    return true;
}

CString CQZProperties::FormatInteger(long long nValue) {
    CString str;
    str.Format("%lld", nValue);
    return str;
}

bool CQZProperties::ParseInteger(const CString& strText, long long nMin, long long nMax,
                                 long long& nValue) {
    const std::string& s = strText.str();
    size_t nFirst = s.find_first_not_of(" \t");
    size_t nLast = s.find_last_not_of(" \t");
    if (nFirst == std::string::npos) {
        return false;
    }
    const char* pBegin = s.data() + nFirst;
    const char* pEnd = s.data() + nLast + 1;
    if (*pBegin == '+') {
        ++pBegin;  // from_chars takes no plus sign
        if (pBegin == pEnd || *pBegin == '-') {
            return false;
        }
    }
    long long n = 0;
    const auto [ptr, ec] = std::from_chars(pBegin, pEnd, n);
    if (ec != std::errc() || ptr != pEnd || n < nMin || n > nMax) {
        return false;
    }
    nValue = n;
    return true;
}

CQZProperties::Field CQZProperties::StringField(const char* pszName, CString& strValue) {
    return Field{pszName, [&strValue] { return strValue; },
                 [&strValue](const CString& strText, bool bStore) {
                     if (bStore) {
                         strValue = strText;
                     }
                     return true;
                 }};
}
