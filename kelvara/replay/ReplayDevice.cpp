#include "kelvara/replay/ReplayDevice.h"

#include <algorithm>
#include <cstdio>

namespace kelvara::replay {

namespace {

constexpr std::size_t kKeptMismatches = 100;

std::string ByteText(int nByte) {
    if (nByte < 0) {
        return "nothing";
    }
    char text[16];
    std::snprintf(text, sizeof text, "0x%02x", static_cast<unsigned>(nByte));
    return text;
}

}  // namespace

std::string Mismatch::Describe() const {
    std::string text = "request " + std::to_string(nExchange + 1);
    if (nExpected < 0 && nPosition == 0) {
        return text + " is past the end of the recording: no reply";
    }
    text += " differs from the recording at byte " + std::to_string(nPosition) + ": expected " +
            ByteText(nExpected) + ", received " + ByteText(nReceived);
    if (nExpected < 0) {
        text += " (the request is longer than recorded)";
    } else if (nReceived < 0) {
        text += " (the request is shorter than recorded)";
    }
    return text + "; no reply";
}

ReplayDevice::ReplayDevice(Recording recording) : m_recording(std::move(recording)) {}

std::vector<Outcome> ReplayDevice::Receive(const std::uint8_t* pData, std::size_t nLength) {
    std::vector<Outcome> outcomes;
    std::function<void(const Mismatch&)> handler;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        Take(pData, nLength, outcomes);
        handler = m_handler;
    }
    // Outside the lock, so that the handler may ask the player about itself.
    for (const Outcome& outcome : outcomes) {
        if (handler && outcome.kind == Outcome::Kind::Mismatch) {
            handler(outcome.mismatch);
        }
    }
    return outcomes;
}

void ReplayDevice::Take(const std::uint8_t* pData, std::size_t nLength,
                        std::vector<Outcome>& outcomes) {
    const auto& exchanges = m_recording.m_exchanges;
    for (std::size_t i = 0; i < nLength; ++i) {
        if (m_bLoop && m_nNext == exchanges.size()) {
            m_nNext = 0;
        }
        if (m_nNext == exchanges.size()) {
            Mismatch past;
            past.nExchange = m_nNext;
            past.nReceived = pData[i];
            Report(std::move(past), &outcomes);
            return;  // the rest of the run belongs to that request
        }
        const std::vector<std::uint8_t>& expected = exchanges[m_nNext].request;
        const std::size_t nAt = m_pending.size();
        if (pData[i] != expected[nAt]) {
            Mismatch differs;
            differs.nExchange = m_nNext;
            differs.nPosition = nAt;
            differs.nExpected = expected[nAt];
            differs.nReceived = pData[i];
            differs.received = std::move(m_pending);
            differs.received.push_back(pData[i]);
            m_pending.clear();
            Report(std::move(differs), &outcomes);
            return;
        }
        m_pending.push_back(pData[i]);
        if (m_pending.size() == expected.size()) {
            NextOutcome(outcomes);
        }
    }
}

void ReplayDevice::NextOutcome(std::vector<Outcome>& outcomes) {
    const Exchange& exchange = m_recording.m_exchanges[m_nNext];
    Outcome outcome;
    outcome.nExchange = m_nNext;
    outcome.kind = exchange.bReplied ? Outcome::Kind::Reply : Outcome::Kind::Silent;
    outcome.reply = exchange.bReplied ? exchange.reply : std::vector<std::uint8_t>{};
    outcome.dwDelayMs = exchange.dwDelayMs;
    outcomes.push_back(std::move(outcome));
    m_pending.clear();
    ++m_nNext;
    ++m_nMatched;
}

std::optional<Mismatch> ReplayDevice::Quiet() {
    std::function<void(const Mismatch&)> handler;
    Mismatch shorter;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_pending.empty()) {
            return std::nullopt;
        }
        const std::vector<std::uint8_t>& expected = m_recording.m_exchanges[m_nNext].request;
        shorter.nExchange = m_nNext;
        shorter.nPosition = m_pending.size();
        shorter.nExpected = expected[m_pending.size()];
        shorter.received = std::move(m_pending);
        m_pending.clear();
        Report(shorter, nullptr);
        handler = m_handler;
    }
    if (handler) {
        handler(shorter);
    }
    return shorter;
}

void ReplayDevice::Report(Mismatch mismatch, std::vector<Outcome>* pOutcomes) {
    ++m_nMismatches;
    if (m_mismatches.size() < kKeptMismatches) {
        m_mismatches.push_back(mismatch);
    }
    if (pOutcomes != nullptr) {
        Outcome outcome;
        outcome.kind = Outcome::Kind::Mismatch;
        outcome.nExchange = mismatch.nExchange;
        outcome.mismatch = std::move(mismatch);
        pOutcomes->push_back(std::move(outcome));
    }
}

void ReplayDevice::SetLoop(bool bLoop) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_bLoop = bLoop;
}

void ReplayDevice::SetMismatchHandler(std::function<void(const Mismatch&)> handler) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_handler = std::move(handler);
}

std::size_t ReplayDevice::MatchedCount() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_nMatched;
}

std::size_t ReplayDevice::MismatchCount() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_nMismatches;
}

std::vector<Mismatch> ReplayDevice::Mismatches() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_mismatches;
}

bool ReplayDevice::IsFinished() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_nNext == m_recording.m_exchanges.size() && m_pending.empty();
}

void PlayOnFakeSerialDevice(platform::FakeSerialDevice& device, ReplayDevice& player) {
    device.SetResponder([&player](const std::vector<std::uint8_t>& bytes) {
        std::vector<std::uint8_t> answer;
        for (const Outcome& outcome : player.Receive(bytes.data(), bytes.size())) {
            answer.insert(answer.end(), outcome.reply.begin(), outcome.reply.end());
        }
        return answer;
    });
}

}  // namespace kelvara::replay
