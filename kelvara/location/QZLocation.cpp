#include "kelvara/location/QZLocation.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <vector>

#include "kelvara/location/LocationCarry.h"
#include "kelvara/location/LocationCarryEngines.h"
#include "kelvara/resources/StringTable.h"
#include "kelvara/sibling/Utility.h"

IMPLEMENT_SERIAL(CQZLocation, CQZObject, 1)

namespace {

// Message ids of the location texts.
constexpr UINT IDS_LOCATION_NONE = 13002;
constexpr UINT IDS_LOCATION_DECIMAL = 13003;
constexpr UINT IDS_LOCATION_HEXADECIMAL = 13004;
constexpr UINT IDS_LOCATION_OCTAL = 13005;
constexpr UINT IDS_LOCATION_RANGE = 13006;
constexpr UINT IDS_LOCATION_LENGTH = 13007;
constexpr UINT IDS_LOCATION_DELIMITER = 13008;
constexpr UINT IDS_LOCATION_BOUNDARY = 13009;
constexpr UINT IDS_LOCATION_ALPHABETIC = 13010;

// The increment the bounds are divided by: 1 where the descriptor holds less.
LONG IncrementOf(const QZLocationDescriptor& descriptor) {
    return descriptor.nIncrement >= 1 ? descriptor.nIncrement : 1;
}

// A bound as an index, as MinIndex and MaxIndex give it. The range check
// runs after every change of every component and most tables count by one,
// so it skips the division where it would change nothing.
LONG IndexOf(LONG nBound, const QZLocationDescriptor& descriptor) {
    return descriptor.nIncrement > 1 ? nBound / descriptor.nIncrement : nBound;
}

// Chains this deep or less are checked without allocating.
constexpr std::size_t kShortChain = 16;

int ClampToInt(std::int64_t x) {
    return static_cast<int>(std::clamp<std::int64_t>(x, INT_MIN, INT_MAX));
}

// The C library's decimal reading of a text already checked to be an
// optional sign and digits. Beyond 32 bits it stops at the nearest end of the
// range instead of overflowing.
LONG DecimalValue(const char* psz) {
    bool negative = false;
    if (*psz == '-' || *psz == '+') {
        negative = *psz == '-';
        ++psz;
    }
    std::int64_t value = 0;
    for (; *psz >= '0' && *psz <= '9'; ++psz) {
        value = std::min<std::int64_t>(value * 10 + (*psz - '0'), std::int64_t{INT_MAX} + 1);
    }
    value = negative ? -value : std::min<std::int64_t>(value, INT_MAX);
    return static_cast<LONG>(value);
}

// Fills the %s and %d conversions of a message template, in order, with the
// given texts ("%%" is a percent sign). A message never reaches printf, so a
// template cannot read arguments that are not there.
CString FillTemplate(const CString& strTemplate, const std::vector<CString>& args) {
    CString out;
    std::size_t next = 0;
    const std::string& t = strTemplate.str();
    for (std::size_t i = 0; i < t.size(); ++i) {
        if (t[i] == '%' && i + 1 < t.size()) {
            const char c = t[i + 1];
            if (c == '%') {
                out += '%';
                ++i;
                continue;
            }
            if (c == 's' || c == 'd') {
                if (next < args.size()) {
                    out += args[next];
                }
                ++next;
                ++i;
                continue;
            }
        }
        out += t[i];
    }
    return out;
}

// Fills a message template into strOut; strOut is left alone when the
// library has no such message.
void FormatMessageInto(CString& strOut, UINT nID, const std::vector<CString>& args) {
    CString strTemplate;
    if (ModuleLoadString(&strTemplate, nID, AfxGetResourceHandle())) {
        strOut = FillTemplate(strTemplate, args);
    }
}

void DestroyChain(CQZLocation* pFirst) {
    // One at a time, so that a long chain does not nest destructors.
    while (pFirst != nullptr) {
        CQZLocation* pNext = pFirst->GetFriendLocation();
        pFirst->AttatchFriendLocation(nullptr);
        delete pFirst;
        pFirst = pNext;
    }
}

}  // namespace

CQZLocation::CQZLocation()
    : CQZObject(2),
      m_nLocation(0),
      m_Descriptor{1, LR_DECIMAL, 3, 1},
      m_Range{0, 255},
      m_bValid(1),
      m_nError(LE_NONE),
      m_pFriend(nullptr) {}

CQZLocation::CQZLocation(TableOffsetRange range, QZLocationDescriptor descriptor)
    : CQZObject(2),
      m_nLocation(range.nMinLocation),
      m_Descriptor(descriptor),
      m_Range(range),
      m_bValid(1),
      m_nError(LE_NONE),
      m_pFriend(nullptr) {}

CQZLocation::CQZLocation(int nLocation, TableOffsetRange range, QZLocationDescriptor descriptor)
    : CQZLocation(range, descriptor) {
    m_nLocation = nLocation;
    CheckRange();
}

CQZLocation::CQZLocation(const CQZLocation& other)
    : CQZObject(1),
      m_nLocation(0),
      m_Descriptor{1, LR_DECIMAL, 3, 1},
      m_Range{0, 255},
      m_bValid(1),
      m_nError(LE_NONE),
      m_pFriend(nullptr) {
    *this = other;
    CheckRange();
}

CQZLocation::~CQZLocation() {
    DestroyChain(m_pFriend);
}

CQZLocation& CQZLocation::operator=(const CQZLocation& other) {
    if (this != &other) {
        // Copy the friend chain before letting go of ours: the other location
        // may be part of it.
        CQZLocation* pCopy = other.m_pFriend ? new CQZLocation(*other.m_pFriend) : nullptr;
        m_nLocation = other.m_nLocation;
        m_Descriptor = other.m_Descriptor;
        m_Range = other.m_Range;
        m_bValid = other.m_bValid;
        m_strDelimiter = other.m_strDelimiter;
        m_nError = other.m_nError;
        CQZObject::operator=(other);
        CQZLocation* pOld = m_pFriend;
        m_pFriend = pCopy;
        DestroyChain(pOld);
    }
    CheckRange();
    return *this;
}

void CQZLocation::AttatchDelimiter(CString* pDelimiter) {
    m_strDelimiter = pDelimiter ? *pDelimiter : CString();
}

void CQZLocation::AttatchFriendLocation(CQZLocation* pFriend) {
    for (const CQZLocation* p = pFriend; p != nullptr; p = p->m_pFriend) {
        if (p == this) {
            return;
        }
    }
    m_pFriend = pFriend;
}

LONG CQZLocation::Increment() const {
    return IncrementOf(m_Descriptor);
}

LONG CQZLocation::MinIndex() const {
    return IndexOf(m_Range.nMinLocation, m_Descriptor);
}

LONG CQZLocation::MaxIndex() const {
    return IndexOf(m_Range.nMaxLocation, m_Descriptor);
}

int CQZLocation::CheckRange() {
    if (m_pFriend == nullptr) {
        const LONG a = IndexOf(m_Range.nMinLocation, m_Descriptor);
        const LONG b = IndexOf(m_Range.nMaxLocation, m_Descriptor);
        if (a <= m_nLocation && m_nLocation <= b) {
            m_bValid = 1;
            return 1;
        }
        m_bValid = 0;
        m_nError = LE_RANGE;
        return 0;
    }
    std::array<QZLocationCarryState, kShortChain> shortStates;
    std::array<CQZLocation*, kShortChain> shortChain;
    std::vector<QZLocationCarryState> longStates;
    std::vector<CQZLocation*> longChain;
    QZLocationCarryState* states = shortStates.data();
    CQZLocation** chain = shortChain.data();
    std::size_t count = 0;
    for (CQZLocation* p = this; p != nullptr; p = p->m_pFriend) {
        ++count;
    }
    if (count > kShortChain) {
        longStates.resize(count);
        longChain.resize(count);
        states = longStates.data();
        chain = longChain.data();
    }
    std::size_t i = 0;
    for (CQZLocation* p = this; p != nullptr; p = p->m_pFriend, ++i) {
        chain[i] = p;
        states[i] = {p->m_nLocation, p->m_bValid, p->m_nError,
                     IndexOf(p->m_Range.nMinLocation, p->m_Descriptor),
                     IndexOf(p->m_Range.nMaxLocation, p->m_Descriptor)};
    }
    const int result = kelvara::location_carry::Check(states, count);
    for (i = 0; i < count; ++i) {
        chain[i]->m_nLocation = states[i].nValue;
        chain[i]->m_bValid = states[i].bValid;
        chain[i]->m_nError = states[i].nError;
    }
    return result;
}

int CQZLocation::IsValid() const {
    for (const CQZLocation* p = this; p != nullptr; p = p->m_pFriend) {
        if (!p->m_bValid) {
            return 0;
        }
    }
    return 1;
}

int CQZLocation::GetLocationError() const {
    LONG error = m_nError;
    for (const CQZLocation* p = m_pFriend; p != nullptr; p = p->m_pFriend) {
        if (p->m_nError != LE_NONE) {
            error = p->m_nError;
        }
    }
    return error;
}

int CQZLocation::GetTotalFormatLength() const {
    std::int64_t total = 0;
    for (const CQZLocation* p = this; p != nullptr; p = p->m_pFriend) {
        total += p->m_Descriptor.nFormatLength;
    }
    return ClampToInt(total);
}

int CQZLocation::GetShortestFormatLength() const {
    std::int64_t total = 0;
    const CQZLocation* p = this;
    for (; p->m_pFriend != nullptr; p = p->m_pFriend) {
        total += p->m_Descriptor.nFormatLength;
    }
    return ClampToInt(total + p->m_Descriptor.nShortestFormatLength);
}

int CQZLocation::GetRawLocation() const {
    // Outermost first: raw = value + raw of the friend * modulus, in 32 bits.
    std::vector<const CQZLocation*> chain;
    for (const CQZLocation* p = this; p != nullptr; p = p->m_pFriend) {
        chain.push_back(p);
    }
    std::uint32_t raw = static_cast<std::uint32_t>(chain.back()->m_nLocation);
    for (std::size_t i = chain.size() - 1; i-- > 0;) {
        const std::uint32_t modulus = static_cast<std::uint32_t>(chain[i]->MaxIndex()) + 1u;
        raw = static_cast<std::uint32_t>(chain[i]->m_nLocation) + raw * modulus;
    }
    return static_cast<LONG>(raw);
}

bool CQZLocation::SameDefinitionHere(const CQZLocation& other) const {
    const QZLocationDescriptor& d = m_Descriptor;
    const QZLocationDescriptor& o = other.m_Descriptor;
    return d.eNumberBase == o.eNumberBase && d.nFormatLength == o.nFormatLength &&
           d.nShortestFormatLength == o.nShortestFormatLength && d.nIncrement == o.nIncrement &&
           m_Range.nMinLocation == other.m_Range.nMinLocation &&
           m_Range.nMaxLocation == other.m_Range.nMaxLocation &&
           m_strDelimiter == other.m_strDelimiter;
}

int CQZLocation::CheckDefinition(CQZLocation* pOther) {
    const CQZLocation* p = this;
    const CQZLocation* q = pOther;
    for (; p != nullptr && q != nullptr; p = p->m_pFriend, q = q->m_pFriend) {
        if ((p->m_pFriend == nullptr) != (q->m_pFriend == nullptr) || !p->SameDefinitionHere(*q)) {
            return 0;
        }
    }
    return p == nullptr && q == nullptr && pOther != nullptr ? 1 : 0;
}

int CQZLocation::UpdateDefinition(CQZLocation* pOther) {
    if (pOther == nullptr) {
        return 0;
    }
    const LONG raw = GetRawLocation();
    *this = *pOther;
    m_nLocation = raw;
    CheckRange();
    return IsValid();
}

void CQZLocation::SetEach(int nWhich) {
    for (CQZLocation* p = this; p != nullptr; p = p->m_pFriend) {
        p->m_nLocation = nWhich > 0 ? p->MaxIndex() : (nWhich < 0 ? p->MinIndex() : 0);
        p->m_bValid = 1;
        p->m_nError = LE_NONE;
    }
}

void CQZLocation::SetAsMax() {
    SetEach(1);
}

void CQZLocation::SetAsMin() {
    SetEach(-1);
}

void CQZLocation::SetAsZero() {
    SetEach(0);
}

int CQZLocation::ValidateString(CString* pText) {
    const CString& text = *pText;
    const int length = text.GetLength();
    if (length != m_Descriptor.nFormatLength) {
        m_bValid = 0;
        m_nError = LE_LENGTH;
        return 0;
    }
    const int delimiterLength = m_strDelimiter.GetLength();
    if (delimiterLength > length || text.Right(delimiterLength) != m_strDelimiter) {
        m_bValid = 0;
        m_nError = LE_DELIMITER;
        return 0;
    }
    const CString digits = text.Left(length - delimiterLength);
    LONG error = LE_NONE;
    switch (m_Descriptor.eNumberBase) {
        case LR_OCTAL:
            error = IsOctal(digits) ? LE_NONE : LE_OCTAL;
            break;
        case LR_HEXADECIMAL:
            error = IsHexadecimal(digits) ? LE_NONE : LE_HEXADECIMAL;
            break;
        case LR_DECIMAL:
            error = IsNumeric(digits) ? LE_NONE : LE_DECIMAL;
            break;
        case LR_ALPHABETIC: {
            const signed char c = static_cast<signed char>(digits.GetAt(0));
            error = (c == ' ' || (c >= 'A' && c <= 'Z')) ? LE_NONE : LE_ALPHABETIC;
            break;
        }
        default:
            break;
    }
    if (error != LE_NONE) {
        m_bValid = 0;
        m_nError = error;
        return 0;
    }
    return 1;
}

int CQZLocation::Update(CString* pText) {
    const CString text = pText ? *pText : CString();
    const int length = text.GetLength();
    const LONG formatLength = m_Descriptor.nFormatLength;
    m_bValid = 1;
    m_nError = LE_NONE;
    CString working = text;
    if (m_pFriend != nullptr) {
        // Every inner component must be present in full; the outermost one
        // is padded by its own Update.
        if (length <= formatLength) {
            m_bValid = 0;
            m_nError = LE_LENGTH;
            return 0;
        }
        working = text.Right(formatLength);
        CString rest = text.Left(ClampToInt(std::int64_t{length} - formatLength));
        if (!m_pFriend->Update(&rest)) {
            m_bValid = 0;
            m_nError = LE_FRIEND;
            return 0;
        }
    } else if (length < formatLength && formatLength <= MAX_FORMAT_LENGTH) {
        working = CString('0', formatLength - length) + text;
    }
    if (!ValidateString(&working)) {
        return 0;
    }
    const LONG saved = m_nLocation;
    const CString digits = working.Left(working.GetLength() - m_strDelimiter.GetLength());
    LONG value = -1;
    switch (m_Descriptor.eNumberBase) {
        case LR_OCTAL:
            value = OctalToLong(digits);
            break;
        case LR_HEXADECIMAL:
            value = HexToLong(digits);
            break;
        case LR_DECIMAL:
            value = DecimalValue(digits);
            break;
        case LR_ALPHABETIC: {
            const char c = digits.GetAt(0);
            if (digits == " ") {
                value = 0;
            } else if (c >= 'A' && c <= 'Z') {
                value = c - 'A' + 1;
            }
            break;
        }
        default:
            break;
    }
    m_nLocation = value;
    const LONG increment = m_Descriptor.nIncrement;
    if (increment > 1) {
        if (value % increment != 0) {
            m_nError = LE_BOUNDARY;
            m_bValid = 0;
            m_nLocation = saved;
            return 0;
        }
        m_nLocation = value / increment;
    }
    if (!CheckRange() || !IsValid()) {
        m_nLocation = saved;
        return 0;
    }
    return 1;
}

void CQZLocation::FormatComponent(CString& strOut) const {
    const int width = ClampToInt(std::clamp<std::int64_t>(
        std::int64_t{m_Descriptor.nFormatLength} - m_strDelimiter.GetLength(), -MAX_FORMAT_LENGTH,
        MAX_FORMAT_LENGTH));
    const unsigned int product =
        static_cast<std::uint32_t>(m_nLocation) * static_cast<std::uint32_t>(Increment());
    CString text;
    switch (m_Descriptor.eNumberBase) {
        case LR_OCTAL:
            text.Format("%0*o", width, product);
            break;
        case LR_HEXADECIMAL:
            text.Format("%0*X", width, product);
            break;
        case LR_DECIMAL:
            text.Format("%0*u", width, product);
            break;
        case LR_ALPHABETIC: {
            const std::int64_t p = std::int64_t{m_nLocation} * Increment();
            if (p == 0) {
                text = " ";
            } else if (p >= 1 && p <= 26) {
                text = static_cast<char>('A' + p - 1);
            }
            break;
        }
        default:
            break;
    }
    strOut += text;
    strOut += m_strDelimiter;
}

void CQZLocation::Format(CString& strOut) {
    std::vector<const CQZLocation*> chain;
    for (const CQZLocation* p = this; p != nullptr; p = p->m_pFriend) {
        chain.push_back(p);
    }
    strOut.Empty();
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        (*it)->FormatComponent(strOut);
    }
}

void CQZLocation::GetMissingDelimiter(CString& strOut) {
    strOut.Empty();
    for (const CQZLocation* p = this; p != nullptr; p = p->m_pFriend) {
        if (p->m_nError == LE_DELIMITER) {
            strOut = p->m_strDelimiter;
        }
    }
}

void CQZLocation::FormatError(CString& strOut) {
    switch (GetLocationError()) {
        case LE_NONE:
            ModuleLoadString(&strOut, IDS_LOCATION_NONE, AfxGetResourceHandle());
            break;
        case LE_DECIMAL:
            ModuleLoadString(&strOut, IDS_LOCATION_DECIMAL, AfxGetResourceHandle());
            break;
        case LE_HEXADECIMAL:
            ModuleLoadString(&strOut, IDS_LOCATION_HEXADECIMAL, AfxGetResourceHandle());
            break;
        case LE_OCTAL:
            ModuleLoadString(&strOut, IDS_LOCATION_OCTAL, AfxGetResourceHandle());
            break;
        case LE_BOUNDARY:
            ModuleLoadString(&strOut, IDS_LOCATION_BOUNDARY, AfxGetResourceHandle());
            break;
        case LE_ALPHABETIC:
            ModuleLoadString(&strOut, IDS_LOCATION_ALPHABETIC, AfxGetResourceHandle());
            break;
        case LE_RANGE: {
            std::vector<LONG> values;
            for (const CQZLocation* p = this; p != nullptr; p = p->m_pFriend) {
                values.push_back(p->m_nLocation);
            }
            CString strMin;
            CString strMax;
            SetAsMin();
            Format(strMin);
            SetAsMax();
            Format(strMax);
            SetAsMin();
            std::size_t i = 0;
            for (CQZLocation* p = this; p != nullptr; p = p->m_pFriend) {
                p->m_nLocation = values[i++];
            }
            FormatMessageInto(strOut, IDS_LOCATION_RANGE, {strMin, strMax});
            break;
        }
        case LE_LENGTH: {
            CString strLength;
            strLength.Format("%d", GetTotalFormatLength());
            FormatMessageInto(strOut, IDS_LOCATION_LENGTH, {strLength});
            break;
        }
        case LE_DELIMITER: {
            CString strDelimiter;
            GetMissingDelimiter(strDelimiter);
            FormatMessageInto(strOut, IDS_LOCATION_DELIMITER, {strDelimiter});
            break;
        }
        default:
            break;
    }
}

void CQZLocation::SerializeFields(CArchive& ar) {
    if (ar.IsStoring()) {
        ar << m_nLocation << static_cast<LONG>(m_Descriptor.eNumberBase)
           << m_Descriptor.nFormatLength << m_Descriptor.nIncrement << m_Range.nMinLocation
           << m_Range.nMaxLocation << m_bValid << m_strDelimiter;
    } else {
        LONG base = 0;
        ar >> m_nLocation >> base >> m_Descriptor.nFormatLength >> m_Descriptor.nIncrement >>
            m_Range.nMinLocation >> m_Range.nMaxLocation >> m_bValid >> m_strDelimiter;
        m_Descriptor.eNumberBase = static_cast<LocationRadix>(base);
    }
}

// The friend chain is written in place, each friend's record inside its
// owner's before the owner's last two fields. It is read and written here
// component by component rather than by nested calls, so that a damaged
// archive cannot nest without bound.
void CQZLocation::Serialize(CArchive& ar) {
    std::vector<CQZLocation*> chain;
    if (ar.IsStoring()) {
        for (CQZLocation* p = this; p != nullptr; p = p->m_pFriend) {
            chain.push_back(p);
            p->CQZObject::Serialize(ar);
            p->SerializeFields(ar);
            ar << static_cast<LONG>(p->m_pFriend != nullptr ? 1 : 0);
        }
        for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
            // A record of an older version has no such fields to read back.
            if ((*it)->m_nVersion >= 2) {
                ar << (*it)->m_Descriptor.nShortestFormatLength << (*it)->m_nError;
            }
        }
        return;
    }
    for (CQZLocation* p = this;;) {
        chain.push_back(p);
        p->CQZObject::Serialize(ar);
        p->SerializeFields(ar);
        LONG hasFriend = 0;
        ar >> hasFriend;
        if (hasFriend == 0) {
            break;
        }
        if (hasFriend != 1 || chain.size() >= static_cast<std::size_t>(MAX_LOADED_CHAIN)) {
            CArchiveException::Throw(CArchiveException::generic);
        }
        // A friend loaded over an existing one replaces it.
        DestroyChain(p->m_pFriend);
        p->m_pFriend = new CQZLocation;
        p = p->m_pFriend;
    }
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        CQZLocation* p = *it;
        if (p->m_nVersion >= 2) {
            ar >> p->m_Descriptor.nShortestFormatLength >> p->m_nError;
        } else {
            p->m_Descriptor.nShortestFormatLength = p->m_Descriptor.nFormatLength;
        }
    }
}
