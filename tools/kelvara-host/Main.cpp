// kelvara-host: a host for any driver plug-in on the command line. It loads
// the driver with the library's own loader and drives it through the public
// interface only, as any host would: info, read, write and poll, with the
// comms log shown or recorded, and a recording's device played back.
#include <cstdio>
#include <iostream>
#include <string>

#include "Host.h"
#include "Options.h"

int main(int argc, char** argv) {
    host::Options options;
    std::string error;
    if (!host::ParseOptions(argc, argv, options, error)) {
        std::cerr << "kelvara-host: " << error << "\n(kelvara-host --help tells more)\n";
        return host::kUsageError;
    }
    switch (options.command) {
        case host::Command::Help:
            std::cout << host::kUsage;
            return host::kAllGood;
        case host::Command::Info:
            return host::RunInfo(options);
        case host::Command::Replay:
            return host::RunReplay(options);
        default:
            return host::RunTransfers(options);
    }
}
