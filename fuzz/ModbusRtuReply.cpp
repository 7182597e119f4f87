// An RTU master's reply from the line: the request the bytes make, then
// what the line brings, read as the RTU master reads it (the first three
// bytes, then as many as they announce, a short line giving what came).
#include <cstdint>
#include <vector>

#include "ModbusRequestInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize) {
    FuzzedDataProvider in(pData, nSize);
    modbus::Request request;
    if (!modbusfuzz::ConsumeRequest(in, request)) {
        return 0;
    }
    const BYTE node = in.ConsumeIntegral<BYTE>();
    const std::vector<BYTE> line = in.ConsumeRemainingBytes<BYTE>();
    if (line.size() < 3) {
        return 0;
    }
    DWORD rest = 0;
    if (modbus::RtuReplyRest(request, line.data(), rest) != SE_NO_ERROR) {
        return 0;
    }
    modbusfuzz::Check(rest >= 2 && rest <= 257);
    CByteArray frame;
    for (std::size_t i = 0; i < line.size() && i < 3 + rest; ++i) {
        frame.Add(line[i]);
    }
    CByteArray pdu;
    if (modbus::UnwrapRtuReply(node, frame, pdu) != SE_NO_ERROR) {
        return 0;
    }
    modbusfuzz::Check(pdu.GetSize() == frame.GetSize() - 3 && frame[0] == node);
    modbusfuzz::CheckReply(request, pdu);
    return 0;
}
