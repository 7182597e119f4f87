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

// Counts take 16 bits below 0xFFFF, else 0xFFFF and 32 bits; a byte array
// is its count and bytes; a date is its status, then its days since the end
// of 1899 as a double.
TEST(ArchiveEncoding, ValuesAreLittleEndianCountsGrowAndDatesAreStatusThenDouble) {
    CByteArray a;
    a.Add(1);
    a.Add(0xFF);
    const COleDateTime dt(1900, 1, 1, 12, 0, 0);
    const Bytes b = StoreWith([&](CArchive& ar) {
        ar << static_cast<BYTE>(0xAB) << static_cast<WORD>(0x1234) << static_cast<DWORD>(0xA1B2C3D4)
           << static_cast<LONG>(-2) << 1.0 << 1.5f;
        ar.WriteCount(0xFFFE);
        ar.WriteCount(0xFFFF);
        ar.WriteCount(0x12345678);
        a.Serialize(ar);
        ar << dt;
    });
    const Bytes expected = {0xAB, 0x34, 0x12, 0xD4, 0xC3, 0xB2, 0xA1, 0xFE, 0xFF, 0xFF, 0xFF,
                            0,    0,    0,    0,    0,    0,    0xF0, 0x3F, 0,    0,    0xC0,
                            0x3F, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0xFF, 0xFF,
                            0x78, 0x56, 0x34, 0x12, 0x02, 0x00, 0x01, 0xFF, 0,    0,    0,
                            0,    0,    0,    0,    0,    0,    0,    0x04, 0x40};
    EXPECT_EQ(b, expected);

    BYTE by = 0;
    WORD w = 0;
    DWORD dw = 0;
    LONG l = 0;
    double d = 0;
    float f = 0;
    std::vector<DWORD> counts(3);
    CByteArray back;
    back.Add(9);
    COleDateTime loaded;
    loaded.m_status = COleDateTime::null;
    LoadFrom(b, [&](CArchive& ar) {
        ar >> by >> w >> dw >> l >> d >> f;
        for (DWORD& count : counts) {
            count = ar.ReadCount();
        }
        back.Serialize(ar);
        ar >> loaded;
    });
    EXPECT_EQ(std::tuple(by, w, dw, l, d, f), std::tuple(0xAB, 0x1234, 0xA1B2C3D4u, -2, 1.0, 1.5f));
    EXPECT_EQ(counts, (std::vector<DWORD>{0xFFFE, 0xFFFF, 0x12345678}));
    EXPECT_EQ(Bytes(back.begin(), back.end()), (Bytes{0x01, 0xFF}));
    EXPECT_EQ(loaded, dt);
}

// Length prefix of a stored string: 1 byte below 255, 0xFF + 16 bits below
// 0xFFFE, else 0xFF 0xFFFF + 32 bits. Zero bytes are text like any other.
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
        CString text(CString('x', static_cast<int>(c.length)));
        if (c.length > 2) {
            text.SetAt(1, '\0');
        }
        const Bytes b = StoreWith([&](CArchive& ar) { ar << text; });
        ASSERT_EQ(b.size(), c.prefix.size() + c.length) << c.length;
        EXPECT_TRUE(std::equal(c.prefix.begin(), c.prefix.end(), b.begin())) << c.length;
        CString back;
        LoadFrom(b, [&](CArchive& ar) { ar >> back; });
        EXPECT_EQ(back, text) << c.length;
    }
}

// Owns up to two objects, loaded one after the other.
class CTestNode : public CObject {
    DECLARE_SERIAL(CTestNode)
public:
    CTestNode() = default;
    explicit CTestNode(LONG value, CTestNode* pOwned = nullptr)
        : m_nValue(value), m_pOwned(pOwned) {}
    ~CTestNode() override {
        delete m_pOwned;
        delete m_pNext;
    }
    void Serialize(CArchive& ar) override {
        if (ar.IsStoring()) {
            ar << m_nValue << m_pOwned << m_pNext;
        } else {
            ar >> m_nValue >> m_pOwned >> m_pNext;
        }
    }
    LONG m_nValue = 0;
    CTestNode* m_pOwned = nullptr;
    CObject* m_pNext = nullptr;
};
IMPLEMENT_SERIAL(CTestNode, CObject, 3)

class CTestOther : public CObject {
    DECLARE_SERIAL(CTestOther)
};
IMPLEMENT_SERIAL(CTestOther, CObject, 1)

const Bytes kNewClassHeader = {0xFF, 0xFF, 0x03, 0x00, 0x09, 0x00, 'C', 'T',
                               'e',  's',  't',  'N',  'o',  'd',  'e'};

TEST(ObjectRecords, NewClassIsTaggedAndRepeatsAreReferencedByIndex) {
    CTestNode a(0x01020304);
    CTestNode b(2, new CTestNode(20));
    const Bytes bytes =
        StoreWith([&](CArchive& ar) { ar << &a << &b << &a << static_cast<CObject*>(nullptr); });
    // a: new class (index 1) with schema and name, object index 2, owning
    // nothing; b: class ref 0x8001, object index 3, owning index 4; a again:
    // object index 2; a null pointer.
    Bytes expected = kNewClassHeader;
    expected.insert(expected.end(), {4,    3,  2, 1, 0, 0, 0, 0, 0x01, 0x80, 2, 0,    0,    0, 0x01,
                                     0x80, 20, 0, 0, 0, 0, 0, 0, 0,    0,    0, 0x02, 0x00, 0, 0});
    EXPECT_EQ(bytes, expected);

    LoadFrom(bytes, [](CArchive& ar) {
        CTestNode* p1 = nullptr;
        CTestNode* p2 = nullptr;
        CTestNode* p3 = nullptr;
        CObject* none = reinterpret_cast<CObject*>(1);
        ar >> p1 >> p2 >> p3 >> none;
        std::unique_ptr<CTestNode> own1(p1);
        std::unique_ptr<CTestNode> own2(p2);
        ASSERT_TRUE(p1 && p2 && p2->m_pOwned);
        EXPECT_EQ(p1->m_nValue, 0x01020304);
        EXPECT_EQ(std::tuple(p2->m_nValue, p2->m_pOwned->m_nValue), std::tuple(2, 20));
        EXPECT_EQ(p2->m_pOwned->m_pOwned, nullptr);
        EXPECT_EQ(p3, p1);
        EXPECT_EQ(none, nullptr);
    });
}

// The cause a load ends with, or none.
int CauseOf(const std::function<void(CArchive&)>& load, const Bytes& bytes) {
    return kelvara_test::LoadCause(bytes, load);
}

template <typename T>
void LoadObject(CArchive& ar) {
    T* p = nullptr;
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
        void (*load)(CArchive&) = LoadObject<CObject>;
    } cases[] = {
        {Header(2, 0x04), CArchiveException::badSchema},
        {Header(14, 'X'), CArchiveException::badClass},
        {{0x05, 0x00}, CArchiveException::badIndex},
        {{0x01, 0x80}, CArchiveException::badIndex},
        {{0xFF}, CArchiveException::endOfFile},
        {Header(14, 'e', {0x01}), CArchiveException::endOfFile},
        // A reference to the class index as if it were an object.
        {Header(14, 'e', {1, 0, 0, 0, 0x01, 0x00}), CArchiveException::badIndex},
        // A typed load refuses an object of another class.
        {Header(14, 'e', {1, 0, 0, 0, 0, 0, 0, 0}), CArchiveException::badClass,
         LoadObject<CTestOther>},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CauseOf(c.load, c.bytes), c.cause) << ::testing::PrintToString(c.bytes);
    }
}

TEST(DamagedArchives, ObjectsInsideAFailedObjectCannotBeReferencedLater) {
    CTestNode outer(7, new CTestNode(8));
    Bytes bytes = StoreWith([&](CArchive& ar) { ar << &outer << outer.m_pOwned; });
    // The outer node's second object: null (00 00) becomes an index never
    // given, after its first was loaded whole.
    ASSERT_EQ(bytes[bytes.size() - 4], 0x00);
    bytes[bytes.size() - 4] = 0x09;
    LoadFrom(bytes, [](CArchive& ar) {
        CObject* p = nullptr;
        EXPECT_THROW(ar >> p, CArchiveException);
        // The inner node went with the outer one.
        try {
            ar >> p;
            FAIL() << "a back reference reached an object that was deleted";
        } catch (const CArchiveException& e) {
            EXPECT_EQ(e.m_cause, CArchiveException::badIndex);
        }
    });
}

// Each loader with a length of 2^32 - 1 in a short file, and of 2^31 in a
// file that claims to hold it: no array, list or string holds that many.
TEST(DamagedArchives, HugeClaimedLengthsFailBeforeAllocating) {
    const Bytes count32 = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3};
    const Bytes count31 = {0xFF, 0xFF, 0x00, 0x00, 0x00, 0x80};
    const auto loadString = [](CArchive& ar) {
        CString s;
        ar >> s;
    };
    const struct {
        std::function<void(CArchive&)> load;
        Bytes huge;
        Bytes claimed;
    } cases[] = {
        {[](CArchive& ar) { CByteArray().Serialize(ar); }, count32, count31},
        {[](CArchive& ar) { CWordArray().Serialize(ar); }, count32, count31},
        {[](CArchive& ar) { CStringArray().Serialize(ar); }, count32, count31},
        {[](CArchive& ar) { CStringList().Serialize(ar); }, count32, count31},
        {loadString,
         {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 'a'},
         {0xFF, 0xFF, 0xFF, 0, 0, 0, 0x80}},
        // The 16-bit string length 0xFFFE is reserved.
        {loadString, {0xFF, 0xFE, 0xFF, 'a'}, {0xFF, 0xFF, 0xFF, 0, 0, 0, 0x80}},
    };
    for (const auto& c : cases) {
        EXPECT_NE(CauseOf(c.load, c.huge), CArchiveException::none);
        kelvara_test::CHugeFile file(c.claimed);
        CArchive ar(&file, CArchive::load);
        EXPECT_THROW(c.load(ar), CArchiveException);
    }
    CByteArray a;
    CauseOf([&](CArchive& ar) { a.Serialize(ar); }, count32);
    EXPECT_EQ(a.GetSize(), 0);
}

}  // namespace
