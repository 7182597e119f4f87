// Object records of CArchive: class tags, back references, null objects and
// damaged input.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "kelvara/Kelvara.h"
#include "support/ArchiveBytes.h"
#include "support/HugeFile.h"

namespace {

using kelvara_test::Bytes;
using kelvara_test::LoadFrom;
using kelvara_test::StoreWith;

class CTestNode : public CObject {
    DECLARE_SERIAL(CTestNode)
public:
    CTestNode() = default;
    explicit CTestNode(LONG value) : m_nValue(value) {}
    ~CTestNode() override { delete m_pOwned; }
    void Serialize(CArchive& ar) override {
        if (ar.IsStoring()) {
            ar << m_nValue << m_pOwned;
        } else {
            ar >> m_nValue >> m_pOwned;
        }
    }
    LONG m_nValue = 0;
    CTestNode* m_pOwned = nullptr;
};
IMPLEMENT_SERIAL(CTestNode, CObject, 3)

class CTestOther : public CObject {
    DECLARE_SERIAL(CTestOther)
public:
    void Serialize(CArchive& ar) override {
        if (ar.IsStoring()) {
            ar << m_w;
        } else {
            ar >> m_w;
        }
    }
    WORD m_w = 0;
};
IMPLEMENT_SERIAL(CTestOther, CObject, 1)

// Owns two objects, loaded one after the other.
class CTestPair : public CObject {
    DECLARE_SERIAL(CTestPair)
public:
    ~CTestPair() override {
        delete m_pFirst;
        delete m_pSecond;
    }
    void Serialize(CArchive& ar) override {
        if (ar.IsStoring()) {
            ar << m_pFirst << m_pSecond;
        } else {
            ar >> m_pFirst >> m_pSecond;
        }
    }
    CObject* m_pFirst = nullptr;
    CObject* m_pSecond = nullptr;
};
IMPLEMENT_SERIAL(CTestPair, CObject, 1)

const Bytes kNewClassHeader = {0xFF, 0xFF, 0x03, 0x00, 0x09, 0x00, 'C', 'T',
                               'e',  's',  't',  'N',  'o',  'd',  'e'};

TEST(ObjectRecords, NewClassIsTaggedWithSchemaAndName) {
    CTestNode node(0x01020304);
    const Bytes b = StoreWith([&](CArchive& ar) { ar << &node; });
    Bytes expected = kNewClassHeader;
    expected.insert(expected.end(), {0x04, 0x03, 0x02, 0x01, 0x00, 0x00});
    EXPECT_EQ(b, expected);
}

TEST(ObjectRecords, RepeatedObjectsAndClassesAreReferencedByIndex) {
    CTestNode a(1);
    CTestNode b(2);
    const Bytes bytes = StoreWith([&](CArchive& ar) { ar << &a << &b << &a; });
    // a: new class (index 1), object index 2; b: class ref 0x8001, object
    // index 3; a again: object index 2.
    Bytes expected = kNewClassHeader;
    expected.insert(expected.end(), {1, 0, 0, 0, 0, 0, 0x01, 0x80, 2, 0, 0, 0, 0, 0, 0x02, 0x00});
    EXPECT_EQ(bytes, expected);

    LoadFrom(bytes, [](CArchive& ar) {
        CTestNode* p1 = nullptr;
        CTestNode* p2 = nullptr;
        CTestNode* p3 = nullptr;
        ar >> p1 >> p2 >> p3;
        std::unique_ptr<CTestNode> own1(p1);
        std::unique_ptr<CTestNode> own2(p2);
        ASSERT_TRUE(p1 && p2);
        EXPECT_EQ(p1->m_nValue, 1);
        EXPECT_EQ(p2->m_nValue, 2);
        EXPECT_EQ(p3, p1);
    });
}

TEST(ObjectRecords, NestedObjectsAndNullPointersRoundTrip) {
    CTestNode outer(10);
    outer.m_pOwned = new CTestNode(20);
    const Bytes bytes =
        StoreWith([&](CArchive& ar) { ar << &outer << static_cast<CObject*>(nullptr); });
    LoadFrom(bytes, [](CArchive& ar) {
        CObject* p = nullptr;
        CObject* none = reinterpret_cast<CObject*>(1);
        ar >> p >> none;
        std::unique_ptr<CObject> own(p);
        EXPECT_EQ(none, nullptr);
        auto* node = dynamic_cast<CTestNode*>(p);
        ASSERT_NE(node, nullptr);
        ASSERT_NE(node->m_pOwned, nullptr);
        EXPECT_EQ(node->m_pOwned->m_nValue, 20);
        EXPECT_EQ(node->m_pOwned->m_pOwned, nullptr);
    });
}

TEST(ObjectRecords, TypedLoadRefusesAnObjectOfAnotherClass) {
    CTestOther other;
    const Bytes bytes = StoreWith([&](CArchive& ar) { ar << &other; });
    LoadFrom(bytes, [](CArchive& ar) {
        CTestNode* p = nullptr;
        try {
            ar >> p;
            FAIL() << "loaded a CTestOther as a CTestNode";
        } catch (const CArchiveException& e) {
            EXPECT_EQ(e.m_cause, CArchiveException::badClass);
        }
    });
}

int CauseOfLoading(const Bytes& bytes) {
    int cause = CArchiveException::none;
    LoadFrom(bytes, [&](CArchive& ar) {
        try {
            CObject* p = nullptr;
            ar >> p;
            delete p;
        } catch (const CArchiveException& e) {
            cause = e.m_cause;
        }
    });
    return cause;
}

TEST(DamagedArchives, ReportWhatIsWrong) {
    Bytes wrongSchema = kNewClassHeader;
    wrongSchema[2] = 0x04;
    EXPECT_EQ(CauseOfLoading(wrongSchema), CArchiveException::badSchema);

    Bytes unknownClass = kNewClassHeader;
    unknownClass[14] = 'X';
    EXPECT_EQ(CauseOfLoading(unknownClass), CArchiveException::badClass);

    EXPECT_EQ(CauseOfLoading({0x05, 0x00}), CArchiveException::badIndex);
    EXPECT_EQ(CauseOfLoading({0x01, 0x80}), CArchiveException::badIndex);
    EXPECT_EQ(CauseOfLoading({0xFF}), CArchiveException::endOfFile);

    Bytes truncated = kNewClassHeader;
    truncated.push_back(0x01);
    EXPECT_EQ(CauseOfLoading(truncated), CArchiveException::endOfFile);

    // A reference to the class index as if it were an object.
    Bytes classAsObject = kNewClassHeader;
    classAsObject.insert(classAsObject.end(), {1, 0, 0, 0, 0x01, 0x00});
    EXPECT_EQ(CauseOfLoading(classAsObject), CArchiveException::badIndex);
}

TEST(DamagedArchives, ObjectsInsideAFailedObjectCannotBeReferencedLater) {
    CTestPair pair;
    pair.m_pFirst = new CTestNode(7);
    Bytes bytes = StoreWith([&](CArchive& ar) { ar << &pair << pair.m_pFirst; });
    // The pair's second object: null (00 00) becomes an index never given.
    ASSERT_EQ(bytes[bytes.size() - 4], 0x00);
    bytes[bytes.size() - 4] = 0x09;
    LoadFrom(bytes, [](CArchive& ar) {
        CObject* p = nullptr;
        EXPECT_THROW(ar >> p, CArchiveException);
        // The node was loaded inside the pair and went with it.
        try {
            ar >> p;
            FAIL() << "a back reference reached an object that was deleted";
        } catch (const CArchiveException& e) {
            EXPECT_EQ(e.m_cause, CArchiveException::badIndex);
        }
    });
}

TEST(DamagedArchives, HugeClaimedLengthsFailBeforeAllocating) {
    // A string claiming 4 GiB - 1 bytes, a count claiming as many bytes.
    const Bytes hugeString = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 'a', 'b'};
    LoadFrom(hugeString, [](CArchive& ar) {
        CString s;
        EXPECT_THROW(ar >> s, CArchiveException);
    });
    const Bytes hugeCount = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3};
    LoadFrom(hugeCount, [](CArchive& ar) {
        CByteArray a;
        EXPECT_THROW(a.Serialize(ar), CArchiveException);
        EXPECT_EQ(a.GetSize(), 0);
    });
    LoadFrom(hugeCount, [](CArchive& ar) {
        CStringList list;
        EXPECT_THROW(list.Serialize(ar), CArchiveException);
    });
}

TEST(DamagedArchives, CountsAboveIntMaxFailEvenWhenTheFileClaimsTheBytes) {
    // No array, list or string can hold 2^31 items, however long the file.
    const auto refuses = [](const Bytes& head, const std::function<void(CArchive&)>& load) {
        kelvara_test::CHugeFile file(head);
        CArchive ar(&file, CArchive::load);
        EXPECT_THROW(load(ar), CArchiveException);
    };
    const Bytes count = {0xFF, 0xFF, 0x00, 0x00, 0x00, 0x80};
    refuses(count, [](CArchive& ar) {
        CByteArray a;
        a.Serialize(ar);
    });
    refuses(count, [](CArchive& ar) {
        CWordArray a;
        a.Serialize(ar);
    });
    refuses(count, [](CArchive& ar) {
        CStringArray a;
        a.Serialize(ar);
    });
    refuses(count, [](CArchive& ar) {
        CStringList list;
        list.Serialize(ar);
    });
    refuses({0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x80}, [](CArchive& ar) {
        CString s;
        ar >> s;
    });
}

TEST(DamagedArchives, ReservedSixteenBitStringLengthIsRefused) {
    LoadFrom({0xFF, 0xFE, 0xFF, 'a'}, [](CArchive& ar) {
        CString s;
        EXPECT_THROW(ar >> s, CArchiveException);
    });
}

TEST(RuntimeClasses, CreateByNameAndKnowTheirBases) {
    CRuntimeClass* p = CRuntimeClass::FromName("CTestNode");
    ASSERT_EQ(p, RUNTIME_CLASS(CTestNode));
    std::unique_ptr<CObject> o(p->CreateObject());
    ASSERT_NE(o, nullptr);
    EXPECT_TRUE(o->IsKindOf(RUNTIME_CLASS(CObject)));
    EXPECT_FALSE(o->IsKindOf(RUNTIME_CLASS(CTestOther)));
    EXPECT_TRUE(o->IsSerializable());
    EXPECT_EQ(CRuntimeClass::FromName("NoSuchClass"), nullptr);
}

}  // namespace
