#include "ModbusRegisterTable.h"

namespace modbus {

namespace {

// The reply that refuses a request.
void Refuse(BYTE function, BYTE code, CByteArray& reply) {
    reply.RemoveAll();
    reply.Add(static_cast<BYTE>(function | kExceptionBit));
    reply.Add(code);
}

// A single write is answered by echoing the request.
void Echo(const BYTE* request, std::size_t size, CByteArray& reply) {
    reply.RemoveAll();
    for (std::size_t i = 0; i < size; ++i) {
        reply.Add(request[i]);
    }
}

// Function, first offset and count: a multiple write's reply, and every
// read request.
constexpr std::size_t kFixedRequestSize = 5;
// A multiple write adds a byte count before its values.
constexpr std::size_t kWriteHeaderSize = 6;

constexpr WORD kCoilOn = 0xFF00;
constexpr WORD kCoilOff = 0x0000;

}  // namespace

RegisterTable::RegisterTable()
    : m_coils(kSize), m_discreteInputs(kSize), m_inputRegisters(kSize), m_holdingRegisters(kSize) {}

bool RegisterTable::InTable(DWORD first, DWORD count) {
    return count > 0 && first < static_cast<DWORD>(kSize) &&
           count <= static_cast<DWORD>(kSize) - first;
}

std::vector<BYTE>& RegisterTable::Bits(Area area) {
    return area == Area::Coils ? m_coils : m_discreteInputs;
}

std::vector<WORD>& RegisterTable::Registers(Area area) {
    return area == Area::HoldingRegisters ? m_holdingRegisters : m_inputRegisters;
}

void RegisterTable::Answer(const BYTE* request, std::size_t size, CByteArray& reply) {
    reply.RemoveAll();
    if (request == nullptr || size == 0) {
        return;
    }
    std::lock_guard<std::mutex> guard(m_lock);
    switch (request[0]) {
        case kReadCoils:
            return ReadBits(Area::Coils, request, size, reply);
        case kReadDiscreteInputs:
            return ReadBits(Area::DiscreteInputs, request, size, reply);
        case kReadHoldingRegisters:
            return ReadRegisters(Area::HoldingRegisters, request, size, reply);
        case kReadInputRegisters:
            return ReadRegisters(Area::InputRegisters, request, size, reply);
        case kWriteSingleCoil:
            return WriteSingleCoil(request, size, reply);
        case kWriteSingleRegister:
            return WriteSingleRegister(request, size, reply);
        case kWriteMultipleCoils:
            return WriteMultipleCoils(request, size, reply);
        case kWriteMultipleRegisters:
            return WriteMultipleRegisters(request, size, reply);
        default:
            return Refuse(request[0], kIllegalFunction, reply);
    }
}

// The checks below come in the order the Modbus application protocol gives:
// first the request's own shape and count (illegal data value), then whether
// the points exist (illegal data address).

bool RegisterTable::AcceptRead(const BYTE* request, std::size_t size, DWORD dwMaxCount,
                               CByteArray& reply) {
    const BYTE function = request[0];
    if (size != kFixedRequestSize) {
        Refuse(function, kIllegalDataValue, reply);
        return false;
    }
    const WORD count = GetWord(request, 3);
    if (count == 0 || count > dwMaxCount) {
        Refuse(function, kIllegalDataValue, reply);
        return false;
    }
    if (!InTable(GetWord(request, 1), count)) {
        Refuse(function, kIllegalDataAddress, reply);
        return false;
    }
    return true;
}

void RegisterTable::ReadBits(Area area, const BYTE* request, std::size_t size, CByteArray& reply) {
    if (!AcceptRead(request, size, kMaxReadBits, reply)) {
        return;
    }
    const WORD first = GetWord(request, 1);
    const WORD count = GetWord(request, 3);
    // Eight points to a byte, the first point in the lowest bit.
    const std::vector<BYTE>& bits = Bits(area);
    const int bytes = (count + 7) / 8;
    reply.Add(request[0]);
    reply.Add(static_cast<BYTE>(bytes));
    for (int b = 0; b < bytes; ++b) {
        BYTE packed = 0;
        for (int bit = 0; bit < 8 && b * 8 + bit < count; ++bit) {
            if (bits[static_cast<std::size_t>(first + b * 8 + bit)] != 0) {
                packed = static_cast<BYTE>(packed | 1 << bit);
            }
        }
        reply.Add(packed);
    }
}

void RegisterTable::ReadRegisters(Area area, const BYTE* request, std::size_t size,
                                  CByteArray& reply) {
    if (!AcceptRead(request, size, kMaxReadRegisters, reply)) {
        return;
    }
    const WORD first = GetWord(request, 1);
    const WORD count = GetWord(request, 3);
    const std::vector<WORD>& registers = Registers(area);
    reply.Add(request[0]);
    reply.Add(static_cast<BYTE>(2 * count));
    for (int i = 0; i < count; ++i) {
        PutWord(reply, registers[static_cast<std::size_t>(first + i)]);
    }
}

void RegisterTable::WriteSingleCoil(const BYTE* request, std::size_t size, CByteArray& reply) {
    if (size != kFixedRequestSize) {
        return Refuse(kWriteSingleCoil, kIllegalDataValue, reply);
    }
    const WORD offset = GetWord(request, 1);
    const WORD value = GetWord(request, 3);
    if (value != kCoilOn && value != kCoilOff) {
        return Refuse(kWriteSingleCoil, kIllegalDataValue, reply);
    }
    if (!InTable(offset, 1)) {
        return Refuse(kWriteSingleCoil, kIllegalDataAddress, reply);
    }
    m_coils[offset] = value == kCoilOn ? 1 : 0;
    Echo(request, size, reply);
}

void RegisterTable::WriteSingleRegister(const BYTE* request, std::size_t size, CByteArray& reply) {
    if (size != kFixedRequestSize) {
        return Refuse(kWriteSingleRegister, kIllegalDataValue, reply);
    }
    const WORD offset = GetWord(request, 1);
    if (!InTable(offset, 1)) {
        return Refuse(kWriteSingleRegister, kIllegalDataAddress, reply);
    }
    m_holdingRegisters[offset] = GetWord(request, 3);
    Echo(request, size, reply);
}

void RegisterTable::WriteMultipleCoils(const BYTE* request, std::size_t size, CByteArray& reply) {
    if (size < kWriteHeaderSize) {
        return Refuse(kWriteMultipleCoils, kIllegalDataValue, reply);
    }
    const WORD first = GetWord(request, 1);
    const WORD count = GetWord(request, 3);
    const std::size_t bytes = request[5];
    if (count == 0 || count > kMaxWriteBits || bytes != (count + 7u) / 8 ||
        size != kWriteHeaderSize + bytes) {
        return Refuse(kWriteMultipleCoils, kIllegalDataValue, reply);
    }
    if (!InTable(first, count)) {
        return Refuse(kWriteMultipleCoils, kIllegalDataAddress, reply);
    }
    const BYTE* values = request + kWriteHeaderSize;
    for (int i = 0; i < count; ++i) {
        m_coils[static_cast<std::size_t>(first + i)] = values[i / 8] >> (i % 8) & 1;
    }
    Echo(request, kFixedRequestSize, reply);
}

void RegisterTable::WriteMultipleRegisters(const BYTE* request, std::size_t size,
                                           CByteArray& reply) {
    if (size < kWriteHeaderSize) {
        return Refuse(kWriteMultipleRegisters, kIllegalDataValue, reply);
    }
    const WORD first = GetWord(request, 1);
    const WORD count = GetWord(request, 3);
    const std::size_t bytes = request[5];
    if (count == 0 || count > kMaxWriteRegisters || bytes != 2u * count ||
        size != kWriteHeaderSize + bytes) {
        return Refuse(kWriteMultipleRegisters, kIllegalDataValue, reply);
    }
    if (!InTable(first, count)) {
        return Refuse(kWriteMultipleRegisters, kIllegalDataAddress, reply);
    }
    for (int i = 0; i < count; ++i) {
        m_holdingRegisters[static_cast<std::size_t>(first + i)] =
            GetWord(request, kWriteHeaderSize + 2 * static_cast<std::size_t>(i));
    }
    Echo(request, kFixedRequestSize, reply);
}

DWORD RegisterTable::Read(const Address& address, DWORD count, CByteArray& data) {
    if (!InTable(address.offset, count)) {
        return SE_INVALID_BLOCK;
    }
    std::lock_guard<std::mutex> guard(m_lock);
    data.RemoveAll();
    for (DWORD i = 0; i < count; ++i) {
        const std::size_t index = address.offset + i;
        if (IsBitArea(address.area)) {
            data.Add(Bits(address.area)[index]);
        } else {
            const WORD value = Registers(address.area)[index];
            data.Add(static_cast<BYTE>(value & 0xFF));
            data.Add(static_cast<BYTE>(value >> 8));
        }
    }
    return SE_NO_ERROR;
}

DWORD RegisterTable::Write(const Address& address, DWORD count, const CByteArray& data) {
    if (!InTable(address.offset, count) ||
        static_cast<DWORD>(data.GetSize()) < count * PointSize(address.area)) {
        return SE_INVALID_BLOCK;
    }
    std::lock_guard<std::mutex> guard(m_lock);
    for (DWORD i = 0; i < count; ++i) {
        const std::size_t index = address.offset + i;
        const int at = static_cast<int>(i);
        if (IsBitArea(address.area)) {
            Bits(address.area)[index] = data[at] != 0 ? 1 : 0;
        } else {
            Registers(address.area)[index] =
                static_cast<WORD>(data[2 * at] | data[2 * at + 1] << 8);
        }
    }
    return SE_NO_ERROR;
}

}  // namespace modbus
