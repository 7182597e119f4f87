// CArcnetRegisterStation: a register device on the library's virtual ARCNET
// segment, the peer of the sample ARCNET driver. A host, demo or test
// starts it in its own process:
//
//     CVirtualArcnetSegment segment;
//     segment.Install();                       // serves the card's device
//     CArcnetRegisterStation station(&segment, 12);
//     station.SetRegister(100, 1234);
//     ... load the driver, start it, read "12:R100" ...
//
// The station holds two tables of kTableSize 16-bit registers: area R,
// which the driver may read and write, and area I (inputs), read-only. It
// answers the requests of RegisterPackets.h on the transmitting thread, as
// the segment runs its stations. It may be used from any thread.
#pragma once

#include <kelvara/Kelvara.h>

#include <memory>

class CArcnetRegisterStation {
public:
    static constexpr int kTableSize = 1000;

    // Joins the segment as node byNode (1 to 255). IsOnline() tells whether
    // it could: a node id is taken only once on a segment. The segment must
    // outlive the station.
    CArcnetRegisterStation(CVirtualArcnetSegment* pSegment, BYTE byNode);
    // Leaves the segment.
    ~CArcnetRegisterStation();
    CArcnetRegisterStation(const CArcnetRegisterStation&) = delete;
    CArcnetRegisterStation& operator=(const CArcnetRegisterStation&) = delete;

    BOOL IsOnline() const { return m_bOnline; }
    BYTE GetNode() const { return m_byNode; }

    // Register nIndex of area R or I; outside the table, 0 and no change.
    WORD GetRegister(int nIndex) const;
    void SetRegister(int nIndex, WORD wValue);
    WORD GetInput(int nIndex) const;
    void SetInput(int nIndex, WORD wValue);

    // A silent station stays on the segment (its card still acknowledges
    // packets) but answers nothing, as a device whose program has stopped.
    void SetSilent(BOOL bSilent);
    // Requests executed: reads and writes, including those refused with an
    // exception.
    DWORD GetExecutedCount() const;

    class CState;

private:
    CVirtualArcnetSegment* m_pSegment;
    BYTE m_byNode;
    BOOL m_bOnline = FALSE;
    // Shared with the segment's responder, which may still be running on
    // another thread while the station leaves.
    std::shared_ptr<CState> m_pState;
};
