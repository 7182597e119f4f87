// The packets of the register protocol that the sample ARCNET driver
// (ArcnetRegisterDriver.cpp) and the simulated station
// (ArcnetRegisterStation.h) speak. A driver author replaces this file with
// the layout of the real device.
//
// Every packet starts with the id of the poll item it belongs to (the
// host's block id). The station copies the id into its answer, and the
// port's poll thread hands each answer to the items with that id: that is
// all GetBlockIdFromPacket has to read. All numbers are little-endian.
//
// Request, driver to station:
//    0  4  item id
//    4  2  transaction number: new for every request the driver builds, so
//          that an answer to an older request of the same item is known
//    6  1  function: 0x11 read registers, 0x12 write registers, 0x13 ask
//          for the result of a write
//    7  1  node id         } the address as CRemoteAddress::Compress
//    8  1  area: 0 R, 1 I  } encodes it with the attribute text U1U1U2
//    9  2  first register  }
//   11  1  register count, 1 to 240
//   12  2n write only: the n register values
//
// Answer, station to driver:
//    0  4  item id, copied
//    4  2  transaction number, copied
//    6  1  function, copied
//    7  1  status: 0 done, else one of the exception codes below
//    8  2n read only: the n register values
//
// A write request goes out once. The station answers it, and it answers a
// 0x13 request carrying the same item id and transaction number with the
// same status, once it has executed that write (before that, not at all):
// so the result reaches the driver even when the write's own answer is
// missed. Requests the station cannot parse get no answer.
#pragma once

#include <kelvara/Kelvara.h>

namespace arcnet_registers {

enum Function : BYTE {
    FN_READ = 0x11,
    FN_WRITE = 0x12,
    FN_WRITE_RESULT = 0x13,
};

// The station's exception codes, reported to the host as device errors.
enum Exception : BYTE {
    EX_NONE = 0,
    EX_ILLEGAL_FUNCTION = 1,
    EX_ILLEGAL_ADDRESS = 2,  // a register of the run lies outside the area
    EX_ILLEGAL_COUNT = 3,    // count 0, above 240, or values missing
    EX_READ_ONLY = 4,        // a write to the I area
};

enum Area : BYTE { AREA_R = 0, AREA_I = 1 };

constexpr int kOffsetItemId = 0;
constexpr int kOffsetTransaction = 4;
constexpr int kOffsetFunction = 6;
constexpr int kOffsetAddress = 7;  // node, area, first register
constexpr int kOffsetNode = 7;
constexpr int kOffsetArea = 8;
constexpr int kOffsetFirstRegister = 9;
constexpr int kOffsetCount = 11;
constexpr int kRequestHeaderSize = 12;

constexpr int kOffsetStatus = 7;
constexpr int kAnswerHeaderSize = 8;

constexpr int kAddressSize = 4;
// 12 + 2 x 240 bytes stay within the 508 an ARCNET packet carries.
constexpr int kMaxRegisters = 240;

inline void AppendLE(CByteArray& frame, DWORD dwValue, int nBytes) {
    for (int i = 0; i < nBytes; ++i) {
        frame.Add(static_cast<BYTE>(dwValue >> (8 * i)));
    }
}

// The caller checks that the bytes are there.
inline DWORD LoadLE(const CByteArray& frame, int nOffset, int nBytes) {
    DWORD dwValue = 0;
    for (int i = nBytes - 1; i >= 0; --i) {
        dwValue = dwValue << 8 | frame[nOffset + i];
    }
    return dwValue;
}

}  // namespace arcnet_registers
