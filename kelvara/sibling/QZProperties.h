/** \addtogroup sibling
 @{ */
/// CQZProperties: the base of the property records (settings with a property
/// page, an archive form and string-list lines).
///
/// Archive form: the CQZObject record (version, second member), the layout
/// number (32-bit, 2), the record's name (a string, the same as in its
/// string-list lines, e.g. "Port"), then its fields in declaration order. The
/// name tells one kind of record from another: a driver loading another
/// driver's archive meets a record it does not expect. A load either takes the
/// whole record or throws CArchiveException and leaves the record as it was:
/// badSchema for a layout it does not know (layout 1 carried no name),
/// badClass for another record's name, endOfFile for a record cut short.
///
/// String-list form: one line "Record.Field=Value" per field, e.g.
/// "Port.BaudRate=9600"; record and field names are letters, digits and '_'.
/// DumpToStringList appends the record's lines at the tail.
/// UpdateFromStringList takes the record's lines from the head, up to the
/// first line of another record, so records dumped one after another into one
/// list read back in the same order. It returns false, and changes neither
/// the record nor the list, when no line at the head is the record's, when a
/// line met before another record's is not of the form "Record.Field=Value",
/// or when one of the record's lines names an unknown field or holds a value
/// outside the field's range (an enumeration takes only its defined values, a
/// boolean 0 or 1).
#pragma once

#include <functional>
#include <initializer_list>
#include <vector>

#include "kelvara/framework/Archive.h"
#include "kelvara/framework/Export.h"
#include "kelvara/framework/List.h"
#include "kelvara/framework/String.h"
#include "kelvara/framework/Types.h"
#include "kelvara/framework/Ui.h"
#include "kelvara/sibling/QZObject.h"
#include "kelvara/sibling/QZPropertyPage.h"

class KELVARA_API CQZProperties : public CQZObject {
    DECLARE_DYNAMIC(CQZProperties)

public:
    ~CQZProperties() override;

    /// The property page that edits this record.
    virtual CPropertyPage* GetPropertyPage();
    /// Appends the record's lines at the tail of the list; true on success.
    virtual bool DumpToStringList(CStringList& list);
    /// Takes the record's lines from the head of the list; false leaves both as they were.
    virtual bool UpdateFromStringList(CStringList* pList);

    /// The record's name in its string-list lines ("Port" for "Port.BaudRate").
    const char* GetRecordName() const { return m_pszRecordName; }

    /// The layout number the records write and accept.
    static constexpr DWORD kLayout = 2;

protected:
    /// One field of the string-list form: its text, and a parser that checks
    /// a text and, when bStore is true, stores it.
    struct Field {
        /// The field name in "Record.Field=Value".
        const char* pszName;
        /// Formats the field's value.
        std::function<CString()> format;
        /// Checks a text and, when bStore is true, stores it.
        std::function<bool(const CString& strText, bool bStore)> parse;
    };
    /// The fields of a record.
    using FieldList = std::vector<Field>;

    /// A record with the given name in its lines and caption on its page.
    CQZProperties(const char* pszRecordName, const char* pszPageCaption);
    /// Version 1, as every copy; a page of its own.
    CQZProperties(const CQZProperties& other);
    /// Takes the version, the second member and nothing else: not the page.
    CQZProperties& operator=(const CQZProperties& other);

    /// The fields of the string-list form, bound to this record.
    virtual void DescribeFields(FieldList& fields) = 0;

    /// Start of every record's Serialize: the CQZObject record, the layout
    /// number and the record's name. Loading throws badSchema for a layout it
    /// does not know and badClass for another record's name.
    void SerializeHeader(CArchive& ar);

    /// Splits a "Record.Field=Value" line; false when the line has not that
    /// form.
    static bool SplitLine(const CString& strLine, CString& strRecord, CString& strField,
                          CString& strValue);

    /// One "Field=Value" line of this record.
    struct OwnLine {
        /// The field name.
        CString strField;
        /// The value text.
        CString strValue;
    };
    /// The record's own lines at the head of the list, up to the first line
    /// of another record, split, without taking them off; false when there
    /// are none or a line before the first of another record is malformed.
    bool ReadOwnLines(const CStringList& list, std::vector<OwnLine>& lines) const;
    /// Takes nLines lines off the head of the list, once they have been used.
    static void RemoveHeadLines(CStringList& list, int nLines);

    /// An integer field within [nMin, nMax]; T may be an enumeration.
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
    ///@{
    /// An unsigned field of the full range of its type.
    static Field ByteField(const char* pszName, BYTE& byValue) {
        return IntegerField(pszName, byValue, 0, 0xFF);
    }
    static Field WordField(const char* pszName, WORD& wValue) {
        return IntegerField(pszName, wValue, 0, 0xFFFF);
    }
    static Field DwordField(const char* pszName, DWORD& dwValue) {
        return IntegerField(pszName, dwValue, 0, 0xFFFFFFFFLL);
    }
    ///@}
    /// A signed 32-bit field.
    template <class T>
    static Field LongField(const char* pszName, T& value) {
        return IntegerField(pszName, value, kLongMin, kLongMax);
    }
    /// A 32-bit boolean: 0 or 1. Written as it is held.
    static Field BoolField(const char* pszName, BOOL& bValue) {
        return IntegerField(pszName, bValue, 0, 1);
    }
    /// An enumeration: only the values listed.
    template <class T>
    static Field EnumField(const char* pszName, T& value, std::initializer_list<T> allowed) {
        return Field{
            pszName, [&value] { return FormatInteger(static_cast<long long>(value)); },
            [&value, values = std::vector<T>(allowed)](const CString& strText, bool bStore) {
                long long n = 0;
                if (!ParseInteger(strText, kLongMin, kLongMax, n)) {
                    return false;
                }
                for (const T allowedValue : values) {
                    if (static_cast<long long>(allowedValue) == n) {
                        if (bStore) {
                            value = allowedValue;
                        }
                        return true;
                    }
                }
                return false;
            }};
    }
    /// A text field, taken as it stands.
    static Field StringField(const char* pszName, CString& strValue);

    /// A decimal text of nValue.
    static CString FormatInteger(long long nValue);
    /// A decimal integer within [nMin, nMax], blanks around it allowed.
    static bool ParseInteger(const CString& strText, long long nMin, long long nMax,
                             long long& nValue);
    ///@{
    /// The range of a signed 32-bit field.
    static constexpr long long kLongMin = -2147483648LL;
    static constexpr long long kLongMax = 2147483647LL;
    ///@}

private:
    const char* m_pszRecordName;
    CQZPropertyPage m_Page;
};

/// Updates several records whose lines follow one another at the head of the
/// list, in the order given, all or nothing: true when every record took its
/// lines; otherwise false, with every record and the list as they were (the
/// records that had already taken their lines are restored from their
/// archive form). A driver with more than one record answers its own
/// UpdateFromStringList this way.
KELVARA_API bool UpdateRecordsFromStringList(CStringList* pList,
                                             std::initializer_list<CQZProperties*> records);

/// Stores or loads several records one after another, in the order given. A
/// load is all or nothing: when a record cannot be read, the exception passes
/// on to the caller with every record as it was (the records already read are
/// restored from their archive form). A driver with more than one record
/// answers its own SerializeProperties this way.
KELVARA_API void SerializeRecords(CArchive& ar, std::initializer_list<CQZProperties*> records);
/** @} */
