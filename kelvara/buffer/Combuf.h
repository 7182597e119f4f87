/** \addtogroup buffer
 @{ */
/// CCombuf: the byte buffer in which drivers assemble requests and take apart
/// replies, with checksums, escape bytes and typed value conversion.
///
/// Range arguments: each operation keeps the convention its callers have
/// always used, so they differ from one operation to the next:
///
///   Polynomial_LRC(poly, start, end)   start inclusive, end exclusive; end -1 = length
///   ROR_XOR_CRC(start)                 start to the end of the buffer
///   ROR_XOR_CRC(start, end)            start inclusive, end exclusive; -1 is not special
///                                      (an end of -1 covers nothing)
///   XOR_CRC(start, end)                both inclusive; end -1 = last byte
///   AddEscapeChars(.., start, end)     start inclusive, end exclusive; end -1 = length - 1,
///   RemoveEscapeChars(.., start, end)  so by default the last byte is left alone
///   GetDataSegment(out, start, end)    both inclusive; end -1 = last byte
///   ConvertDataIntoBuffer(.., s, e)    start inclusive, end exclusive; end -1 = length
///
/// Indexes outside the buffer never read or write outside it. After the -1
/// rule above is applied, every range is cut down to the part of it that lies
/// within the buffer (a negative start counts as 0, an end past the buffer as
/// its length); a range that is then empty, or whose start lies after its end,
/// covers no bytes. So a checksum over it gives its start value (0xFFFF for
/// Polynomial_LRC, 0 for the others), an escape operation leaves the buffer as
/// it was, and GetDataSegment gives an empty array.
#pragma once

#include "kelvara/framework/Array.h"
#include "kelvara/framework/Export.h"
#include "kelvara/framework/Types.h"

class KELVARA_API CCombuf : public CByteArray {
public:
    /// An empty buffer.
    CCombuf() = default;
    /// Copies other.
    CCombuf(const CCombuf&) = default;
    /// Moves other; it is left empty.
    CCombuf(CCombuf&&) noexcept = default;
    ~CCombuf() override = default;

    ///@{
    /// Empties this buffer, then appends all bytes of the source.
    CCombuf& operator=(const CCombuf& src);
    CCombuf& operator=(CCombuf&& src) noexcept;
    CCombuf& operator=(const CByteArray& src);
    ///@}
    /// The bytes of the text without its terminating zero; a null text empties
    /// the buffer.
    CCombuf& operator=(const char* pszText);

    ///@{
    /// Appends all bytes of the source (which may be this buffer itself).
    CCombuf& operator+=(const CCombuf& src);
    CCombuf& operator+=(const CByteArray& src);
    ///@}
    /// Appends the bytes of the text without its terminating zero; an empty or
    /// null text appends nothing.
    CCombuf& operator+=(const char* pszText);
    /// Appends one byte.
    CCombuf& operator+=(unsigned char byByte);
    /// Appends all bytes of the array (which may be this buffer itself).
    void Append(const CByteArray& src);

    /// Reference to the byte at the index. An index outside the buffer gives a
    /// scratch byte that belongs to no index, as for any byte array.
    using CByteArray::ElementAt;

    /// *pOut := the bytes from nStart to nEnd inclusive (nEnd -1 = last byte),
    /// as far as they lie within this buffer. pOut may be this buffer; a null
    /// pOut does nothing.
    void GetDataSegment(CByteArray* pOut, int nStart, int nEnd) const;

    ///@{
    /// 16-bit polynomial checksum: start 0xFFFF, each byte XORed into the low
    /// byte, then eight steps of an arithmetic (sign-keeping) right shift with
    /// the polynomial XORed in whenever a 1 was shifted out; no final XOR or
    /// byte swap. 0xFFFF when no bytes are covered. "abc" with 0xA001 gives
    /// 0xF751.
    unsigned short Polynomial_LRC(const CByteArray& data, unsigned short wPolynomial) const;
    unsigned short Polynomial_LRC(unsigned short wPolynomial, int nStart, int nEnd) const;
    ///@}

    ///@{
    /// 8-bit rotate-and-XOR checksum: c := (c rotated right by one) XOR byte,
    /// from 0. "abc" gives 0x0A.
    unsigned char ROR_XOR_CRC(const CByteArray& data) const;
    unsigned char ROR_XOR_CRC() const;
    unsigned char ROR_XOR_CRC(int nStart) const;
    unsigned char ROR_XOR_CRC(int nStart, int nEnd) const;
    ///@}

    /// 8-bit XOR of the bytes from nStart to nEnd inclusive. "abc" gives 0x60.
    unsigned char XOR_CRC(int nStart, int nEnd) const;

    /// Inserts byEscape before every byte equal to bySpecial in the range;
    /// the bytes outside it are kept as they are. If the buffer would grow
    /// beyond the largest size an int can count it is left unchanged.
    void AddEscapeChars(unsigned char bySpecial, unsigned char byEscape, int nStart, int nEnd);
    /// Removes every byte equal to byEscape in the range, the bytes after it
    /// closing up: two escape bytes in a row both go.
    void RemoveEscapeChars(unsigned char byEscape, int nStart, int nEnd);

    /// This buffer := all bytes of data with byEscape inserted before every
    /// bySpecial. data may be this buffer. Same size limit as above.
    void AddEscapeChars(const CByteArray& data, unsigned char bySpecial, unsigned char byEscape);
    /// This buffer := all bytes of data with escapes undone: an escape byte is
    /// dropped and the byte after it is kept literally, even when it is itself
    /// the escape byte. A final escape byte with nothing after it is dropped
    /// too. data may be this buffer.
    void RemoveEscapeChars(const CByteArray& data, unsigned char byEscape);

    /// Converts the values of data-type wSourceType held in this buffer from
    /// nStart to nEnd (exclusive; -1 = length) into values of wDestType written
    /// to *pOut from index 0; *pOut is resized to hold exactly them. The codes
    /// are 2 (16-bit), 3 (32-bit), 4 (float), 5 (double), 11 (boolean) and 17
    /// (byte); see DataConversion.h for the rules. A trailing part of the range
    /// too short for a whole value is ignored.
    /// Returns 1 when both codes are valid (also when nothing is converted);
    /// 0 when either code is invalid or pOut is null, with *pOut untouched.
    /// pOut may be this buffer.
    int ConvertDataIntoBuffer(unsigned short wSourceType, unsigned short wDestType,
                              CByteArray* pOut, int nStart, int nEnd);
};
/** @} */
