#include "ArcnetRegisterStation.h"

#include <array>
#include <deque>
#include <mutex>

#include "RegisterPackets.h"

using namespace arcnet_registers;

class CArcnetRegisterStation::CState {
public:
    explicit CState(BYTE byNode) : m_byNode(byNode) {}

    BOOL Answer(const CVirtualArcnetSegment::CPacket& packet, CByteArray* pReply);

    mutable std::mutex m_lock;
    std::array<WORD, kTableSize> m_Registers{};
    std::array<WORD, kTableSize> m_Inputs{};
    BOOL m_bSilent = FALSE;
    DWORD m_dwExecuted = 0;

private:
    // Results of the last writes, for the driver's 0x13 requests.
    struct CWriteResult {
        BYTE bySource;
        DWORD dwItemId;
        WORD wTransaction;
        BYTE byStatus;
    };
    static constexpr size_t kRememberedWrites = 64;

    BYTE Read(const CByteArray& request, CByteArray* pValues) const;
    BYTE Write(const CByteArray& request);
    BYTE CheckRun(const CByteArray& request) const;
    void Remember(const CWriteResult& result);
    bool Recall(BYTE bySource, DWORD dwItemId, WORD wTransaction, BYTE* pbyStatus) const;

    BYTE m_byNode;
    std::deque<CWriteResult> m_Writes;
};

BOOL CArcnetRegisterStation::CState::Answer(const CVirtualArcnetSegment::CPacket& packet,
                                            CByteArray* pReply) {
    const CByteArray& request = packet.data;
    if (request.GetSize() < kRequestHeaderSize) {
        return FALSE;
    }
    const DWORD dwItemId = LoadLE(request, kOffsetItemId, 4);
    const WORD wTransaction = static_cast<WORD>(LoadLE(request, kOffsetTransaction, 2));
    CByteArray values;
    BYTE byStatus = EX_NONE;

    std::lock_guard<std::mutex> guard(m_lock);
    if (m_bSilent) {
        return FALSE;
    }
    switch (request[kOffsetFunction]) {
        case FN_READ:
            byStatus = Read(request, &values);
            ++m_dwExecuted;
            break;
        case FN_WRITE:
            byStatus = Write(request);
            Remember({packet.bySource, dwItemId, wTransaction, byStatus});
            ++m_dwExecuted;
            break;
        case FN_WRITE_RESULT:
            if (!Recall(packet.bySource, dwItemId, wTransaction, &byStatus)) {
                return FALSE;  // not executed yet: the driver asks again
            }
            break;
        default:
            byStatus = EX_ILLEGAL_FUNCTION;
            break;
    }
    // The answer repeats the request's id, transaction and function.
    pReply->SetSize(0);
    for (int i = 0; i < kOffsetStatus; ++i) {
        pReply->Add(request[i]);
    }
    pReply->Add(byStatus);
    pReply->Append(values);
    return TRUE;
}

BYTE CArcnetRegisterStation::CState::CheckRun(const CByteArray& request) const {
    const int nCount = request[kOffsetCount];
    if (nCount == 0 || nCount > kMaxRegisters) {
        return EX_ILLEGAL_COUNT;
    }
    const BYTE byArea = request[kOffsetArea];
    const int nFirst = static_cast<int>(LoadLE(request, kOffsetFirstRegister, 2));
    if (request[kOffsetNode] != m_byNode || (byArea != AREA_R && byArea != AREA_I) ||
        nFirst + nCount > kTableSize) {
        return EX_ILLEGAL_ADDRESS;
    }
    return EX_NONE;
}

BYTE CArcnetRegisterStation::CState::Read(const CByteArray& request, CByteArray* pValues) const {
    const BYTE byStatus = CheckRun(request);
    if (byStatus != EX_NONE) {
        return byStatus;
    }
    const auto& table = request[kOffsetArea] == AREA_R ? m_Registers : m_Inputs;
    const int nFirst = static_cast<int>(LoadLE(request, kOffsetFirstRegister, 2));
    for (int i = 0; i < request[kOffsetCount]; ++i) {
        AppendLE(*pValues, table[static_cast<size_t>(nFirst + i)], 2);
    }
    return EX_NONE;
}

BYTE CArcnetRegisterStation::CState::Write(const CByteArray& request) {
    const BYTE byStatus = CheckRun(request);
    if (byStatus != EX_NONE) {
        return byStatus;
    }
    const int nCount = request[kOffsetCount];
    if (request.GetSize() != kRequestHeaderSize + 2 * nCount) {
        return EX_ILLEGAL_COUNT;
    }
    if (request[kOffsetArea] != AREA_R) {
        return EX_READ_ONLY;
    }
    const int nFirst = static_cast<int>(LoadLE(request, kOffsetFirstRegister, 2));
    for (int i = 0; i < nCount; ++i) {
        m_Registers[static_cast<size_t>(nFirst + i)] =
            static_cast<WORD>(LoadLE(request, kRequestHeaderSize + 2 * i, 2));
    }
    return EX_NONE;
}

void CArcnetRegisterStation::CState::Remember(const CWriteResult& result) {
    if (m_Writes.size() == kRememberedWrites) {
        m_Writes.pop_front();
    }
    m_Writes.push_back(result);
}

bool CArcnetRegisterStation::CState::Recall(BYTE bySource, DWORD dwItemId, WORD wTransaction,
                                            BYTE* pbyStatus) const {
    for (const CWriteResult& result : m_Writes) {
        if (result.bySource == bySource && result.dwItemId == dwItemId &&
            result.wTransaction == wTransaction) {
            *pbyStatus = result.byStatus;
            return true;
        }
    }
    return false;
}

// ---- The station as its host sees it ----------------------------------------

namespace {

bool InTable(int nIndex) {
    return nIndex >= 0 && nIndex < CArcnetRegisterStation::kTableSize;
}

}  // namespace

CArcnetRegisterStation::CArcnetRegisterStation(CVirtualArcnetSegment* pSegment, BYTE byNode)
    : m_pSegment(pSegment), m_byNode(byNode), m_pState(std::make_shared<CState>(byNode)) {
    std::shared_ptr<CState> pState = m_pState;
    m_bOnline = m_pSegment->AddStation(
        byNode, [pState](const CVirtualArcnetSegment::CPacket& packet, CByteArray* pReply) {
            return pState->Answer(packet, pReply);
        });
}

CArcnetRegisterStation::~CArcnetRegisterStation() {
    if (m_bOnline) {
        m_pSegment->RemoveStation(m_byNode);
    }
}

WORD CArcnetRegisterStation::GetRegister(int nIndex) const {
    std::lock_guard<std::mutex> guard(m_pState->m_lock);
    return InTable(nIndex) ? m_pState->m_Registers[static_cast<size_t>(nIndex)] : 0;
}

void CArcnetRegisterStation::SetRegister(int nIndex, WORD wValue) {
    std::lock_guard<std::mutex> guard(m_pState->m_lock);
    if (InTable(nIndex)) {
        m_pState->m_Registers[static_cast<size_t>(nIndex)] = wValue;
    }
}

WORD CArcnetRegisterStation::GetInput(int nIndex) const {
    std::lock_guard<std::mutex> guard(m_pState->m_lock);
    return InTable(nIndex) ? m_pState->m_Inputs[static_cast<size_t>(nIndex)] : 0;
}

void CArcnetRegisterStation::SetInput(int nIndex, WORD wValue) {
    std::lock_guard<std::mutex> guard(m_pState->m_lock);
    if (InTable(nIndex)) {
        m_pState->m_Inputs[static_cast<size_t>(nIndex)] = wValue;
    }
}

void CArcnetRegisterStation::SetSilent(BOOL bSilent) {
    std::lock_guard<std::mutex> guard(m_pState->m_lock);
    m_pState->m_bSilent = bSilent;
}

DWORD CArcnetRegisterStation::GetExecutedCount() const {
    std::lock_guard<std::mutex> guard(m_pState->m_lock);
    return m_pState->m_dwExecuted;
}
