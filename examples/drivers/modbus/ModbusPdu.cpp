#include "ModbusPdu.h"

namespace modbus {

const char* ExceptionText(BYTE code) {
    switch (code) {
        case kIllegalFunction:
            return "Illegal function";
        case kIllegalDataAddress:
            return "Illegal data address";
        case kIllegalDataValue:
            return "Illegal data value";
        case kServerDeviceFailure:
            return "Server device failure";
        case kAcknowledge:
            return "Acknowledge";
        case kServerDeviceBusy:
            return "Server device busy";
        case kMemoryParityError:
            return "Memory parity error";
        case kGatewayPathUnavailable:
            return "Gateway path unavailable";
        case kGatewayTargetFailedToRespond:
            return "Gateway target device failed to respond";
        default:
            return "Unknown exception";
    }
}

WORD Crc16(const BYTE* data, std::size_t size) {
    WORD crc = 0xFFFF;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) {
            const bool carry = (crc & 1) != 0;
            crc = static_cast<WORD>(crc >> 1);
            if (carry) {
                crc ^= 0xA001;
            }
        }
    }
    return crc;
}

void AppendCrc(CByteArray& frame) {
    const WORD crc = Crc16(frame.GetData(), static_cast<std::size_t>(frame.GetSize()));
    frame.Add(static_cast<BYTE>(crc & 0xFF));
    frame.Add(static_cast<BYTE>(crc >> 8));
}

bool CrcMatches(const CByteArray& frame) {
    const int size = frame.GetSize();
    if (size < 4) {
        return false;
    }
    const WORD crc = Crc16(frame.GetData(), static_cast<std::size_t>(size - 2));
    return frame[size - 2] == (crc & 0xFF) && frame[size - 1] == (crc >> 8);
}

void PutWord(CByteArray& out, WORD value) {
    out.Add(static_cast<BYTE>(value >> 8));
    out.Add(static_cast<BYTE>(value & 0xFF));
}

WORD GetWord(const CByteArray& in, int index) {
    if (index < 0 || index + 1 >= in.GetSize()) {
        return 0;
    }
    return GetWord(in.GetData(), static_cast<std::size_t>(index));
}

WORD GetWord(const BYTE* data, std::size_t index) {
    return static_cast<WORD>(data[index] << 8 | data[index + 1]);
}

void AppendMbapHeader(CByteArray& frame, WORD transactionId, BYTE unitId, int pduSize) {
    PutWord(frame, transactionId);
    PutWord(frame, 0);
    PutWord(frame, static_cast<WORD>(pduSize + 1));
    frame.Add(unitId);
}

bool ParseMbapHeader(const BYTE* data, std::size_t size, MbapHeader& header) {
    if (size < static_cast<std::size_t>(kMbapSize)) {
        return false;
    }
    header.transactionId = GetWord(data, 0);
    header.protocolId = GetWord(data, 2);
    header.length = GetWord(data, 4);
    header.unitId = data[6];
    return true;
}

EDF_RET DecodeAddress(const char* text, Address& address) {
    CRemoteAddress remote(text, kRemoteFormat, kRemoteAttributes);
    const EDF_RET result = remote.Validate();
    if (result != EDF_OK) {
        return result;
    }
    // The encoded form already has the area as a number and the offset as a
    // 16-bit value, so there is no text to convert here.
    CByteArray encoded;
    if (remote.Compress(encoded) != EDF_OK || encoded.GetSize() != 3) {
        return EDF_FAILED;
    }
    address.area = static_cast<Area>(encoded[0]);
    address.offset = static_cast<WORD>(encoded[1] | encoded[2] << 8);
    return EDF_OK;
}

bool IsBitArea(Area area) {
    return area == Area::Coils || area == Area::DiscreteInputs;
}

bool IsWritableArea(Area area) {
    return area == Area::Coils || area == Area::HoldingRegisters;
}

int PointSize(Area area) {
    return IsBitArea(area) ? 1 : 2;
}

bool Request::IsWrite() const {
    return function == kWriteSingleCoil || function == kWriteSingleRegister ||
           function == kWriteMultipleCoils || function == kWriteMultipleRegisters;
}

int Request::ExpectedReplySize() const {
    if (IsWrite()) {
        return 5;
    }
    const int dataBytes = IsBitArea(area) ? (count + 7) / 8 : 2 * count;
    return 2 + dataBytes;
}

namespace {

BYTE ReadFunction(Area area) {
    switch (area) {
        case Area::Coils:
            return kReadCoils;
        case Area::DiscreteInputs:
            return kReadDiscreteInputs;
        case Area::InputRegisters:
            return kReadInputRegisters;
        case Area::HoldingRegisters:
            break;
    }
    return kReadHoldingRegisters;
}

DWORD MaxCount(Area area, ReadOrWrite direction) {
    if (direction == RW_WRITE) {
        return IsBitArea(area) ? kMaxWriteBits : kMaxWriteRegisters;
    }
    return IsBitArea(area) ? kMaxReadBits : kMaxReadRegisters;
}

// Register i of the block's data, which holds it low byte first.
WORD BlockRegister(const CByteArray& data, int i) {
    return static_cast<WORD>(data[2 * i] | data[2 * i + 1] << 8);
}

void BuildWrite(const CByteArray& data, Request& request) {
    CByteArray& pdu = request.pdu;
    const int count = request.count;
    if (count == 1) {
        request.function = IsBitArea(request.area) ? kWriteSingleCoil : kWriteSingleRegister;
        pdu.Add(request.function);
        PutWord(pdu, request.offset);
        // A single coil is written as FF00 (on) or 0000 (off).
        PutWord(pdu, IsBitArea(request.area) ? (data[0] != 0 ? 0xFF00 : 0x0000)
                                             : BlockRegister(data, 0));
        return;
    }
    request.function = IsBitArea(request.area) ? kWriteMultipleCoils : kWriteMultipleRegisters;
    pdu.Add(request.function);
    PutWord(pdu, request.offset);
    PutWord(pdu, request.count);
    if (IsBitArea(request.area)) {
        // Coils go eight to a byte, the first coil in the lowest bit.
        const int bytes = (count + 7) / 8;
        pdu.Add(static_cast<BYTE>(bytes));
        for (int b = 0; b < bytes; ++b) {
            BYTE packed = 0;
            for (int bit = 0; bit < 8 && b * 8 + bit < count; ++bit) {
                if (data[b * 8 + bit] != 0) {
                    packed = static_cast<BYTE>(packed | 1 << bit);
                }
            }
            pdu.Add(packed);
        }
        return;
    }
    pdu.Add(static_cast<BYTE>(2 * count));
    for (int i = 0; i < count; ++i) {
        PutWord(pdu, BlockRegister(data, i));
    }
}

}  // namespace

DWORD BuildRequest(const Address& address, DWORD count, ReadOrWrite direction,
                   const CByteArray& data, Request& request) {
    if (count == 0 || count > MaxCount(address.area, direction) ||
        address.offset + count > 0x10000) {
        return SE_INVALID_BLOCK;
    }
    // Field by field rather than from a new Request, so that the PDU keeps
    // the room it had for a request that is built again.
    request.function = 0;
    request.pdu.RemoveAll();
    request.area = address.area;
    request.offset = address.offset;
    request.count = static_cast<WORD>(count);
    if (direction == RW_WRITE) {
        if (!IsWritableArea(address.area) ||
            data.GetSize() < static_cast<int>(count) * PointSize(address.area)) {
            return SE_INVALID_BLOCK;
        }
        BuildWrite(data, request);
        return SE_NO_ERROR;
    }
    request.function = ReadFunction(address.area);
    request.pdu.Add(request.function);
    PutWord(request.pdu, request.offset);
    PutWord(request.pdu, request.count);
    return SE_NO_ERROR;
}

DWORD ParseReply(const Request& request, const BYTE* reply, std::size_t size, CByteArray& data,
                 BYTE& exception) {
    data.RemoveAll();
    if (size == 0) {
        return SE_INVALID_FORMAT;
    }
    if (reply[0] == (request.function | kExceptionBit)) {
        if (size != 2) {
            return SE_INVALID_FORMAT;
        }
        exception = reply[1];
        return SE_NAK_RECEIVED;
    }
    if (reply[0] != request.function ||
        size != static_cast<std::size_t>(request.ExpectedReplySize())) {
        return SE_INVALID_FORMAT;
    }
    if (request.IsWrite()) {
        // A single write echoes the request whole; a multiple write echoes
        // its offset and count.
        for (std::size_t i = 1; i < 5; ++i) {
            if (reply[i] != request.pdu[static_cast<int>(i)]) {
                return SE_INVALID_FORMAT;
            }
        }
        return SE_NO_ERROR;
    }
    if (reply[1] != size - 2) {
        return SE_INVALID_FORMAT;
    }
    const BYTE* values = reply + 2;
    if (IsBitArea(request.area)) {
        for (int i = 0; i < request.count; ++i) {
            data.Add(static_cast<BYTE>(values[i / 8] >> (i % 8) & 1));
        }
        return SE_NO_ERROR;
    }
    for (int i = 0; i < request.count; ++i) {
        const WORD value = GetWord(values, static_cast<std::size_t>(2 * i));
        data.Add(static_cast<BYTE>(value & 0xFF));
        data.Add(static_cast<BYTE>(value >> 8));
    }
    return SE_NO_ERROR;
}

DWORD RtuReplyRest(const Request& request, const BYTE head[3], DWORD& rest) {
    rest = 0;
    if (head[1] == (request.function | kExceptionBit)) {
        rest = 2;
    } else if (head[1] != request.function) {
        return SE_INVALID_FORMAT;
    } else if (request.IsWrite()) {
        rest = 5;
    } else {
        rest = head[2] + 2u;
    }
    return SE_NO_ERROR;
}

DWORD UnwrapRtuReply(BYTE node, const CByteArray& frame, CByteArray& pdu) {
    if (frame.GetSize() < 4 || !CrcMatches(frame)) {
        return SE_CHECKSUM_ERROR;
    }
    if (frame[0] != node) {
        return SE_INVALID_FORMAT;
    }
    pdu.SetSize(0);
    for (int i = 1; i < frame.GetSize() - 2; ++i) {
        pdu.Add(frame[i]);
    }
    return SE_NO_ERROR;
}

DWORD CheckMbapRequestHeader(const MbapHeader& header) {
    return header.protocolId != 0 || header.PduSize() < 1 || header.PduSize() > kMaxPduSize
               ? static_cast<DWORD>(SE_INVALID_FORMAT)
               : static_cast<DWORD>(SE_NO_ERROR);
}

DWORD CheckMbapReplyHeader(const MbapHeader& header) {
    return header.protocolId != 0 || header.PduSize() < 2 || header.PduSize() > kMaxPduSize
               ? static_cast<DWORD>(SE_INVALID_FORMAT)
               : static_cast<DWORD>(SE_NO_ERROR);
}

}  // namespace modbus
