// Compact descriptions of parsed formats, so a test states a whole parse in
// one line.
#pragma once

#include <string>

#include "kelvara/addressing/EDFFormat.h"

namespace kelvara_test {

// "name:T1/10{D,M,X}" per field in index order, joined by spaces; a range is
// "low..high", an empty keyword "". Steps show as "+1"/"-2", free fields as "free", a
// case-insensitive field as "nocase".
inline std::string DescribeField(const CEDFField& field) {
    std::string s = field.m_strName.str() + ":" + field.m_cType;
    s += field.m_nWidth < 0 ? std::string("V") : std::to_string(field.m_nWidth);
    s += "/" + std::to_string(field.m_nRadix);
    if (field.m_bIncrement) {
        s += (field.m_nStep < 0 ? "" : "+") + std::to_string(field.m_nStep);
    }
    if (field.m_bFree) {
        s += " free";
    }
    if (!field.m_bCaseSensitive) {
        s += " nocase";
    }
    s += "{";
    for (int i = 0; i < field.m_Ranges.GetSize(); ++i) {
        const CEDFRange* r = field.m_Ranges.GetAt(i);
        s += (i ? "," : "") + (r->m_strLow.IsEmpty() ? std::string("\"\"") : r->m_strLow.str());
        if (field.m_cType == 'N') {
            s += ".." + r->m_strHigh.str();
        }
    }
    return s + "}";
}

inline std::string DescribeFields(const CEDFFormat& format) {
    std::string s;
    for (const auto& [index, field] : format.m_Fields) {
        s += (s.empty() ? "" : " ") + std::to_string(index) + "=" + DescribeField(*field);
    }
    return s;
}

}  // namespace kelvara_test
