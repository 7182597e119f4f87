/** \addtogroup platform
 @{ */
/// CVirtualArcnetSegment: an ARCNET segment simulated in this process, for
/// hosts, demos and tests on machines without the card. It is part of the
/// library so that driver authors can test their ARCNET drivers without the
/// card (docs/WritingADriver.md).
///
/// Installed, the segment serves the card driver's device name, so a
/// CNetPort opens it as it would open the card. Every open of the device
/// plugs a virtual card into the segment; the card takes the node id its
/// configuration gives (or the segment's switch node id when the port has
/// none). Simulated stations join with a node id and a responder that may
/// answer each packet they receive.
///
/// A transmission reaches the open cards and the station with the
/// destination node id (destination 0: every card and station, never
/// acknowledged) and is acknowledged when such a station or card exists. The
/// card then sets its transmit event; a card that receives packets sets its
/// receive event, as the card's driver does. Stations answer after the
/// transmission has ended, on the transmitting thread.
///
/// Faults can be switched on at any time: busy or failing transmit
/// requests, missing acknowledgements, transmit events that never come, and
/// failures to open, configure or register the events; InjectPackets floods
/// a card or hands it traffic for other nodes.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "kelvara/framework/Array.h"
#include "kelvara/framework/Export.h"
#include "kelvara/framework/String.h"
#include "kelvara/framework/Types.h"

class KELVARA_API CVirtualArcnetSegment {
public:
    /// One packet as it travelled on the segment.
    struct CPacket {
        /// Source node.
        BYTE bySource = 0;
        /// Destination node.
        BYTE byDestination = 0;
        /// The data.
        CByteArray data;
    };

    /// A simulated station's behaviour: called for each packet the station
    /// receives; TRUE sends *pReply (at most 508 bytes) back to the sender.
    /// It may run on several threads at once and must not block for long:
    /// the transmitting thread waits for it.
    using Responder = std::function<BOOL(const CPacket& packet, CByteArray* pReply)>;

    /// Faults; counts of "next" requests go down as they are used, and a
    /// negative count means every request from now on.
    struct CFaults {
        ///@{
        /// Transmit requests refused as busy, or failing otherwise.
        int nBusyTransmits = 0;
        int nFailedTransmits = 0;
        ///@}
        /// Transmissions whose end the card never reports.
        int nLostTransmitEvents = 0;
        /// Destinations that exist still do not acknowledge.
        BOOL bNoAcknowledge = FALSE;
        /// Status reads after each transmission that do not show its
        /// acknowledgement yet.
        DWORD dwStatusReadsBeforeAck = 0;
        /// The card open fails.
        BOOL bFailOpen = FALSE;
        /// Configuring the card fails.
        BOOL bFailConfigure = FALSE;
        ///@{
        /// Registering the transmit or receive event fails.
        BOOL bFailTxEventRegistration = FALSE;
        BOOL bFailRxEventRegistration = FALSE;
        ///@}
    };

    /// What a card has been told and has done.
    struct CCardState {
        /// The node id it was given.
        BYTE byNodeId = 0;
        /// TRUE once configured.
        BOOL bConfigured = FALSE;
        CByteArray configuration;  ///< the last configuration block, as sent
        ///@{
        /// TRUE once its transmit or receive event is registered.
        BOOL bTxEventRegistered = FALSE;
        BOOL bRxEventRegistered = FALSE;
        ///@}
        DWORD dwTransmissions = 0;  ///< transmit requests accepted
        /// Transmits refused as busy.
        DWORD dwBusyRefusals = 0;
        /// Transmits cancelled.
        DWORD dwCancels = 0;
        /// Status reads.
        DWORD dwStatusReads = 0;
        /// The last transmission's destination acknowledged it (the status
        /// block shows it once any delayed reads have passed).
        BOOL bAcknowledged = FALSE;
        /// Packets waiting to be read.
        DWORD dwPacketsWaiting = 0;
        DWORD dwPacketsDropped = 0;  ///< lost because the card's queue was full
    };

    /// The segment's own default device: the card driver's device name.
    static const char* const kDefaultDeviceName;
    /// The switch node id of a card whose configuration sets none.
    static constexpr BYTE kDefaultSwitchNodeId = 1;
    /// Packets one card holds for its port; more are dropped.
    static constexpr int kDefaultCardQueueCapacity = 1024;
    /// Packets a station keeps in its history.
    static constexpr int kStationHistory = 1024;

    /// Constructs with the defaults of the class.
    CVirtualArcnetSegment();
    /// Uninstalls. Cards still open keep working among themselves.
    ~CVirtualArcnetSegment();
    CVirtualArcnetSegment(const CVirtualArcnetSegment&) = delete;
    CVirtualArcnetSegment& operator=(const CVirtualArcnetSegment&) = delete;

    /// Serves the device name from now on (in place of any other provider).
    void Install(const char* pszDeviceName = kDefaultDeviceName);
    /// Stops serving it, if this segment still does.
    void Uninstall();

    /// The node id of the card's own switch setting.
    void SetSwitchNodeId(BYTE byNodeId);
    /// How many received packets a card queues.
    void SetCardQueueCapacity(int nPackets);

    /// Adds a simulated station; FALSE when a station has that node id
    /// already. Without a responder the station only listens.
    BOOL AddStation(BYTE byNodeId, Responder responder = Responder());
    /// Removes a station; FALSE when there is none with that node id.
    BOOL RemoveStation(BYTE byNodeId);
    /// Packets the station has received (counted, and the last ones kept).
    DWORD GetStationPacketCount(BYTE byNodeId) const;
    /// The last packets kept.
    std::vector<CPacket> GetStationPackets(BYTE byNodeId) const;

    /// A transmission by station bySource: reaches the cards with the
    /// destination node id (every card for destination 0). TRUE when a card
    /// took it.
    BOOL Send(BYTE bySource, BYTE byDestination, const CByteArray& data);
    /// Puts nCount copies of a packet straight into the receive queue of the
    /// open cards with node id byCardNode, whatever its destination, and
    /// signals once. The number queued (a full card queue drops the rest).
    int InjectPackets(BYTE byCardNode, BYTE bySource, BYTE byDestination, const CByteArray& data,
                      int nCount = 1);

    ///@{
    /// The faults injected.
    void SetFaults(const CFaults& faults);
    CFaults GetFaults() const;
    ///@}

    /// Open cards, in the order they were opened.
    int GetCardCount() const;
    /// The state of the nIndex-th open card; FALSE when there is none.
    BOOL GetCardState(int nIndex, CCardState* pState) const;

    /// A responder that answers every packet with its first nHeaderLength
    /// bytes (fewer when it is shorter) followed by payload: a station whose
    /// replies carry the request's block id where the request had it.
    static Responder EchoHeader(int nHeaderLength, const CByteArray& payload);

    class CImpl;

private:
    std::shared_ptr<CImpl> m_pImpl;
};
/** @} */
