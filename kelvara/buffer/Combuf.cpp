#include "kelvara/buffer/Combuf.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

// A half-open byte range known to lie within the buffer: 0 <= begin <= end <= length.
struct Span {
    int begin;
    int end;
};

// Cuts [nStart, nEnd) down to [0, nLength). 64-bit so that an inclusive end
// of INT_MAX plus one does not overflow.
Span Clip(std::int64_t nStart, std::int64_t nEnd, int nLength) {
    const std::int64_t b = std::clamp<std::int64_t>(nStart, 0, nLength);
    const std::int64_t e = std::clamp<std::int64_t>(nEnd, b, nLength);
    return Span{static_cast<int>(b), static_cast<int>(e)};
}

// ---- polynomial checksum ----------------------------------------------------
//
// One byte of the checksum is eight steps of "shift right keeping bit 15,
// XOR the polynomial in when a 1 fell out". Call those eight steps T. Each
// step is linear over GF(2) in the 16-bit register, so T is too, and
//   T(x) = T(low byte of x) ^ T(high byte of x << 8).
// The second term never shifts a 1 out (bits 0-7 are clear), so it is just
// the high byte sign-extended to 16 bits. One table of T over the 256 low
// bytes therefore reproduces the bit loop exactly, one byte at a time.
//
// Going further the same way, eight bytes b0..b7 taken at once give
//   crc' = T^8(crc ^ b0) ^ T^7(b1) ^ ... ^ T^1(b7),
// where only the first term depends on the running value; the other seven
// lookups do not wait for it. With tables of T^1..T^8 over low bytes and of
// T^8 over high bytes the loop does eight bytes per step of its dependency
// chain.

WORD ShiftEightBits(WORD wCrc, WORD wPolynomial) {
    for (int bit = 0; bit < 8; ++bit) {
        const bool bOut = (wCrc & 1u) != 0;
        wCrc = static_cast<WORD>(static_cast<std::int16_t>(wCrc) >> 1);
        if (bOut) {
            wCrc ^= wPolynomial;
        }
    }
    return wCrc;
}

WORD BitwisePolynomialLrc(const BYTE* p, const BYTE* pEnd, WORD wPolynomial) {
    WORD wCrc = 0xFFFF;
    for (; p != pEnd; ++p) {
        wCrc = ShiftEightBits(static_cast<WORD>(wCrc ^ *p), wPolynomial);
    }
    return wCrc;
}

// The high byte of x sign-extended: what T makes of (high byte << 8).
unsigned SignExtendedHighByte(unsigned x) {
    return static_cast<WORD>(static_cast<std::int8_t>(static_cast<BYTE>(x >> 8)));
}

struct PolynomialTables {
    WORD power[8][256];  // power[j][b] = T^(j+1)(b) for a low byte b
    WORD high8[256];     // high8[h] = T^8(h << 8)
};

void BuildTables(PolynomialTables& t, WORD wPolynomial) {
    auto step = [&t](unsigned x) {
        return static_cast<WORD>(t.power[0][x & 0xFFu] ^ SignExtendedHighByte(x));
    };
    for (unsigned b = 0; b < 256; ++b) {
        t.power[0][b] = ShiftEightBits(static_cast<WORD>(b), wPolynomial);
    }
    for (unsigned j = 1; j < 8; ++j) {
        for (unsigned b = 0; b < 256; ++b) {
            t.power[j][b] = step(t.power[j - 1][b]);
        }
    }
    for (unsigned h = 0; h < 256; ++h) {
        WORD x = static_cast<WORD>(h << 8);
        for (int j = 0; j < 8; ++j) {
            x = step(x);
        }
        t.high8[h] = x;
    }
}

// Tables for the polynomials in use, in static storage. Drivers use one or
// two polynomials, so a small open-addressed set is plenty; when every slot a
// polynomial may use belongs to others, its checksum is worked out bit by bit
// (same result, slower) rather than growing without bound.
//
// A slot's key is 0 while the slot is free and polynomial + 0x10000 once its
// tables are complete; a slot once filled is never emptied. Filling happens
// under a mutex; the key is published with release order after the tables,
// so a reader that sees the key with acquire order reads them without a lock.
constexpr unsigned kTableSlots = 32;
constexpr unsigned kProbeLength = 8;

struct TableSlot {
    std::atomic<std::uint32_t> key{0};
    PolynomialTables tables;
};

TableSlot g_tableSlots[kTableSlots];
std::mutex g_tableFillMutex;

unsigned SlotIndex(WORD wPolynomial, unsigned nProbe) {
    return (((wPolynomial * 40503u) >> 11) + nProbe) & (kTableSlots - 1);
}

const PolynomialTables* FillSlot(WORD wPolynomial) {
    const std::uint32_t key = wPolynomial + 0x10000u;
    std::lock_guard<std::mutex> lock(g_tableFillMutex);
    for (unsigned n = 0; n < kProbeLength; ++n) {
        TableSlot& slot = g_tableSlots[SlotIndex(wPolynomial, n)];
        const std::uint32_t slotKey = slot.key.load(std::memory_order_relaxed);
        if (slotKey == key) {
            return &slot.tables;  // filled by another thread meanwhile
        }
        if (slotKey == 0) {
            BuildTables(slot.tables, wPolynomial);
            slot.key.store(key, std::memory_order_release);
            return &slot.tables;
        }
    }
    return nullptr;
}

// The tables of the polynomial, or nullptr when there is no room for them.
const PolynomialTables* FindTables(WORD wPolynomial) {
    const std::uint32_t key = wPolynomial + 0x10000u;
    for (unsigned n = 0; n < kProbeLength; ++n) {
        const TableSlot& slot = g_tableSlots[SlotIndex(wPolynomial, n)];
        const std::uint32_t slotKey = slot.key.load(std::memory_order_acquire);
        if (slotKey == key) {
            return &slot.tables;
        }
        if (slotKey == 0) {
            return FillSlot(wPolynomial);
        }
    }
    return nullptr;  // every slot it may use is taken for good
}

WORD PolynomialLrc(const BYTE* p, const BYTE* pEnd, WORD wPolynomial) {
    if (p == pEnd) {
        return 0xFFFF;
    }
    const PolynomialTables* pTables = FindTables(wPolynomial);
    if (pTables == nullptr) {
        return BitwisePolynomialLrc(p, pEnd, wPolynomial);
    }
    const auto& t = pTables->power;
    const WORD* high8 = pTables->high8;
    unsigned crc = 0xFFFF;
    for (; pEnd - p >= 8; p += 8) {
        crc = high8[crc >> 8] ^ t[7][(crc ^ p[0]) & 0xFFu] ^ t[6][p[1]] ^ t[5][p[2]] ^ t[4][p[3]] ^
              t[3][p[4]] ^ t[2][p[5]] ^ t[1][p[6]] ^ t[0][p[7]];
    }
    for (; p != pEnd; ++p) {
        crc = t[0][(crc ^ *p) & 0xFFu] ^ SignExtendedHighByte(crc);
    }
    return static_cast<WORD>(crc);
}

// ---- 8-bit checksums ----------------------------------------------------------

std::uint64_t LoadWord(const BYTE* p) {
    std::uint64_t w;
    std::memcpy(&w, p, sizeof w);
    return w;
}

BYTE RotateRight(BYTE b, unsigned n) {
    n &= 7u;
    return static_cast<BYTE>((b >> n) | (b << ((8u - n) & 7u)));
}

// After a run of 8k bytes, byte j of each group of eight has been rotated
// right 7 - j times (mod 8) whatever k is, so whole groups can be XORed
// together first and each of the eight lanes rotated once at the end.
BYTE RorXor(const BYTE* p, const BYTE* pEnd) {
    const size_t nWords = static_cast<size_t>(pEnd - p) / 8;
    std::uint64_t lanes = 0;
    for (size_t i = 0; i < nWords; ++i) {
        lanes ^= LoadWord(p + 8 * i);
    }
    p += 8 * nWords;
    BYTE lane[8];
    std::memcpy(lane, &lanes, sizeof lane);
    BYTE c = 0;
    for (unsigned j = 0; j < 8; ++j) {
        c ^= RotateRight(lane[j], 7u - j);
    }
    for (; p != pEnd; ++p) {
        c = static_cast<BYTE>(RotateRight(c, 1) ^ *p);
    }
    return c;
}

BYTE Xor(const BYTE* p, const BYTE* pEnd) {
    const size_t nWords = static_cast<size_t>(pEnd - p) / 8;
    std::uint64_t lanes = 0;
    for (size_t i = 0; i < nWords; ++i) {
        lanes ^= LoadWord(p + 8 * i);
    }
    p += 8 * nWords;
    lanes ^= lanes >> 32;
    lanes ^= lanes >> 16;
    lanes ^= lanes >> 8;
    BYTE c = static_cast<BYTE>(lanes);
    for (; p != pEnd; ++p) {
        c ^= *p;
    }
    return c;
}

// ---- escapes --------------------------------------------------------------------

// Inserts byEscape before each bySpecial of the range of data, in place.
// The vector grows once; then the bytes are moved back to front, so each
// byte moves once, and the walk stops as soon as no escape is left to insert
// (from there on the bytes already stand where they belong).
void InsertEscapes(std::vector<BYTE>& data, Span range, BYTE bySpecial, BYTE byEscape) {
    const auto first = data.begin() + range.begin;
    const auto last = data.begin() + range.end;
    const size_t nEscapes = static_cast<size_t>(std::count(first, last, bySpecial));
    if (nEscapes == 0 || data.size() + nEscapes > static_cast<size_t>(INT_MAX)) {
        return;
    }
    const size_t nOldSize = data.size();
    data.resize(nOldSize + nEscapes);
    BYTE* p = data.data();
    std::memmove(p + range.end + nEscapes, p + range.end, nOldSize - range.end);
    size_t r = static_cast<size_t>(range.end);  // next byte to move is r - 1
    size_t w = r + nEscapes;                    // it goes to w - 1
    // Each byte is stored together with an escape before it, in one 16-bit
    // store; when the byte is not special the next byte overwrites that
    // escape. While w > r at least one special byte lies below r, so
    // w - 2 >= r - 1 never reaches below the range.
    while (w > r) {
        const BYTE b = p[--r];
        const BYTE pair[2] = {byEscape, b};
        std::memcpy(p + w - 2, pair, 2);
        w -= 1 + static_cast<size_t>(b == bySpecial);
    }
}

}  // namespace

// ---- assignment and appending -----------------------------------------------------

CCombuf& CCombuf::operator=(const CCombuf& src) {
    Copy(src);
    return *this;
}

CCombuf& CCombuf::operator=(CCombuf&& src) noexcept {
    m_data.swap(src.m_data);
    src.m_data.clear();
    return *this;
}

CCombuf& CCombuf::operator=(const CByteArray& src) {
    Copy(src);
    return *this;
}

CCombuf& CCombuf::operator=(const char* pszText) {
    m_data.clear();
    return *this += pszText;
}

CCombuf& CCombuf::operator+=(const CCombuf& src) {
    Append(src);
    return *this;
}

CCombuf& CCombuf::operator+=(const CByteArray& src) {
    Append(src);
    return *this;
}

CCombuf& CCombuf::operator+=(const char* pszText) {
    if (pszText != nullptr) {
        const auto* p = reinterpret_cast<const BYTE*>(pszText);
        m_data.insert(m_data.end(), p, p + std::strlen(pszText));
    }
    return *this;
}

CCombuf& CCombuf::operator+=(unsigned char byByte) {
    m_data.push_back(byByte);
    return *this;
}

void CCombuf::Append(const CByteArray& src) {
    const size_t n = static_cast<size_t>(src.GetSize());
    if (n == 0) {
        return;
    }
    // Resize first and copy from the source afterwards: the source may be
    // this buffer, whose old bytes stay at the front.
    const size_t nOldSize = m_data.size();
    m_data.resize(nOldSize + n);
    std::memmove(m_data.data() + nOldSize, src.GetData(), n);
}

void CCombuf::GetDataSegment(CByteArray* pOut, int nStart, int nEnd) const {
    if (pOut == nullptr) {
        return;
    }
    const int nLength = GetSize();
    const std::int64_t nLast = nEnd == -1 ? nLength - 1 : nEnd;
    const Span range = Clip(nStart, nLast + 1, nLength);
    const int n = range.end - range.begin;
    if (pOut == this) {
        if (n > 0) {
            std::memmove(pOut->GetData(), GetData() + range.begin, static_cast<size_t>(n));
        }
        pOut->SetSize(n);
    } else {
        pOut->SetSize(n);
        if (n > 0) {
            std::memcpy(pOut->GetData(), GetData() + range.begin, static_cast<size_t>(n));
        }
    }
}

// ---- checksums ----------------------------------------------------------------------

unsigned short CCombuf::Polynomial_LRC(const CByteArray& data, unsigned short wPolynomial) const {
    const BYTE* p = data.GetData();
    return PolynomialLrc(p, p + data.GetSize(), wPolynomial);
}

unsigned short CCombuf::Polynomial_LRC(unsigned short wPolynomial, int nStart, int nEnd) const {
    const Span range = Clip(nStart, nEnd == -1 ? GetSize() : nEnd, GetSize());
    const BYTE* p = GetData();
    return PolynomialLrc(p + range.begin, p + range.end, wPolynomial);
}

unsigned char CCombuf::ROR_XOR_CRC(const CByteArray& data) const {
    const BYTE* p = data.GetData();
    return RorXor(p, p + data.GetSize());
}

unsigned char CCombuf::ROR_XOR_CRC() const {
    return ROR_XOR_CRC(0, GetSize());
}

unsigned char CCombuf::ROR_XOR_CRC(int nStart) const {
    return ROR_XOR_CRC(nStart, GetSize());
}

unsigned char CCombuf::ROR_XOR_CRC(int nStart, int nEnd) const {
    const Span range = Clip(nStart, nEnd, GetSize());
    const BYTE* p = GetData();
    return RorXor(p + range.begin, p + range.end);
}

unsigned char CCombuf::XOR_CRC(int nStart, int nEnd) const {
    const std::int64_t nLast = nEnd == -1 ? GetSize() - 1 : nEnd;
    const Span range = Clip(nStart, nLast + 1, GetSize());
    const BYTE* p = GetData();
    return Xor(p + range.begin, p + range.end);
}

// ---- escapes ----------------------------------------------------------------------------

void CCombuf::AddEscapeChars(unsigned char bySpecial, unsigned char byEscape, int nStart,
                             int nEnd) {
    const Span range = Clip(nStart, nEnd == -1 ? GetSize() - 1 : nEnd, GetSize());
    InsertEscapes(m_data, range, bySpecial, byEscape);
}

void CCombuf::RemoveEscapeChars(unsigned char byEscape, int nStart, int nEnd) {
    const Span range = Clip(nStart, nEnd == -1 ? GetSize() - 1 : nEnd, GetSize());
    if (range.begin == range.end) {
        return;
    }
    // Every byte is stored and the write position advances past the kept
    // ones only: no branch on the data, which mispredicts on real frames.
    BYTE* p = m_data.data();
    size_t w = static_cast<size_t>(range.begin);
    for (size_t r = w; r < static_cast<size_t>(range.end); ++r) {
        const BYTE b = p[r];
        p[w] = b;
        w += static_cast<size_t>(b != byEscape);
    }
    m_data.erase(m_data.begin() + static_cast<std::ptrdiff_t>(w), m_data.begin() + range.end);
}

void CCombuf::AddEscapeChars(const CByteArray& data, unsigned char bySpecial,
                             unsigned char byEscape) {
    if (&data != this) {
        Copy(data);
    }
    InsertEscapes(m_data, Span{0, GetSize()}, bySpecial, byEscape);
}

void CCombuf::RemoveEscapeChars(const CByteArray& data, unsigned char byEscape) {
    // Reading never runs behind writing, so this works in place as well.
    const BYTE* src = data.GetData();
    const size_t n = static_cast<size_t>(data.GetSize());
    m_data.resize(std::max(m_data.size(), n));
    BYTE* dst = m_data.data();
    size_t w = 0;
    bool bEscaped = false;  // the byte before was a dropped escape
    for (size_t r = 0; r < n; ++r) {
        const BYTE b = src[r];
        const bool bIsEscape = b == byEscape;
        dst[w] = b;
        w += static_cast<size_t>(bEscaped || !bIsEscape);
        bEscaped = !bEscaped && bIsEscape;
    }
    // A final escape protects nothing; it was dropped like any other.
    m_data.resize(w);
}
