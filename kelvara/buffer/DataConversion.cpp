#include "kelvara/buffer/DataConversion.h"

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "kelvara/buffer/Combuf.h"
#include "kelvara/sibling/Utility.h"

namespace {

enum : unsigned short {
    kInt16 = 2,
    kInt32 = 3,
    kFloat = 4,
    kDouble = 5,
    kBoolean = 11,
    kByte = 17,
};

// One source value, in the widest form its type needs.
struct Value {
    enum Kind { kInteger, kSingle, kReal, kRawByte } kind;
    LONG integer;  // kInteger: 16-bit sign-extended, byte zero-extended
    float single;  // kSingle: kept as read, so a float copies bit for bit
    double real;   // kReal
    BYTE byte;     // kRawByte: a boolean source byte as stored
};

LONG TruncateToLong(double d) {
    if (std::isnan(d)) {
        return 0;
    }
    if (d >= 2147483648.0) {
        return INT32_MAX;
    }
    if (d <= -2147483649.0) {
        return INT32_MIN;
    }
    return static_cast<LONG>(d);  // in range: truncates toward zero
}

// Reads the value of wType from the bytes at p through the utility conversions.
Value ReadValue(unsigned short wType, const BYTE* p, CByteArray& scratch) {
    std::memcpy(scratch.GetData(), p, static_cast<size_t>(ConvertibleElementSize(wType)));
    Value v{Value::kInteger, 0, 0.0f, 0.0, 0};
    switch (wType) {
        case kInt16:
            v.integer = ByteArrayToShort(scratch);
            break;
        case kInt32:
            v.integer = ByteArrayToLong(scratch);
            break;
        case kFloat:
            v.kind = Value::kSingle;
            v.single = ByteArrayToFloat(scratch);
            break;
        case kDouble:
            v.kind = Value::kReal;
            v.real = ByteArrayToDouble(scratch);
            break;
        case kBoolean:
            v.kind = Value::kRawByte;
            v.byte = *p;
            break;
        default:  // kByte
            v.integer = static_cast<BYTE>(ByteArrayToChar(scratch));
            break;
    }
    return v;
}

LONG AsLong(const Value& v) {
    switch (v.kind) {
        case Value::kInteger:
            return v.integer;
        case Value::kSingle:
            return TruncateToLong(v.single);
        case Value::kReal:
            return TruncateToLong(v.real);
        default:
            return v.byte != 0 ? -1 : 0;
    }
}

double AsDouble(const Value& v) {
    switch (v.kind) {
        case Value::kInteger:
            return static_cast<double>(v.integer);
        case Value::kSingle:
            return static_cast<double>(v.single);
        case Value::kReal:
            return v.real;
        default:
            return v.byte != 0 ? -1.0 : 0.0;
    }
}

float AsFloat(const Value& v) {
    switch (v.kind) {
        case Value::kInteger:
            return static_cast<float>(v.integer);
        case Value::kSingle:
            return v.single;
        case Value::kReal:
            if (std::isfinite(v.real) && std::fabs(v.real) >= 0x1.ffffffp127) {
                // Rounds beyond the largest float: infinity, as the hardware
                // gives, spelled out because the language leaves it undefined.
                return v.real > 0 ? std::numeric_limits<float>::infinity()
                                  : -std::numeric_limits<float>::infinity();
            }
            return static_cast<float>(v.real);
        default:
            return v.byte != 0 ? -1.0f : 0.0f;
    }
}

BYTE AsBooleanByte(const Value& v) {
    switch (v.kind) {
        case Value::kInteger:
            return v.integer != 0 ? 0xFF : 0x00;
        case Value::kSingle:
            return v.single != 0.0f ? 0xFF : 0x00;
        case Value::kReal:
            return v.real != 0.0 ? 0xFF : 0x00;
        default:
            return v.byte;  // not normalised
    }
}

BYTE AsByte(const Value& v) {
    if (v.kind == Value::kRawByte) {
        return v.byte;
    }
    return static_cast<BYTE>(AsLong(v));
}

// Writes v as wType to the bytes at p through the utility conversions.
void WriteValue(unsigned short wType, const Value& v, BYTE* p, CByteArray& scratch) {
    switch (wType) {
        case kInt16:
            ShortToByteArray(static_cast<short>(AsLong(v)), scratch);
            break;
        case kInt32:
            LongToByteArray(AsLong(v), scratch);
            break;
        case kFloat:
            FloatToByteArray(AsFloat(v), scratch);
            break;
        case kDouble:
            DoubleToByteArray(AsDouble(v), scratch);
            break;
        case kBoolean:
            *p = AsBooleanByte(v);
            return;
        default:  // kByte
            *p = AsByte(v);
            return;
    }
    std::memcpy(p, scratch.GetData(), static_cast<size_t>(ConvertibleElementSize(wType)));
}

}  // namespace

int ConvertibleElementSize(unsigned short wType) {
    switch (wType) {
        case kInt16:
            return 2;
        case kInt32:
        case kFloat:
            return 4;
        case kDouble:
            return 8;
        case kBoolean:
        case kByte:
            return 1;
        default:
            return 0;
    }
}

int CCombuf::ConvertDataIntoBuffer(unsigned short wSourceType, unsigned short wDestType,
                                   CByteArray* pOut, int nStart, int nEnd) {
    const int nSourceSize = ConvertibleElementSize(wSourceType);
    const int nDestSize = ConvertibleElementSize(wDestType);
    if (nSourceSize == 0 || nDestSize == 0 || pOut == nullptr) {
        return 0;
    }
    const int nLength = GetSize();
    const int nFirst = nStart < 0 ? 0 : (nStart > nLength ? nLength : nStart);
    int nLast = nEnd == -1 ? nLength : nEnd;
    nLast = nLast < nFirst ? nFirst : (nLast > nLength ? nLength : nLast);
    int nCount = (nLast - nFirst) / nSourceSize;
    if (nCount > INT_MAX / nDestSize) {
        nCount = INT_MAX / nDestSize;  // as many whole values as an array can count
    }

    // The output may be this buffer: then convert from a copy of the range.
    CByteArray source;
    const BYTE* pSource = GetData() + nFirst;
    if (pOut == this && nCount > 0) {
        source.SetSize(nCount * nSourceSize);
        std::memcpy(source.GetData(), pSource, static_cast<size_t>(nCount * nSourceSize));
        pSource = source.GetData();
    }

    pOut->SetSize(nCount * nDestSize);
    BYTE* pDest = pOut->GetData();
    CByteArray readScratch;
    CByteArray writeScratch;
    readScratch.SetSize(8);
    writeScratch.SetSize(8);
    for (int k = 0; k < nCount; ++k) {
        const Value v = ReadValue(wSourceType, pSource + k * nSourceSize, readScratch);
        WriteValue(wDestType, v, pDest + k * nDestSize, writeScratch);
    }
    return 1;
}
