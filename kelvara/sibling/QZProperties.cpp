#include "kelvara/sibling/QZProperties.h"

#include <charconv>

#include "kelvara/framework/File.h"

// The chain of run-time classes goes through CQZObject's record to CObject.
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
        ar << kLayout << CString(m_pszRecordName);
        return;
    }
    DWORD dwLayout = 0;
    ar >> dwLayout;
    if (dwLayout != kLayout) {
        CArchiveException::Throw(CArchiveException::badSchema);
    }
    CString strName;
    ar >> strName;
    if (strName != m_pszRecordName) {
        CArchiveException::Throw(CArchiveException::badClass);
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
    lines.clear();
    for (POSITION pos = list.GetHeadPosition(); pos != nullptr;) {
        CString strRecord;
        OwnLine line;
        if (!SplitLine(list.GetNext(pos), strRecord, line.strField, line.strValue)) {
            return false;
        }
        if (strRecord != m_pszRecordName) {
            break;  // the next record's lines begin
        }
        lines.push_back(line);
    }
    return !lines.empty();
}

void CQZProperties::RemoveHeadLines(CStringList& list, int nLines) {
    for (int i = 0; i < nLines; ++i) {
        list.RemoveHead();
    }
}

namespace {

bool IsNameChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

// The length of the name at the start of psz.
size_t NameLength(const char* psz) {
    size_t n = 0;
    while (IsNameChar(psz[n])) {
        ++n;
    }
    return n;
}

}  // namespace

bool CQZProperties::SplitLine(const CString& strLine, CString& strRecord, CString& strField,
                              CString& strValue) {
    const char* psz = strLine;
    const size_t nRecord = NameLength(psz);
    if (nRecord == 0 || psz[nRecord] != '.') {
        return false;
    }
    const char* pszField = psz + nRecord + 1;
    const size_t nField = NameLength(pszField);
    if (nField == 0 || pszField[nField] != '=') {
        return false;
    }
    strRecord = strLine.Left(static_cast<int>(nRecord));
    strField = strLine.Mid(static_cast<int>(nRecord + 1), static_cast<int>(nField));
    strValue = strLine.Mid(static_cast<int>(nRecord + 1 + nField + 1));
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

namespace {

// The archive form of several records, taken before they change, to put
// back those a failed update or load had already changed.
class CRecordsSnapshot {
public:
    explicit CRecordsSnapshot(std::initializer_list<CQZProperties*> records) : m_records(records) {
        CArchive ar(&m_File, CArchive::store);
        for (CQZProperties* pRecord : m_records) {
            pRecord->Serialize(ar);
        }
    }
    // Puts back the first nRecords records.
    void Restore(size_t nRecords) {
        m_File.SeekToBegin();
        CArchive ar(&m_File, CArchive::load);
        for (size_t i = 0; i < nRecords && i < m_records.size(); ++i) {
            m_records[i]->Serialize(ar);
        }
    }

private:
    std::vector<CQZProperties*> m_records;
    CMemFile m_File;
};

}  // namespace

bool UpdateRecordsFromStringList(CStringList* pList,
                                 std::initializer_list<CQZProperties*> records) {
    if (pList == nullptr) {
        return false;
    }
    CRecordsSnapshot saved(records);
    CStringList lines(*pList);
    size_t nUpdated = 0;
    for (CQZProperties* pRecord : records) {
        if (!pRecord->UpdateFromStringList(&lines)) {
            break;
        }
        ++nUpdated;
    }
    if (nUpdated < records.size()) {
        saved.Restore(nUpdated);
        return false;
    }
    // The records took their lines from the head.
    while (pList->GetCount() > lines.GetCount()) {
        pList->RemoveHead();
    }
    return true;
}

void SerializeRecords(CArchive& ar, std::initializer_list<CQZProperties*> records) {
    if (ar.IsStoring()) {
        for (CQZProperties* pRecord : records) {
            pRecord->Serialize(ar);
        }
        return;
    }
    CRecordsSnapshot saved(records);
    size_t nLoaded = 0;
    try {
        for (CQZProperties* pRecord : records) {
            pRecord->Serialize(ar);
            ++nLoaded;
        }
    } catch (...) {
        // The record that threw is as it was: each record loads whole or
        // not at all.
        saved.Restore(nLoaded);
        throw;
    }
}
