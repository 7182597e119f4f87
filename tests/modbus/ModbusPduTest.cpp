// The Modbus code the examples share: checksum, headers, addresses, and
// the request and reply PDUs, against frames published for Modbus.
#include <gtest/gtest.h>

#include <initializer_list>

#include "ModbusPdu.h"

namespace {

CByteArray Bytes(std::initializer_list<int> values) {
    CByteArray out;
    for (int v : values) {
        out.Add(static_cast<BYTE>(v));
    }
    return out;
}

// Compares as integers so that a failure prints readable values.
void ExpectBytes(const CByteArray& actual, std::initializer_list<int> expected) {
    ASSERT_EQ(actual.GetSize(), static_cast<int>(expected.size()));
    int i = 0;
    for (int v : expected) {
        EXPECT_EQ(actual[i], v) << "byte " << i;
        ++i;
    }
}

modbus::Request MakeRequest(const char* address, DWORD count, ReadOrWrite direction,
                            const CByteArray& data = CByteArray()) {
    modbus::Address decoded;
    EXPECT_EQ(modbus::DecodeAddress(address, decoded), EDF_OK) << address;
    modbus::Request request;
    EXPECT_EQ(modbus::BuildRequest(decoded, count, direction, data, request), SE_NO_ERROR);
    return request;
}

DWORD Parse(const modbus::Request& request, const CByteArray& reply, CByteArray& data,
            BYTE& exception) {
    return modbus::ParseReply(request, reply.GetData(), static_cast<std::size_t>(reply.GetSize()),
                              data, exception);
}

TEST(ModbusCrc, MatchesPublishedFrames) {
    const char* check = "123456789";
    EXPECT_EQ(modbus::Crc16(reinterpret_cast<const BYTE*>(check), 9), 0x4B37);

    CByteArray readTen = Bytes({0x01, 0x03, 0x00, 0x00, 0x00, 0x0A});
    modbus::AppendCrc(readTen);
    ExpectBytes(readTen, {0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xC5, 0xCD});

    CByteArray readThree = Bytes({0x11, 0x03, 0x00, 0x6B, 0x00, 0x03});
    modbus::AppendCrc(readThree);
    ExpectBytes(readThree, {0x11, 0x03, 0x00, 0x6B, 0x00, 0x03, 0x76, 0x87});

    CByteArray shortFrame = Bytes({0x02, 0x07});
    modbus::AppendCrc(shortFrame);
    ExpectBytes(shortFrame, {0x02, 0x07, 0x41, 0x12});
}

TEST(ModbusCrc, RejectsDamagedAndTooShortFrames) {
    CByteArray frame = Bytes({0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xC5, 0xCD});
    EXPECT_TRUE(modbus::CrcMatches(frame));
    frame[3] = 0x01;
    EXPECT_FALSE(modbus::CrcMatches(frame));
    // Swapped CRC bytes: the high byte first is wrong.
    EXPECT_FALSE(modbus::CrcMatches(Bytes({0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xCD, 0xC5})));
    EXPECT_FALSE(modbus::CrcMatches(Bytes({0x02, 0x07, 0x41})));
    EXPECT_FALSE(modbus::CrcMatches(CByteArray()));
}

TEST(ModbusWords, BigEndianAndBoundsChecked) {
    CByteArray out;
    modbus::PutWord(out, 0x1234);
    ExpectBytes(out, {0x12, 0x34});
    EXPECT_EQ(modbus::GetWord(out, 0), 0x1234);
    EXPECT_EQ(modbus::GetWord(out, 1), 0);
    EXPECT_EQ(modbus::GetWord(out, -1), 0);
}

TEST(ModbusMbap, HeaderRoundTripsAndNeedsSevenBytes) {
    CByteArray frame;
    modbus::AppendMbapHeader(frame, 0xBEEF, 0x11, 5);
    ExpectBytes(frame, {0xBE, 0xEF, 0x00, 0x00, 0x00, 0x06, 0x11});
    modbus::MbapHeader header;
    ASSERT_TRUE(modbus::ParseMbapHeader(frame.GetData(), 7, header));
    EXPECT_EQ(header.transactionId, 0xBEEF);
    EXPECT_EQ(header.protocolId, 0);
    EXPECT_EQ(header.unitId, 0x11);
    EXPECT_EQ(header.PduSize(), 5);
    EXPECT_FALSE(modbus::ParseMbapHeader(frame.GetData(), 6, header));
}

TEST(ModbusAddress, DecodesEveryAreaAndRejectsBadText) {
    modbus::Address address;
    ASSERT_EQ(modbus::DecodeAddress("HR:0", address), EDF_OK);
    EXPECT_EQ(address.area, modbus::Area::HoldingRegisters);
    EXPECT_EQ(address.offset, 0);
    ASSERT_EQ(modbus::DecodeAddress("CO:17", address), EDF_OK);
    EXPECT_EQ(address.area, modbus::Area::Coils);
    EXPECT_EQ(address.offset, 17);
    ASSERT_EQ(modbus::DecodeAddress("DI:3", address), EDF_OK);
    EXPECT_EQ(address.area, modbus::Area::DiscreteInputs);
    ASSERT_EQ(modbus::DecodeAddress("IR:65535", address), EDF_OK);
    EXPECT_EQ(address.area, modbus::Area::InputRegisters);
    EXPECT_EQ(address.offset, 65535);

    EXPECT_EQ(modbus::DecodeAddress("HR:65536", address), EDF_OUT_OF_RANGE);
    EXPECT_EQ(modbus::DecodeAddress("XX:1", address), EDF_NOT_A_KEYWORD);
    EXPECT_EQ(modbus::DecodeAddress("HR1", address), EDF_LITERAL_MISMATCH);
    EXPECT_EQ(modbus::DecodeAddress("HR:1x", address), EDF_EXTRA_CHARACTERS);
    EXPECT_NE(modbus::DecodeAddress("", address), EDF_OK);
}

TEST(ModbusRequest, ReadsPickTheFunctionByArea) {
    ExpectBytes(MakeRequest("HR:0", 10, RW_READ).pdu, {0x03, 0x00, 0x00, 0x00, 0x0A});
    ExpectBytes(MakeRequest("IR:8", 1, RW_READ).pdu, {0x04, 0x00, 0x08, 0x00, 0x01});
    ExpectBytes(MakeRequest("CO:19", 37, RW_READ).pdu, {0x01, 0x00, 0x13, 0x00, 0x25});
    ExpectBytes(MakeRequest("DI:196", 22, RW_READ).pdu, {0x02, 0x00, 0xC4, 0x00, 0x16});
    EXPECT_EQ(MakeRequest("CO:19", 37, RW_READ).ExpectedReplySize(), 2 + 5);
    EXPECT_EQ(MakeRequest("HR:0", 10, RW_READ).ExpectedReplySize(), 2 + 20);
}

TEST(ModbusRequest, OnePointWritesSingleMoreWriteMultiple) {
    ExpectBytes(MakeRequest("CO:172", 1, RW_WRITE, Bytes({1})).pdu, {0x05, 0x00, 0xAC, 0xFF, 0x00});
    ExpectBytes(MakeRequest("CO:172", 1, RW_WRITE, Bytes({0})).pdu, {0x05, 0x00, 0xAC, 0x00, 0x00});
    // Block data hold registers low byte first; the PDU high byte first.
    ExpectBytes(MakeRequest("HR:1", 1, RW_WRITE, Bytes({0x03, 0x00})).pdu,
                {0x06, 0x00, 0x01, 0x00, 0x03});
    ExpectBytes(MakeRequest("HR:1", 2, RW_WRITE, Bytes({0x0A, 0x00, 0x02, 0x01})).pdu,
                {0x10, 0x00, 0x01, 0x00, 0x02, 0x04, 0x00, 0x0A, 0x01, 0x02});
    // Ten coils 1,0,1,1,0,0,1,1, 1,0: CD 01 on the wire.
    ExpectBytes(MakeRequest("CO:19", 10, RW_WRITE, Bytes({1, 0, 1, 1, 0, 0, 1, 1, 1, 0})).pdu,
                {0x0F, 0x00, 0x13, 0x00, 0x0A, 0x02, 0xCD, 0x01});
    EXPECT_EQ(MakeRequest("HR:1", 2, RW_WRITE, Bytes({0, 0, 0, 0})).ExpectedReplySize(), 5);
}

TEST(ModbusRequest, RefusesWhatNoRequestCanCarry) {
    modbus::Request request;
    const CByteArray none;
    const modbus::Address hr{modbus::Area::HoldingRegisters, 0};
    EXPECT_EQ(modbus::BuildRequest(hr, 0, RW_READ, none, request), SE_INVALID_BLOCK);
    EXPECT_EQ(modbus::BuildRequest(hr, 125, RW_READ, none, request), SE_NO_ERROR);
    EXPECT_EQ(modbus::BuildRequest(hr, 126, RW_READ, none, request), SE_INVALID_BLOCK);
    const modbus::Address co{modbus::Area::Coils, 0};
    EXPECT_EQ(modbus::BuildRequest(co, 2000, RW_READ, none, request), SE_NO_ERROR);
    EXPECT_EQ(modbus::BuildRequest(co, 2001, RW_READ, none, request), SE_INVALID_BLOCK);
    // Past the last offset.
    const modbus::Address last{modbus::Area::HoldingRegisters, 65535};
    EXPECT_EQ(modbus::BuildRequest(last, 1, RW_READ, none, request), SE_NO_ERROR);
    EXPECT_EQ(modbus::BuildRequest(last, 2, RW_READ, none, request), SE_INVALID_BLOCK);
    // Read-only areas, and writes without enough data.
    const modbus::Address ir{modbus::Area::InputRegisters, 0};
    EXPECT_EQ(modbus::BuildRequest(ir, 1, RW_WRITE, Bytes({0, 0}), request), SE_INVALID_BLOCK);
    EXPECT_EQ(modbus::BuildRequest(hr, 2, RW_WRITE, Bytes({0, 0, 0}), request), SE_INVALID_BLOCK);
    EXPECT_EQ(modbus::BuildRequest(hr, 124, RW_WRITE, CByteArray(), request), SE_INVALID_BLOCK);
}

TEST(ModbusReply, ReadsGiveBlockData) {
    CByteArray data;
    BYTE exception = 0;
    const modbus::Request regs = MakeRequest("HR:107", 3, RW_READ);
    ASSERT_EQ(Parse(regs, Bytes({0x03, 0x06, 0x02, 0x2B, 0x00, 0x00, 0x00, 0x64}), data, exception),
              SE_NO_ERROR);
    ExpectBytes(data, {0x2B, 0x02, 0x00, 0x00, 0x64, 0x00});

    const modbus::Request coils = MakeRequest("CO:19", 10, RW_READ);
    ASSERT_EQ(Parse(coils, Bytes({0x01, 0x02, 0xCD, 0xFD}), data, exception), SE_NO_ERROR);
    // Only the bits asked for; the padding bits of the last byte are dropped.
    ExpectBytes(data, {1, 0, 1, 1, 0, 0, 1, 1, 1, 0});
}

TEST(ModbusReply, MalformedReadsAreFormatErrors) {
    CByteArray data;
    BYTE exception = 0;
    const modbus::Request regs = MakeRequest("HR:0", 2, RW_READ);
    EXPECT_EQ(Parse(regs, CByteArray(), data, exception), SE_INVALID_FORMAT);
    EXPECT_EQ(Parse(regs, Bytes({0x03}), data, exception), SE_INVALID_FORMAT);
    // Short by one byte, long by one byte, byte count disagreeing with size.
    EXPECT_EQ(Parse(regs, Bytes({0x03, 0x04, 0x00, 0x01, 0x00}), data, exception),
              SE_INVALID_FORMAT);
    EXPECT_EQ(Parse(regs, Bytes({0x03, 0x04, 0x00, 0x01, 0x00, 0x02, 0x00}), data, exception),
              SE_INVALID_FORMAT);
    EXPECT_EQ(Parse(regs, Bytes({0x03, 0x05, 0x00, 0x01, 0x00, 0x02}), data, exception),
              SE_INVALID_FORMAT);
    // An answer to another function.
    EXPECT_EQ(Parse(regs, Bytes({0x04, 0x04, 0x00, 0x01, 0x00, 0x02}), data, exception),
              SE_INVALID_FORMAT);
    EXPECT_EQ(data.GetSize(), 0);
}

TEST(ModbusReply, ExceptionRepliesCarryTheirCode) {
    CByteArray data;
    BYTE exception = 0;
    const modbus::Request regs = MakeRequest("HR:0", 2, RW_READ);
    EXPECT_EQ(Parse(regs, Bytes({0x83, 0x02}), data, exception), SE_NAK_RECEIVED);
    EXPECT_EQ(exception, modbus::kIllegalDataAddress);
    EXPECT_STREQ(modbus::ExceptionText(exception), "Illegal data address");
    // An exception reply must be function and code, nothing more or less.
    EXPECT_EQ(Parse(regs, Bytes({0x83}), data, exception), SE_INVALID_FORMAT);
    EXPECT_EQ(Parse(regs, Bytes({0x83, 0x02, 0x00}), data, exception), SE_INVALID_FORMAT);
    // The exception bit on another function is a wrong reply, not a refusal.
    EXPECT_EQ(Parse(regs, Bytes({0x84, 0x02}), data, exception), SE_INVALID_FORMAT);
}

TEST(ModbusReply, WritesMustEchoTheRequest) {
    CByteArray data;
    BYTE exception = 0;
    const modbus::Request single = MakeRequest("HR:1", 1, RW_WRITE, Bytes({0x03, 0x00}));
    EXPECT_EQ(Parse(single, Bytes({0x06, 0x00, 0x01, 0x00, 0x03}), data, exception), SE_NO_ERROR);
    EXPECT_EQ(Parse(single, Bytes({0x06, 0x00, 0x01, 0x00, 0x04}), data, exception),
              SE_INVALID_FORMAT);
    const modbus::Request multiple = MakeRequest("HR:1", 2, RW_WRITE, Bytes({1, 0, 2, 0}));
    EXPECT_EQ(Parse(multiple, Bytes({0x10, 0x00, 0x01, 0x00, 0x02}), data, exception), SE_NO_ERROR);
    EXPECT_EQ(Parse(multiple, Bytes({0x10, 0x00, 0x01, 0x00, 0x01}), data, exception),
              SE_INVALID_FORMAT);
    EXPECT_EQ(Parse(multiple, Bytes({0x10, 0x00, 0x01, 0x00}), data, exception), SE_INVALID_FORMAT);
}

}  // namespace
