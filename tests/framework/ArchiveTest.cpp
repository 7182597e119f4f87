// Byte-exact archive encodings and the object records of CArchive.
#include <gtest/gtest.h>

#include <vector>

#include "kelvara/Kelvara.h"
#include "support/ArchiveBytes.h"

namespace {

using kelvara_test::Bytes;
using kelvara_test::LoadFrom;
using kelvara_test::StoreWith;

TEST(ArchiveEncoding, IntegersAndFloatsAreLittleEndian) {
    const Bytes b = StoreWith([](CArchive& ar) {
        ar << static_cast<BYTE>(0xAB) << static_cast<WORD>(0x1234) << static_cast<DWORD>(0xA1B2C3D4)
           << static_cast<LONG>(-2) << 1.0 << 1.5f;
    });
    const Bytes expected = {0xAB, 0x34, 0x12, 0xD4, 0xC3, 0xB2, 0xA1, 0xFE, 0xFF, 0xFF, 0xFF, 0,
                            0,    0,    0,    0,    0,    0xF0, 0x3F, 0,    0,    0xC0, 0x3F};
    EXPECT_EQ(b, expected);

    LoadFrom(b, [](CArchive& ar) {
        BYTE by;
        WORD w;
        DWORD dw;
        LONG l;
        double d;
        float f;
        ar >> by >> w >> dw >> l >> d >> f;
        EXPECT_EQ(by, 0xAB);
        EXPECT_EQ(w, 0x1234);
        EXPECT_EQ(dw, 0xA1B2C3D4u);
        EXPECT_EQ(l, -2);
        EXPECT_EQ(d, 1.0);
        EXPECT_EQ(f, 1.5f);
    });
}

// Length prefix of a stored string: 1 byte below 255, 0xFF + 16 bits below
// 0xFFFE, else 0xFF 0xFFFF + 32 bits.
TEST(ArchiveEncoding, StringLengthPrefixesSwitchAtTheirBoundaries) {
    struct Case {
        DWORD length;
        Bytes prefix;
    };
    const Case cases[] = {
        {0, {0x00}},
        {254, {0xFE}},
        {255, {0xFF, 0xFF, 0x00}},
        {0xFFFD, {0xFF, 0xFD, 0xFF}},
        {0xFFFE, {0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00}},
        {0x10000, {0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x01, 0x00}},
    };
    for (const Case& c : cases) {
        const CString text(CString('x', static_cast<int>(c.length)));
        const Bytes b = StoreWith([&](CArchive& ar) { ar << text; });
        ASSERT_EQ(b.size(), c.prefix.size() + c.length) << c.length;
        EXPECT_TRUE(std::equal(c.prefix.begin(), c.prefix.end(), b.begin())) << c.length;
        LoadFrom(b, [&](CArchive& ar) {
            CString back;
            ar >> back;
            EXPECT_EQ(back, text) << c.length;
        });
    }
}

TEST(ArchiveEncoding, CountsUseSixteenBitsBelowFFFF) {
    const Bytes b = StoreWith([](CArchive& ar) {
        ar.WriteCount(0xFFFE);
        ar.WriteCount(0xFFFF);
        ar.WriteCount(0x12345678);
    });
    const Bytes expected = {0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00,
                            0x00, 0xFF, 0xFF, 0x78, 0x56, 0x34, 0x12};
    EXPECT_EQ(b, expected);
    LoadFrom(b, [](CArchive& ar) {
        EXPECT_EQ(ar.ReadCount(), 0xFFFEu);
        EXPECT_EQ(ar.ReadCount(), 0xFFFFu);
        EXPECT_EQ(ar.ReadCount(), 0x12345678u);
    });
}

TEST(ArchiveEncoding, ByteArrayIsCountThenBytes) {
    CByteArray a;
    a.Add(1);
    a.Add(2);
    a.Add(0xFF);
    const Bytes b = StoreWith([&](CArchive& ar) { a.Serialize(ar); });
    EXPECT_EQ(b, (Bytes{0x03, 0x00, 0x01, 0x02, 0xFF}));
    CByteArray back;
    back.Add(9);
    LoadFrom(b, [&](CArchive& ar) { back.Serialize(ar); });
    ASSERT_EQ(back.GetSize(), 3);
    EXPECT_EQ(back[2], 0xFF);
}

TEST(ArchiveEncoding, DateTimeIsStatusThenDouble) {
    COleDateTime dt(2024, 3, 1, 12, 0, 0);
    const Bytes b = StoreWith([&](CArchive& ar) { ar << dt; });
    ASSERT_EQ(b.size(), 12u);
    EXPECT_EQ(b[0], 0);  // valid
    COleDateTime back;
    back.m_status = COleDateTime::null;
    LoadFrom(b, [&](CArchive& ar) { ar >> back; });
    EXPECT_EQ(back, dt);
    EXPECT_EQ(back.GetHour(), 12);
}

TEST(ArchiveDirection, LoadingArchiveRefusesWritesAndStoringRefusesReads) {
    CMemFile file;
    CArchive store(&file, CArchive::store);
    WORD w = 0;
    EXPECT_THROW(store >> w, CArchiveException);
    CArchive load(&file, CArchive::load);
    EXPECT_THROW(load << w, CArchiveException);
}

}  // namespace
