// What the Modbus fuzz targets share: a request built from the fuzzer's
// bytes, as a host's block would make it, and the checks' abort.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>

#include "ModbusPdu.h"

namespace modbusfuzz {

inline void Check(bool bOk) {
    if (!bOk) {
        std::abort();
    }
}

// False when the bytes make no request the driver would send.
inline bool ConsumeRequest(FuzzedDataProvider& in, modbus::Request& request) {
    modbus::Address address;
    address.area = static_cast<modbus::Area>(in.ConsumeIntegralInRange<int>(0, 3));
    address.offset = in.ConsumeIntegral<WORD>();
    const DWORD dwCount = in.ConsumeIntegralInRange<DWORD>(0, modbus::kMaxReadBits + 1);
    const ReadOrWrite direction = in.ConsumeBool() ? RW_WRITE : RW_READ;
    CByteArray values;
    if (direction == RW_WRITE) {
        for (DWORD i = 0; i < dwCount * modbus::PointSize(address.area); ++i) {
            values.Add(in.ConsumeIntegral<BYTE>());
        }
    }
    return modbus::BuildRequest(address, dwCount, direction, values, request) == SE_NO_ERROR;
}

// The reply PDU checked as the masters check it: a good read brings
// exactly the points asked for.
inline void CheckReply(const modbus::Request& request, const CByteArray& pdu) {
    CByteArray data;
    BYTE exception = 0;
    const DWORD dwResult = modbus::ParseReply(
        request, pdu.GetData(), static_cast<std::size_t>(pdu.GetSize()), data, exception);
    Check(dwResult == SE_NO_ERROR || dwResult == SE_NAK_RECEIVED || dwResult == SE_INVALID_FORMAT);
    if (dwResult == SE_NO_ERROR) {
        const int nExpected =
            request.IsWrite() ? 0
                              : static_cast<int>(request.count) * modbus::PointSize(request.area);
        Check(data.GetSize() == nExpected);
    }
}

}  // namespace modbusfuzz
