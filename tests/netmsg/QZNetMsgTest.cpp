// CQZNetMsg: members, copy, archive form and run-time class.
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
    msg.SetCompressed(1);
    *msg.GetMessage() = "hi";
    msg.m_Time = COleDateTime(2.5);
    msg.m_DataBlock.Add(0xEE);
    return msg;
}

TEST(QZNetMsg, StartsEmptyAndStampedNow) {
    const COleDateTime before = COleDateTime::GetCurrentTime();
    const CQZNetMsg msg;
    const COleDateTime after = COleDateTime::GetCurrentTime();
    EXPECT_EQ(msg.IsClosing(), 0);
    EXPECT_EQ(msg.IsCompressed(), 0);
    EXPECT_EQ(msg.m_nFieldA | msg.m_nFieldB | msg.m_nFieldC | msg.m_nFieldD, 0);
    EXPECT_TRUE(msg.m_strMessage.IsEmpty());
    EXPECT_EQ(msg.m_DataBlock.GetSize(), 0);
    EXPECT_FALSE(msg.m_Time < before);
    EXPECT_FALSE(after < msg.m_Time);
}

TEST(QZNetMsg, ArchiveFormFollowsTheFixedFieldOrderAndShortFormsThrow) {
    CQZNetMsg msg = Sample();
    const Bytes b = StoreWith([&](CArchive& ar) { msg.Serialize(ar); });
    Bytes expected = {1, 0, 0, 0, 3, 0, 0, 0, 0xFC, 0xFF, 0xFF, 0xFF, 2, 'h', 'i'};
    const Bytes time = StoreWith([&](CArchive& ar) { ar << msg.m_Time; });
    expected.insert(expected.end(), time.begin(), time.end());
    expected.insert(expected.end(), {1, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0xEE});
    EXPECT_EQ(b, expected);

    // A copy, like a load, takes every member.
    CQZNetMsg back;
    LoadFrom(b, [&](CArchive& ar) { back.Serialize(ar); });
    EXPECT_EQ(StoreWith([&](CArchive& ar) { back.Serialize(ar); }), b);
    CQZNetMsg copy(msg);
    EXPECT_EQ(StoreWith([&](CArchive& ar) { copy.Serialize(ar); }), b);
    for (size_t n : {size_t{0}, size_t{10}, b.size() - 1}) {
        EXPECT_THROW(LoadFrom(Bytes(b.begin(), b.begin() + static_cast<long>(n)),
                              [&](CArchive& ar) { back.Serialize(ar); }),
                     CArchiveException);
    }
}

TEST(QZNetMsg, FlagsSetAndClearAsDocumented) {
    CQZNetMsg msg;
    msg.SetCompressed(1);
    EXPECT_EQ(msg.IsCompressed(), 1);
    msg.SetCompressed(0);
    EXPECT_EQ(msg.IsCompressed(), 0);
    msg.SetClosing();
    EXPECT_EQ(msg.IsClosing(), 1);
}

TEST(QZNetMsg, TravelsAsAnObjectOfClassCQZNetMsgSchemaOne) {
    CQZNetMsg msg = Sample();
    const Bytes b = StoreWith([&](CArchive& ar) { ar << &msg; });
    // New-class tag, schema 1, name length 9, name.
    const Bytes head = {0xFF, 0xFF, 1, 0, 9, 0, 'C', 'Q', 'Z', 'N', 'e', 't', 'M', 's', 'g'};
    ASSERT_GE(b.size(), head.size());
    EXPECT_EQ(Bytes(b.begin(), b.begin() + static_cast<long>(head.size())), head);

    CQZNetMsg* pBack = nullptr;
    LoadFrom(b, [&](CArchive& ar) { ar >> pBack; });
    std::unique_ptr<CQZNetMsg> owner(pBack);
    ASSERT_NE(pBack, nullptr);
    EXPECT_EQ(*pBack->GetMessage(), "hi");
    EXPECT_EQ(pBack->m_nFieldA, 1);
}

}  // namespace
