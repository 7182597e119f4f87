// An open COM device with the serial communication calls of the system the
// port was designed on: line settings record, time-out record, event mask,
// queue sizes, purge, line errors, synchronous read and write, and the
// extended functions that set or clear the control lines.
//
// On POSIX they are made on a SerialLine (a terminal device), and where the
// terminal interface has no counterpart the difference is stated below. Every
// call that can fail returns false and leaves the reason as the last system
// error.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "kelvara/framework/Export.h"
#include "kelvara/platform/SerialLine.h"

namespace kelvara::platform {

enum class CommStopBits : std::uint8_t { One, OneAndHalf, Two };
enum class DtrControl : std::uint8_t { Disable, Enable, Handshake };
enum class RtsControl : std::uint8_t { Disable, Enable, Handshake, Toggle };

// The line settings record. Read back, each field says what the line really
// runs; setting a field the line cannot run reads back as what it does run:
// - bBinary: always on (the terminal is in raw mode).
// - bOutxDsrFlow: Linux has no DSR output flow control; it reads back off.
// - DTR handshake (DTR as input flow control) does not exist on Linux: the
//   line raises DTR, and reads back DTR enable.
// - RTS handshake and CTS output flow are one setting on Linux (CRTSCTS):
//   either turns both on, and both read back on.
// - RTS toggle (RTS high only while sending) uses the kernel's RS-485 mode
//   where the device has one; elsewhere the device raises RTS before each
//   write and drops it once the bytes have left.
// - One and a half stop bits exist only with 5 data bits (the line's two
//   stop bits); with more data bits they are two.
// - wXonLim and wXoffLim have no counterpart: they are kept as set.
// - bAbortOnError: after a receive error (frame, overrun, parity, break)
//   reads and writes fail with ECANCELED until ClearError, where the device
//   counts such errors.
struct CommSettings {
    std::uint32_t dwBaudRate = 9600;
    bool bBinary = true;
    bool bParity = false;  // parity checking
    bool bOutxCtsFlow = false;
    bool bOutxDsrFlow = false;
    DtrControl dtrControl = DtrControl::Enable;
    RtsControl rtsControl = RtsControl::Enable;
    bool bOutX = false;
    bool bInX = false;
    bool bAbortOnError = false;
    std::uint16_t wXonLim = 0;
    std::uint16_t wXoffLim = 0;
    std::uint8_t byByteSize = 8;
    LineParity parity = LineParity::None;
    CommStopBits stopBits = CommStopBits::One;
    std::uint8_t byXonChar = 0x11;
    std::uint8_t byXoffChar = 0x13;
};

// The time-out record, in milliseconds. A read returns when all bytes have
// come, when dwReadTotalMultiplier * bytes + dwReadTotalConstant has passed,
// or when dwReadInterval passes between two bytes; a 0 there means "no
// limit" (all three 0: the read waits for all its bytes). An interval of
// 0xFFFFFFFF with both totals 0 returns at once with what is there. A write
// returns when all bytes have gone or dwWriteTotalMultiplier * bytes +
// dwWriteTotalConstant has passed (both 0: no limit). A total longer than
// the clock can count (about 292 years) is no limit either. Running out of
// time is not a failure: the call succeeds with the bytes that moved.
using CommTimeouts = LineTimeouts;

// The event mask bit of a received character.
constexpr std::uint32_t kEventRxChar = 0x0001u;

// Purge flags.
constexpr std::uint32_t kPurgeTxAbort = 0x0001u;
constexpr std::uint32_t kPurgeRxAbort = 0x0002u;
constexpr std::uint32_t kPurgeTxClear = 0x0004u;
constexpr std::uint32_t kPurgeRxClear = 0x0008u;

// Line error flags of ClearError.
constexpr std::uint32_t kErrorRxOver = 0x0001u;
constexpr std::uint32_t kErrorOverrun = 0x0002u;
constexpr std::uint32_t kErrorRxParity = 0x0004u;
constexpr std::uint32_t kErrorFrame = 0x0008u;
constexpr std::uint32_t kErrorBreak = 0x0010u;

// Extended functions, with the system's codes.
constexpr std::uint32_t kFunctionSetXoff = 1;
constexpr std::uint32_t kFunctionSetXon = 2;
constexpr std::uint32_t kFunctionSetRts = 3;
constexpr std::uint32_t kFunctionClrRts = 4;
constexpr std::uint32_t kFunctionSetDtr = 5;
constexpr std::uint32_t kFunctionClrDtr = 6;
constexpr std::uint32_t kFunctionResetDev = 7;
constexpr std::uint32_t kFunctionSetBreak = 8;
constexpr std::uint32_t kFunctionClrBreak = 9;

class KELVARA_API CommDevice {
public:
    // Opens the device of a path such as "\\.\COM3" (OpenSerialLine) for
    // exclusive use. Null on failure.
    static std::unique_ptr<CommDevice> Open(const std::string& strPath);

    explicit CommDevice(std::unique_ptr<SerialLine> pLine);
    ~CommDevice();
    CommDevice(const CommDevice&) = delete;
    CommDevice& operator=(const CommDevice&) = delete;

    // Linux has neither an event mask nor settable driver queues: both are
    // kept as set and change nothing else.
    bool SetEventMask(std::uint32_t dwMask);
    bool SetQueueSizes(std::uint32_t dwInput, std::uint32_t dwOutput);

    bool GetSettings(CommSettings* pSettings);
    bool SetSettings(const CommSettings& settings);
    bool GetTimeouts(CommTimeouts* pTimeouts);
    bool SetTimeouts(const CommTimeouts& timeouts);

    // Reads and writes are synchronous, so there is nothing to abort: the
    // abort flags only name what they would stop. The clear flags empty the
    // queues.
    bool Purge(std::uint32_t dwFlags);
    // The receive errors since the last call, as kError... flags; clears the
    // abort state of bAbortOnError.
    bool ClearError(std::uint32_t* pErrors);

    // Synchronous, under the time-outs: *pRead and *pWritten hold the bytes
    // that moved, also when the call fails.
    bool Read(void* pData, std::uint32_t dwCount, std::uint32_t* pRead);
    bool Write(const void* pData, std::uint32_t dwCount, std::uint32_t* pWritten);

    // One of the kFunction... codes; any other fails with EINVAL. Reset is
    // accepted and does nothing (a serial line has nothing to reset).
    bool ExtendedFunction(std::uint32_t dwFunction);

    // Releases the device even when it reports a failure; every later call
    // fails with EBADF.
    bool Close();

private:
    bool Usable();
    bool ApplyDtrControl(DtrControl control);
    bool ApplyRtsControl(RtsControl control);
    RtsControl RtsControlInForce(const LineAttributes& attributes);
    bool LineErrorPending();
    bool WriteAll(const std::uint8_t* p, std::uint32_t dwCount, std::uint32_t* pWritten);

    std::unique_ptr<SerialLine> m_pLine;
    // What the settings record holds that the terminal has no place for.
    DtrControl m_dtrControl = DtrControl::Enable;
    RtsControl m_rtsControl = RtsControl::Enable;
    bool m_bAbortOnError = false;
    std::uint16_t m_wXonLim = 0;
    std::uint16_t m_wXoffLim = 0;
    // RTS toggle without the kernel's RS-485 mode: RTS is raised around
    // each write here.
    bool m_bToggleRtsOnWrite = false;
    bool m_bKernelRs485 = false;
    // Error counts at the last ClearError; the device may not count at all.
    bool m_bErrorCounts = true;
    LineErrorCounts m_lastErrors;
};

// Whether a failed read or write ran out of time rather than failing.
bool IsTimeoutError(int nError);

// The error of a call on a device that is not open (or no longer is).
int DeviceNotOpenError();

}  // namespace kelvara::platform
