// Waiting in tests: on a condition, with a deadline, never a fixed sleep.
#pragma once

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "kelvara/Kelvara.h"

namespace testsupport {

// Polls done() until it holds or the deadline passes; its last answer.
template <class Predicate>
bool WaitUntil(Predicate done, std::chrono::milliseconds deadline = std::chrono::seconds(20)) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Empties a comms log (a driver's or a CCommsStats); its lines, oldest
// first.
template <class LogOwner>
std::vector<std::string> DrainCommsLog(LogOwner& owner) {
    std::vector<std::string> lines;
    while (owner.GetCommsLogCount() > 0) {
        CString line;
        owner.GetFromCommsLog(&line);
        lines.emplace_back(line.GetString());
    }
    return lines;
}

}  // namespace testsupport
