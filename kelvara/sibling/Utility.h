/** \addtogroup sibling
 @{ */
// The utility library's helpers: string resources, digit checks and
// conversions, bits, and values to and from little-endian byte arrays.
#pragma once

#include "kelvara/framework/Array.h"
#include "kelvara/framework/Export.h"
#include "kelvara/framework/Resource.h"
#include "kelvara/framework/String.h"
#include "kelvara/framework/Types.h"

/// Loads string nID of hModule into *pString: nonzero when the string exists,
/// else 0 with *pString unchanged.
KELVARA_API int ModuleLoadString(CString* pString, UINT nID, HINSTANCE hModule);

///@{
/// Nonzero when the whole text is a number in that base. Decimal allows one
/// leading '+' or '-'; hexadecimal takes either case. Empty text, blanks and
/// a null pointer are not numbers.
KELVARA_API int IsNumeric(const char* pszText);
KELVARA_API int IsHexadecimal(const char* pszText);
KELVARA_API int IsOctal(const char* pszText);
///@}

///@{
/// The value of the leading digits of the text (after optional blanks and one
/// '-' or '+'), up to the first character that is not a digit of the base.
/// Digits beyond 32 bits keep only the low 32 bits, read as two's complement;
/// text without digits gives 0.
KELVARA_API LONG HexToLong(const CString& strText);
KELVARA_API LONG OctalToLong(const CString& strText);
///@}

/// Bit nBit (0 = least significant) of byBits: 0 or 1; 0 for positions
/// outside 0 to 7.
KELVARA_API int GetBit(int nBit, BYTE byBits);
/// Sets bit nBit of byBits when nValue is nonzero, else clears it; positions
/// outside 0 to 7 change nothing.
KELVARA_API void SetBit(int nBit, int nValue, unsigned char& byBits);

///@{
/// Little-endian encodings in elements 0 to size-1 of an array that should be
/// pre-sized to 2, 4, 4 or 8; a smaller array is grown to that size.
KELVARA_API void ShortToByteArray(short nValue, CByteArray& array);
KELVARA_API void LongToByteArray(LONG nValue, CByteArray& array);
KELVARA_API void FloatToByteArray(float fValue, CByteArray& array);
KELVARA_API void DoubleToByteArray(double dValue, CByteArray& array);
///@}

///@{
/// Values from elements 0 to size-1; missing elements read as 0.
KELVARA_API char ByteArrayToChar(const CByteArray& array);
KELVARA_API short ByteArrayToShort(const CByteArray& array);
KELVARA_API LONG ByteArrayToLong(const CByteArray& array);
KELVARA_API float ByteArrayToFloat(const CByteArray& array);
KELVARA_API double ByteArrayToDouble(const CByteArray& array);
///@}

/// Makes *pTo a copy of *pFrom when both are records of the same class:
/// through an archive, so every serialised value is taken. Nonzero on
/// success; 0 when either is null or their classes differ.
KELVARA_API int AssignObjects(CObject* pTo, CObject* pFrom);
/** @} */
