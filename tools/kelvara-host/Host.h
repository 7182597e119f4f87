// The commands of kelvara-host.
#pragma once

#include "Options.h"

namespace host {

// Exit statuses.
constexpr int kAllGood = 0;
constexpr int kSomeFailed = 1;
constexpr int kUsageError = 2;

int RunInfo(const Options& options);
int RunTransfers(const Options& options);  // read, write, poll
int RunReplay(const Options& options);

}  // namespace host
