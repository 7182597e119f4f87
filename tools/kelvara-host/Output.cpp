#include "Output.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace host {

namespace {

std::string Number(unsigned long value) {
    return std::to_string(value);
}

std::uint64_t LittleEndian(const CByteArray& element) {
    std::uint64_t value = 0;
    for (int i = element.GetSize() - 1; i >= 0; --i) {
        value = value << 8 | element[i];
    }
    return value;
}

std::string ValueText(const CByteArray& element, const ValueType& type) {
    const std::uint64_t raw = LittleEndian(element);
    char text[64];
    if (type.bFloat && type.nSize == 4) {
        float f = 0;
        const auto bits = static_cast<std::uint32_t>(raw);
        std::memcpy(&f, &bits, sizeof f);
        std::snprintf(text, sizeof text, "%.9g", static_cast<double>(f));
    } else if (type.bFloat) {
        double d = 0;
        std::memcpy(&d, &raw, sizeof d);
        std::snprintf(text, sizeof text, "%.17g", d);
    } else if (type.bSigned) {
        const unsigned nBits = 8 * static_cast<unsigned>(element.GetSize());
        std::int64_t value = static_cast<std::int64_t>(raw);
        if (nBits > 0 && nBits < 64 && (raw >> (nBits - 1)) != 0) {
            value -= static_cast<std::int64_t>(std::uint64_t{1} << nBits);
        }
        std::snprintf(text, sizeof text, "%lld", static_cast<long long>(value));
    } else {
        std::snprintf(text, sizeof text, "%llu", static_cast<unsigned long long>(raw));
    }
    return text;
}

}  // namespace

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", u);
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::vector<std::string> BlockValues(CComBlock& block, const ValueType& type) {
    std::vector<std::string> values;
    CByteArray data;
    if (!block.IsBlockGood() || !block.GetBlockData(data)) {
        return values;
    }
    // Taken in the chosen type's width, whatever element size the driver
    // left in the block.
    for (int i = 0; i + static_cast<int>(type.nSize) <= data.GetSize();
         i += static_cast<int>(type.nSize)) {
        CByteArray element;
        for (unsigned k = 0; k < type.nSize; ++k) {
            element.Add(data[i + static_cast<int>(k)]);
        }
        values.push_back(ValueText(element, type));
    }
    return values;
}

bool PackValues(const std::vector<std::string>& values, const ValueType& type, CByteArray& data,
                std::string& error) {
    for (const std::string& text : values) {
        char* end = nullptr;
        std::uint64_t raw = 0;
        bool bOk = false;
        if (type.bFloat) {
            const double d = std::strtod(text.c_str(), &end);
            bOk = end != text.c_str() && *end == '\0';
            if (type.nSize == 4) {
                const float f = static_cast<float>(d);
                std::uint32_t bits = 0;
                std::memcpy(&bits, &f, sizeof bits);
                raw = bits;
            } else {
                std::memcpy(&raw, &d, sizeof raw);
            }
        } else {
            const long long n = std::strtoll(text.c_str(), &end, 0);
            const unsigned nBits = 8 * type.nSize;
            const long long nMin = -(1LL << (nBits - 1));
            const long long nMax = static_cast<long long>((1ULL << nBits) - 1);
            bOk = end != text.c_str() && *end == '\0' && n >= nMin && n <= nMax &&
                  (type.name != "bool" || n == 0 || n == 1);
            raw = static_cast<std::uint64_t>(n);
        }
        if (!bOk) {
            error = "\"" + text + "\" is not a value of type " + type.name;
            return false;
        }
        for (unsigned k = 0; k < type.nSize; ++k) {
            data.Add(static_cast<BYTE>(raw >> (8 * k) & 0xFF));
        }
    }
    return true;
}

std::string BlockLine(CComBlock& block, const std::string& address, const ValueType& type,
                      bool bJson) {
    const bool bWrite = block.GetReadOrWrite() == RW_WRITE;
    const bool bGood = block.IsBlockGood() != 0;
    const std::vector<std::string> values =
        bWrite ? std::vector<std::string>{} : BlockValues(block, type);
    const std::string error = block.GetStandardErrorString()->GetString();
    const std::string device = block.GetDeviceErrorString()->GetString();
    std::string line;
    if (bJson) {
        line = "{\"type\":\"block\",\"address\":" + JsonString(address) + ",\"operation\":\"" +
               (bWrite ? "write" : "read") + "\",\"good\":" + (bGood ? "true" : "false") +
               ",\"values\":[";
        for (std::size_t i = 0; i < values.size(); ++i) {
            const bool bQuote = values[i] == "nan" || values[i] == "inf" || values[i] == "-inf";
            line += i ? "," : "";
            line += (bQuote ? JsonString(values[i]) : values[i]);
        }
        line += "],\"error\":" + Number(block.GetStandardErrorCode()) +
                ",\"error_text\":" + JsonString(bGood ? "" : error) +
                ",\"device_error\":" + Number(block.GetDeviceErrorCode()) +
                ",\"device_error_text\":" + JsonString(device) +
                ",\"com_time_ms\":" + Number(block.GetComTime()) + "}";
        return line;
    }
    char head[128];
    std::snprintf(head, sizeof head, "%-12s %-5s ", address.c_str(), bWrite ? "write" : "read");
    line = head;
    if (bGood) {
        line += "ok";
        for (const std::string& value : values) {
            line += " " + value;
        }
    } else {
        line += "failed " + Number(block.GetStandardErrorCode()) + " \"" + error + "\"";
        if (block.GetDeviceErrorCode() != 0) {
            line += ", device error " + Number(block.GetDeviceErrorCode()) + " \"" + device + "\"";
        }
    }
    return line + " (" + Number(block.GetComTime()) + " ms)";
}

std::string StatisticsText(CProtocol& driver, const RunTotals& totals, bool bJson) {
    const double dSeconds = totals.nElapsedMs / 1000.0;
    const double dRate = totals.nElapsedMs > 0 ? totals.nBlocks / dSeconds : 0.0;
    char rate[32];
    std::snprintf(rate, sizeof rate, "%.1f", dRate);
    const std::string lastError = driver.GetLastErrorString().GetString();
    if (bJson) {
        return "{\"type\":\"statistics\",\"passes\":" + Number(totals.nPasses) +
               ",\"blocks\":" + Number(totals.nBlocks) + ",\"failed\":" + Number(totals.nFailed) +
               ",\"elapsed_ms\":" + Number(totals.nElapsedMs) + ",\"blocks_per_second\":" + rate +
               ",\"driver_blocks\":" + Number(driver.GetBlockCount()) +
               ",\"comms_time_ms\":" + Number(driver.GetTotalCommsTime()) +
               ",\"bytes_in\":" + Number(driver.GetTotalBytesIn()) +
               ",\"bytes_out\":" + Number(driver.GetTotalBytesOut()) +
               ",\"errors\":{\"standard\":" + Number(driver.GetNumberStandardErrors()) +
               ",\"device\":" + Number(driver.GetNumberDeviceErrors()) +
               ",\"timeout\":" + Number(driver.GetNumberTimeoutErrors()) +
               ",\"checksum\":" + Number(driver.GetNumberCRCErrors()) +
               "},\"retries\":" + Number(driver.GetNumberOfRetries()) +
               ",\"last_error\":" + JsonString(lastError) +
               ",\"interrupted\":" + (totals.bInterrupted ? "true" : "false") + "}";
    }
    char text[512];
    std::snprintf(text, sizeof text,
                  "statistics%s: %lu passes, %lu blocks (%lu failed) in %.1f s, %s blocks/s\n"
                  "  driver: %lu blocks, %lu ms of comms, bytes in %lu, out %lu\n"
                  "  errors %lu (device %lu, time-outs %lu, checksum %lu), retries %lu\n"
                  "  last error: \"%s\"",
                  totals.bInterrupted ? " (interrupted)" : "", totals.nPasses, totals.nBlocks,
                  totals.nFailed, dSeconds, rate,
                  static_cast<unsigned long>(driver.GetBlockCount()),
                  static_cast<unsigned long>(driver.GetTotalCommsTime()),
                  static_cast<unsigned long>(driver.GetTotalBytesIn()),
                  static_cast<unsigned long>(driver.GetTotalBytesOut()),
                  static_cast<unsigned long>(driver.GetNumberStandardErrors()),
                  static_cast<unsigned long>(driver.GetNumberDeviceErrors()),
                  static_cast<unsigned long>(driver.GetNumberTimeoutErrors()),
                  static_cast<unsigned long>(driver.GetNumberCRCErrors()),
                  static_cast<unsigned long>(driver.GetNumberOfRetries()), lastError.c_str());
    return text;
}

}  // namespace host
