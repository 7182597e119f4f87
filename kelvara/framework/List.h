/** \addtogroup framework
 @{ */
// CList and its named instances: doubly linked lists walked with POSITION.
//
// A POSITION stays valid until its element is removed. Head and tail of an
// empty list, and a null POSITION, give a scratch element that belongs to no
// node (the list's contents are never touched through it), reset to the
// default value at each such access. The const accessors write nothing, so
// any number of threads may read one list at once: there they give a
// shared, read-only default value.
#pragma once

#include <utility>

#include "kelvara/framework/Export.h"
#include "kelvara/framework/Object.h"
#include "kelvara/framework/String.h"
#include "kelvara/framework/Types.h"

/// Doubly linked lists walked with POSITION.
template <class TYPE, class ARG_TYPE = const TYPE&>
class CList : public CObject {
    struct CNode {
        CNode* pNext;
        CNode* pPrev;
        TYPE data;
    };

public:
    /// The block size of the framework's node allocator; nodes here are
    /// allocated one by one.
    explicit CList(int nBlockSize = 10) { (void)nBlockSize; }
    /// Copies every element.
    CList(const CList& other) : CObject() { AddTail(&other); }
    /// Copies every element.
    CList& operator=(const CList& other) {
        if (this != &other) {
            RemoveAll();
            AddTail(&other);
        }
        return *this;
    }
    ~CList() override { RemoveAll(); }

    /// Number of elements and emptiness.
    int GetCount() const { return m_nCount; }
    /// Number of elements and emptiness.
    int GetSize() const { return m_nCount; }
    /// Number of elements and emptiness.
    bool IsEmpty() const { return m_nCount == 0; }

    /// Head and tail; see the class description for an empty list.
    TYPE& GetHead() { return m_pNodeHead ? m_pNodeHead->data : Scratch(); }
    /// Head and tail; see the class description for an empty list.
    const TYPE& GetHead() const { return m_pNodeHead ? m_pNodeHead->data : DefaultValue(); }
    /// Head and tail; see the class description for an empty list.
    TYPE& GetTail() { return m_pNodeTail ? m_pNodeTail->data : Scratch(); }
    /// Head and tail; see the class description for an empty list.
    const TYPE& GetTail() const { return m_pNodeTail ? m_pNodeTail->data : DefaultValue(); }

    /// Removes and returns the head (a default value when empty).
    TYPE RemoveHead() {
        if (!m_pNodeHead) {
            return TYPE();
        }
        TYPE value = std::move(m_pNodeHead->data);
        FreeNode(m_pNodeHead);
        return value;
    }
    /// Removes and returns the tail (a default value when empty).
    TYPE RemoveTail() {
        if (!m_pNodeTail) {
            return TYPE();
        }
        TYPE value = std::move(m_pNodeTail->data);
        FreeNode(m_pNodeTail);
        return value;
    }

    /// Adds one element at the head or tail; its position.
    POSITION AddHead(ARG_TYPE newElement) { return InsertNode(nullptr, m_pNodeHead, newElement); }
    /// Adds one element at the head or tail; its position.
    POSITION AddTail(ARG_TYPE newElement) { return InsertNode(m_pNodeTail, nullptr, newElement); }
    /// Adds copies of another list's elements; pNewList may be this list.
    void AddHead(const CList* pNewList) {
        if (!pNewList) {
            return;
        }
        const CList copy(*pNewList);
        for (CNode* p = copy.m_pNodeTail; p; p = p->pPrev) {
            AddHead(p->data);
        }
    }
    /// Adds copies of another list's elements; pNewList may be this list.
    void AddTail(const CList* pNewList) {
        if (!pNewList) {
            return;
        }
        const int n = pNewList->m_nCount;  // pNewList may be this list
        CNode* p = pNewList->m_pNodeHead;
        for (int i = 0; i < n && p; ++i, p = p->pNext) {
            AddTail(p->data);
        }
    }
    /// Removes every element.
    void RemoveAll() {
        while (m_pNodeHead) {
            FreeNode(m_pNodeHead);
        }
    }

    /// Position of the head or tail; null when empty.
    POSITION GetHeadPosition() const { return ToPos(m_pNodeHead); }
    /// Position of the head or tail; null when empty.
    POSITION GetTailPosition() const { return ToPos(m_pNodeTail); }
    /// The element at rPosition; rPosition moves to the next (null at the end).
    TYPE& GetNext(POSITION& rPosition) {
        CNode* p = FromPos(rPosition);
        rPosition = p ? ToPos(p->pNext) : nullptr;
        return p ? p->data : Scratch();
    }
    /// See GetNext.
    const TYPE& GetNext(POSITION& rPosition) const {
        CNode* p = FromPos(rPosition);
        rPosition = p ? ToPos(p->pNext) : nullptr;
        return p ? p->data : DefaultValue();
    }
    /// The element at rPosition; rPosition moves to the previous (null at the head).
    TYPE& GetPrev(POSITION& rPosition) {
        CNode* p = FromPos(rPosition);
        rPosition = p ? ToPos(p->pPrev) : nullptr;
        return p ? p->data : Scratch();
    }
    /// The element at a position.
    TYPE& GetAt(POSITION position) {
        CNode* p = FromPos(position);
        return p ? p->data : Scratch();
    }
    /// The element at a position.
    const TYPE& GetAt(POSITION position) const {
        CNode* p = FromPos(position);
        return p ? p->data : DefaultValue();
    }
    /// Replaces the element at pos.
    void SetAt(POSITION pos, ARG_TYPE newElement) {
        if (CNode* p = FromPos(pos)) {
            p->data = newElement;
        }
    }
    /// Removes the element at a position.
    void RemoveAt(POSITION position) {
        if (CNode* p = FromPos(position)) {
            FreeNode(p);
        }
    }
    /// Inserts before or after a position (at the head or tail for null); the new position.
    POSITION InsertBefore(POSITION position, ARG_TYPE newElement) {
        CNode* p = FromPos(position);
        return p ? InsertNode(p->pPrev, p, newElement) : AddHead(newElement);
    }
    /// Inserts before or after a position (at the head or tail for null); the new position.
    POSITION InsertAfter(POSITION position, ARG_TYPE newElement) {
        CNode* p = FromPos(position);
        return p ? InsertNode(p, p->pNext, newElement) : AddTail(newElement);
    }

    /// First element equal to searchValue after startAfter (or from the head).
    POSITION Find(ARG_TYPE searchValue, POSITION startAfter = nullptr) const {
        CNode* p = startAfter ? FromPos(startAfter)->pNext : m_pNodeHead;
        for (; p; p = p->pNext) {
            if (p->data == searchValue) {
                return ToPos(p);
            }
        }
        return nullptr;
    }
    /// The nIndex-th position from the head, or null.
    POSITION FindIndex(int nIndex) const {
        if (nIndex < 0 || nIndex >= m_nCount) {
            return nullptr;
        }
        CNode* p = m_pNodeHead;
        while (nIndex-- > 0) {
            p = p->pNext;
        }
        return ToPos(p);
    }

private:
    static POSITION ToPos(CNode* p) { return reinterpret_cast<POSITION>(p); }
    static CNode* FromPos(POSITION pos) { return reinterpret_cast<CNode*>(pos); }
    TYPE& Scratch() {
        m_scratch = TYPE();
        return m_scratch;
    }
    static const TYPE& DefaultValue() {
        static const TYPE value{};
        return value;
    }

    POSITION InsertNode(CNode* pPrev, CNode* pNext, ARG_TYPE newElement) {
        CNode* p = new CNode{pNext, pPrev, TYPE(newElement)};
        (pPrev ? pPrev->pNext : m_pNodeHead) = p;
        (pNext ? pNext->pPrev : m_pNodeTail) = p;
        ++m_nCount;
        return ToPos(p);
    }
    void FreeNode(CNode* p) {
        (p->pPrev ? p->pPrev->pNext : m_pNodeHead) = p->pNext;
        (p->pNext ? p->pNext->pPrev : m_pNodeTail) = p->pPrev;
        --m_nCount;
        delete p;
    }

    CNode* m_pNodeHead = nullptr;
    CNode* m_pNodeTail = nullptr;
    int m_nCount = 0;
    TYPE m_scratch{};
};

/// A list of strings.
class KELVARA_API CStringList : public CList<CString, const CString&> {
public:
    /// See CList::CList.
    explicit CStringList(int nBlockSize = 10) : CList(nBlockSize) {}
    /// A count, then the strings from head to tail.
    void Serialize(CArchive& ar) override;
};

/// A list of untyped pointers.
class KELVARA_API CPtrList : public CList<void*, void*> {
public:
    /// See CList::CList.
    explicit CPtrList(int nBlockSize = 10) : CList(nBlockSize) {}
};

/// Holds object pointers without owning them.
class KELVARA_API CObList : public CList<CObject*, CObject*> {
public:
    /// See CList::CList.
    explicit CObList(int nBlockSize = 10) : CList(nBlockSize) {}
    /// A count, then each object through the archive's object records.
    void Serialize(CArchive& ar) override;
};

template <class BASE_CLASS, class TYPE>
/// A pointer list of BASE_CLASS (CPtrList or CObList) with typed access.
class CTypedPtrList : public BASE_CLASS {
public:
    /// As the base class's members, typed.
    explicit CTypedPtrList(int nBlockSize = 10) : BASE_CLASS(nBlockSize) {}
    /// As the base class's members, typed.
    TYPE GetHead() const { return static_cast<TYPE>(BASE_CLASS::GetHead()); }
    /// As the base class's members, typed.
    TYPE GetTail() const { return static_cast<TYPE>(BASE_CLASS::GetTail()); }
    /// As the base class's members, typed.
    TYPE RemoveHead() { return static_cast<TYPE>(BASE_CLASS::RemoveHead()); }
    /// As the base class's members, typed.
    TYPE RemoveTail() { return static_cast<TYPE>(BASE_CLASS::RemoveTail()); }
    /// As the base class's members, typed.
    TYPE GetNext(POSITION& rPosition) { return static_cast<TYPE>(BASE_CLASS::GetNext(rPosition)); }
    /// As the base class's members, typed.
    TYPE GetPrev(POSITION& rPosition) { return static_cast<TYPE>(BASE_CLASS::GetPrev(rPosition)); }
    /// As the base class's members, typed.
    TYPE GetAt(POSITION position) { return static_cast<TYPE>(BASE_CLASS::GetAt(position)); }
    /// As the base class's members, typed.
    POSITION AddHead(TYPE p) { return BASE_CLASS::AddHead(p); }
    /// As the base class's members, typed.
    POSITION AddTail(TYPE p) { return BASE_CLASS::AddTail(p); }
};
/** @} */
