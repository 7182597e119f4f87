// Byte buffers written and read as text, for tests whose data is text.
#pragma once

#include <string>

#include "kelvara/Kelvara.h"

namespace testsupport {

inline CCombuf Bytes(const std::string& text) {
    CCombuf buffer;
    for (char c : text) {
        buffer.Add(static_cast<BYTE>(c));
    }
    return buffer;
}

// The first nCount bytes (all of them when nCount is -1).
inline std::string Text(const CByteArray& bytes, int nCount = -1) {
    return std::string(bytes.begin(), nCount < 0 ? bytes.end() : bytes.begin() + nCount);
}

}  // namespace testsupport
