/** \addtogroup transport_arcnet
 @{ */
// CPollThread: the ARCNET port's polling cycle.
//
// Each pass: (b) the packets the receive thread queued are matched, by the
// block id the driver reads from them, to every poll item with that id;
// (c) items whose last request went out more than the time-out after their
// last reply are marked timed out (2001); (d) every poll item's request is
// sent again (message type 17); (e) write items not sent yet are sent once
// (message type 18); (f) the pass's duration is added to the first poll
// item. The driver's hooks (CNetworkProtocol) build the requests and read
// the replies; they run on this thread while it holds the mutex of the list
// it walks. Passes are 100 ms apart, plus their own time.
#pragma once

#include "kelvara/buffer/Combuf.h"
#include "kelvara/framework/Export.h"
#include "kelvara/framework/Types.h"
#include "kelvara/sibling/WinThreadPlus.h"

class CNetPort;
class CNetworkProtocol;
class CPollListItem;
class CQZMutex;

/// The thread that sends a network driver's poll list.
class KELVARA_API CPollThread : public CWinThreadPlus {
    DECLARE_DYNCREATE(CPollThread)

public:
    /// Both buffers start at 253 bytes.
    CPollThread();
    ~CPollThread() override;

    /// The port, its poll-list mutex, and the reply time-out in ms.
    void Attach(CNetPort* pPort, CQZMutex* pPollListMutex, DWORD dwTimeout);
    /// The port.
    CNetPort* GetPort() const { return m_pPort; }
    /// The reply time-out, in ms.
    DWORD GetTimeout() const { return m_dwTimeout; }

    int Run() override;

protected:
    /// The port.
    CNetPort* m_pPort = nullptr;
    /// The poll-list mutex.
    CQZMutex* m_pPollListMutex = nullptr;
    CCombuf m_TxBuffer;     ///< The request being sent.
    CCombuf m_RxBuffer;     ///< The reply being taken apart.
    DWORD m_dwTimeout = 0;  ///< The reply time-out, in ms.

private:
    void TakeReplies();
    void MarkOverdueReplies();
    void SendPolls();
    void SendWrites();
    void AddPollTime(ULONGLONG ullPassStart);

    DWORD BlockIdOf(const CCombuf& packet);
    DWORD DataOffset();
    void FormatRequest(CPollListItem* pItem, BYTE byMessageType);
    DWORD Transmit(const CPollListItem* pItem);

    // The port's driver when it is a network driver; otherwise the hooks'
    // defaults apply.
    CNetworkProtocol* m_pNetworkProtocol = nullptr;
};
/** @} */
