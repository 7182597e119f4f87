#include "kelvara/resources/StringTable.h"

#include <iterator>

namespace {

// Ids 10000 + code are the messages of the standard error codes.
constexpr StringResourceEntry kStrings[] = {
    {10000, "No error"},
    {11100, "Com port failed to open"},
    {11101, "Com port failed to close"},
    {11102, "Com port failed to initialize"},
    {11103, "Com port failed to hang up (drop RTS)"},
    {11104, "Com port failed to get control line state"},
    {11105, "Com port failed to write"},
    {11106, "Com port failed to read"},
    {11107, "Com port not connected"},
    {11108, "Com port driver or physical hardware problem"},
    {11200, "Net port unknown error"},
    {11201, "Net port time out on acknowledge"},
    {11202, "Net port, poll list not big enough for returned data"},
    {11203, "Net port, no poll ist defined"},
    {11204, "Net port, transmitter has not sent the block"},
    {11400, "TCP/IP port, socket error"},
    {11401, "TCP/IP port, listen thread is not running"},
    {11402, "TCP/IP port not connected"},
    {11403, "TCP/IP port, failed to read from the network"},
    {11404, "TCP/IP port, failed to write to the network"},
    {11405, "TCP/IP port, socket operation would block"},
    {12000, "Function not implemented"},
    {12001, "Operation timed out"},
    {12002, "Checksum error"},
    {12003, "Received message has invalid format"},
    {12004, "Negative Acknowledge (NAK) received"},
    {12005, "Communications block is invalid"},
    {12006, "Attempt to restart protocol"},
    {12007, "Protocol has not been started"},
    {12008, "Cannot calculate (or there isn't) a next external address"},
    {12009, "Failed to create protocol property sheet"},
    {12010, "Invalid bit offset"},
    {12011, "Invalid string length"},
    {12012, "Invalid data type"},
    {12013, "Internal Protocol error - call support."},
    {12014, "%s : Reported Win32 error code %d, message \"%s\""},
    {13000, "Protocol Properties"},
    {13001, "Data"},
    {13002, "No error"},
    {13003, "The offset specified has a decimal component which is not a valid decimal number"},
    {13004,
     "The offset specified has a hexadecimal component which is not a valid hexadecimal number"},
    {13005, "The offset specified has an octal component which is not a valid octal number"},
    {13006,
     "The offset specified is out of range, the valid range is %s-%s for the selected table"},
    {13007,
     "The offset specifed contains an invalid number of characters, the correct length is %d"},
    {13008, "The offset specified is missing a delimiter %s"},
    {13009, "The offset specified does not lie on a valid offset boundary"},
    {13010,
     "The offset specified has an alphabetic component which is not between A and Z and is not "
     "a space"},
};

// Both languages carry the same texts.
constexpr StringResourceTable kTables[] = {
    {LANG_ENGLISH_UK, kStrings, std::size(kStrings)},
    {LANG_ITALIAN_ITALY, kStrings, std::size(kStrings)},
};

constexpr ResourceModule kModule = {"kelvara", kTables, std::size(kTables)};

}  // namespace

HINSTANCE KelvaraGetResourceHandle() {
    return &kModule;
}
