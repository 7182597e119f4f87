// Frame checksums and escapes of CCombuf, which run on every frame of every
// driver. Each checksum is measured beside the bit-by-bit definition and a
// plain table-driven CRC-16/MODBUS loop, in the same run, over 8-byte,
// 256-byte and 64 KiB frames.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <random>

#include "kelvara/Kelvara.h"

namespace {

constexpr WORD kModbusPolynomial = 0xA001;

CCombuf RandomFrame(int64_t nBytes, unsigned seed = 1) {
    std::mt19937 rng(seed);
    CCombuf buf;
    for (int64_t i = 0; i < nBytes; ++i) {
        buf += static_cast<unsigned char>(rng());
    }
    return buf;
}

// The polynomial checksum as its definition reads, one bit at a time.
WORD BitByBitLrc(const BYTE* p, int n, WORD poly) {
    WORD crc = 0xFFFF;
    for (int i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int bit = 0; bit < 8; ++bit) {
            const bool out = crc & 1;
            crc = static_cast<WORD>(static_cast<std::int16_t>(crc) >> 1);
            if (out) {
                crc ^= poly;
            }
        }
    }
    return crc;
}

// The textbook CRC-16/MODBUS table loop (logical shift): one lookup per byte.
struct ModbusTable {
    std::array<WORD, 256> t{};
    ModbusTable() {
        for (unsigned i = 0; i < 256; ++i) {
            WORD crc = static_cast<WORD>(i);
            for (int bit = 0; bit < 8; ++bit) {
                crc = (crc & 1) ? static_cast<WORD>((crc >> 1) ^ kModbusPolynomial)
                                : static_cast<WORD>(crc >> 1);
            }
            t[i] = crc;
        }
    }
};
const ModbusTable g_modbus;

WORD PlainModbusCrc(const BYTE* p, int n) {
    WORD crc = 0xFFFF;
    for (int i = 0; i < n; ++i) {
        crc = static_cast<WORD>((crc >> 8) ^ g_modbus.t[(crc ^ p[i]) & 0xFF]);
    }
    return crc;
}

void SetBytes(benchmark::State& state) {
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_Polynomial_LRC(benchmark::State& state) {
    const CCombuf buf = RandomFrame(state.range(0));
    for (auto _ : state) {
        benchmark::DoNotOptimize(buf.Polynomial_LRC(kModbusPolynomial, 0, -1));
    }
    SetBytes(state);
}

void BM_BitByBitDefinition(benchmark::State& state) {
    const CCombuf buf = RandomFrame(state.range(0));
    for (auto _ : state) {
        benchmark::DoNotOptimize(BitByBitLrc(buf.GetData(), buf.GetSize(), kModbusPolynomial));
    }
    SetBytes(state);
}

void BM_PlainModbusTableLoop(benchmark::State& state) {
    const CCombuf buf = RandomFrame(state.range(0));
    for (auto _ : state) {
        benchmark::DoNotOptimize(PlainModbusCrc(buf.GetData(), buf.GetSize()));
    }
    SetBytes(state);
}

void BM_ROR_XOR_CRC(benchmark::State& state) {
    const CCombuf buf = RandomFrame(state.range(0));
    for (auto _ : state) {
        benchmark::DoNotOptimize(buf.ROR_XOR_CRC());
    }
    SetBytes(state);
}

void BM_XOR_CRC(benchmark::State& state) {
    const CCombuf buf = RandomFrame(state.range(0));
    for (auto _ : state) {
        benchmark::DoNotOptimize(buf.XOR_CRC(0, -1));
    }
    SetBytes(state);
}

BENCHMARK(BM_Polynomial_LRC)->Arg(8)->Arg(256)->Arg(64 << 10);
BENCHMARK(BM_BitByBitDefinition)->Arg(8)->Arg(256)->Arg(64 << 10);
BENCHMARK(BM_PlainModbusTableLoop)->Arg(8)->Arg(256)->Arg(64 << 10);
BENCHMARK(BM_ROR_XOR_CRC)->Arg(8)->Arg(256)->Arg(64 << 10);
BENCHMARK(BM_XOR_CRC)->Arg(8)->Arg(256)->Arg(64 << 10);

// Escapes over a 64 KiB frame where one byte in four is the special byte.
// Each pass first restores the frame: a 64 KiB copy, under 1 us here.
CCombuf SpecialRichFrame() {
    std::mt19937 rng(3);
    CCombuf buf;
    for (int i = 0; i < (64 << 10); ++i) {
        buf += static_cast<unsigned char>(rng() % 4 == 0 ? 0x10 : 0x20 + rng() % 64);
    }
    return buf;
}

void BM_AddEscapeChars(benchmark::State& state) {
    const CCombuf frame = SpecialRichFrame();
    CCombuf buf;
    for (auto _ : state) {
        buf = frame;
        buf.AddEscapeChars(0x10, 0x10, 0, -1);
        benchmark::DoNotOptimize(buf.GetData());
    }
    SetBytes(state);
}

void BM_RemoveEscapeChars(benchmark::State& state) {
    CCombuf frame = SpecialRichFrame();
    frame.AddEscapeChars(0x10, 0x10, 0, -1);
    CCombuf buf;
    for (auto _ : state) {
        buf = frame;
        buf.RemoveEscapeChars(0x10, 0, -1);
        benchmark::DoNotOptimize(buf.GetData());
    }
    SetBytes(state);
}

void BM_AddEscapeChars_ByteArray(benchmark::State& state) {
    const CCombuf frame = SpecialRichFrame();
    CCombuf buf;
    for (auto _ : state) {
        buf.AddEscapeChars(frame, 0x10, 0x10);
        benchmark::DoNotOptimize(buf.GetData());
    }
    SetBytes(state);
}

void BM_RemoveEscapeChars_ByteArray(benchmark::State& state) {
    CCombuf frame;
    frame.AddEscapeChars(SpecialRichFrame(), 0x10, 0x10);
    CCombuf buf;
    for (auto _ : state) {
        buf.RemoveEscapeChars(frame, 0x10);
        benchmark::DoNotOptimize(buf.GetData());
    }
    SetBytes(state);
}

// For scale: escaping by inserting into the array at each special byte.
void BM_AddEscapesInsertPerByte(benchmark::State& state) {
    const CCombuf frame = SpecialRichFrame();
    CCombuf buf;
    for (auto _ : state) {
        buf = frame;
        for (int i = buf.GetSize() - 2; i >= 0; --i) {
            if (buf[i] == 0x10) {
                buf.InsertAt(i, 0x10);
            }
        }
        benchmark::DoNotOptimize(buf.GetData());
    }
    SetBytes(state);
}

BENCHMARK(BM_AddEscapeChars)->Arg(64 << 10);
BENCHMARK(BM_RemoveEscapeChars)->Arg(64 << 10);
BENCHMARK(BM_AddEscapeChars_ByteArray)->Arg(64 << 10);
BENCHMARK(BM_RemoveEscapeChars_ByteArray)->Arg(64 << 10);
BENCHMARK(BM_AddEscapesInsertPerByte)->Arg(64 << 10);

}  // namespace
