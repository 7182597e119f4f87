// The data of a simulated Modbus device, and the device's side of the
// protocol: it answers a master's request PDU from the table, and it lets
// the host read and write the same table with blocks' data.
//
// The four areas are kSize points each (offsets 0 to kSize - 1). A master
// may read all four and write coils and holding registers, as with a real
// device; the host may write every area, which is how it sets the inputs
// the device reports.
//
// Both sides may run at once (a slave driver answers on its own thread
// while the host's thread reads the table), so every access takes the
// table's lock.
#pragma once

#include <cstddef>
#include <mutex>
#include <vector>

#include "ModbusPdu.h"

namespace modbus {

class RegisterTable {
public:
    static constexpr int kSize = 10000;

    RegisterTable();

    // The reply PDU to a request PDU (function code and data): the normal
    // reply, or an exception reply (function | 0x80, then the code) for an
    // unknown function (01), points outside the table (02), or a request
    // whose size, count, byte count or coil value is wrong (03).
    void Answer(const BYTE* request, std::size_t size, CByteArray& reply);

    // The host's side, with data laid out as in a block (see ModbusPdu.h).
    // SE_INVALID_BLOCK when count is 0, the points run past the table, or a
    // write brings fewer bytes than count points need.
    DWORD Read(const Address& address, DWORD count, CByteArray& data);
    DWORD Write(const Address& address, DWORD count, const CByteArray& data);

private:
    // Whether count points from first lie inside the table.
    static bool InTable(DWORD first, DWORD count);

    // The checks of a read request: false when it is refused (the reply is
    // then the exception).
    static bool AcceptRead(const BYTE* request, std::size_t size, DWORD dwMaxCount,
                           CByteArray& reply);
    void ReadBits(Area area, const BYTE* request, std::size_t size, CByteArray& reply);
    void ReadRegisters(Area area, const BYTE* request, std::size_t size, CByteArray& reply);
    void WriteSingleCoil(const BYTE* request, std::size_t size, CByteArray& reply);
    void WriteSingleRegister(const BYTE* request, std::size_t size, CByteArray& reply);
    void WriteMultipleCoils(const BYTE* request, std::size_t size, CByteArray& reply);
    void WriteMultipleRegisters(const BYTE* request, std::size_t size, CByteArray& reply);

    std::vector<BYTE>& Bits(Area area);
    std::vector<WORD>& Registers(Area area);

    std::mutex m_lock;
    std::vector<BYTE> m_coils;
    std::vector<BYTE> m_discreteInputs;
    std::vector<WORD> m_inputRegisters;
    std::vector<WORD> m_holdingRegisters;
};

}  // namespace modbus
