// The check of an address against a format, done the long way: literal by
// literal and field by field through CEDFFormat::Field. Validate must give
// the same result however it gets there; tests and the EDF fuzz target
// compare the two.
#pragma once

#include <cstddef>
#include <string>

#include "kelvara/Kelvara.h"

namespace testsupport {

inline EDF_RET ValidateByFields(const CEDFFormat& format, const std::string& address) {
    const CString& layout = format.m_strLayout;
    std::size_t position = 0;
    int nField = 0;
    for (int i = 0; i < layout.GetLength(); ++i) {
        if (layout[i] == 'L') {
            const char literal = layout[++i];
            if (position >= address.size() || literal == '\0' || address[position] != literal) {
                return EDF_LITERAL_MISMATCH;
            }
            ++position;
        } else if (layout[i] == 'F') {
            CString value;
            const EDF_RET result = format.Field(address.c_str(), ++nField, value);
            if (result != EDF_OK) {
                return result;
            }
            position += static_cast<std::size_t>(value.GetLength());
        }
    }
    return position == address.size() ? EDF_OK : EDF_EXTRA_CHARACTERS;
}

}  // namespace testsupport
