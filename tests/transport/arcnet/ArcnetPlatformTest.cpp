// The seams under the ARCNET port: events and the card driver's record
// layouts.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <utility>
#include <vector>

#include "kelvara/platform/ArcnetDriver.h"
#include "kelvara/platform/Event.h"
#include "support/ThreadState.h"
#include "support/Wait.h"

namespace {

namespace platform = kelvara::platform;
namespace arcnet = kelvara::platform::arcnet;
using namespace std::chrono_literals;

// The receive thread's case at Close: one event is set, then another event
// of the same wait is closed, while the waiter sleeps. The set one is
// taken, whichever of the two changes the waiter wakes to.
TEST(ArcnetEvents, ASetEventIsTakenBeforeAnotherClosedDuringTheWait) {
    for (int nRound = 0; nRound < 20; ++nRound) {
        SCOPED_TRACE(nRound);
        const platform::Handle handles[2] = {platform::CreateEventHandle(false, false, "Rx"),
                                             platform::CreateEventHandle(false, false, "Close")};
        std::atomic<int> nWaiter{0};
        auto wait = std::async(std::launch::async, [&] {
            nWaiter = testsupport::CurrentThreadId();
            return platform::WaitForObjects(handles, 2, platform::kWaitInfinite);
        });
        ASSERT_TRUE(testsupport::WaitUntil([&] { return nWaiter != 0; }));
        long nCall = testsupport::kThreadRunning;
        ASSERT_TRUE(testsupport::WaitUntil([&] {
            nCall = testsupport::BlockedSystemCall(nWaiter);
            return nCall == testsupport::kThreadStateUnknown || testsupport::IsFutexCall(nCall);
        }));
        platform::SetEvent(handles[1]);
        platform::CloseHandle(handles[0]);
        ASSERT_EQ(wait.wait_for(20s), std::future_status::ready);
        const DWORD dwWait = wait.get();
        platform::CloseHandle(handles[1]);
        if (nCall == testsupport::kThreadStateUnknown) {
            GTEST_SKIP() << "the kernel does not tell when the waiter sleeps";
        }
        EXPECT_EQ(dwWait, platform::kWaitObject0 + 1);
    }
}

// The end-to-end tests read these records back through the same code, so
// only literal offsets catch a layout that is wrong on both sides.
TEST(ArcnetDriverRecords, CodesAndLayoutsAreTheDrivers) {
    EXPECT_EQ(arcnet::kReceivePacket, 0x9C402408u);
    EXPECT_EQ(arcnet::kRegisterRxEvent, 0x9C402418u);

    arcnet::TransmitRecord tx;
    tx.dwDestination = 0x12;
    tx.dwLength = 0x0203;
    tx.data[0] = 0xAA;
    tx.data[507] = 0xBB;
    const arcnet::TransmitBuffer txBytes = tx.Encode();
    for (const auto& [nOffset, byValue] :
         {std::pair<int, int>{0, 0x12}, {4, 0x03}, {5, 0x02}, {8, 0xAA}, {515, 0xBB}}) {
        EXPECT_EQ(txBytes[nOffset], byValue) << nOffset;
    }

    arcnet::ReceiveBuffer rxBytes{};
    rxBytes[0] = 7;
    rxBytes[4] = 5;
    rxBytes[8] = 2;
    rxBytes[12] = 'h';
    rxBytes[520] = 3;
    const arcnet::ReceiveRecord rx = arcnet::ReceiveRecord::Decode(rxBytes);
    EXPECT_EQ(std::vector<DWORD>({rx.dwSource, rx.dwDestination, rx.dwLength, rx.dwWaiting}),
              std::vector<DWORD>({7, 5, 2, 3}));
    EXPECT_EQ(rx.data[0], 'h');
    EXPECT_EQ(rx.Encode(), rxBytes);

    EXPECT_EQ(arcnet::MakeStatusBlock(1)[24], 1);
    EXPECT_EQ(arcnet::StatusAcknowledged(arcnet::MakeStatusBlock(9)), 9u);
}

}  // namespace
