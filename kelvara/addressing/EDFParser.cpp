// The parse of an EDF format text: a state machine read one character at a
// time, with readers for numbers and keywords in range lists.
#include <memory>

#include "kelvara/addressing/EDFFormat.h"

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsUpperHexDigit(char c) {
    return IsDigit(c) || (c >= 'A' && c <= 'F');
}

bool IsLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Widths and steps wrap as the 32-bit integers they are, however many
// digits the text gives.
int AppendDigit(int nValue, char cDigit) {
    return static_cast<int>(static_cast<unsigned>(nValue) * 10u +
                            static_cast<unsigned>(cDigit - '0'));
}

}  // namespace

// The working values of one parse, and one short handler per state.
class CEDFParser {
public:
    using State = CEDFFormat::ParseState;

    explicit CEDFParser(CEDFFormat& format)
        : m_format(format),
          m_pszText(format.m_strFormat.GetString()),
          m_nLength(format.m_strFormat.GetLength()) {}

    void Run();

private:
    void Handle(char c);
    void OnBetween(char c);
    void OnOpen(char c);
    void OnStep(char c);
    void OnType(char c);
    void OnWidth(char c);
    void OnAttributes(char c);
    bool OnSharedAttribute(char c);
    void OnSeparator(char c);
    void OnName(char c);
    void OnKeywords(char c);
    void OnRanges();
    void ReadRangeItem(bool bHex);
    void FinishRangeItem();
    void StartList();
    void AddKeyword();
    void AddCurrentField();
    void DiscardCurrentField();
    void ApplyAttributes();
    void Fail(const char* pszReason, int nPosition);
    void Fail(const char* pszReason) { Fail(pszReason, m_nPosition); }
    void Note(const char* pszText, int nPosition);
    char At(int nPosition) const { return nPosition < m_nLength ? m_pszText[nPosition] : '\0'; }

    CEDFFormat& m_format;
    const char* m_pszText;
    int m_nLength;

    State m_eState = CEDFFormat::PS_START;
    CEDFField* m_pField = nullptr;
    char m_cSeparator = ' ';
    CString m_strWord;
    int m_nWordLength = 0;
    int m_nPosition = 0;
    int m_nRadix = 10;
    bool m_bFreeMark = false;
    int m_nFieldCounter = 1;
    bool m_bStepSeen = false;
    int m_nStepSign = 1;
    int m_nStepMagnitude = 0;

    // For the report only.
    bool m_bFieldHasRadix = false;
    int m_nFieldStart = 0;
};

void CEDFFormat::Parse() {
    // Fields of a text parsed earlier would answer for addresses of the new
    // one under their old names and indexes, so a parse starts from none.
    DeleteFields();
    m_strLayout.Empty();
    m_Report = ParseReport();
    CEDFParser(*this).Run();
}

void CEDFParser::Run() {
    m_format.m_Report.bRun = TRUE;
    while (m_nPosition < m_nLength) {
        if (m_eState == CEDFFormat::PS_FAILED) {
            break;
        }
        Handle(m_pszText[m_nPosition]);
        ++m_nPosition;
    }
    const bool bSucceeded =
        m_eState == CEDFFormat::PS_BETWEEN || m_eState == CEDFFormat::PS_ENDED || m_nLength == 0;
    if (!bSucceeded && m_eState != CEDFFormat::PS_FAILED) {
        // Not a failed character: the report keeps the state the text ended in.
        m_format.m_Report.nStopPosition = m_nLength;
        m_format.m_Report.pszStopReason =
            "the text ends inside a field: its list or its closing \"]\" is missing";
    }
    DiscardCurrentField();
    m_format.m_Report.eFinalState = m_eState;
    ApplyAttributes();
}

void CEDFParser::Handle(char c) {
    switch (m_eState) {
        case CEDFFormat::PS_START:
        case CEDFFormat::PS_BETWEEN:
            OnBetween(c);
            break;
        case CEDFFormat::PS_OPEN:
            OnOpen(c);
            break;
        case CEDFFormat::PS_STEP:
            OnStep(c);
            break;
        case CEDFFormat::PS_TYPE:
            OnType(c);
            break;
        case CEDFFormat::PS_WIDTH:
            OnWidth(c);
            break;
        case CEDFFormat::PS_ATTRIBUTES:
            OnAttributes(c);
            break;
        case CEDFFormat::PS_SEPARATOR:
            OnSeparator(c);
            break;
        case CEDFFormat::PS_REJECTED:
            Fail("the attribute \"L\" is not allowed", m_nPosition - 1);
            break;
        case CEDFFormat::PS_NAME:
            OnName(c);
            break;
        case CEDFFormat::PS_KEYWORDS:
            OnKeywords(c);
            break;
        case CEDFFormat::PS_RANGES:
            OnRanges();
            break;
        case CEDFFormat::PS_ENDED:
        case CEDFFormat::PS_FAILED:
            break;
    }
}

void CEDFParser::OnBetween(char c) {
    if (c == '[') {
        m_pField = new CEDFField;
        m_pField->m_bIncrement = FALSE;
        m_pField->m_nStep = 0;
        m_bFieldHasRadix = false;
        m_nFieldStart = m_nPosition;
        m_eState = CEDFFormat::PS_OPEN;
        return;
    }
    m_format.m_strLayout += 'L';
    m_format.m_strLayout += c;
    m_eState = CEDFFormat::PS_BETWEEN;
}

void CEDFParser::OnOpen(char c) {
    if (c == '+' || c == '-') {
        if (m_bStepSeen) {
            Fail("a second step prefix: only one field of a format may step");
            return;
        }
        m_nStepSign = c == '+' ? 1 : -1;
        m_bStepSeen = true;
        m_eState = CEDFFormat::PS_STEP;
    } else if (c == 'N' || c == 'T') {
        m_pField->m_cType = c;
        m_pField->m_nWidth = 0;
        m_eState = CEDFFormat::PS_TYPE;
    } else if (c == ']') {
        DiscardCurrentField();
        if (m_nPosition + 1 < m_nLength) {
            Note("\"[]\" ends the format: the text after it is ignored", m_nPosition + 1);
        }
        m_eState = CEDFFormat::PS_ENDED;
    } else {
        Fail("a field starts with its type \"N\" or \"T\", after an optional step such as \"+1\"");
    }
}

void CEDFParser::OnStep(char c) {
    if (IsDigit(c)) {
        m_nStepMagnitude = AppendDigit(m_nStepMagnitude, c);
    } else if (c == 'N' || c == 'T') {
        m_pField->m_bIncrement = TRUE;
        m_pField->m_nStep = static_cast<int>(static_cast<unsigned>(m_nStepSign) *
                                             static_cast<unsigned>(m_nStepMagnitude));
        m_pField->m_cType = c;
        m_pField->m_nWidth = 0;
        m_eState = CEDFFormat::PS_TYPE;
    } else {
        Fail("a step is a sign and digits followed by the type \"N\" or \"T\"");
    }
}

void CEDFParser::OnType(char c) {
    if (IsDigit(c)) {
        m_pField->m_nWidth = c - '0';
        m_eState = CEDFFormat::PS_WIDTH;
    } else if (c == 'F') {
        m_pField->m_bFree = TRUE;
        m_eState = CEDFFormat::PS_ATTRIBUTES;
    } else if (c == 'V') {
        m_pField->m_nWidth = -1;
        m_eState = CEDFFormat::PS_ATTRIBUTES;
    } else {
        Fail("the type letter is followed by a width: digits, \"V\" (variable) or \"F\" (free)");
    }
}

bool CEDFParser::OnSharedAttribute(char c) {
    switch (c) {
        case '(':
            m_pField->m_strName.Empty();
            m_eState = CEDFFormat::PS_NAME;
            return true;
        case 'C':
        case 'I':
            m_pField->m_bCaseSensitive = c == 'C' ? TRUE : FALSE;
            break;
        case 'D':
        case 'H':
        case 'O':
            m_nRadix = c == 'D' ? 10 : (c == 'H' ? 16 : 8);
            m_pField->m_nRadix = m_nRadix;
            m_bFieldHasRadix = true;
            break;
        case 'F':
            m_bFreeMark = true;
            break;
        default:
            return false;
    }
    m_eState = CEDFFormat::PS_ATTRIBUTES;
    return true;
}

void CEDFParser::OnWidth(char c) {
    const bool bText = m_pField->m_cType == 'T';
    if (IsDigit(c)) {
        m_pField->m_nWidth = AppendDigit(m_pField->m_nWidth, c);
    } else if (c == ' ') {
        if (!bText) {
            Fail(
                "a numeric field needs a radix letter (\"D\", \"H\" or \"O\") before its range "
                "list");
            return;
        }
        StartList();
    } else if (OnSharedAttribute(c)) {
        return;
    } else if (c == 'L') {
        if (!bText) {
            Fail("the attribute \"L\" is not allowed");
            return;
        }
        m_bFreeMark = true;
        m_eState = CEDFFormat::PS_REJECTED;
    } else if (c == 'S') {
        if (!bText) {
            Fail("a keyword separator (\"S\") belongs to a keyword field only");
            return;
        }
        m_eState = CEDFFormat::PS_SEPARATOR;
    } else {
        Fail("unexpected character after the width digits");
    }
}

void CEDFParser::OnAttributes(char c) {
    if (OnSharedAttribute(c)) {
        return;
    }
    if (c == 'L') {
        m_bFreeMark = true;
        m_eState = CEDFFormat::PS_REJECTED;
    } else if (c == 'S') {
        m_eState = CEDFFormat::PS_SEPARATOR;
    } else if (IsBlank(c)) {
        StartList();
    } else if (c == ']') {
        if (!m_pField->m_bFree) {
            Fail(m_pField->m_cType == 'N'
                     ? "a numeric field that is not free needs a range list"
                     : "a keyword field that is not free needs a keyword list");
            return;
        }
        AddCurrentField();
    }
    // Any other character is passed over.
}

void CEDFParser::OnSeparator(char c) {
    m_cSeparator = c;
    m_strWord.Empty();
    m_nWordLength = 0;
    m_eState = CEDFFormat::PS_ATTRIBUTES;
}

void CEDFParser::OnName(char c) {
    if (c == ')') {
        StartList();
        return;
    }
    m_pField->m_strName += c;
}

// Leaves the attributes for the field's list: keywords or range items.
void CEDFParser::StartList() {
    if (m_pField->m_cType == 'T') {
        m_strWord.Empty();
        m_nWordLength = 0;
        m_eState = CEDFFormat::PS_KEYWORDS;
        return;
    }
    m_eState = CEDFFormat::PS_RANGES;
    if (m_nRadix == 8) {
        Note("an octal range list is never read: the field never completes", m_nPosition);
    } else if (!m_bFieldHasRadix && m_nRadix == 16) {
        Note(
            "this field has no radix letter: its range list is read as hexadecimal, "
            "from the radix letter met last, while its own radix stays decimal",
            m_nFieldStart);
    }
}

void CEDFParser::OnKeywords(char c) {
    const int nWidth = m_pField->m_nWidth;
    if (c == m_cSeparator) {
        if (m_nWordLength == 0) {
            return;
        }
        if (m_nWordLength != nWidth && nWidth >= 0) {
            Fail("a keyword's length differs from the field's width", m_nPosition - 1);
            return;
        }
        AddKeyword();
    } else if (c == ']') {
        if (m_nWordLength != 0 && m_nWordLength != nWidth && nWidth >= 0) {
            Fail("a keyword's length differs from the field's width", m_nPosition - 1);
            return;
        }
        if (m_nWordLength == 0) {
            Note("an empty keyword (a separator before \"]\"): no address matches it", m_nPosition);
        }
        AddKeyword();
        m_pField->m_bFree = m_bFreeMark ? TRUE : FALSE;
        AddCurrentField();
    } else {
        m_strWord += c;
        ++m_nWordLength;
    }
}

void CEDFParser::AddKeyword() {
    m_pField->AddRange(m_strWord, CString());
    m_strWord.Empty();
    m_nWordLength = 0;
}

void CEDFParser::OnRanges() {
    if (m_nRadix == 10) {
        ReadRangeItem(false);
    } else if (m_nRadix == 16) {
        ReadRangeItem(true);
    }
    // Radix 8: nothing is read, and the list never ends.
}

void CEDFParser::ReadRangeItem(bool bHex) {
    CString strScratch;
    CString strLow;
    CString strHigh;
    CString strKeyword;
    const int nItemStart = m_nPosition;
    if (bHex) {
        m_format.ReadHexNumber(&m_nPosition, strScratch, strLow);
    } else {
        m_format.ReadDecimalNumber(&m_nPosition, strScratch, strLow);
    }
    m_format.ReadKeyword(&m_nPosition, strKeyword);
    if (strKeyword != "to") {
        if (bHex) {
            Fail("a hexadecimal range item is \"low to high\" in upper-case digits");
        } else {
            Note("a range item without \"to\" is dropped", nItemStart);
        }
        return;
    }
    if (bHex) {
        m_format.ReadHexNumber(&m_nPosition, strScratch, strHigh);
    } else {
        m_format.ReadDecimalNumber(&m_nPosition, strScratch, strHigh);
    }
    m_pField->AddRange(strLow, strHigh);
    FinishRangeItem();
}

void CEDFParser::FinishRangeItem() {
    while (At(m_nPosition) == ' ') {
        ++m_nPosition;
    }
    const char c = At(m_nPosition);
    if (c == ',') {
        return;
    }
    if (c == ']') {
        AddCurrentField();
        return;
    }
    Fail("range items are separated by \",\" and the list ends with \"]\"");
}

void CEDFParser::AddCurrentField() {
    const CString strName = m_pField->m_strName.IsEmpty() ? FormatString("$$$%d", m_nFieldCounter)
                                                          : m_pField->m_strName;
    if (m_format.m_Fields.Find(strName.str()) != nullptr) {
        Note("a field of the same name replaces an earlier one: the earlier index has no field",
             m_nFieldStart);
    }
    m_format.AddField(&m_pField, &m_nFieldCounter);
    m_eState = CEDFFormat::PS_BETWEEN;
}

void CEDFParser::DiscardCurrentField() {
    delete m_pField;
    m_pField = nullptr;
}

// Each pair of characters belongs to one field: its kind letter, then its
// encoded size as one decimal digit.
void CEDFParser::ApplyAttributes() {
    const CString& strAttributes = m_format.m_strAttributes;
    for (int k = 0; k < strAttributes.GetLength(); ++k) {
        CEDFField* pField = m_format.m_Fields.FindIndex(k / 2 + 1);
        if (pField == nullptr) {
            continue;
        }
        const char c = strAttributes.GetString()[k];
        if (k % 2 == 0) {
            pField->m_bKindI = c == 'I' ? TRUE : FALSE;
        } else {
            pField->m_nEncodedSize = IsDigit(c) ? c - '0' : 0;
        }
    }
}

void CEDFParser::Fail(const char* pszReason, int nPosition) {
    m_eState = CEDFFormat::PS_FAILED;
    CEDFFormat::ParseReport& report = m_format.m_Report;
    report.nStopPosition = nPosition < 0 ? 0 : nPosition;
    report.pszStopReason = pszReason;
}

void CEDFParser::Note(const char* pszText, int nPosition) {
    auto& notes = m_format.m_Report.notes;
    if (static_cast<int>(notes.size()) < CEDFFormat::ParseReport::kMaxNotes) {
        notes.push_back({nPosition, pszText});
    }
}

// Readers. Each empties its strings first and leaves the position on the
// first character it did not take.

int CEDFFormat::ReadDecimalNumber(int* pnPosition, CString& strScratch, CString& strNumber) {
    strScratch.Empty();
    strNumber.Empty();
    const char* pszText = m_strFormat.GetString();
    const int nLength = m_strFormat.GetLength();
    int i = *pnPosition;
    while (i < nLength && !IsDigit(pszText[i]) && pszText[i] != '+' && pszText[i] != '-') {
        ++i;
    }
    const int nStart = i;
    if (i < nLength) {
        ++i;  // the sign or first digit
        while (i < nLength && IsDigit(pszText[i])) {
            ++i;
        }
    }
    strNumber = CString(pszText + nStart, i - nStart);
    *pnPosition = i;
    return 1;
}

int CEDFFormat::ReadHexNumber(int* pnPosition, CString& strScratch, CString& strNumber) {
    strScratch.Empty();
    strNumber.Empty();
    const char* pszText = m_strFormat.GetString();
    const int nLength = m_strFormat.GetLength();
    int i = *pnPosition;
    while (i < nLength && IsBlank(pszText[i])) {
        ++i;
    }
    const int nStart = i;
    while (i < nLength && IsUpperHexDigit(pszText[i])) {
        ++i;
    }
    strNumber = CString(pszText + nStart, i - nStart);
    *pnPosition = i;
    return 1;
}

void CEDFFormat::ReadKeyword(int* pnPosition, CString& strWord) {
    strWord.Empty();
    const char* pszText = m_strFormat.GetString();
    const int nLength = m_strFormat.GetLength();
    int i = *pnPosition;
    while (i < nLength && IsBlank(pszText[i])) {
        ++i;
    }
    const int nStart = i;
    while (i < nLength && IsLetter(pszText[i])) {
        ++i;
    }
    strWord = CString(pszText + nStart, i - nStart);
    *pnPosition = i;
}

void CEDFFormat::AddField(CEDFField** ppField, int* pnFieldCounter) {
    CEDFField* pField = *ppField;
    if (pField == nullptr) {
        return;
    }
    if (pField->m_strName.IsEmpty()) {
        pField->m_strName.Format("$$$%d", *pnFieldCounter);
    }
    pField->m_nIndex = *pnFieldCounter;
    m_Fields.SetAt(pField->m_strName, pField);
    m_strLayout += 'F';
    ++*pnFieldCounter;
    *ppField = nullptr;
}
