/** \addtogroup transport_arcnet
 @{ */
// CNetPort: the transport of polled network drivers on an ARCNET card.
//
// The card's driver is reached by its device name through control requests
// (kelvara/platform/ArcnetDriver.h). An open port runs two worker threads: a
// receive thread that moves arriving packets into the packet list, and a poll
// thread that sends the poll list's requests, matches the replies to them
// and sends the queued writes (PollThread.h, ReceiveThread.h).
//
// Three system-wide named mutexes guard the poll list, the write list and
// the packet list; every port of every process shares them, and no thread
// holds two of them at once. A driver that edits its poll list or the
// port's write list takes the matching mutex (CListLock).
//
// Close the port before destroying it. (The destructor closes a port left
// open, so that its threads never outlive it.)
#pragma once

#include <atomic>

#include "kelvara/framework/Array.h"
#include "kelvara/framework/Export.h"
#include "kelvara/framework/List.h"
#include "kelvara/framework/Types.h"
#include "kelvara/sibling/QZMutex.h"
#include "kelvara/transport/ComObject.h"

class CCombuf;
class CCommsStats;
class CPollListItem;
class CPollProperties;
class CPollThread;
class CProtocol;
class CReceiveThread;
class CTimeoutOnlyProperties;
namespace kelvara::platform::arcnet {
struct ReceiveRecord;
}

/// What the port's handle members hold when they hold nothing.
constexpr DWORD NETPORT_NO_HANDLE = 0xFFFFFFFFu;
/// Poll time-out when the driver gives no time-out record, in ms.
constexpr DWORD NETPORT_DEFAULT_POLL_TIMEOUT = 1000;
/// Longest wait for the end of a transmission, and for its acknowledgement.
constexpr DWORD NETPORT_TRANSMIT_WAIT = 840;
/// Packets the receive thread keeps for the poll thread; later ones are
/// dropped until some have been read.
constexpr int NETPORT_MAX_QUEUED_PACKETS = 100;
/// Largest packet the card transmits.
constexpr int NETPORT_MAX_PACKET = 508;

/// The ARCNET port of a network driver: a card, a poll thread and a receive thread.
class KELVARA_API CNetPort : public CComObject {
public:
    /// Holds one of the port's list mutexes for a scope.
    class CListLock {
    public:
        /// Locks pMutex until the lock goes.
        explicit CListLock(CQZMutex* pMutex);
        ~CListLock();
        CListLock(const CListLock&) = delete;
        CListLock& operator=(const CListLock&) = delete;
        /// FALSE when the system mutex could not be taken; the list must
        /// then be left alone.
        BOOL IsLocked() const { return m_pLock != nullptr; }

    private:
        CQZMutex* m_pMutex;
        CQZMutex::CLock* m_pLock;
    };

    /// The records and the statistics are the driver's and must outlive the
    /// port; pTimeoutProperties may be null (time-out 1000 ms). The low byte
    /// of nNodeId is this station's node id; 0 keeps the card's own and
    /// takes every packet the card passes on.
    CNetPort(const CPollProperties* pPollProperties,
             const CTimeoutOnlyProperties* pTimeoutProperties, CCommsStats* pStats, int nNodeId,
             CProtocol* pProtocol);
    ~CNetPort() override;

    /// 0, 1108 (no card or driver), 1102 (the card refused its configuration
    /// or an event). An open port answers 0 and stays as it is.
    DWORD Open() override;
    /// Stops everything Open started; always 0. It waits for the threads, so
    /// the caller must not hold one of the list mutexes.
    DWORD Close() override;

    ///@{
    /// The base class's byte-array operations stay reachable (they answer
    /// 1000); these are the port's own.
    using CComObject::Read;
    using CComObject::Write;
    ///@}

    /// Takes the oldest received packet into *pBuffer: 0; 2001 when none is
    /// waiting (the buffer is emptied); 1107 when the port is not open.
    DWORD Read(CCombuf* pBuffer);
    /// Transmits *pBuffer (at most 508 bytes) to node byNode and waits for
    /// the end of the transmission, and with nWaitForAck also for the
    /// acknowledgement. 0; 1204 busy (after 10 ms, nothing counted); 1200
    /// other refusal, a failed wait or a buffer the card cannot carry; 2001
    /// no transmit event within 840 ms; 1201 no acknowledgement within
    /// 840 ms. Bytes that went to the card count as bytes out in pStats
    /// (may be null).
    DWORD Write(BYTE byNode, CCombuf* pBuffer, CCommsStats* pStats, int nWaitForAck);
    /// 0 when open, else 1107; nothing is discarded.
    DWORD Clear();
    ///@{
    /// Nothing to do on this card: 0.
    DWORD Init();
    DWORD Hangup();
    ///@}

    ///@{
    /// The mutexes of the poll list, the write list and the packet list.
    CQZMutex* GetPollListMutex() const { return m_pPollListMutex; }
    CQZMutex* GetWriteListMutex() const { return m_pWriteListMutex; }
    CQZMutex* GetPacketListMutex() const { return m_pPacketListMutex; }
    ///@}
    /// The statistics the port counts in.
    CCommsStats* GetStats() const { return m_pStats; }
    /// The card's node id.
    int GetNodeId() const { return m_nNodeId; }
    /// Source node of the last packet the receive thread queued.
    BYTE GetLastSourceNode() const { return m_nLastSourceNode.load(std::memory_order_relaxed); }
    ///@{
    /// The threads of an open port; null while closed.
    CPollThread* GetPollThread() const { return m_pPollThread; }
    CReceiveThread* GetReceiveThread() const { return m_pReceiveThread; }
    ///@}
    /// The driver's record whose poll list the poll thread walks (edit the
    /// list under GetPollListMutex()).
    const CPollProperties* GetPollProperties() const { return m_pPollProperties; }

    /// What the receive thread does to the port, in the order it does it.
    /// A driver has no need of these.
    ///
    /// Waits without a time limit for the card's receive event ("VexRx") or
    /// the close event ("VexClose"): kWaitObject0 for the receive event,
    /// kWaitObject0 + 1 for the close event, kWaitFailed once Close has
    /// released them.
    DWORD WaitForPacketsOrClose();
    /// The oldest packet waiting in the card's driver; a request that fails
    /// (a closed device among them) reads as "nothing waiting".
    kelvara::platform::arcnet::ReceiveRecord FetchReceiveRecord();
    /// The driver sets the receive event again for each packet it holds
    /// back: once the last one has been fetched the event is reset.
    void ResetReceiveEvent();
    /// Appends a received packet to the packet list while it holds fewer
    /// than 100, and notes bySource as the last source node. The port takes
    /// pPacket either way: a packet that finds the list full is destroyed.
    void QueuePacket(CCombuf* pPacket, BYTE bySource);

protected:
    ///@{
    /// Read by the worker threads while Close replaces them, hence atomic.
    std::atomic<DWORD> m_hDriver{0};
    std::atomic<DWORD> m_hTxEvent{NETPORT_NO_HANDLE};
    std::atomic<DWORD> m_hRxEvent{NETPORT_NO_HANDLE};
    std::atomic<DWORD> m_hCloseEvent{NETPORT_NO_HANDLE};
    CReceiveThread* m_pReceiveThread = nullptr;
    CPollThread* m_pPollThread = nullptr;
    CCommsStats* m_pStats;
    int m_nNodeId;
    const CPollProperties* m_pPollProperties;
    const CTimeoutOnlyProperties* m_pTimeoutProperties;
    CQZMutex* m_pPollListMutex;
    CQZMutex* m_pWriteListMutex;
    CQZMutex* m_pPacketListMutex;
    ///@}

public:
    /// Write requests, each sent once by the poll thread; the port owns the
    /// items. Edit under GetWriteListMutex().
    CTypedPtrArray<CPtrArray, CPollListItem*> m_WriteList;

protected:
    /// The source node of the last packet received.
    std::atomic<BYTE> m_nLastSourceNode{0};
    /// Received packets, oldest first; the port owns them.
    CTypedPtrList<CPtrList, CCombuf*> m_PacketList{10};

private:
    // Open, step by step.
    DWORD OpenDriver();
    DWORD ConfigureCard();
    DWORD CreateTransmitEvent();
    DWORD CreateReceiveEvent();
    DWORD CreateCloseEvent();
    void StartReceiveThread();
    void StartPollThread();
    DWORD PollTimeout() const;

    // Write, step by step.
    DWORD SendTransmitRecord(BYTE byNode, const CCombuf& buffer);
    DWORD AwaitTransmission(int nWaitForAck);
    DWORD AwaitAcknowledgement(DWORD dwStartTick);
    void CancelTransmission();
    void FinishTransmission(DWORD dwLength, CCommsStats* pStats);

    // Close, step by step.
    void ReleaseEvent(std::atomic<DWORD>& hEvent, DWORD dwUnregisterCode);
    void CloseDriver();
    void StopThreads();
    void DiscardPackets();
};
/** @} */
