/** \addtogroup protocol
 @{ */
// CNetworkProtocol: the base class of polled network drivers (ARCNET).
//
// The port's poll thread builds each request through FormatTxMessage and
// matches each received packet to its poll-list items through
// GetBlockIdFromPacket; these hooks run on the poll thread while it holds
// the mutex of the list it walks.
#pragma once

#include "kelvara/framework/Export.h"
#include "kelvara/protocol/Protocol.h"
#include "kelvara/sibling/TimeoutOnlyProperties.h"

class CCombuf;
class CPollListItem;

///@{
/// Message types the poll thread asks FormatTxMessage for.
constexpr BYTE NETMSG_POLL_REQUEST = 17;
/// See NETMSG_POLL_REQUEST.
constexpr BYTE NETMSG_WRITE_REQUEST = 18;
///@}

/// The base class of polled network drivers (ARCNET).
class KELVARA_API CNetworkProtocol : public CProtocol {
public:
    /// Constructs with the defaults of the class.
    CNetworkProtocol();
    /// Device address format, then remote address format.
    CNetworkProtocol(const char* pszDeviceFormat, const char* pszRemoteFormat);
    ~CNetworkProtocol() override;

    /// General, then the time-out record.
    void SerializeProperties(CArchive& ar) override;
    ///@{
    /// The time-out record's lines; an update that fails changes neither the
    /// record nor the list.
    bool DumpToStringList(CStringList& list) override;
    bool UpdateFromStringList(CStringList* pList) override;
    ///@}

    /// The time-out, in ms, after which a poll item's reply is overdue.
    virtual DWORD GetTimeout();
    /// Block id a received packet answers; compared with every poll item's.
    virtual DWORD GetBlockIdFromPacket(const CCombuf* pPacket);
    /// Index of the first data byte of a received packet.
    virtual DWORD GetDataOffsetInPacket();
    /// Builds in *pPacket the request for pItem: a poll (17) or a write (18).
    virtual DWORD FormatTxMessage(CCombuf* pPacket, CPollListItem* pItem, BYTE byMessageType);

    /// Sets the default reply time-out.
    void SetTimeoutDefaults(DWORD dwTimeout);
    /// The time-out record.
    CTimeoutOnlyProperties* GetTimeoutProperties() { return &m_TimeoutProperties; }

protected:
    /// The time-out record.
    CTimeoutOnlyProperties m_TimeoutProperties;
};
/** @} */
