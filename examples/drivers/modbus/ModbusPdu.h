// What every Modbus example shares: the function and exception codes, the
// CRC of serial frames, the MBAP header of TCP frames, the address format
// drivers give to the host, and the request and reply PDUs (function code
// and data, without the node id, checksum or MBAP header around them).
//
// Data in a block, both ways: a register is two bytes, low byte first (the
// host's order, as for a 16-bit value of data type 2); a coil or discrete
// input is one byte, 0 for off and 1 for on (any nonzero byte writes on).
// The PDU itself carries registers high byte first, as Modbus does.
#pragma once

#include <kelvara/Kelvara.h>

#include <cstddef>

namespace modbus {

// Function codes this library's examples speak.
constexpr BYTE kReadCoils = 0x01;
constexpr BYTE kReadDiscreteInputs = 0x02;
constexpr BYTE kReadHoldingRegisters = 0x03;
constexpr BYTE kReadInputRegisters = 0x04;
constexpr BYTE kWriteSingleCoil = 0x05;
constexpr BYTE kWriteSingleRegister = 0x06;
constexpr BYTE kWriteMultipleCoils = 0x0F;
constexpr BYTE kWriteMultipleRegisters = 0x10;
// A device that refuses a request answers with this bit set in the function
// code and an exception code after it.
constexpr BYTE kExceptionBit = 0x80;

// Exception codes a device may answer with.
constexpr BYTE kIllegalFunction = 0x01;
constexpr BYTE kIllegalDataAddress = 0x02;
constexpr BYTE kIllegalDataValue = 0x03;
constexpr BYTE kServerDeviceFailure = 0x04;
constexpr BYTE kAcknowledge = 0x05;
constexpr BYTE kServerDeviceBusy = 0x06;
constexpr BYTE kMemoryParityError = 0x08;
constexpr BYTE kGatewayPathUnavailable = 0x0A;
constexpr BYTE kGatewayTargetFailedToRespond = 0x0B;

// The English name of an exception code, for the block's device error text.
const char* ExceptionText(BYTE code);

// Most points one request may carry: a PDU holds at most 253 bytes.
constexpr DWORD kMaxReadBits = 2000;
constexpr DWORD kMaxReadRegisters = 125;
constexpr DWORD kMaxWriteBits = 1968;
constexpr DWORD kMaxWriteRegisters = 123;
constexpr int kMaxPduSize = 253;

// CRC-16/MODBUS: polynomial 0xA001 (reflected 0x8005), start 0xFFFF, logical
// shifts, no final XOR. CCombuf::Polynomial_LRC shifts arithmetically and so
// gives other values: serial Modbus frames need this one. Sent low byte first.
WORD Crc16(const BYTE* data, std::size_t size);
// Appends the CRC of the whole frame, low byte first.
void AppendCrc(CByteArray& frame);
// The frame is at least four bytes and ends with the CRC of what precedes it.
bool CrcMatches(const CByteArray& frame);

// Big-endian 16-bit values, as Modbus carries them.
void PutWord(CByteArray& out, WORD value);
// The value at index and index + 1; 0 when either lies outside.
WORD GetWord(const CByteArray& in, int index);
WORD GetWord(const BYTE* data, std::size_t index);

// The MBAP header of Modbus TCP: transaction id, protocol id 0, the number
// of bytes after the length field (unit id and PDU), unit id.
constexpr int kMbapSize = 7;
void AppendMbapHeader(CByteArray& frame, WORD transactionId, BYTE unitId, int pduSize);
struct MbapHeader {
    WORD transactionId = 0;
    WORD protocolId = 0;
    WORD length = 0;
    BYTE unitId = 0;
    // Size of the PDU that follows the header, from the length field.
    int PduSize() const { return static_cast<int>(length) - 1; }
};
// False when fewer than kMbapSize bytes are given.
bool ParseMbapHeader(const BYTE* data, std::size_t size, MbapHeader& header);

// The address of a data point, as the host writes it: an area, a colon and
// the zero-based offset in decimal, e.g. HR:0 (first holding register),
// CO:17, DI:3, IR:65535. The offset steps by one from point to point.
enum class Area : int {
    Coils = 0,
    DiscreteInputs = 1,
    InputRegisters = 2,
    HoldingRegisters = 3,
};
constexpr const char* kRemoteFormat = "[T2(Area) CO DI IR HR]:[+1NVD(Offset) 0 to 65535]";
// Encoded address: the area as one byte (its position in the keyword list,
// which is the Area value), then the offset as two bytes.
constexpr const char* kRemoteAttributes = "U1U2";

struct Address {
    Area area = Area::HoldingRegisters;
    WORD offset = 0;
};
// Checks the text against kRemoteFormat and decodes it; the EDF result.
EDF_RET DecodeAddress(const char* text, Address& address);

bool IsBitArea(Area area);
bool IsWritableArea(Area area);
// Bytes one point takes in the block's data: 1 for bits, 2 for registers.
int PointSize(Area area);

// One request: what it asks for and its PDU.
struct Request {
    Area area = Area::HoldingRegisters;
    BYTE function = 0;
    WORD offset = 0;
    WORD count = 0;
    CByteArray pdu;

    bool IsWrite() const;
    // Size of the normal reply's PDU: function, byte count and data for a
    // read; five bytes for a write.
    int ExpectedReplySize() const;
};

// Builds the request for count points from the address. A read picks its
// function by the area. A write of one point uses the single-point function
// (5 or 6), a write of more the multiple-point one (15 or 16); data holds
// the block's values as described at the top.
// SE_INVALID_BLOCK when the count is 0 or more than one request carries, the
// points run past offset 65535, the area cannot be written, or data holds
// fewer bytes than count points need.
DWORD BuildRequest(const Address& address, DWORD count, ReadOrWrite direction,
                   const CByteArray& data, Request& request);

// Takes the reply PDU to request apart. For a read, data receives the
// values as described at the top; a write leaves it empty.
// Results: SE_NO_ERROR; SE_NAK_RECEIVED for an exception reply, with its
// code in exception; SE_INVALID_FORMAT for a reply that is empty, answers
// another function, has the wrong size or byte count, or does not echo a
// write as sent.
DWORD ParseReply(const Request& request, const BYTE* reply, std::size_t size, CByteArray& data,
                 BYTE& exception);

// Serial replies: [node][PDU][CRC low][CRC high], at least five bytes.
// The first three tell how long the reply is: an exception reply ends two
// bytes later (its CRC), a read reply carries its byte count, a write reply
// is eight bytes. The bytes that follow those three in rest, or
// SE_INVALID_FORMAT when they begin no reply to the request.
DWORD RtuReplyRest(const Request& request, const BYTE head[3], DWORD& rest);
// The whole reply frame from the node: its PDU, or SE_CHECKSUM_ERROR for a
// bad CRC (or a frame too short to carry one) and SE_INVALID_FORMAT for a
// good frame from another node.
DWORD UnwrapRtuReply(BYTE node, const CByteArray& frame, CByteArray& pdu);

// What a Modbus TCP master takes for the header of a reply: protocol id 0
// and room for at least a function code and one byte, within a PDU's
// size; else SE_INVALID_FORMAT.
DWORD CheckMbapReplyHeader(const MbapHeader& header);
// What a Modbus TCP slave takes for the header of a request: as for a
// reply, but a function code alone is a request (one the device refuses).
DWORD CheckMbapRequestHeader(const MbapHeader& header);

}  // namespace modbus
