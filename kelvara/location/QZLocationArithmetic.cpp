// CQZLocation's arithmetic and comparisons. Each changes or compares the
// value of the component it is called on; the range check that follows a
// change carries into the friend chain.
#include <cstdint>

#include "kelvara/location/QZLocation.h"

namespace {

LONG WrapAdd(LONG x, LONG y) {
    return static_cast<LONG>(static_cast<std::uint32_t>(x) + static_cast<std::uint32_t>(y));
}

LONG WrapSub(LONG x, LONG y) {
    return static_cast<LONG>(static_cast<std::uint32_t>(x) - static_cast<std::uint32_t>(y));
}

}  // namespace

CQZLocation& CQZLocation::operator=(int nLocation) {
    SetAsZero();
    m_nLocation = nLocation;
    CheckRange();
    return *this;
}

CQZLocation& CQZLocation::operator+=(const CQZLocation& other) {
    m_nLocation = WrapAdd(m_nLocation, other.GetRawLocation());
    CheckRange();
    return *this;
}

CQZLocation& CQZLocation::operator+=(int nCount) {
    m_nLocation = WrapAdd(m_nLocation, nCount);
    CheckRange();
    return *this;
}

CQZLocation& CQZLocation::operator-=(const CQZLocation& other) {
    m_nLocation = WrapSub(m_nLocation, other.GetRawLocation());
    CheckRange();
    return *this;
}

CQZLocation& CQZLocation::operator-=(int nCount) {
    m_nLocation = WrapSub(m_nLocation, nCount);
    CheckRange();
    return *this;
}

CQZLocation CQZLocation::operator+(const CQZLocation& other) const {
    CQZLocation result(*this);
    result += other;
    return result;
}

CQZLocation CQZLocation::operator+(int nCount) const {
    CQZLocation result(*this);
    result += nCount;
    return result;
}

CQZLocation CQZLocation::operator-(const CQZLocation& other) const {
    CQZLocation result(*this);
    result -= other;
    return result;
}

CQZLocation CQZLocation::operator-(int nCount) const {
    CQZLocation result(*this);
    result -= nCount;
    return result;
}

CQZLocation& CQZLocation::operator++() {
    return *this += 1;
}

CQZLocation& CQZLocation::operator++(int) {
    return *this += 1;
}

CQZLocation& CQZLocation::operator--() {
    return *this -= 1;
}

CQZLocation& CQZLocation::operator--(int) {
    return *this -= 1;
}

int CQZLocation::operator==(const CQZLocation& other) const {
    const CQZLocation* p = this;
    const CQZLocation* q = &other;
    for (; p != nullptr; p = p->m_pFriend, q = q->m_pFriend) {
        if (q == nullptr || !p->SameDefinitionHere(*q) || p->m_nLocation != q->m_nLocation) {
            return 0;
        }
    }
    return 1;
}

// The orderings follow one table: after the definition gate, a location
// without a friend compares its value; one with a friend yields 0 when the
// friends compare the wrong way, or when they are equal and the values do.
int CQZLocation::operator<(const CQZLocation& other) const {
    if (!SameDefinitionHere(other)) {
        return 0;
    }
    if (m_pFriend == nullptr) {
        return m_nLocation < other.m_nLocation ? 1 : 0;
    }
    if (other.m_pFriend == nullptr || *m_pFriend > *other.m_pFriend ||
        (*m_pFriend == *other.m_pFriend && m_nLocation >= other.m_nLocation)) {
        return 0;
    }
    return 1;
}

int CQZLocation::operator>(const CQZLocation& other) const {
    if (!SameDefinitionHere(other)) {
        return 0;
    }
    if (m_pFriend == nullptr) {
        return m_nLocation > other.m_nLocation ? 1 : 0;
    }
    if (other.m_pFriend == nullptr || *m_pFriend < *other.m_pFriend ||
        (*m_pFriend == *other.m_pFriend && m_nLocation <= other.m_nLocation)) {
        return 0;
    }
    return 1;
}

int CQZLocation::operator<=(const CQZLocation& other) const {
    if (!SameDefinitionHere(other)) {
        return 0;
    }
    if (m_pFriend == nullptr) {
        return m_nLocation <= other.m_nLocation ? 1 : 0;
    }
    if (other.m_pFriend == nullptr || *m_pFriend > *other.m_pFriend ||
        (*m_pFriend == *other.m_pFriend && m_nLocation > other.m_nLocation)) {
        return 0;
    }
    return 1;
}

int CQZLocation::operator>=(const CQZLocation& other) const {
    if (!SameDefinitionHere(other)) {
        return 0;
    }
    if (m_pFriend == nullptr) {
        return m_nLocation >= other.m_nLocation ? 1 : 0;
    }
    if (other.m_pFriend == nullptr || *m_pFriend < *other.m_pFriend ||
        (*m_pFriend == *other.m_pFriend && m_nLocation < other.m_nLocation)) {
        return 0;
    }
    return 1;
}

int CQZLocation::operator==(int nLocation) const {
    return *this == CQZLocation(nLocation, m_Range, m_Descriptor);
}

int CQZLocation::operator<(int nLocation) const {
    return *this < CQZLocation(nLocation, m_Range, m_Descriptor);
}

int CQZLocation::operator>(int nLocation) const {
    return *this > CQZLocation(nLocation, m_Range, m_Descriptor);
}

int CQZLocation::operator<=(int nLocation) const {
    return *this <= CQZLocation(nLocation, m_Range, m_Descriptor);
}

int CQZLocation::operator>=(int nLocation) const {
    return *this >= CQZLocation(nLocation, m_Range, m_Descriptor);
}
