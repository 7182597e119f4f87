/** \addtogroup addressing
 @{ */
/// CEDFRange: one entry of a field's list, either a numeric range or a keyword.
#pragma once

#include <cstdlib>

#include "kelvara/framework/Export.h"
#include "kelvara/framework/String.h"
#include "kelvara/framework/Types.h"
#include "kelvara/sibling/QZObject.h"

/// The texts are fixed for the entry's life, so their numeric values are
/// worked out once, here, and every address check reads them at no cost. A
/// list that needs other bounds gets new entries.
class KELVARA_API CEDFRange : public CQZObject {
public:
    /// Constructs with the defaults of the class.
    CEDFRange() : CEDFRange(CString(), CString()) {}
    /// A range or keyword from its low and high texts (equal texts and no number: a keyword).
    CEDFRange(const CString& strLow, const CString& strHigh);
    /// Copies other.
    CEDFRange(const CEDFRange&) = default;
    CEDFRange& operator=(const CEDFRange&) = delete;
    ~CEDFRange() override = default;

    ///@{
    /// The bounds as a decimal range compares them: strtod of the text.
    double GetLowDecimal() const { return m_dLow; }
    double GetHighDecimal() const { return m_dHigh; }
    ///@}
    ///@{
    /// The same decimal comparison for a whole number v: "low > v" is
    /// "v < GetLowCeiling()" and "high < v" is "v > GetHighFloor()".
    long long GetLowCeiling() const { return m_nLowCeiling; }
    long long GetHighFloor() const { return m_nHighFloor; }
    ///@}
    ///@{
    /// The bounds as a hexadecimal range compares them: HexToLong of the text.
    LONG GetLowHex() const { return m_nLowHex; }
    LONG GetHighHex() const { return m_nHighHex; }
    ///@}

    /// strtod of the text. Up to 15 decimal digits with an optional sign are
    /// exact in a double and are converted directly, with the same result.
    static double TextToDouble(const char* psz) {
        const char* p = psz;
        const bool bNegative = *p == '-';
        if (*p == '-' || *p == '+') {
            ++p;
        }
        long long nValue = 0;
        int nDigits = 0;
        for (; *p >= '0' && *p <= '9' && nDigits <= 15; ++p, ++nDigits) {
            nValue = nValue * 10 + (*p - '0');
        }
        if (*p != '\0' || nDigits > 15) {
            return std::strtod(psz, nullptr);
        }
        const double d = static_cast<double>(nValue);
        return bNegative ? -d : d;
    }

    const CString m_strLow;   ///< low bound, or the keyword
    const CString m_strHigh;  ///< high bound; empty for a keyword

private:
    double m_dLow;
    double m_dHigh;
    long long m_nLowCeiling;
    long long m_nHighFloor;
    LONG m_nLowHex;
    LONG m_nHighHex;
};
/** @} */
