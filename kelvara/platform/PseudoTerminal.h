/** \addtogroup platform
 @{ */
// A pseudo-terminal that a program serves from its own side: another
// program opens DevicePath() as a serial port, and what it writes there is
// read here, and what is written here reaches it. The replay player serves
// a recorded device this way.
//
// The serving side keeps the device end open too, so that a port closing
// and opening again does not end the terminal, and sets it raw (no echo,
// no line editing). Systems without pseudo-terminals fail Open with
// NotSupported.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "kelvara/framework/Export.h"
#include "kelvara/platform/SystemError.h"

namespace kelvara::platform {

/// One pseudo-terminal, served from this side.
class KELVARA_API PseudoTerminal {
public:
    virtual ~PseudoTerminal() = default;

    /// A new pseudo-terminal, or null with the reason in *pError.
    static std::unique_ptr<PseudoTerminal> Open(ErrorCategory* pError);

    /// The path another program opens as its serial device.
    virtual const std::string& DevicePath() const = 0;
    /// 1 when bytes wait to be read, 0 when none came within nTimeoutMs, -1
    /// when the wait failed.
    virtual int WaitReadable(int nTimeoutMs) = 0;
    /// Bytes read (what waits, at most nLength), 0 when none waits, -1 on
    /// error.
    virtual std::ptrdiff_t Read(void* pBuffer, std::size_t nLength) = 0;
    /// Writes all the bytes, waiting for room up to nTimeoutMs at a time;
    /// false when they could not all go.
    virtual bool Write(const void* pData, std::size_t nLength, int nTimeoutMs) = 0;
};

}  // namespace kelvara::platform
/** @} */
