/** \addtogroup platform
 @{ */
// A scriptable serial device for tests, part of the library so that driver
// authors can test their drivers without hardware: install its Opener with
// SetSerialDeviceOpener, and every port opened from then on is a
// LineSerialDevice on a line of this device. The device keeps what a real
// one would (settings, modem lines, RS-485 mode, queues), answers what the
// driver sends through a responder, and can be told to fail any call of the
// line with a given error category.
//
// Time does not pass on a fake line: a wait with nothing to wait for ends at
// once as timed out, and the requested time-out is recorded instead. A wait
// without a limit for input that cannot come would never end on a real
// line; here it fails (Invalid). The device is not thread-safe: drive it
// from the thread that uses the port.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "kelvara/platform/LineSerialDevice.h"
#include "kelvara/platform/SystemError.h"

#include "kelvara/framework/Export.h"

namespace kelvara::platform {

class FakeSerialLine;

/// A scriptable serial device for tests; see the file's description.
class KELVARA_API FakeSerialDevice : public std::enable_shared_from_this<FakeSerialDevice> {
public:
    /// The device calls a test can make fail.
    enum class Call {
        Open,
        SetEventMask,
        SetQueueSizes,
        GetTimeouts,
        SetTimeouts,
        GetAttributes,
        SetAttributes,
        SetModemLines,
        GetRs485,
        SetRs485,
        SetBreak,
        SuspendOutput,
        Flush,
        GetErrorCounts,
        Read,
        Write,
        WaitReadable,
        WaitWritable,
        Drain,
        Close,
    };

    /// An opener for SetSerialLineOpener that hands out lines on this device
    /// (one open line at a time, as a real device allows).
    SerialDeviceOpener Opener();

    /// Fails the call with an error of that category from its nSkip+1-th
    /// next use on, nCount times (a negative count: for good).
    void Fail(Call call, ErrorCategory error, int nSkip = 0, int nCount = 1);
    /// Stops the failures of Fail.
    void Heal(Call call);
    /// How many times the call was made.
    int CallCount(Call call) const;

    /// What the device's side of the line does.
    void Receive(const std::vector<std::uint8_t>& bytes);
    /// Called with each run of bytes the line sends; whatever it returns is
    /// received at once (a device that answers).
    void SetResponder(
        std::function<std::vector<std::uint8_t>(const std::vector<std::uint8_t>&)> fn);
    /// How many more bytes the device takes before its input is full (a
    /// negative number: no limit).
    void SetWriteRoom(long nBytes) { m_nWriteRoom = nBytes; }
    /// The device goes away: reads give what was left, then fail (Other, as
    /// a terminal whose device is gone does), as do writes.
    void Vanish() { m_bVanished = true; }
    /// Receive errors that the device counts when the line next reads a byte.
    void AddLineErrors(const LineErrorCounts& counts);

    /// Whether the device has modem lines and an RS-485 mode; without them
    /// those calls fail (NotSupported).
    bool m_bHasModemLines = true;
    /// See m_bHasModemLines.
    bool m_bHasRs485 = true;
    /// Keeps these settings whatever is set (as a pseudo-terminal keeps 8 data
    /// bits and no parity).
    bool m_bForceEightBitsNoParity = false;

    /// The bytes written to the device.
    std::vector<std::uint8_t> m_sent;
    /// The modem lines raised.
    unsigned m_nModemLines = 0;
    /// Whether RS-485 mode is on.
    bool m_bRs485 = false;
    /// Whether a break is being sent.
    bool m_bBreak = false;
    /// Whether output is held.
    bool m_bOutputSuspended = false;
    /// The line settings.
    LineAttributes m_attributes;
    /// The time-outs.
    CommTimeouts m_timeouts;
    /// The event mask.
    std::uint32_t m_dwEventMask = 0;
    ///@{
    /// The queue sizes asked for.
    std::uint32_t m_dwInputQueue = 0;
    std::uint32_t m_dwOutputQueue = 0;
    ///@}
    /// The device name it was opened with.
    std::string m_strOpenedDevice;
    /// True while open.
    bool m_bOpen = false;
    /// The requested time-out of each wait for input, in order.
    std::vector<int> m_readWaits;
    /// What happened on the line, in order: "RTS+", "RTS-", "DTR+", "DTR-",
    /// "write <n>", "drain", "flush in", "flush out", "rs485 on", "rs485 off".
    std::vector<std::string> m_events;

private:
    friend class FakeSerialLine;

    // Counts the call and applies a scripted failure.
    bool Enter(Call call);
    void TakePendingErrors();

    std::deque<std::uint8_t> m_input;
    std::function<std::vector<std::uint8_t>(const std::vector<std::uint8_t>&)> m_responder;
    long m_nWriteRoom = -1;
    bool m_bVanished = false;
    LineErrorCounts m_errors;
    LineErrorCounts m_pendingErrors;

    struct Script {
        ErrorCategory error = ErrorCategory::None;
        int nSkip = 0;
        int nCount = 0;
    };
    std::map<Call, Script> m_scripts;
    std::map<Call, int> m_calls;
};

}  // namespace kelvara::platform
/** @} */
