// CQZNetMsg: archive form, copy and run-time class.
#include <gtest/gtest.h>

#include <memory>

#include "kelvara/Kelvara.h"
#include "support/ArchiveBytes.h"

namespace {

using kelvara_test::Bytes;
using kelvara_test::LoadFrom;
using kelvara_test::StoreWith;

CQZNetMsg Sample() {
    CQZNetMsg msg;
    msg.m_nFieldA = 1;
    msg.m_nFieldB = 2;
    msg.m_nFieldC = 3;
    msg.m_nFieldD = -4;
    msg.SetClosing();
    msg.SetCompressed(0);
    msg.SetCompressed(1);
    *msg.GetMessage() = "hi";
    msg.m_Time = COleDateTime(2.5);
    msg.m_DataBlock.Add(0xEE);
    return msg;
}

Bytes Stored(CQZNetMsg& msg) {
    return StoreWith([&](CArchive& ar) { msg.Serialize(ar); });
}

TEST(QZNetMsg, ArchiveFormFollowsTheFixedFieldOrderAndShortFormsThrow) {
    CQZNetMsg msg = Sample();
    const Bytes b = Stored(msg);
    Bytes expected = {1, 0, 0, 0, 3, 0, 0, 0, 0xFC, 0xFF, 0xFF, 0xFF, 2, 'h', 'i'};
    const Bytes time = StoreWith([&](CArchive& ar) { ar << msg.m_Time; });
    expected.insert(expected.end(), time.begin(), time.end());
    // B, closing, compressed, then the data block's count and bytes.
    expected.insert(expected.end(), {1, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0xEE});
    EXPECT_EQ(b, expected);

    // A copy, like a load, takes every member.
    CQZNetMsg back;
    LoadFrom(b, [&](CArchive& ar) { back.Serialize(ar); });
    EXPECT_EQ(Stored(back), b);
    CQZNetMsg copy(msg);
    EXPECT_EQ(Stored(copy), b);
    for (size_t n : {size_t{0}, size_t{10}, b.size() - 1}) {
        EXPECT_THROW(LoadFrom(Bytes(b.begin(), b.begin() + static_cast<long>(n)),
                              [&](CArchive& ar) { back.Serialize(ar); }),
                     CArchiveException);
    }
}

TEST(QZNetMsg, TravelsAsAnObjectOfClassCQZNetMsgSchemaOneAndANewOneIsStampedNow) {
    CQZNetMsg msg = Sample();
    const Bytes b = StoreWith([&](CArchive& ar) { ar << &msg; });
    // New-class tag, schema 1, name length 9, name, then the record.
    Bytes expected = {0xFF, 0xFF, 1, 0, 9, 0, 'C', 'Q', 'Z', 'N', 'e', 't', 'M', 's', 'g'};
    const Bytes record = Stored(msg);
    expected.insert(expected.end(), record.begin(), record.end());
    EXPECT_EQ(b, expected);
    CQZNetMsg* pBack = nullptr;
    LoadFrom(b, [&](CArchive& ar) { ar >> pBack; });
    std::unique_ptr<CQZNetMsg> owner(pBack);
    ASSERT_NE(pBack, nullptr);
    EXPECT_EQ(Stored(*pBack), record);

    const COleDateTime before = COleDateTime::GetCurrentTime();
    const CQZNetMsg stamped;
    const COleDateTime after = COleDateTime::GetCurrentTime();
    EXPECT_FALSE(stamped.m_Time < before);
    EXPECT_FALSE(after < stamped.m_Time);
}

}  // namespace
