// The Modbus code the examples share: checksum and the request and reply
// PDUs, against frames published for Modbus.
#include <gtest/gtest.h>

#include <vector>

#include "ModbusPdu.h"

namespace {

using Ints = std::vector<int>;

CByteArray Bytes(const Ints& values) {
    CByteArray out;
    for (int v : values) {
        out.Add(static_cast<BYTE>(v));
    }
    return out;
}

Ints IntsOf(const CByteArray& bytes) {
    return Ints(bytes.GetData(), bytes.GetData() + bytes.GetSize());
}

modbus::Request MakeRequest(const char* address, DWORD count, ReadOrWrite direction,
                            const Ints& data = {}) {
    modbus::Address decoded;
    EXPECT_EQ(modbus::DecodeAddress(address, decoded), EDF_OK) << address;
    modbus::Request request;
    EXPECT_EQ(modbus::BuildRequest(decoded, count, direction, Bytes(data), request), SE_NO_ERROR);
    return request;
}

DWORD Parse(const modbus::Request& request, const Ints& reply, Ints* pData = nullptr,
            BYTE* pException = nullptr) {
    const CByteArray bytes = Bytes(reply);
    CByteArray data;
    BYTE exception = 0;
    const DWORD result = modbus::ParseReply(
        request, bytes.GetData(), static_cast<std::size_t>(bytes.GetSize()), data, exception);
    if (pData != nullptr) {
        *pData = IntsOf(data);
    }
    if (pException != nullptr) {
        *pException = exception;
    }
    return result;
}

TEST(ModbusCrc, MatchesPublishedFramesAndRejectsDamage) {
    EXPECT_EQ(modbus::Crc16(reinterpret_cast<const BYTE*>("123456789"), 9), 0x4B37);
    for (const Ints& frame :
         {Ints{0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xC5, 0xCD},
          Ints{0x11, 0x03, 0x00, 0x6B, 0x00, 0x03, 0x76, 0x87}, Ints{0x02, 0x07, 0x41, 0x12}}) {
        CByteArray built = Bytes(Ints(frame.begin(), frame.end() - 2));
        modbus::AppendCrc(built);
        EXPECT_EQ(IntsOf(built), frame);
        EXPECT_TRUE(modbus::CrcMatches(built));
    }
    EXPECT_FALSE(modbus::CrcMatches(Bytes({0x01, 0x03, 0x00, 0x01, 0x00, 0x0A, 0xC5, 0xCD})));
    // High byte first is wrong.
    EXPECT_FALSE(modbus::CrcMatches(Bytes({0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xCD, 0xC5})));
    EXPECT_FALSE(modbus::CrcMatches(Bytes({0x02, 0x07, 0x41})));
}

TEST(ModbusRequest, PicksTheFunctionByAreaAndPointCount) {
    EXPECT_EQ(IntsOf(MakeRequest("HR:0", 10, RW_READ).pdu), (Ints{0x03, 0x00, 0x00, 0x00, 0x0A}));
    EXPECT_EQ(IntsOf(MakeRequest("IR:8", 1, RW_READ).pdu), (Ints{0x04, 0x00, 0x08, 0x00, 0x01}));
    EXPECT_EQ(IntsOf(MakeRequest("CO:19", 37, RW_READ).pdu), (Ints{0x01, 0x00, 0x13, 0x00, 0x25}));
    EXPECT_EQ(IntsOf(MakeRequest("DI:196", 22, RW_READ).pdu), (Ints{0x02, 0x00, 0xC4, 0x00, 0x16}));
    EXPECT_EQ(MakeRequest("CO:19", 37, RW_READ).ExpectedReplySize(), 2 + 5);

    // One point: the single write; a coil on is FF00. Block data hold
    // registers low byte first, the PDU high byte first.
    EXPECT_EQ(IntsOf(MakeRequest("CO:172", 1, RW_WRITE, {1}).pdu),
              (Ints{5, 0x00, 0xAC, 0xFF, 0x00}));
    EXPECT_EQ(IntsOf(MakeRequest("HR:1", 1, RW_WRITE, {0x03, 0x00}).pdu), (Ints{6, 0, 1, 0, 3}));
    EXPECT_EQ(IntsOf(MakeRequest("HR:1", 2, RW_WRITE, {0x0A, 0x00, 0x02, 0x01}).pdu),
              (Ints{0x10, 0x00, 0x01, 0x00, 0x02, 0x04, 0x00, 0x0A, 0x01, 0x02}));
    // Ten coils 1,0,1,1,0,0,1,1, 1,0 go as CD 01.
    EXPECT_EQ(IntsOf(MakeRequest("CO:19", 10, RW_WRITE, {1, 0, 1, 1, 0, 0, 1, 1, 1, 0}).pdu),
              (Ints{0x0F, 0x00, 0x13, 0x00, 0x0A, 0x02, 0xCD, 0x01}));
}

TEST(ModbusRequest, RefusesWhatNoRequestCanCarry) {
    modbus::Request request;
    const auto build = [&](modbus::Area area, WORD offset, DWORD count, ReadOrWrite direction,
                           const Ints& data = {}) {
        return modbus::BuildRequest({area, offset}, count, direction, Bytes(data), request);
    };
    const auto hr = modbus::Area::HoldingRegisters;
    EXPECT_EQ(build(hr, 0, 0, RW_READ), SE_INVALID_BLOCK);
    EXPECT_EQ(build(hr, 0, 125, RW_READ), SE_NO_ERROR);
    EXPECT_EQ(build(hr, 0, 126, RW_READ), SE_INVALID_BLOCK);
    EXPECT_EQ(build(modbus::Area::Coils, 0, 2000, RW_READ), SE_NO_ERROR);
    EXPECT_EQ(build(modbus::Area::Coils, 0, 2001, RW_READ), SE_INVALID_BLOCK);
    EXPECT_EQ(build(hr, 65535, 1, RW_READ), SE_NO_ERROR);
    EXPECT_EQ(build(hr, 65535, 2, RW_READ), SE_INVALID_BLOCK);
    EXPECT_EQ(build(modbus::Area::InputRegisters, 0, 1, RW_WRITE, {0, 0}), SE_INVALID_BLOCK);
    EXPECT_EQ(build(hr, 0, 2, RW_WRITE, {0, 0, 0}), SE_INVALID_BLOCK);
}

TEST(ModbusReply, ReadsGiveBlockDataAndMalformedOnesAreFormatErrors) {
    Ints data;
    const modbus::Request regs = MakeRequest("HR:107", 3, RW_READ);
    ASSERT_EQ(Parse(regs, {0x03, 0x06, 0x02, 0x2B, 0x00, 0x00, 0x00, 0x64}, &data), SE_NO_ERROR);
    EXPECT_EQ(data, (Ints{0x2B, 0x02, 0x00, 0x00, 0x64, 0x00}));
    // Only the bits asked for; the padding of the last byte is dropped.
    ASSERT_EQ(Parse(MakeRequest("CO:19", 10, RW_READ), {0x01, 0x02, 0xCD, 0xFD}, &data),
              SE_NO_ERROR);
    EXPECT_EQ(data, (Ints{1, 0, 1, 1, 0, 0, 1, 1, 1, 0}));

    const modbus::Request two = MakeRequest("HR:0", 2, RW_READ);
    for (const Ints& bad :
         {Ints{}, Ints{0x03}, Ints{0x03, 0x04, 0x00, 0x01, 0x00},
          Ints{0x03, 0x04, 0x00, 0x01, 0x00, 0x02, 0x00}, Ints{0x03, 0x05, 0x00, 0x01, 0x00, 0x02},
          Ints{0x04, 0x04, 0x00, 0x01, 0x00, 0x02}}) {
        EXPECT_EQ(Parse(two, bad, &data), SE_INVALID_FORMAT) << bad.size() << " bytes";
        EXPECT_TRUE(data.empty());
    }
}

TEST(ModbusReply, ExceptionsCarryTheirCodeAndWritesMustEcho) {
    const modbus::Request regs = MakeRequest("HR:0", 2, RW_READ);
    BYTE exception = 0;
    EXPECT_EQ(Parse(regs, {0x83, 0x02}, nullptr, &exception), SE_NAK_RECEIVED);
    EXPECT_EQ(exception, modbus::kIllegalDataAddress);
    EXPECT_STREQ(modbus::ExceptionText(exception), "Illegal data address");
    EXPECT_EQ(Parse(regs, {0x83}), SE_INVALID_FORMAT);
    EXPECT_EQ(Parse(regs, {0x83, 0x02, 0x00}), SE_INVALID_FORMAT);
    // The exception bit on another function is a wrong reply, not a refusal.
    EXPECT_EQ(Parse(regs, {0x84, 0x02}), SE_INVALID_FORMAT);

    const modbus::Request single = MakeRequest("HR:1", 1, RW_WRITE, {0x03, 0x00});
    EXPECT_EQ(Parse(single, {0x06, 0x00, 0x01, 0x00, 0x03}), SE_NO_ERROR);
    EXPECT_EQ(Parse(single, {0x06, 0x00, 0x01, 0x00, 0x04}), SE_INVALID_FORMAT);
    const modbus::Request multiple = MakeRequest("HR:1", 2, RW_WRITE, {1, 0, 2, 0});
    EXPECT_EQ(Parse(multiple, {0x10, 0x00, 0x01, 0x00, 0x02}), SE_NO_ERROR);
    EXPECT_EQ(Parse(multiple, {0x10, 0x00, 0x01, 0x00, 0x01}), SE_INVALID_FORMAT);
}

}  // namespace
