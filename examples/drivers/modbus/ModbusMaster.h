// The part of a Modbus master driver that does not depend on the line:
// the road of one block from its address to its data or error. The RTU and
// the TCP driver differ only in how one request goes out and its reply
// comes back, which they hand in as a function.
#pragma once

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "ModbusPdu.h"

namespace modbus {

// Sends the request PDU to the device and gives back the reply PDU (no
// node id, checksum or header): SE_NO_ERROR, or the code of what went wrong
// on the way (time-out, checksum, transport errors, a malformed frame).
using Exchange = std::function<DWORD(const Request& request, CByteArray& reply)>;

// The addresses a driver has decoded, by their text: a host reads the same
// blocks again and again, and checking a text against the address format
// costs more than the exchange's own work. Only good addresses are kept;
// one driver's thread uses it.
class AddressCache {
public:
    // DecodeAddress, or what it gave for the same text before.
    EDF_RET Decode(const char* text, Address& address);

private:
    // A host with more distinct addresses than this on one driver starts
    // the cache afresh rather than letting it grow without end.
    static constexpr std::size_t kMaxEntries = 4096;
    std::map<std::string, Address, std::less<>> m_entries;
};

// What a driver keeps from block to block so that a block costs no new
// buffers: the decoded addresses, the request, the reply and the data.
struct BlockWork {
    AddressCache addresses;
    Request request;
    CByteArray values;
    CByteArray reply;
    CByteArray data;
};

// Runs one block of the host through the driver: decodes the block's
// first address, builds the request, exchanges it up to 1 + nRetries times
// (each repeat counted as a retry), then stores the data and marks the
// block good, or stores the error and marks it bad. An exception reply is
// not repeated: it sets the standard code SE_NAK_RECEIVED and the device
// error (the exception code and its name). The block's com time is the
// time taken. Returns the block's standard error code.
// The caller then calls its base class's TransferData to count the block.
// work is the driver's own, used by its thread only.
DWORD TransferBlock(CProtocol& protocol, CComBlock* pBlock, DWORD nRetries,
                    const Exchange& exchange, BlockWork& work);

// For the drivers' ValidateRemoteAddress: the address text checked against
// kRemoteFormat, whatever format the address object carries (EDF_RET).
DWORD ValidateAddress(const CRemoteAddress* pAddress);
// For the drivers' GetMaxBlockSize: the most points one block at the
// address may hold, whether it is read or written; 0 for a bad address.
DWORD MaxBlockSize(const CRemoteAddress* pAddress);

// Milliseconds from now to the time point, at least 0, rounded up so that
// a wait for it does not end just before it.
inline int MsUntil(std::chrono::steady_clock::time_point until) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
    return static_cast<int>(std::clamp<long long>(left.count(), 0, 0x7FFFFFFF));
}

}  // namespace modbus
