// The ARCNET tests' harness: a virtual segment with the card installed, a
// driver whose requests the tests watch and can hold, the driver's records
// and a port on the segment.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "kelvara/Kelvara.h"
#include "support/HeaderEchoDriver.h"
#include "support/NamedMutexScope.h"
#include "support/Wait.h"

namespace arcnet_test {

using namespace std::chrono_literals;
using namespace testsupport;
using CFaults = CVirtualArcnetSegment::CFaults;

constexpr BYTE kPortNode = 5;
constexpr BYTE kStation = 9;
constexpr BYTE kSilentNode = 50;

// Records every request it builds, and can hold the poll thread there.
class CTestNetDriver : public CHeaderEchoDriver {
public:
    struct CCall {
        BYTE byType;
        DWORD dwBlockId;
        DWORD dwErrorBefore;  // the item's error when the request was built
    };

    // Stops the poll thread in FormatTxMessage for this message type, with
    // its list mutex held, until the type changes (0: hold nowhere).
    void HoldAt(BYTE byType) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_byHoldType = byType;
        m_changed.notify_all();
    }
    bool WaitHeld(BYTE byType) {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_changed.wait_for(lock, 20s, [&] { return m_byHeldAt == byType; });
    }
    std::vector<CCall> Calls() const {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_calls;
    }
    int CountCalls(BYTE byType, DWORD dwBlockId) const {
        int n = 0;
        for (const CCall& call : Calls()) {
            n += call.byType == byType && call.dwBlockId == dwBlockId ? 1 : 0;
        }
        return n;
    }

protected:
    void OnRequest(BYTE byType, const CPollListItem& item) override {
        std::unique_lock<std::mutex> lock(m_lock);
        m_calls.push_back({byType, item.m_dwBlockId, item.m_dwError});
        if (byType == m_byHoldType) {
            m_byHeldAt = byType;
            m_changed.notify_all();
            m_changed.wait(lock, [&] { return m_byHoldType != byType; });
            m_byHeldAt = 0;
        }
    }

private:
    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<CCall> m_calls;
    BYTE m_byHoldType = 0;
    BYTE m_byHeldAt = 0;
};

struct CArcnetRig {
    CArcnetRig() { segment.Install(); }
    ~CArcnetRig() {
        driver.HoldAt(0);
        if (port) {
            port->Close();
        }
    }

    CNetPort& MakePort(int nNodeId = kPortNode, const CTimeoutOnlyProperties* pTimeout = nullptr) {
        port = std::make_unique<CNetPort>(&poll, pTimeout, &stats, nNodeId, &driver);
        return *port;
    }
    // An open port whose poll thread is held in its first poll, so that
    // the packet list is the test's alone.
    CNetPort& OpenHeld(int nNodeId = kPortNode) {
        poll.AddItem(1, kStation);
        driver.HoldAt(NETMSG_POLL_REQUEST);
        EXPECT_EQ(MakePort(nNodeId).Open(), 0u);
        EXPECT_TRUE(driver.WaitHeld(NETMSG_POLL_REQUEST));
        return *port;
    }
    bool WaitForPolls(DWORD dwBlockId, int nCount) {
        return WaitUntil(
            [&] { return driver.CountCalls(NETMSG_POLL_REQUEST, dwBlockId) >= nCount; });
    }
    // Copies of a poll or write item, taken under the list's mutex.
    CPollListItem Item(int nIndex) {
        CNetPort::CListLock lock(port->GetPollListMutex());
        return *poll.m_PollList.GetAt(nIndex);
    }
    CPollListItem WriteItem(int nIndex) {
        CNetPort::CListLock lock(port->GetWriteListMutex());
        return *port->m_WriteList.GetAt(nIndex);
    }
    void AddWrite(DWORD dwBlockId, BYTE byNode, const std::string& data) {
        auto* pItem = new CPollListItem(dwBlockId, byNode);
        pItem->m_Data = Bytes(data);
        CNetPort::CListLock lock(port->GetWriteListMutex());
        port->m_WriteList.Add(pItem);
    }
    CVirtualArcnetSegment::CCardState Card() const {
        CVirtualArcnetSegment::CCardState state;
        EXPECT_TRUE(segment.GetCardState(0, &state));
        return state;
    }
    void SetFaults(void (*pSet)(CFaults&)) {
        CFaults faults = segment.GetFaults();
        pSet(faults);
        segment.SetFaults(faults);
    }

    CVirtualArcnetSegment segment;
    CTestNetDriver driver;
    CPollProperties poll;
    CCommsStats stats;
    std::unique_ptr<CNetPort> port;
};

}  // namespace arcnet_test
