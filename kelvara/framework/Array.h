/** \addtogroup framework
 @{ */
// CArray and its named instances: growable arrays with the framework's
// member names.
//
// An index outside the array is a caller's mistake; it never touches memory
// outside the array: GetAt gives a default value, SetAt does nothing, and
// ElementAt / operator[] give a scratch element that belongs to no index
// (reset to the default value at each such access). The const accessors
// write nothing, so any number of threads may read one array at once: out
// of range they give a shared, read-only default value.
#pragma once

#include <algorithm>
#include <utility>
#include <vector>

#include "kelvara/framework/Export.h"
#include "kelvara/framework/Object.h"
#include "kelvara/framework/String.h"
#include "kelvara/framework/Types.h"

/// Growable arrays with the framework's member names.
template <class TYPE, class ARG_TYPE = const TYPE&>
class CArray : public CObject {
public:
    /// An empty array.
    CArray() = default;
    /// Copyable and movable, element by element.
    CArray(const CArray&) = default;
    /// Copyable and movable, element by element.
    CArray(CArray&&) noexcept = default;
    /// Copyable and movable, element by element.
    CArray& operator=(const CArray&) = default;
    /// Copyable and movable, element by element.
    CArray& operator=(CArray&&) noexcept = default;
    ~CArray() override = default;

    /// Size and emptiness.
    int GetSize() const { return static_cast<int>(m_data.size()); }
    /// Size and emptiness.
    int GetCount() const { return GetSize(); }
    /// Size and emptiness.
    int GetUpperBound() const { return GetSize() - 1; }
    /// Size and emptiness.
    bool IsEmpty() const { return m_data.empty(); }
    /// A negative size counts as 0; new elements are default values.
    void SetSize(int nNewSize, int nGrowBy = -1) {
        (void)nGrowBy;
        m_data.resize(static_cast<size_t>(std::max(nNewSize, 0)));
    }
    /// Frees spare capacity, or every element.
    void FreeExtra() { m_data.shrink_to_fit(); }
    /// Frees spare capacity, or every element.
    void RemoveAll() { m_data.clear(); }

    /// Element access; see the class description for indexes outside the array.
    bool IsValidIndex(int nIndex) const { return nIndex >= 0 && nIndex < GetSize(); }
    /// Element access; see the class description for indexes outside the array.
    TYPE GetAt(int nIndex) const { return IsValidIndex(nIndex) ? m_data[Index(nIndex)] : TYPE(); }
    /// Element access; see the class description for indexes outside the array.
    void SetAt(int nIndex, ARG_TYPE newElement) {
        if (IsValidIndex(nIndex)) {
            m_data[Index(nIndex)] = newElement;
        }
    }
    /// Element access; see the class description for indexes outside the array.
    TYPE& ElementAt(int nIndex) {
        if (IsValidIndex(nIndex)) {
            return m_data[Index(nIndex)];
        }
        m_scratch = TYPE();
        return m_scratch;
    }
    /// Element access; see the class description for indexes outside the array.
    const TYPE& ElementAt(int nIndex) const {
        return IsValidIndex(nIndex) ? m_data[Index(nIndex)] : DefaultValue();
    }
    /// Element access; see the class description for indexes outside the array.
    TYPE& operator[](int nIndex) { return ElementAt(nIndex); }
    /// Element access; see the class description for indexes outside the array.
    const TYPE& operator[](int nIndex) const { return ElementAt(nIndex); }

    /// The elements, contiguous; null when empty.
    TYPE* GetData() { return m_data.data(); }
    /// The elements, contiguous; null when empty.
    const TYPE* GetData() const { return m_data.data(); }

    /// Grows the array when needed; a negative index does nothing.
    void SetAtGrow(int nIndex, ARG_TYPE newElement) {
        if (nIndex < 0) {
            return;
        }
        if (nIndex >= GetSize()) {
            m_data.resize(Index(nIndex) + 1);
        }
        m_data[Index(nIndex)] = newElement;
    }
    /// Index of the new element.
    int Add(ARG_TYPE newElement) {
        m_data.push_back(newElement);
        return GetSize() - 1;
    }
    /// Index of the first appended element.
    int Append(const CArray& src) {
        const int nOldSize = GetSize();
        if (&src == this) {
            const std::vector<TYPE> copy = m_data;  // inserting a vector's own range is undefined
            m_data.insert(m_data.end(), copy.begin(), copy.end());
        } else {
            m_data.insert(m_data.end(), src.m_data.begin(), src.m_data.end());
        }
        return nOldSize;
    }
    /// Replaces the elements with src's.
    void Copy(const CArray& src) {
        if (this != &src) {
            m_data = src.m_data;
        }
    }
    /// Inserts at nIndex; an index past the end grows the array up to it.
    void InsertAt(int nIndex, ARG_TYPE newElement, int nCount = 1) {
        if (nIndex < 0 || nCount <= 0) {
            return;
        }
        if (nIndex > GetSize()) {
            m_data.resize(Index(nIndex));
        }
        m_data.insert(m_data.begin() + nIndex, static_cast<size_t>(nCount), TYPE(newElement));
    }
    /// Inserts the elements of pNewArray at nStartIndex; pNewArray may be this array.
    void InsertAt(int nStartIndex, const CArray* pNewArray) {
        if (nStartIndex < 0 || pNewArray == nullptr) {
            return;
        }
        if (nStartIndex > GetSize()) {
            m_data.resize(Index(nStartIndex));
        }
        const std::vector<TYPE> copy = pNewArray->m_data;  // pNewArray may be this
        m_data.insert(m_data.begin() + nStartIndex, copy.begin(), copy.end());
    }
    /// Removes what exists of [nIndex, nIndex + nCount).
    void RemoveAt(int nIndex, int nCount = 1) {
        if (nIndex < 0 || nIndex >= GetSize() || nCount <= 0) {
            return;
        }
        const int n = std::min(nCount, GetSize() - nIndex);
        m_data.erase(m_data.begin() + nIndex, m_data.begin() + nIndex + n);
    }

    /// Standard iteration, for range-for.
    auto begin() { return m_data.begin(); }
    /// See begin.
    auto end() { return m_data.end(); }
    /// See begin.
    auto begin() const { return m_data.begin(); }
    /// See begin.
    auto end() const { return m_data.end(); }

protected:
    /// An index as the storage's size type.
    static size_t Index(int n) { return static_cast<size_t>(n); }
    /// The value GetAt gives outside the array.
    static const TYPE& DefaultValue() {
        static const TYPE value{};
        return value;
    }

    /// The elements.
    std::vector<TYPE> m_data;

private:
    TYPE m_scratch{};
};

/// An array of bytes; archived as a count, then the bytes.
class KELVARA_API CByteArray : public CArray<BYTE, BYTE> {
public:
    /// A count, then the bytes.
    void Serialize(CArchive& ar) override;
};

/// An array of 16-bit words.
class KELVARA_API CWordArray : public CArray<WORD, WORD> {
public:
    /// A count, then the words.
    void Serialize(CArchive& ar) override;
};

/// An array of 32-bit words.
class KELVARA_API CDWordArray : public CArray<DWORD, DWORD> {
public:
    /// A count, then the words.
    void Serialize(CArchive& ar) override;
};

/// An array of unsigned integers.
class KELVARA_API CUIntArray : public CArray<UINT, UINT> {};

/// An array of strings.
class KELVARA_API CStringArray : public CArray<CString, const CString&> {
public:
    /// A count, then the strings.
    void Serialize(CArchive& ar) override;
};

/// An array of untyped pointers, not owned.
class KELVARA_API CPtrArray : public CArray<void*, void*> {};

/// Holds object pointers without owning them.
class KELVARA_API CObArray : public CArray<CObject*, CObject*> {
public:
    /// A count, then each object through the archive's object records.
    void Serialize(CArchive& ar) override;
};

/// A pointer array of BASE_CLASS (CPtrArray or CObArray) with typed access.
template <class BASE_CLASS, class TYPE>
class CTypedPtrArray : public BASE_CLASS {
public:
    /// As the base class's members, typed.
    TYPE GetAt(int nIndex) const { return static_cast<TYPE>(BASE_CLASS::GetAt(nIndex)); }
    /// As the base class's members, typed.
    TYPE& ElementAt(int nIndex) { return reinterpret_cast<TYPE&>(BASE_CLASS::ElementAt(nIndex)); }
    /// As the base class's members, typed.
    void SetAt(int nIndex, TYPE ptr) { BASE_CLASS::SetAt(nIndex, ptr); }
    /// As the base class's members, typed.
    void SetAtGrow(int nIndex, TYPE ptr) { BASE_CLASS::SetAtGrow(nIndex, ptr); }
    /// As the base class's members, typed.
    int Add(TYPE ptr) { return BASE_CLASS::Add(ptr); }
    /// As the base class's members, typed.
    void InsertAt(int nIndex, TYPE ptr, int nCount = 1) {
        BASE_CLASS::InsertAt(nIndex, ptr, nCount);
    }
    /// As the base class's members, typed.
    TYPE operator[](int nIndex) const { return GetAt(nIndex); }
    /// As the base class's members, typed.
    TYPE& operator[](int nIndex) { return ElementAt(nIndex); }
};
/** @} */
