// What kelvara-host prints: blocks, passes, statistics, as text or as one
// JSON object per line.
#pragma once

#include <kelvara/Kelvara.h>

#include <cstdint>
#include <string>
#include <vector>

#include "Options.h"

namespace host {

// A text as a JSON string, quotes included.
std::string JsonString(const std::string& text);

// A block's values, as texts of the chosen type.
std::vector<std::string> BlockValues(CComBlock& block, const ValueType& type);

// Packs value texts into block data; false with the bad value in error.
bool PackValues(const std::vector<std::string>& values, const ValueType& type, CByteArray& data,
                std::string& error);

// One line for a block, text or JSON (no line break).
std::string BlockLine(CComBlock& block, const std::string& address, const ValueType& type,
                      bool bJson);

// Counters of a run, from the driver and from the host's own clock.
struct RunTotals {
    unsigned long nPasses = 0;
    unsigned long nBlocks = 0;
    unsigned long nFailed = 0;
    std::uint32_t nElapsedMs = 0;
    bool bInterrupted = false;
};

// The statistics at the end, text (several lines) or JSON (one line).
std::string StatisticsText(CProtocol& driver, const RunTotals& totals, bool bJson);

}  // namespace host
