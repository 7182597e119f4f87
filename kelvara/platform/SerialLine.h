// One open serial line of the operating system: a terminal device with the
// calls a serial port needs, and the table that says which device a COM port
// number stands for.
//
// Every call that can fail returns false and leaves the reason as the last
// system error (SystemError.h). The real line is a POSIX terminal device;
// tests install an opener that hands out fake lines instead
// (FakeSerialLine.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "kelvara/framework/Export.h"

namespace kelvara::platform {

enum class LineParity : std::uint8_t { None, Odd, Even, Mark, Space };

// What a terminal device holds of the line settings. The line is always in
// raw (binary) mode: no echo, no line editing, no character translation.
struct LineAttributes {
    std::uint32_t dwBaudRate = 9600;
    std::uint8_t byDataBits = 8;  // 5 to 8
    LineParity parity = LineParity::None;
    bool bCheckParity = false;  // input parity checking
    bool bTwoStopBits = false;
    bool bHardwareFlow = false;  // RTS/CTS in both directions
    bool bXonXoffOutput = false;
    bool bXonXoffInput = false;
    std::uint8_t byXonChar = 0x11;
    std::uint8_t byXoffChar = 0x13;
};

// Modem control lines, for SetModemLines.
constexpr unsigned kLineRTS = 0x1u;
constexpr unsigned kLineDTR = 0x2u;

// Receive errors counted by the device since it was opened.
struct LineErrorCounts {
    std::uint32_t dwFrame = 0;
    std::uint32_t dwOverrun = 0;  // the UART's own
    std::uint32_t dwParity = 0;
    std::uint32_t dwBreak = 0;
    std::uint32_t dwBufferOverrun = 0;  // the driver's input buffer
};

// The time-out record of a serial device, in milliseconds. The kernel has no
// place for it, so the line keeps it for the layer that honours it
// (CommDevice.h).
struct LineTimeouts {
    std::uint32_t dwReadInterval = 0;
    std::uint32_t dwReadTotalMultiplier = 0;
    std::uint32_t dwReadTotalConstant = 0;
    std::uint32_t dwWriteTotalMultiplier = 0;
    std::uint32_t dwWriteTotalConstant = 0;
};

enum class WaitResult { Ready, TimedOut, Failed };

class SerialLine {
public:
    virtual ~SerialLine() = default;

    // Device state that the kernel has no equivalent for (event mask, queue
    // sizes, time-outs) is kept by the line itself, so reading it back gives
    // what was set.
    virtual bool SetEventMask(std::uint32_t dwMask) = 0;
    virtual bool SetQueueSizes(std::uint32_t dwInput, std::uint32_t dwOutput) = 0;
    virtual bool GetTimeouts(LineTimeouts* pTimeouts) = 0;
    virtual bool SetTimeouts(const LineTimeouts& timeouts) = 0;

    // Read back from the device, so a setting the device dropped shows.
    virtual bool GetAttributes(LineAttributes* pAttributes) = 0;
    virtual bool SetAttributes(const LineAttributes& attributes) = 0;
    // Raises or drops the given lines (kLineRTS, kLineDTR).
    virtual bool SetModemLines(unsigned nLines, bool bRaise) = 0;
    // The kernel's RS-485 mode: RTS high while sending, low otherwise.
    virtual bool GetRs485(bool* pEnabled) = 0;
    virtual bool SetRs485(bool bEnable) = 0;
    virtual bool SetBreak(bool bOn) = 0;
    // Holds or releases output, as if XOFF or XON had been received.
    virtual bool SuspendOutput(bool bSuspend) = 0;
    virtual bool Flush(bool bInput, bool bOutput) = 0;
    virtual bool GetErrorCounts(LineErrorCounts* pCounts) = 0;

    // Never block: take or give what the device has room for now (possibly
    // 0 bytes). A device that has gone away fails with EIO.
    virtual bool ReadSome(void* pData, std::size_t nSize, std::size_t* pRead) = 0;
    virtual bool WriteSome(const void* pData, std::size_t nSize, std::size_t* pWritten) = 0;
    // Wait up to nTimeoutMs (at least 0) for input, or for room for output.
    // A device that has gone away is Ready, so the next read or write sees it.
    virtual WaitResult WaitReadable(int nTimeoutMs) = 0;
    virtual WaitResult WaitWritable(int nTimeoutMs) = 0;
    // Waits up to nTimeoutMs until every byte written has left the device.
    virtual WaitResult Drain(int nTimeoutMs) = 0;

    // Releases the device even when it reports a failure.
    virtual bool Close() = 0;
};

// True for the errors by which a device says it has no such feature (no
// modem lines, no RS-485 mode, no error counters), as opposed to a failure.
bool IsUnsupportedFeature(int nError);

// Opens a device for exclusive use: a device that another open line holds
// fails with EBUSY, a file that is not a terminal with ENOTTY. Null on
// failure.
using SerialLineOpener = std::function<std::unique_ptr<SerialLine>(const std::string& strDevice)>;

// The system's terminal devices.
std::unique_ptr<SerialLine> OpenSystemSerialLine(const std::string& strDevice);
// Replaces the opener for every later OpenSerialLine (tests install fakes);
// an empty opener restores the system's.
KELVARA_API void SetSerialLineOpener(SerialLineOpener opener);

// Opens "\\.\COM<n>" as the device mapped to port n; any other text is taken
// as a device path. A port without a device fails with ENODEV.
std::unique_ptr<SerialLine> OpenSerialLine(const std::string& strPath);

// The device of a COM port number. By default COM<n> is the system's n-th
// serial port (on Linux /dev/ttyS<n-1>) and port 0 has none.
void MapComPort(unsigned nPort, const std::string& strDevice);
// Leaves the port without a device.
void UnmapComPort(unsigned nPort);
void RestoreComPortDefault(unsigned nPort);
std::optional<std::string> ComPortDevice(unsigned nPort);

// The device of a port number when nothing is mapped.
std::optional<std::string> DefaultComPortDevice(unsigned nPort);

}  // namespace kelvara::platform
