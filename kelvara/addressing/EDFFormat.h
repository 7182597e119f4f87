/** \addtogroup addressing
 @{ */
/// CEDFFormat: an EDF address format, its parse into fields, and the checks
/// and field extraction of address texts against it.
///
/// A format text such as "[T1(Area) D M X][N4D(Offset) 0 to 9999]" describes
/// an address as a row of fields (numbers within ranges, or keywords from a
/// list) and literal characters. The text is parsed lazily, by the first
/// Validate; the field operations never parse. A format that breaks the
/// grammar is not reported: the parse keeps what it completed before the
/// fault and addresses are checked against that. GetParseReport tells a tool
/// where and why the parse stopped.
#pragma once

#include <cstddef>
#include <vector>

#include "kelvara/addressing/EDFField.h"
#include "kelvara/addressing/EDFFieldMap.h"
#include "kelvara/addressing/EDFRet.h"
#include "kelvara/framework/Archive.h"
#include "kelvara/framework/Export.h"
#include "kelvara/framework/String.h"
#include "kelvara/framework/Types.h"

class KELVARA_API CEDFFormat {
    friend class CEDFFieldReader;
    friend class CEDFParser;
    friend class CRemoteAddress;

public:
    /// States of the parse.
    enum ParseState {
        PS_START,
        PS_OPEN,
        PS_STEP,
        PS_TYPE,
        PS_WIDTH,
        PS_ATTRIBUTES,
        PS_SEPARATOR,
        PS_REJECTED,
        PS_NAME,
        PS_KEYWORDS,
        PS_RANGES,
        PS_BETWEEN,
        PS_ENDED,
        PS_FAILED,
    };

    /// Something the parse accepted but the format's author may not expect.
    struct ParseNote {
        int nPosition;        ///< 0-based character of the format text
        const char* pszText;  ///< static English text
    };

    /// What the last parse met. Diagnostics only: no operation consults it.
    struct ParseReport {
        /// The most notes a report keeps.
        static constexpr int kMaxNotes = 32;

        BOOL bRun = FALSE;  ///< a parse has run
        /// The state the parse ended in.
        ParseState eFinalState = PS_START;
        /// Where the parse stopped short: the character that failed, or the
        /// text length when the text ended inside a field; -1 when it succeeded.
        int nStopPosition = -1;
        /// Why the parse stopped short, or nullptr.
        const char* pszStopReason = nullptr;
        std::vector<ParseNote> notes;  ///< the first kMaxNotes

        /// True when the parse reached the end of the text.
        BOOL Succeeded() const { return nStopPosition < 0; }
    };

    /// An empty format; nothing parsed.
    CEDFFormat() = default;
    /// Null pointers count as empty texts. Nothing is parsed yet.
    CEDFFormat(const char* pszFormat, const char* pszAttributes);
    /// Copies other.
    CEDFFormat(const CEDFFormat& other);
    /// Copies other.
    CEDFFormat& operator=(const CEDFFormat& other);
    ~CEDFFormat();

    /// Parses the format text and marks the format parsed. Always EDF_OK:
    /// faults in the text show when addresses are checked.
    EDF_RET ValidateFormat();
    /// Destroys every field; the layout and the parsed mark stay.
    void DeleteFields();
    /// The format keeps nothing in an archive; its owner stores the text.
    void Serialize(CArchive& ar);
    /// Always 0: no position is kept for a failure.
    int GetFieldInError(const char* pszAddress) const;

    /// Checks a whole address (parsing first when needed).
    EDF_RET Validate(const char* pszAddress);
    /// Text of the field with that name or 1-based index. An error in the
    /// address before the field is the result; what follows it is not read.
    EDF_RET Field(const char* pszAddress, const char* pszName, CString& strValue) const;
    /// As the other Field, the field given by its 1-based index.
    EDF_RET Field(const char* pszAddress, int nIndex, CString& strValue) const;
    /// 0-based position of the field's keyword in its list; *pnKeyword is
    /// written only for a keyword field that is not free.
    EDF_RET Field(const char* pszAddress, int nIndex, int* pnKeyword) const;
    /// The code as decimal text: there is no message table for these codes.
    CString GetErrorString(EDF_RET eCode) const;

    /// See ParseReport.
    const ParseReport& GetParseReport() const { return m_Report; }

    /// One element of the layout, as met when walking an address (for the
    /// library's own walks over an address).
    struct LayoutItem {
        /// The kind of element.
        enum Kind { END, LITERAL, FIELD };
        /// The kind of this element.
        Kind eKind = END;
        /// The field, for a FIELD element.
        const CEDFField* pField = nullptr;
        int nField = 0;  ///< field number (1-based) of a FIELD
        /// Where the element starts in the address text.
        size_t nStart = 0;
        /// Its length in the address text.
        size_t nLength = 0;
        int nKeyword = 0;  ///< written only by keyword fields
        /// The character, for a LITERAL element.
        char chLiteral = '\0';
    };
    /// Where a walk over the layout stands.
    struct LayoutCursor {
        /// The layout being walked.
        int nLayout = 0;
        /// The position in the address text.
        size_t nPosition = 0;
        /// The 1-based index of the next field.
        int nField = 1;
    };

    /// The format text.
    CString m_strFormat;
    /// The fields of the parse.
    CEDFFieldMap m_Fields;
    /// "F" per field and "L" plus the character per literal, in format order.
    CString m_strLayout;
    /// Per field a kind letter and an encoded size digit, e.g. "U2I1".
    CString m_strAttributes;
    /// TRUE once the format has parsed.
    BOOL m_bParsed = FALSE;

private:
    void Parse();
    int ReadDecimalNumber(int* pnPosition, CString& strScratch, CString& strNumber);
    int ReadHexNumber(int* pnPosition, CString& strScratch, CString& strNumber);
    void ReadKeyword(int* pnPosition, CString& strWord);
    void AddField(CEDFField** ppField, int* pnFieldCounter);

    EDF_RET ExtractValue(int nField, const char* pszAddress, unsigned int nStart, CString& strValue,
                         int* pnKeyword) const;
    EDF_RET CheckRange(CEDFField* pField, CString& strValue) const;

    // Takes the next layout element over the address; item.eKind is END at
    // the end of the layout. A failure is returned and the walk stops there.
    EDF_RET NextItem(const char* pszAddress, LayoutCursor& cursor, LayoutItem& item) const;
    // Walks up to the field with that number.
    EDF_RET FindFieldValue(const char* pszAddress, int nIndex, LayoutItem& item) const;

    ParseReport m_Report;
};
/** @} */
