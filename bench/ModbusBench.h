// What the Modbus benchmarks share: setting up a sample master driver as a
// host does, and the two timed loops, each reading the same 10 holding
// registers, which the server holds as 1000, 1001 and so on.
#pragma once

#include <benchmark/benchmark.h>
#include <modbus/modbus.h>

#include <cstdint>
#include <string>

#include "kelvara/Kelvara.h"

namespace modbusbench {

constexpr int kCount = 10;
constexpr std::uint16_t kFirstValue = 1000;

// Applies one setting to the driver as a host that edits it does: the
// driver's own lines, with the one that starts with the prefix replaced.
inline bool Configure(CProtocol& driver, const std::string& strPrefix, const std::string& strLine) {
    CStringList list;
    driver.DumpToStringList(list);
    for (POSITION pos = list.GetHeadPosition(); pos != nullptr;) {
        CString& line = list.GetNext(pos);
        if (std::string(line.GetString()).rfind(strPrefix, 0) == 0) {
            line = strLine.c_str();
        }
    }
    return driver.UpdateFromStringList(&list);
}

// A block of the registers through TransferData of the driver, once it is
// set up with the one setting and started.
inline void ReadThroughDriver(benchmark::State& state, CProtocol& driver,
                              const std::string& strPrefix, const std::string& strLine) {
    if (!Configure(driver, strPrefix, strLine) || driver.StartProtocol() != SE_NO_ERROR) {
        state.SkipWithError("driver not started");
        return;
    }
    CRemoteAddress first("HR:0", driver.GetEDFFormatRemote()->m_strFormat, "");
    CComBlock block(&first, 2, 1, kCount, 2);
    for (auto _ : state) {
        if (driver.TransferData(&block) != SE_NO_ERROR) {
            state.SkipWithError(block.GetStandardErrorString()->GetString());
            break;
        }
    }
    CByteArray data;
    if (block.GetBlockData(data) != 1 || data.GetSize() != 2 * kCount ||
        (data[0] | data[1] << 8) != kFirstValue) {
        state.SkipWithError("wrong data");
    }
    driver.StopProtocol();
}

// The registers through a libmodbus client, which this connects, then
// closes and frees.
inline void ReadThroughLibmodbus(benchmark::State& state, modbus_t* ctx) {
    if (ctx == nullptr || modbus_connect(ctx) != 0) {
        state.SkipWithError("no connection");
        modbus_free(ctx);
        return;
    }
    std::uint16_t registers[kCount] = {};
    for (auto _ : state) {
        if (modbus_read_registers(ctx, 0, kCount, registers) != kCount) {
            state.SkipWithError("read failed");
            break;
        }
    }
    if (registers[0] != kFirstValue) {
        state.SkipWithError("wrong data");
    }
    modbus_close(ctx);
    modbus_free(ctx);
}

}  // namespace modbusbench
