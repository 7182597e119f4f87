/** \addtogroup buffer
 @{ */
// The data-type codes that CCombuf::ConvertDataIntoBuffer converts between,
// and the rules it converts by.
//
// Codes (the variant-type numbering): 2 signed 16-bit, 3 signed 32-bit,
// 4 float, 5 double, 11 boolean (one byte, zero false, anything else true),
// 17 unsigned byte. Every other code, 8 (string) among them, is invalid for a
// conversion. Multi-byte values are read and written with the utility
// library's little-endian conversions (ShortToByteArray and friends).
//
// One value, source type to destination type:
// - integers (2, 3, 17) are taken as a signed 32-bit value: 16-bit sign-
//   extended, byte zero-extended; narrowing to 16 or 8 bits keeps the low
//   bits; to float or double, converted (to the nearest float from 32 bits);
// - float and double to an integer type truncate toward zero to a signed
//   32-bit value first, saturating outside its range (NaN gives 0), then
//   keep the low bits for 16 or 8 bits; double to float rounds to nearest
//   (out of the float range: infinity);
// - to boolean (11): 0xFF when the value is nonzero (for floating point: not
//   equal to 0.0, so NaN is true), else 0x00;
// - from boolean: a nonzero byte becomes -1 in every 16-bit, 32-bit, float
//   and double destination (not 1), zero becomes 0;
// - boolean or byte to boolean or byte: the byte is copied as it is, except
//   byte to boolean, which is normalised to 0xFF / 0x00.
#pragma once

#include "kelvara/framework/Export.h"

/// Size in bytes of one value of the data-type code (2, 4, 4, 8, 1, 1 for
/// codes 2, 3, 4, 5, 11, 17); 0 for a code a conversion does not accept.
KELVARA_API int ConvertibleElementSize(unsigned short wType);
/** @} */
