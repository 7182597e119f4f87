// A network driver for the ARCNET port's tests and benchmarks, with the
// simplest packet format a polled device could have.
//
// Requests: message type, block id (4 bytes, little-endian), then for a
// write the item's data. Replies carry the same five bytes before their
// data, so a station of the virtual segment answering with
// CVirtualArcnetSegment::EchoHeader(5, ...) answers the request.
#pragma once

#include "kelvara/Kelvara.h"
#include "support/BufferText.h"

namespace testsupport {

class CHeaderEchoDriver : public CNetworkProtocol {
public:
    static constexpr int kHeaderLength = 5;

    // The packet's block id; 0xFFFFFFFF for a packet too short to carry one.
    DWORD GetBlockIdFromPacket(const CCombuf* pPacket) override;
    DWORD GetDataOffsetInPacket() override { return kHeaderLength; }
    // Builds the request, then tells OnRequest.
    DWORD FormatTxMessage(CCombuf* pPacket, CPollListItem* pItem, BYTE byType) override;

protected:
    // Runs on the poll thread, with the mutex of the list it walks held.
    virtual void OnRequest(BYTE /*byType*/, const CPollListItem& /*item*/) {}
};

}  // namespace testsupport
