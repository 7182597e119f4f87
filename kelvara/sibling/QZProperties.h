// CQZProperties: the base of the property records (settings with a property
// page, an archive form and string-list lines).
//
// Archive form: the CQZObject record (version, second member), the record's
// layout number (32-bit, 1 so far), then its fields in declaration order. A
// load either takes the whole record or, on a damaged archive, throws
// CArchiveException and leaves the record as it was.
//
// String-list form: one line "Record.Field=Value" per field, e.g.
// "Port.BaudRate=9600". DumpToStringList appends the record's lines at the
// tail. UpdateFromStringList takes the record's lines from the head, up to
// the first line of another record, so records dumped one after another
// into one list read back in the same order. It returns false, and changes
// neither the record nor the list, when no line at the head is the record's
// or when one of its lines names an unknown field or holds a bad value.
#pragma once

#include <functional>
#include <vector>

#include "kelvara/framework/Archive.h"
#include "kelvara/framework/List.h"
#include "kelvara/framework/String.h"
#include "kelvara/framework/Types.h"
#include "kelvara/framework/Ui.h"
#include "kelvara/sibling/QZObject.h"
#include "kelvara/sibling/QZPropertyPage.h"

class CQZProperties : public CQZObject {
    DECLARE_DYNAMIC(CQZProperties)

public:
    ~CQZProperties() override;

    virtual CPropertyPage* GetPropertyPage();
    virtual bool DumpToStringList(CStringList& list);
    virtual bool UpdateFromStringList(CStringList* pList);

    // The record's name in its string-list lines ("Port" for "Port.BaudRate").
    const char* GetRecordName() const { return m_pszRecordName; }

    // The layout number the records write and accept.
    static constexpr DWORD kLayout = 1;

protected:
    // One field of the string-list form: its text, and a parser that checks
    // a text and, when bStore is true, stores it.
    struct Field {
        const char* pszName;
        std::function<CString()> format;
        std::function<bool(const CString& strText, bool bStore)> parse;
    };
    using FieldList = std::vector<Field>;

    CQZProperties(const char* pszRecordName, const char* pszPageCaption);
    // Version 1, as every copy; a page of its own.
    CQZProperties(const CQZProperties& other);
    // Takes the version, the second member and nothing else: not the page.
    CQZProperties& operator=(const CQZProperties& other);

    // The fields of the string-list form, bound to this record.
    virtual void DescribeFields(FieldList& fields) = 0;

    // Start of every record's Serialize: the CQZObject record and the
    // layout number; loading throws badSchema for a layout it does not know.
    void SerializeHeader(CArchive& ar);

    // The record's own lines at the head of the list, at most; the count of
    // them.
    int CountOwnLines(const CStringList& list) const;
    // Splits "Record.Field=Value" of this record into field and value.
    bool SplitLine(const CString& strLine, CString& strField, CString& strValue) const;

    // One "Field=Value" line of this record.
    struct OwnLine {
        CString strField;
        CString strValue;
    };
    // The record's own lines at the head of the list, split, without
    // taking them off; false when there are none or one is malformed.
    bool ReadOwnLines(const CStringList& list, std::vector<OwnLine>& lines) const;
    // Takes nLines lines off the head of the list, once they have been used.
    static void RemoveHeadLines(CStringList& list, int nLines);

    // An integer field within [nMin, nMax]; T may be an enumeration.
    template <class T>
    static Field IntegerField(const char* pszName, T& value, long long nMin, long long nMax) {
        return Field{pszName, [&value] { return FormatInteger(static_cast<long long>(value)); },
                     [&value, nMin, nMax](const CString& strText, bool bStore) {
                         long long n = 0;
                         if (!ParseInteger(strText, nMin, nMax, n)) {
                             return false;
                         }
                         if (bStore) {
                             value = static_cast<T>(n);
                         }
                         return true;
                     }};
    }
    static Field ByteField(const char* pszName, BYTE& byValue) {
        return IntegerField(pszName, byValue, 0, 0xFF);
    }
    static Field WordField(const char* pszName, WORD& wValue) {
        return IntegerField(pszName, wValue, 0, 0xFFFF);
    }
    static Field DwordField(const char* pszName, DWORD& dwValue) {
        return IntegerField(pszName, dwValue, 0, 0xFFFFFFFFLL);
    }
    // Also for the 32-bit booleans and the enumerations, which may hold any
    // 32-bit value.
    template <class T>
    static Field LongField(const char* pszName, T& value) {
        return IntegerField(pszName, value, kLongMin, kLongMax);
    }
    static Field StringField(const char* pszName, CString& strValue);

    static CString FormatInteger(long long nValue);
    // A decimal integer within [nMin, nMax], blanks around it allowed.
    static bool ParseInteger(const CString& strText, long long nMin, long long nMax,
                             long long& nValue);
    static constexpr long long kLongMin = -2147483648LL;
    static constexpr long long kLongMax = 2147483647LL;

private:
    const char* m_pszRecordName;
    CQZPropertyPage m_Page;
};
