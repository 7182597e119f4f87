// The Modbus code the examples share: the checksum, the limits of a request
// and the checks of a reply, against frames published for Modbus.
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

TEST(ModbusCrc, MatchesPublishedFramesAndRejectsDamage) {
    EXPECT_EQ(modbus::Crc16(reinterpret_cast<const BYTE*>("123456789"), 9), 0x4B37);
    for (const Ints& frame :
         {Ints{0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xC5, 0xCD},
          Ints{0x11, 0x03, 0x00, 0x6B, 0x00, 0x03, 0x76, 0x87}, Ints{0x02, 0x07, 0x41, 0x12}}) {
        CByteArray built = Bytes(Ints(frame.begin(), frame.end() - 2));
        modbus::AppendCrc(built);
        EXPECT_EQ(Ints(built.GetData(), built.GetData() + built.GetSize()), frame);
        EXPECT_TRUE(modbus::CrcMatches(built));
    }
    EXPECT_FALSE(modbus::CrcMatches(Bytes({0x01, 0x03, 0x00, 0x01, 0x00, 0x0A, 0xC5, 0xCD})));
    // High byte first is wrong.
    EXPECT_FALSE(modbus::CrcMatches(Bytes({0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xCD, 0xC5})));
    EXPECT_FALSE(modbus::CrcMatches(Bytes({0x02, 0x07, 0x41})));
}

TEST(ModbusRequest, RefusesWhatNoRequestCanCarry) {
    using modbus::Area;
    const struct {
        Area area;
        WORD wOffset;
        DWORD dwCount;
        ReadOrWrite direction;
        Ints data;
        DWORD dwResult;
    } cases[] = {
        {Area::HoldingRegisters, 0, 0, RW_READ, {}, SE_INVALID_BLOCK},
        {Area::HoldingRegisters, 0, 125, RW_READ, {}, SE_NO_ERROR},
        {Area::HoldingRegisters, 0, 126, RW_READ, {}, SE_INVALID_BLOCK},
        {Area::Coils, 0, 2000, RW_READ, {}, SE_NO_ERROR},
        {Area::Coils, 0, 2001, RW_READ, {}, SE_INVALID_BLOCK},
        {Area::HoldingRegisters, 65535, 1, RW_READ, {}, SE_NO_ERROR},
        {Area::HoldingRegisters, 65535, 2, RW_READ, {}, SE_INVALID_BLOCK},
        {Area::InputRegisters, 0, 1, RW_WRITE, {0, 0}, SE_INVALID_BLOCK},
        {Area::HoldingRegisters, 0, 2, RW_WRITE, {0, 0, 0}, SE_INVALID_BLOCK},
    };
    for (const auto& c : cases) {
        modbus::Request request;
        EXPECT_EQ(modbus::BuildRequest({c.area, c.wOffset}, c.dwCount, c.direction, Bytes(c.data),
                                       request),
                  c.dwResult)
            << c.wOffset << " + " << c.dwCount;
    }
}

// Replies to "read HR:0 and HR:1" and to writes of one and two registers:
// a refusal is a NAK with its code, a wrong or cut reply a format error,
// and a write's reply must echo the request.
TEST(ModbusReply, ExceptionsAreRefusalsAndAnyOtherMismatchIsAFormatError) {
    const auto request = [](const char* pszAddress, DWORD dwCount, ReadOrWrite direction,
                            const Ints& data) {
        modbus::Address address;
        EXPECT_EQ(modbus::DecodeAddress(pszAddress, address), EDF_OK);
        modbus::Request built;
        EXPECT_EQ(modbus::BuildRequest(address, dwCount, direction, Bytes(data), built),
                  SE_NO_ERROR);
        return built;
    };
    const modbus::Request read = request("HR:0", 2, RW_READ, {});
    const modbus::Request single = request("HR:1", 1, RW_WRITE, {0x03, 0x00});
    const modbus::Request multiple = request("HR:1", 2, RW_WRITE, {1, 0, 2, 0});
    const struct {
        const modbus::Request& request;
        Ints reply;
        DWORD dwResult;
    } cases[] = {
        {read, {0x83, 0x02}, SE_NAK_RECEIVED},
        {read, {0x83}, SE_INVALID_FORMAT},
        {read, {0x83, 0x02, 0x00}, SE_INVALID_FORMAT},
        // The exception bit on another function is a wrong reply.
        {read, {0x84, 0x02}, SE_INVALID_FORMAT},
        {read, {}, SE_INVALID_FORMAT},
        {read, {0x03}, SE_INVALID_FORMAT},
        {read, {0x03, 0x04, 0x00, 0x01, 0x00}, SE_INVALID_FORMAT},
        {read, {0x03, 0x04, 0x00, 0x01, 0x00, 0x02, 0x00}, SE_INVALID_FORMAT},
        {read, {0x03, 0x05, 0x00, 0x01, 0x00, 0x02}, SE_INVALID_FORMAT},
        {read, {0x04, 0x04, 0x00, 0x01, 0x00, 0x02}, SE_INVALID_FORMAT},
        {single, {0x06, 0x00, 0x01, 0x00, 0x03}, SE_NO_ERROR},
        {single, {0x06, 0x00, 0x01, 0x00, 0x04}, SE_INVALID_FORMAT},
        {multiple, {0x10, 0x00, 0x01, 0x00, 0x02}, SE_NO_ERROR},
        {multiple, {0x10, 0x00, 0x01, 0x00, 0x01}, SE_INVALID_FORMAT},
    };
    for (const auto& c : cases) {
        const CByteArray reply = Bytes(c.reply);
        CByteArray data;
        BYTE byException = 0;
        EXPECT_EQ(modbus::ParseReply(c.request, reply.GetData(),
                                     static_cast<std::size_t>(reply.GetSize()), data, byException),
                  c.dwResult)
            << "case " << &c - cases;
        EXPECT_EQ(data.GetSize(), 0) << "case " << &c - cases;
        if (c.dwResult == SE_NAK_RECEIVED) {
            EXPECT_EQ(byException, modbus::kIllegalDataAddress);
            EXPECT_STREQ(modbus::ExceptionText(byException), "Illegal data address");
        }
    }
}

}  // namespace
