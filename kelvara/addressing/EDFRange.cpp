#include "kelvara/addressing/EDFRange.h"

#include "kelvara/sibling/Utility.h"

CEDFRange::CEDFRange(const CString& strLow, const CString& strHigh)
    : CQZObject(1),
      m_strLow(strLow),
      m_strHigh(strHigh),
      m_dLow(TextToDouble(strLow)),
      m_dHigh(TextToDouble(strHigh)),
      m_nLowHex(HexToLong(strLow)),
      m_nHighHex(HexToLong(strHigh)) {}
