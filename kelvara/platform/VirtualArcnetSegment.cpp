// The segment plays the card's driver behind the device-I/O seam: each open
// of the device is a virtual card. One lock guards the whole segment;
// events are set and responders run after it has been released, so a
// responder may call back into the segment and a port's threads never wait
// for the segment while it waits for them.
#include "kelvara/platform/VirtualArcnetSegment.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "kelvara/platform/ArcnetDriver.h"
#include "kelvara/platform/DeviceIo.h"
#include "kelvara/platform/Event.h"
#include "kelvara/platform/SystemError.h"

namespace platform = kelvara::platform;
namespace arcnet = kelvara::platform::arcnet;

using CPacket = CVirtualArcnetSegment::CPacket;

const char* const CVirtualArcnetSegment::kDefaultDeviceName = arcnet::kDeviceName;

namespace {

struct CardData {
    BYTE byNodeId = 0;
    bool bOpen = true;
    bool bConfigured = false;
    arcnet::ConfigurationBlock configuration{};
    platform::Handle hTxEvent = platform::kNullHandle;
    platform::Handle hRxEvent = platform::kNullHandle;
    std::deque<CPacket> queue;
    std::uint32_t dwAcknowledged = 0;
    DWORD dwStatusReadsBeforeAck = 0;
    DWORD dwTransmissions = 0;
    DWORD dwBusyRefusals = 0;
    DWORD dwCancels = 0;
    DWORD dwStatusReads = 0;
    DWORD dwPacketsDropped = 0;
};

struct StationData {
    CVirtualArcnetSegment::Responder responder;
    DWORD dwReceived = 0;
    std::deque<CPacket> history;
};

// One answer a station owes, run once the segment's lock is released.
struct PendingAnswer {
    std::shared_ptr<StationData> pStation;
    BYTE byStation;
    CPacket packet;
};

// Takes one use of a "next n requests" fault.
bool TakeFault(int& nCount) {
    if (nCount == 0) {
        return false;
    }
    if (nCount > 0) {
        --nCount;
    }
    return true;
}

bool Fail(platform::ErrorCategory error) {
    return platform::FailWith(error);
}

void SetEvents(const std::vector<platform::Handle>& events) {
    for (platform::Handle h : events) {
        platform::SetEvent(h);
    }
}

CByteArray ToByteArray(const std::uint8_t* pData, std::size_t nLength) {
    CByteArray bytes;
    bytes.SetSize(static_cast<int>(nLength));
    std::copy(pData, pData + nLength, bytes.GetData());
    return bytes;
}

}  // namespace

class CVirtualArcnetSegment::CImpl : public platform::DeviceProvider,
                                     public std::enable_shared_from_this<CImpl> {
public:
    std::shared_ptr<platform::DeviceFile> OpenDevice() override;

    bool Request(const std::shared_ptr<CardData>& pCard, std::uint32_t dwCode, const void* pIn,
                 std::uint32_t nInSize, void* pOut, std::uint32_t nOutSize,
                 std::uint32_t* pReturned);
    void CardClosed(const std::shared_ptr<CardData>& pCard);

    BOOL StationSend(BYTE bySource, BYTE byDestination, const CByteArray& data);
    int Inject(BYTE byCardNode, const CPacket& packet, int nCount);

    mutable std::mutex m_lock;
    std::vector<std::shared_ptr<CardData>> m_cards;
    std::map<BYTE, std::shared_ptr<StationData>> m_stations;
    CFaults m_faults;
    BYTE m_bySwitchNodeId = kDefaultSwitchNodeId;
    std::size_t m_nCardQueueCapacity = kDefaultCardQueueCapacity;
    std::string m_strInstalledName;
    bool m_bInstalled = false;

private:
    bool Configure(CardData& card, const void* pIn, std::uint32_t nInSize);
    bool Transmit(const std::shared_ptr<CardData>& pCard, const void* pIn, std::uint32_t nInSize);
    bool Receive(CardData& card, void* pOut, std::uint32_t nOutSize, std::uint32_t* pReturned);
    bool ReadStatus(CardData& card, void* pOut, std::uint32_t nOutSize, std::uint32_t* pReturned);
    bool SetEventValue(platform::Handle& hEvent, const void* pIn, std::uint32_t nInSize,
                       bool bFault);

    // Both run under the lock; the receive events to set go to *pEvents.
    bool DeliverToCardsLocked(const CPacket& packet, const CardData* pSender,
                              std::vector<platform::Handle>* pEvents);
    bool DeliverToStationsLocked(const CPacket& packet, std::vector<PendingAnswer>* pAnswers);
    bool QueueLocked(CardData& card, const CPacket& packet);

    void Answer(std::vector<PendingAnswer>& answers);
};

namespace {

class VirtualCard final : public platform::DeviceFile {
public:
    VirtualCard(std::shared_ptr<CVirtualArcnetSegment::CImpl> pSegment,
                std::shared_ptr<CardData> pCard)
        : m_pSegment(std::move(pSegment)), m_pCard(std::move(pCard)) {}

    bool IoControl(std::uint32_t dwCode, const void* pIn, std::uint32_t nInSize, void* pOut,
                   std::uint32_t nOutSize, std::uint32_t* pReturned) override {
        return m_pSegment->Request(m_pCard, dwCode, pIn, nInSize, pOut, nOutSize, pReturned);
    }
    void Close() override { m_pSegment->CardClosed(m_pCard); }

private:
    const std::shared_ptr<CVirtualArcnetSegment::CImpl> m_pSegment;
    const std::shared_ptr<CardData> m_pCard;
};

}  // namespace

// ---- The driver's side -----------------------------------------------------

std::shared_ptr<platform::DeviceFile> CVirtualArcnetSegment::CImpl::OpenDevice() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_faults.bFailOpen) {
        platform::FailWith(platform::ErrorCategory::NoDevice);
        return nullptr;
    }
    auto pCard = std::make_shared<CardData>();
    pCard->byNodeId = m_bySwitchNodeId;
    m_cards.push_back(pCard);
    return std::make_shared<VirtualCard>(shared_from_this(), pCard);
}

void CVirtualArcnetSegment::CImpl::CardClosed(const std::shared_ptr<CardData>& pCard) {
    std::lock_guard<std::mutex> guard(m_lock);
    pCard->bOpen = false;
    pCard->queue.clear();
    m_cards.erase(std::remove(m_cards.begin(), m_cards.end(), pCard), m_cards.end());
}

bool CVirtualArcnetSegment::CImpl::Request(const std::shared_ptr<CardData>& pCard,
                                           std::uint32_t dwCode, const void* pIn,
                                           std::uint32_t nInSize, void* pOut,
                                           std::uint32_t nOutSize, std::uint32_t* pReturned) {
    if (dwCode == arcnet::kTransmitPacket) {
        return Transmit(pCard, pIn, nInSize);
    }
    std::lock_guard<std::mutex> guard(m_lock);
    CardData& card = *pCard;
    if (!card.bOpen) {
        return Fail(platform::ErrorCategory::BadHandle);
    }
    switch (dwCode) {
        case arcnet::kConfigure:
            return Configure(card, pIn, nInSize);
        case arcnet::kReceivePacket:
            return Receive(card, pOut, nOutSize, pReturned);
        case arcnet::kReadStatus:
            return ReadStatus(card, pOut, nOutSize, pReturned);
        case arcnet::kRegisterTxEvent:
            return SetEventValue(card.hTxEvent, pIn, nInSize, m_faults.bFailTxEventRegistration);
        case arcnet::kRegisterRxEvent:
            return SetEventValue(card.hRxEvent, pIn, nInSize, m_faults.bFailRxEventRegistration);
        case arcnet::kUnregisterTxEvent:
            card.hTxEvent = platform::kNullHandle;
            return true;
        case arcnet::kUnregisterRxEvent:
            card.hRxEvent = platform::kNullHandle;
            return true;
        case arcnet::kCancelTransmit:
            ++card.dwCancels;
            card.dwAcknowledged = 0;
            return true;
        default:
            return Fail(platform::ErrorCategory::Invalid);
    }
}

bool CVirtualArcnetSegment::CImpl::Configure(CardData& card, const void* pIn,
                                             std::uint32_t nInSize) {
    if (nInSize < arcnet::kConfigurationSize) {
        return Fail(platform::ErrorCategory::Invalid);
    }
    if (m_faults.bFailConfigure) {
        return Fail(platform::ErrorCategory::Other);
    }
    std::memcpy(card.configuration.data(), pIn, arcnet::kConfigurationSize);
    const BYTE byNodeId = arcnet::ConfiguredNodeId(card.configuration);
    card.byNodeId = byNodeId != 0 ? byNodeId : m_bySwitchNodeId;
    card.bConfigured = true;
    return true;
}

bool CVirtualArcnetSegment::CImpl::SetEventValue(platform::Handle& hEvent, const void* pIn,
                                                 std::uint32_t nInSize, bool bFault) {
    if (nInSize < arcnet::kEventValueSize) {
        return Fail(platform::ErrorCategory::Invalid);
    }
    if (bFault) {
        return Fail(platform::ErrorCategory::Other);
    }
    hEvent = arcnet::LoadLE32(static_cast<const std::uint8_t*>(pIn));
    return true;
}

bool CVirtualArcnetSegment::CImpl::Transmit(const std::shared_ptr<CardData>& pCard, const void* pIn,
                                            std::uint32_t nInSize) {
    if (nInSize < arcnet::kTransmitRecordSize) {
        return Fail(platform::ErrorCategory::Invalid);
    }
    arcnet::TransmitBuffer buffer;
    std::memcpy(buffer.data(), pIn, buffer.size());
    const arcnet::TransmitRecord record = arcnet::TransmitRecord::Decode(buffer);
    if (record.dwLength > arcnet::kMaxDataLength || record.dwDestination > 0xFF) {
        return Fail(platform::ErrorCategory::Invalid);
    }

    std::vector<platform::Handle> rxEvents;
    std::vector<PendingAnswer> answers;
    platform::Handle hTxEvent = platform::kNullHandle;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        CardData& card = *pCard;
        if (!card.bOpen) {
            return Fail(platform::ErrorCategory::BadHandle);
        }
        if (TakeFault(m_faults.nBusyTransmits)) {
            ++card.dwBusyRefusals;
            return Fail(platform::ErrorCategory::Busy);
        }
        if (TakeFault(m_faults.nFailedTransmits)) {
            return Fail(platform::ErrorCategory::Other);
        }
        ++card.dwTransmissions;
        const CPacket packet{card.byNodeId, static_cast<BYTE>(record.dwDestination),
                             ToByteArray(record.data.data(), record.dwLength)};
        const bool bToCard = DeliverToCardsLocked(packet, &card, &rxEvents);
        const bool bToStation = DeliverToStationsLocked(packet, &answers);
        const bool bAcknowledged = (bToCard || bToStation) && packet.byDestination != 0;
        card.dwAcknowledged = bAcknowledged && !m_faults.bNoAcknowledge ? 1 : 0;
        card.dwStatusReadsBeforeAck = m_faults.dwStatusReadsBeforeAck;
        if (!TakeFault(m_faults.nLostTransmitEvents)) {
            hTxEvent = card.hTxEvent;
        }
    }
    SetEvents(rxEvents);
    if (hTxEvent != platform::kNullHandle) {
        platform::SetEvent(hTxEvent);
    }
    Answer(answers);
    return true;
}

bool CVirtualArcnetSegment::CImpl::Receive(CardData& card, void* pOut, std::uint32_t nOutSize,
                                           std::uint32_t* pReturned) {
    if (nOutSize < arcnet::kReceiveRecordSize) {
        return Fail(platform::ErrorCategory::Invalid);
    }
    arcnet::ReceiveRecord record;
    if (!card.queue.empty()) {
        const CPacket& packet = card.queue.front();
        record.dwSource = packet.bySource;
        record.dwDestination = packet.byDestination;
        record.dwLength = static_cast<std::uint32_t>(packet.data.GetSize());
        std::copy(packet.data.begin(), packet.data.end(), record.data.begin());
        record.dwWaiting = static_cast<std::uint32_t>(card.queue.size());
        card.queue.pop_front();
    }
    const arcnet::ReceiveBuffer buffer = record.Encode();
    std::memcpy(pOut, buffer.data(), buffer.size());
    *pReturned = static_cast<std::uint32_t>(buffer.size());
    return true;
}

bool CVirtualArcnetSegment::CImpl::ReadStatus(CardData& card, void* pOut, std::uint32_t nOutSize,
                                              std::uint32_t* pReturned) {
    if (nOutSize < arcnet::kStatusBlockSize) {
        return Fail(platform::ErrorCategory::Invalid);
    }
    ++card.dwStatusReads;
    std::uint32_t dwAcknowledged = card.dwAcknowledged;
    if (card.dwStatusReadsBeforeAck > 0) {
        --card.dwStatusReadsBeforeAck;
        dwAcknowledged = 0;
    }
    const arcnet::StatusBuffer buffer = arcnet::MakeStatusBlock(dwAcknowledged);
    std::memcpy(pOut, buffer.data(), buffer.size());
    *pReturned = static_cast<std::uint32_t>(buffer.size());
    return true;
}

// ---- Traffic ---------------------------------------------------------------

bool CVirtualArcnetSegment::CImpl::QueueLocked(CardData& card, const CPacket& packet) {
    if (card.queue.size() >= m_nCardQueueCapacity) {
        ++card.dwPacketsDropped;
        return false;
    }
    card.queue.push_back(packet);
    return true;
}

bool CVirtualArcnetSegment::CImpl::DeliverToCardsLocked(const CPacket& packet,
                                                        const CardData* pSender,
                                                        std::vector<platform::Handle>* pEvents) {
    bool bReached = false;
    for (const std::shared_ptr<CardData>& pCard : m_cards) {
        if (pCard.get() == pSender ||
            (packet.byDestination != 0 && pCard->byNodeId != packet.byDestination)) {
            continue;
        }
        bReached = true;
        if (QueueLocked(*pCard, packet) && pCard->hRxEvent != platform::kNullHandle) {
            pEvents->push_back(pCard->hRxEvent);
        }
    }
    return bReached;
}

bool CVirtualArcnetSegment::CImpl::DeliverToStationsLocked(const CPacket& packet,
                                                           std::vector<PendingAnswer>* pAnswers) {
    const auto hand = [&](BYTE byNode, const std::shared_ptr<StationData>& pStation) {
        ++pStation->dwReceived;
        pStation->history.push_back(packet);
        if (pStation->history.size() > static_cast<std::size_t>(kStationHistory)) {
            pStation->history.pop_front();
        }
        if (pStation->responder) {
            pAnswers->push_back(PendingAnswer{pStation, byNode, packet});
        }
    };
    if (packet.byDestination != 0) {
        auto it = m_stations.find(packet.byDestination);
        if (it == m_stations.end()) {
            return false;
        }
        hand(it->first, it->second);
        return true;
    }
    for (auto& [byNode, pStation] : m_stations) {
        hand(byNode, pStation);
    }
    return !m_stations.empty();
}

void CVirtualArcnetSegment::CImpl::Answer(std::vector<PendingAnswer>& answers) {
    for (PendingAnswer& answer : answers) {
        CByteArray reply;
        BOOL bAnswer = FALSE;
        try {
            bAnswer = answer.pStation->responder(answer.packet, &reply);
        } catch (...) {
            // A responder that fails simply does not answer.
            bAnswer = FALSE;
        }
        if (bAnswer) {
            StationSend(answer.byStation, answer.packet.bySource, reply);
        }
    }
}

BOOL CVirtualArcnetSegment::CImpl::StationSend(BYTE bySource, BYTE byDestination,
                                               const CByteArray& data) {
    if (data.GetSize() > static_cast<int>(arcnet::kMaxDataLength)) {
        return FALSE;
    }
    std::vector<platform::Handle> rxEvents;
    bool bReached = false;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        bReached = DeliverToCardsLocked(CPacket{bySource, byDestination, data}, nullptr, &rxEvents);
    }
    SetEvents(rxEvents);
    return bReached ? TRUE : FALSE;
}

int CVirtualArcnetSegment::CImpl::Inject(BYTE byCardNode, const CPacket& packet, int nCount) {
    std::vector<platform::Handle> rxEvents;
    int nQueued = 0;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        for (const std::shared_ptr<CardData>& pCard : m_cards) {
            if (pCard->byNodeId != byCardNode) {
                continue;
            }
            int nHere = 0;
            for (int i = 0; i < nCount; ++i) {
                nHere += QueueLocked(*pCard, packet) ? 1 : 0;
            }
            if (nHere > 0 && pCard->hRxEvent != platform::kNullHandle) {
                rxEvents.push_back(pCard->hRxEvent);
            }
            nQueued += nHere;
        }
    }
    SetEvents(rxEvents);
    return nQueued;
}

// ---- The host's side -------------------------------------------------------

CVirtualArcnetSegment::CVirtualArcnetSegment() : m_pImpl(std::make_shared<CImpl>()) {}

CVirtualArcnetSegment::~CVirtualArcnetSegment() {
    Uninstall();
}

void CVirtualArcnetSegment::Install(const char* pszDeviceName) {
    Uninstall();
    const std::string strName = pszDeviceName != nullptr ? pszDeviceName : kDefaultDeviceName;
    platform::RegisterDeviceProvider(strName, m_pImpl);
    std::lock_guard<std::mutex> guard(m_pImpl->m_lock);
    m_pImpl->m_strInstalledName = strName;
    m_pImpl->m_bInstalled = true;
}

void CVirtualArcnetSegment::Uninstall() {
    std::string strName;
    {
        std::lock_guard<std::mutex> guard(m_pImpl->m_lock);
        if (!m_pImpl->m_bInstalled) {
            return;
        }
        m_pImpl->m_bInstalled = false;
        strName = m_pImpl->m_strInstalledName;
    }
    platform::UnregisterDeviceProvider(strName, m_pImpl.get());
}

void CVirtualArcnetSegment::SetSwitchNodeId(BYTE byNodeId) {
    std::lock_guard<std::mutex> guard(m_pImpl->m_lock);
    m_pImpl->m_bySwitchNodeId = byNodeId;
}

void CVirtualArcnetSegment::SetCardQueueCapacity(int nPackets) {
    std::lock_guard<std::mutex> guard(m_pImpl->m_lock);
    m_pImpl->m_nCardQueueCapacity = static_cast<std::size_t>(std::max(nPackets, 0));
}

BOOL CVirtualArcnetSegment::AddStation(BYTE byNodeId, Responder responder) {
    std::lock_guard<std::mutex> guard(m_pImpl->m_lock);
    auto pStation = std::make_shared<StationData>();
    pStation->responder = std::move(responder);
    return m_pImpl->m_stations.emplace(byNodeId, std::move(pStation)).second ? TRUE : FALSE;
}

BOOL CVirtualArcnetSegment::RemoveStation(BYTE byNodeId) {
    std::lock_guard<std::mutex> guard(m_pImpl->m_lock);
    return m_pImpl->m_stations.erase(byNodeId) != 0 ? TRUE : FALSE;
}

DWORD CVirtualArcnetSegment::GetStationPacketCount(BYTE byNodeId) const {
    std::lock_guard<std::mutex> guard(m_pImpl->m_lock);
    auto it = m_pImpl->m_stations.find(byNodeId);
    return it != m_pImpl->m_stations.end() ? it->second->dwReceived : 0;
}

std::vector<CPacket> CVirtualArcnetSegment::GetStationPackets(BYTE byNodeId) const {
    std::lock_guard<std::mutex> guard(m_pImpl->m_lock);
    auto it = m_pImpl->m_stations.find(byNodeId);
    if (it == m_pImpl->m_stations.end()) {
        return {};
    }
    return std::vector<CPacket>(it->second->history.begin(), it->second->history.end());
}

BOOL CVirtualArcnetSegment::Send(BYTE bySource, BYTE byDestination, const CByteArray& data) {
    return m_pImpl->StationSend(bySource, byDestination, data);
}

int CVirtualArcnetSegment::InjectPackets(BYTE byCardNode, BYTE bySource, BYTE byDestination,
                                         const CByteArray& data, int nCount) {
    if (data.GetSize() > static_cast<int>(arcnet::kMaxDataLength) || nCount <= 0) {
        return 0;
    }
    return m_pImpl->Inject(byCardNode, CPacket{bySource, byDestination, data}, nCount);
}

void CVirtualArcnetSegment::SetFaults(const CFaults& faults) {
    std::lock_guard<std::mutex> guard(m_pImpl->m_lock);
    m_pImpl->m_faults = faults;
}

CVirtualArcnetSegment::CFaults CVirtualArcnetSegment::GetFaults() const {
    std::lock_guard<std::mutex> guard(m_pImpl->m_lock);
    return m_pImpl->m_faults;
}

int CVirtualArcnetSegment::GetCardCount() const {
    std::lock_guard<std::mutex> guard(m_pImpl->m_lock);
    return static_cast<int>(m_pImpl->m_cards.size());
}

BOOL CVirtualArcnetSegment::GetCardState(int nIndex, CCardState* pState) const {
    std::lock_guard<std::mutex> guard(m_pImpl->m_lock);
    if (pState == nullptr || nIndex < 0 || nIndex >= static_cast<int>(m_pImpl->m_cards.size())) {
        return FALSE;
    }
    const CardData& card = *m_pImpl->m_cards[static_cast<std::size_t>(nIndex)];
    pState->byNodeId = card.byNodeId;
    pState->bConfigured = card.bConfigured ? TRUE : FALSE;
    pState->configuration = card.bConfigured
                                ? ToByteArray(card.configuration.data(), card.configuration.size())
                                : CByteArray();
    pState->bTxEventRegistered = card.hTxEvent != platform::kNullHandle ? TRUE : FALSE;
    pState->bRxEventRegistered = card.hRxEvent != platform::kNullHandle ? TRUE : FALSE;
    pState->dwTransmissions = card.dwTransmissions;
    pState->dwBusyRefusals = card.dwBusyRefusals;
    pState->dwCancels = card.dwCancels;
    pState->dwStatusReads = card.dwStatusReads;
    pState->bAcknowledged = card.dwAcknowledged != 0 ? TRUE : FALSE;
    pState->dwPacketsWaiting = static_cast<DWORD>(card.queue.size());
    pState->dwPacketsDropped = card.dwPacketsDropped;
    return TRUE;
}

CVirtualArcnetSegment::Responder CVirtualArcnetSegment::EchoHeader(int nHeaderLength,
                                                                   const CByteArray& payload) {
    return [nHeaderLength, payload](const CPacket& packet, CByteArray* pReply) -> BOOL {
        const int nHeader = std::clamp(nHeaderLength, 0, packet.data.GetSize());
        pReply->SetSize(0);
        for (int i = 0; i < nHeader; ++i) {
            pReply->Add(packet.data.GetAt(i));
        }
        pReply->Append(payload);
        return TRUE;
    };
}
