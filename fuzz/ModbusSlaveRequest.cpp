// The TCP slave's side: a master's frame, its header checked as the slave
// checks it, and the PDU answered from the register table. Every answer is
// the request's function, or its exception, within a PDU's size.
#include <cstdint>
#include <vector>

#include "ModbusRegisterTable.h"
#include "ModbusRequestInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize) {
    static modbus::RegisterTable table;
    modbus::MbapHeader header;
    if (!modbus::ParseMbapHeader(pData, nSize, header) ||
        modbus::CheckMbapRequestHeader(header) != SE_NO_ERROR) {
        return 0;
    }
    const std::size_t nPdu = static_cast<std::size_t>(header.PduSize());
    if (nSize < modbus::kMbapSize + nPdu) {
        return 0;  // the slave waits for the rest, or drops the master
    }
    const std::uint8_t* pPdu = pData + modbus::kMbapSize;
    CByteArray reply;
    table.Answer(pPdu, nPdu, reply);
    modbusfuzz::Check(reply.GetSize() >= 2 && reply.GetSize() <= modbus::kMaxPduSize);
    modbusfuzz::Check(reply[0] == pPdu[0] || reply[0] == (pPdu[0] | modbus::kExceptionBit));
    return 0;
}
