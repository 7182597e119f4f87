/** \addtogroup transport_arcnet
 @{ */
// CReceiveThread: the ARCNET port's thread that moves arriving packets from
// the card's driver into the port's packet list.
//
// Each pass waits, without a time limit, for the driver's receive event or
// the port's close event, then fetches every packet waiting in the driver.
// Packets addressed to this station (or every packet, when the port has no
// node id) are queued while the list holds fewer than 100; the others are
// only counted as bytes in. Once the close event has fired, or a wait has
// failed because Close released the events, the thread neither waits nor
// passes any more: Run returns, and the port's StopThread only collects it.
#pragma once

#include "kelvara/framework/Export.h"
#include "kelvara/framework/Types.h"
#include "kelvara/sibling/WinThreadPlus.h"

class CNetPort;

/// The thread that takes received packets off the card.
class KELVARA_API CReceiveThread : public CWinThreadPlus {
    DECLARE_DYNCREATE(CReceiveThread)

public:
    /// Constructs with the defaults of the class.
    CReceiveThread() = default;
    ~CReceiveThread() override;

    /// Attaches the thread to its port.
    void Attach(CNetPort* pPort) { m_pPort = pPort; }
    /// The port.
    CNetPort* GetPort() const { return m_pPort; }

    int Run() override;

protected:
    /// The port.
    CNetPort* m_pPort = nullptr;

private:
    void TakeWaitingPackets();
    void QueuePacket(DWORD dwSource, DWORD dwDestination, const BYTE* pData, DWORD dwLength);
};
/** @} */
