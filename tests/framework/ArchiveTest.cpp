// CArchive: byte-exact encodings, object records with class tags and back
// references, and damaged input.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <tuple>
#include <vector>

#include "kelvara/Kelvara.h"
#include "support/ArchiveBytes.h"
#include "support/HugeFile.h"

namespace {

using kelvara_test::Bytes;
using kelvara_test::LoadFrom;
using kelvara_test::StoreWith;

TEST(ArchiveEncoding, IntegersFloatsAndCountsAreLittleEndian) {
    const Bytes b = StoreWith([](CArchive& ar) {
        ar << static_cast<BYTE>(0xAB) << static_cast<WORD>(0x1234) << static_cast<DWORD>(0xA1B2C3D4)
           << static_cast<LONG>(-2) << 1.0 << 1.5f;
        // Counts take 16 bits below 0xFFFF, else 0xFFFF and 32 bits.
        ar.WriteCount(0xFFFE);
        ar.WriteCount(0xFFFF);
        ar.WriteCount(0x12345678);
    });
    const Bytes expected = {0xAB, 0x34, 0x12, 0xD4, 0xC3, 0xB2, 0xA1, 0xFE, 0xFF, 0xFF,
                            0xFF, 0,    0,    0,    0,    0,    0,    0xF0, 0x3F, 0,
                            0,    0xC0, 0x3F, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00,
                            0x00, 0xFF, 0xFF, 0x78, 0x56, 0x34, 0x12};
    EXPECT_EQ(b, expected);

    BYTE by = 0;
    WORD w = 0;
    DWORD dw = 0;
    LONG l = 0;
    double d = 0;
    float f = 0;
    DWORD counts[3] = {};
    LoadFrom(b, [&](CArchive& ar) {
        ar >> by >> w >> dw >> l >> d >> f;
        for (DWORD& count : counts) {
            count = ar.ReadCount();
        }
    });
    EXPECT_EQ(std::tuple(by, w, dw, l, d, f), std::tuple(0xAB, 0x1234, 0xA1B2C3D4u, -2, 1.0, 1.5f));
    EXPECT_EQ(std::vector<DWORD>(counts, counts + 3),
              (std::vector<DWORD>{0xFFFE, 0xFFFF, 0x12345678}));
}

// Length prefix of a stored string: 1 byte below 255, 0xFF + 16 bits below
// 0xFFFE, else 0xFF 0xFFFF + 32 bits.
TEST(ArchiveEncoding, StringLengthPrefixesSwitchAtTheirBoundaries) {
    const struct {
        DWORD length;
        Bytes prefix;
    } cases[] = {
        {0, {0x00}},
        {254, {0xFE}},
        {255, {0xFF, 0xFF, 0x00}},
        {0xFFFD, {0xFF, 0xFD, 0xFF}},
        {0xFFFE, {0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00}},
        {0x10000, {0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x01, 0x00}},
    };
    for (const auto& c : cases) {
        const CString text(CString('x', static_cast<int>(c.length)));
        const Bytes b = StoreWith([&](CArchive& ar) { ar << text; });
        ASSERT_EQ(b.size(), c.prefix.size() + c.length) << c.length;
        EXPECT_TRUE(std::equal(c.prefix.begin(), c.prefix.end(), b.begin())) << c.length;
        CString back;
        LoadFrom(b, [&](CArchive& ar) { ar >> back; });
        EXPECT_EQ(back, text) << c.length;
    }
}

TEST(ArchiveEncoding, ByteArraysAreCountThenBytesAndDatesStatusThenDouble) {
    CByteArray a;
    a.Add(1);
    a.Add(0xFF);
    const Bytes b = StoreWith([&](CArchive& ar) { a.Serialize(ar); });
    EXPECT_EQ(b, (Bytes{0x02, 0x00, 0x01, 0xFF}));
    CByteArray back;
    back.Add(9);
    LoadFrom(b, [&](CArchive& ar) { back.Serialize(ar); });
    EXPECT_EQ(Bytes(back.begin(), back.end()), (Bytes{0x01, 0xFF}));

    // 2.5 days after the end of 1899, valid.
    const COleDateTime dt(1900, 1, 1, 12, 0, 0);
    const Bytes d = StoreWith([&](CArchive& ar) { ar << dt; });
    EXPECT_EQ(d, (Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x04, 0x40}));
    COleDateTime loaded;
    loaded.m_status = COleDateTime::null;
    LoadFrom(d, [&](CArchive& ar) { ar >> loaded; });
    EXPECT_EQ(loaded, dt);
}

TEST(ArchiveEncoding, LoadingArchiveRefusesWritesAndStoringRefusesReads) {
    CMemFile file;
    CArchive store(&file, CArchive::store);
    WORD w = 0;
    EXPECT_THROW(store >> w, CArchiveException);
    CArchive load(&file, CArchive::load);
    EXPECT_THROW(load << w, CArchiveException);
}

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

TEST(ObjectRecords, NewClassIsTaggedAndRepeatsAreReferencedByIndex) {
    CTestNode a(0x01020304);
    CTestNode b(2);
    const Bytes bytes = StoreWith([&](CArchive& ar) { ar << &a << &b << &a; });
    // a: new class (index 1) with schema and name, object index 2; b: class
    // ref 0x8001, object index 3; a again: object index 2.
    Bytes expected = kNewClassHeader;
    expected.insert(expected.end(), {4, 3, 2, 1, 0, 0, 0x01, 0x80, 2, 0, 0, 0, 0, 0, 0x02, 0x00});
    EXPECT_EQ(bytes, expected);

    LoadFrom(bytes, [](CArchive& ar) {
        CTestNode* p1 = nullptr;
        CTestNode* p2 = nullptr;
        CTestNode* p3 = nullptr;
        ar >> p1 >> p2 >> p3;
        std::unique_ptr<CTestNode> own1(p1);
        std::unique_ptr<CTestNode> own2(p2);
        ASSERT_TRUE(p1 && p2);
        EXPECT_EQ(p1->m_nValue, 0x01020304);
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

// The cause a load ends with, or none.
int CauseOf(const std::function<void(CArchive&)>& load, const Bytes& bytes) {
    int cause = CArchiveException::none;
    LoadFrom(bytes, [&](CArchive& ar) {
        try {
            load(ar);
        } catch (const CArchiveException& e) {
            cause = e.m_cause;
        }
    });
    return cause;
}

void LoadObject(CArchive& ar) {
    CObject* p = nullptr;
    ar >> p;
    delete p;
}

// The new-class header with one byte changed, or with bytes added.
Bytes Header(size_t at, BYTE value, const Bytes& more = {}) {
    Bytes bytes = kNewClassHeader;
    bytes.at(at) = value;
    bytes.insert(bytes.end(), more.begin(), more.end());
    return bytes;
}

TEST(DamagedArchives, ReportWhatIsWrong) {
    const struct {
        Bytes bytes;
        int cause;
    } cases[] = {
        {Header(2, 0x04), CArchiveException::badSchema},
        {Header(14, 'X'), CArchiveException::badClass},
        {{0x05, 0x00}, CArchiveException::badIndex},
        {{0x01, 0x80}, CArchiveException::badIndex},
        {{0xFF}, CArchiveException::endOfFile},
        {Header(14, 'e', {0x01}), CArchiveException::endOfFile},
        // A reference to the class index as if it were an object.
        {Header(14, 'e', {1, 0, 0, 0, 0x01, 0x00}), CArchiveException::badIndex},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CauseOf(LoadObject, c.bytes), c.cause) << ::testing::PrintToString(c.bytes);
    }
    // A typed load refuses an object of another class.
    const Bytes pair = StoreWith([](CArchive& ar) {
        CTestPair p;
        ar << &p;
    });
    const auto loadNode = [](CArchive& ar) {
        CTestNode* p = nullptr;
        ar >> p;
        delete p;
    };
    EXPECT_EQ(CauseOf(loadNode, pair), CArchiveException::badClass);
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

const std::function<void(CArchive&)> kLoaders[] = {
    [](CArchive& ar) { CByteArray().Serialize(ar); },
    [](CArchive& ar) { CWordArray().Serialize(ar); },
    [](CArchive& ar) { CStringArray().Serialize(ar); },
    [](CArchive& ar) { CStringList().Serialize(ar); },
};

TEST(DamagedArchives, HugeClaimedLengthsFailBeforeAllocating) {
    // A string claiming 4 GiB - 1 bytes, a count claiming as many items; the
    // 16-bit string length 0xFFFE is reserved.
    const auto loadString = [](CArchive& ar) {
        CString s;
        ar >> s;
    };
    EXPECT_NE(CauseOf(loadString, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 'a', 'b'}),
              CArchiveException::none);
    EXPECT_NE(CauseOf(loadString, {0xFF, 0xFE, 0xFF, 'a'}), CArchiveException::none);
    for (const auto& load : kLoaders) {
        EXPECT_NE(CauseOf(load, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3}),
                  CArchiveException::none);
    }
    CByteArray a;
    CauseOf([&](CArchive& ar) { a.Serialize(ar); }, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 1});
    EXPECT_EQ(a.GetSize(), 0);

    // No array, list or string can hold 2^31 items, however long the file.
    const auto refuses = [](const Bytes& head, const std::function<void(CArchive&)>& load) {
        kelvara_test::CHugeFile file(head);
        CArchive ar(&file, CArchive::load);
        EXPECT_THROW(load(ar), CArchiveException);
    };
    for (const auto& load : kLoaders) {
        refuses({0xFF, 0xFF, 0x00, 0x00, 0x00, 0x80}, load);
    }
    refuses({0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x80}, loadString);
}

}  // namespace
