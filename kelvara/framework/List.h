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

template <class TYPE, class ARG_TYPE = const TYPE&>
class CList : public CObject {
    struct CNode {
        CNode* pNext;
        CNode* pPrev;
        TYPE data;
    };

public:
    // The block size of the framework's node allocator; nodes here are
    // allocated one by one.
    explicit CList(int nBlockSize = 10) { (void)nBlockSize; }
    CList(const CList& other) : CObject() { AddTail(&other); }
    CList& operator=(const CList& other) {
        if (this != &other) {
            RemoveAll();
            AddTail(&other);
        }
        return *this;
    }
    ~CList() override { RemoveAll(); }

    int GetCount() const { return m_nCount; }
    int GetSize() const { return m_nCount; }
    bool IsEmpty() const { return m_nCount == 0; }

    TYPE& GetHead() { return m_pNodeHead ? m_pNodeHead->data : Scratch(); }
    const TYPE& GetHead() const { return m_pNodeHead ? m_pNodeHead->data : DefaultValue(); }
    TYPE& GetTail() { return m_pNodeTail ? m_pNodeTail->data : Scratch(); }
    const TYPE& GetTail() const { return m_pNodeTail ? m_pNodeTail->data : DefaultValue(); }

    // Removes and returns the head (a default value when empty).
    TYPE RemoveHead() {
        if (!m_pNodeHead) {
            return TYPE();
        }
        TYPE value = std::move(m_pNodeHead->data);
        FreeNode(m_pNodeHead);
        return value;
    }
    TYPE RemoveTail() {
        if (!m_pNodeTail) {
            return TYPE();
        }
        TYPE value = std::move(m_pNodeTail->data);
        FreeNode(m_pNodeTail);
        return value;
    }

    POSITION AddHead(ARG_TYPE newElement) { return InsertNode(nullptr, m_pNodeHead, newElement); }
    POSITION AddTail(ARG_TYPE newElement) { return InsertNode(m_pNodeTail, nullptr, newElement); }
    void AddHead(const CList* pNewList) {
        if (!pNewList) {
            return;
        }
        const CList copy(*pNewList);
        for (CNode* p = copy.m_pNodeTail; p; p = p->pPrev) {
            AddHead(p->data);
        }
    }
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
    void RemoveAll() {
        while (m_pNodeHead) {
            FreeNode(m_pNodeHead);
        }
    }

    POSITION GetHeadPosition() const { return ToPos(m_pNodeHead); }
    POSITION GetTailPosition() const { return ToPos(m_pNodeTail); }
    // The element at rPosition; rPosition moves to the next (null at the end).
    TYPE& GetNext(POSITION& rPosition) {
        CNode* p = FromPos(rPosition);
        rPosition = p ? ToPos(p->pNext) : nullptr;
        return p ? p->data : Scratch();
    }
    const TYPE& GetNext(POSITION& rPosition) const {
        CNode* p = FromPos(rPosition);
        rPosition = p ? ToPos(p->pNext) : nullptr;
        return p ? p->data : DefaultValue();
    }
    TYPE& GetPrev(POSITION& rPosition) {
        CNode* p = FromPos(rPosition);
        rPosition = p ? ToPos(p->pPrev) : nullptr;
        return p ? p->data : Scratch();
    }
    TYPE& GetAt(POSITION position) {
        CNode* p = FromPos(position);
        return p ? p->data : Scratch();
    }
    const TYPE& GetAt(POSITION position) const {
        CNode* p = FromPos(position);
        return p ? p->data : DefaultValue();
    }
    void SetAt(POSITION pos, ARG_TYPE newElement) {
        if (CNode* p = FromPos(pos)) {
            p->data = newElement;
        }
    }
    void RemoveAt(POSITION position) {
        if (CNode* p = FromPos(position)) {
            FreeNode(p);
        }
    }
    POSITION InsertBefore(POSITION position, ARG_TYPE newElement) {
        CNode* p = FromPos(position);
        return p ? InsertNode(p->pPrev, p, newElement) : AddHead(newElement);
    }
    POSITION InsertAfter(POSITION position, ARG_TYPE newElement) {
        CNode* p = FromPos(position);
        return p ? InsertNode(p, p->pNext, newElement) : AddTail(newElement);
    }

    // First element equal to searchValue after startAfter (or from the head).
    POSITION Find(ARG_TYPE searchValue, POSITION startAfter = nullptr) const {
        CNode* p = startAfter ? FromPos(startAfter)->pNext : m_pNodeHead;
        for (; p; p = p->pNext) {
            if (p->data == searchValue) {
                return ToPos(p);
            }
        }
        return nullptr;
    }
    // The nIndex-th position from the head, or null.
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

class KELVARA_API CStringList : public CList<CString, const CString&> {
public:
    explicit CStringList(int nBlockSize = 10) : CList(nBlockSize) {}
    // A count, then the strings from head to tail.
    void Serialize(CArchive& ar) override;
};

class KELVARA_API CPtrList : public CList<void*, void*> {
public:
    explicit CPtrList(int nBlockSize = 10) : CList(nBlockSize) {}
};

// Holds object pointers without owning them.
class KELVARA_API CObList : public CList<CObject*, CObject*> {
public:
    explicit CObList(int nBlockSize = 10) : CList(nBlockSize) {}
    void Serialize(CArchive& ar) override;
};

template <class BASE_CLASS, class TYPE>
class CTypedPtrList : public BASE_CLASS {
public:
    explicit CTypedPtrList(int nBlockSize = 10) : BASE_CLASS(nBlockSize) {}
    TYPE GetHead() const { return static_cast<TYPE>(BASE_CLASS::GetHead()); }
    TYPE GetTail() const { return static_cast<TYPE>(BASE_CLASS::GetTail()); }
    TYPE RemoveHead() { return static_cast<TYPE>(BASE_CLASS::RemoveHead()); }
    TYPE RemoveTail() { return static_cast<TYPE>(BASE_CLASS::RemoveTail()); }
    TYPE GetNext(POSITION& rPosition) { return static_cast<TYPE>(BASE_CLASS::GetNext(rPosition)); }
    TYPE GetPrev(POSITION& rPosition) { return static_cast<TYPE>(BASE_CLASS::GetPrev(rPosition)); }
    TYPE GetAt(POSITION position) { return static_cast<TYPE>(BASE_CLASS::GetAt(position)); }
    POSITION AddHead(TYPE p) { return BASE_CLASS::AddHead(p); }
    POSITION AddTail(TYPE p) { return BASE_CLASS::AddTail(p); }
};
