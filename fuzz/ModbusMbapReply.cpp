// A TCP master's reply from the connection: the request the bytes make,
// then an MBAP header and the PDU it announces, checked as the TCP master
// checks them.
#include <cstdint>
#include <vector>

#include "ModbusRequestInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize) {
    FuzzedDataProvider in(pData, nSize);
    modbus::Request request;
    if (!modbusfuzz::ConsumeRequest(in, request)) {
        return 0;
    }
    const std::vector<BYTE> wire = in.ConsumeRemainingBytes<BYTE>();
    modbus::MbapHeader header;
    if (!modbus::ParseMbapHeader(wire.data(), wire.size(), header)) {
        modbusfuzz::Check(wire.size() < modbus::kMbapSize);
        return 0;
    }
    if (modbus::CheckMbapReplyHeader(header) != SE_NO_ERROR) {
        return 0;
    }
    modbusfuzz::Check(header.PduSize() >= 2 && header.PduSize() <= modbus::kMaxPduSize);
    const std::size_t nEnd = modbus::kMbapSize + static_cast<std::size_t>(header.PduSize());
    if (wire.size() < nEnd) {
        return 0;  // the master waits for the rest, or times out
    }
    CByteArray pdu;
    for (std::size_t i = modbus::kMbapSize; i < nEnd; ++i) {
        pdu.Add(wire[i]);
    }
    modbusfuzz::CheckReply(request, pdu);
    return 0;
}
