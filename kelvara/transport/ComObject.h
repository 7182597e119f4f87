/** \addtogroup transport
 @{ */
// CComObject: the base class of every transport (port) object: the serial
// port, the TCP/IP port and the ARCNET port.
//
// It holds what all ports share (connected state, port number, the owning
// protocol) and logs the operating system's reason for a failed system call
// through the protocol's SendLogMessage. The working read and write
// operations of each port are members of the concrete class, with their own
// signatures; the virtual ones here only answer 1000.
#pragma once

#include <atomic>

#include "kelvara/framework/Array.h"
#include "kelvara/framework/Export.h"
#include "kelvara/framework/Object.h"
#include "kelvara/framework/Types.h"

class CProtocol;

/// What the base transport operations answer: a code outside the table of
/// standard errors.
constexpr DWORD COMOBJECT_NOT_IMPLEMENTED = 1000;

/// The base of the transports: a port with a number, serving one driver.
class KELVARA_API CComObject : public CObject {
public:
    /// The port number and the owning driver (not owned; may be null).
    CComObject(WORD wPortNumber, CProtocol* pProtocol);
    ~CComObject() override;
    CComObject(const CComObject&) = delete;
    CComObject& operator=(const CComObject&) = delete;

    ///@{
    /// Opens or closes the port; 0 or a standard error code.
    virtual DWORD Open();
    virtual DWORD Close();
    ///@}
    ///@{
    /// The concrete ports have their own Read and Write, with other
    /// signatures, beside these.
    virtual DWORD Read(CByteArray* pBuffer, DWORD dwCount);
    virtual DWORD Write(CByteArray* pBuffer);
    ///@}
    /// Logs the calling thread's last system error, at level 1, as string
    /// 12014 filled with the protocol's port name, the error number and the
    /// system's text. Call it right after the failed call. Without a
    /// protocol nothing is logged.
    virtual void OutputSystemMessage();

    /// TRUE while connected.
    BOOL IsConnected() const { return m_bConnected.load(std::memory_order_relaxed); }
    /// The port number.
    WORD GetPortNumber() const { return m_wPortNumber; }
    /// The driver served.
    CProtocol* GetProtocol() const { return m_pProtocol; }

protected:
    /// Shared with the transports' worker threads, which read and write it
    /// without a lock; the atomic keeps that free of data races.
    std::atomic<BOOL> m_bConnected{0};
    WORD m_wPortNumber;      ///< The port number the transport was made for.
    CProtocol* m_pProtocol;  ///< The driver the transport serves.
};
/** @} */
