// Runs CCombuf's operations on arbitrary frames with arbitrary ranges,
// polynomials and type codes. Beyond staying inside its memory, every result
// is checked against the operation written the slow, obvious way, over the
// part of the range that lies within the buffer; a difference aborts.
#include <fuzzer/FuzzedDataProvider.h>
#include <kelvara/Kelvara.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<BYTE>;

void Check(bool bOk) {
    if (!bOk) {
        std::abort();
    }
}

Bytes Contents(const CByteArray& a) {
    return Bytes(a.GetData(), a.GetData() + a.GetSize());
}

// Mostly indexes near the frame, now and then any int at all.
int ConsumeIndex(FuzzedDataProvider& in) {
    if (in.ConsumeBool()) {
        return in.ConsumeIntegral<int>();
    }
    return in.ConsumeIntegralInRange<int>(-3, 80);
}

// [begin, end) of an exclusive-end range, cut to the frame.
std::pair<int, int> Cut(int64_t start, int64_t end, int n) {
    const int64_t b = std::clamp<int64_t>(start, 0, n);
    return {static_cast<int>(b), static_cast<int>(std::clamp<int64_t>(end, b, n))};
}

WORD ReferenceLrc(const Bytes& bytes, std::pair<int, int> r, WORD poly) {
    WORD crc = 0xFFFF;
    for (int i = r.first; i < r.second; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) {
            const bool out = crc & 1;
            crc = static_cast<WORD>(static_cast<int16_t>(crc) >> 1);
            if (out) {
                crc ^= poly;
            }
        }
    }
    return crc;
}

void Checksums(FuzzedDataProvider& in, const CCombuf& buf, const Bytes& bytes) {
    const int n = static_cast<int>(bytes.size());
    const WORD poly = in.ConsumeIntegral<WORD>();
    const int s = ConsumeIndex(in);
    const int e = ConsumeIndex(in);
    Check(buf.Polynomial_LRC(poly, s, e) == ReferenceLrc(bytes, Cut(s, e == -1 ? n : e, n), poly));
    Check(buf.Polynomial_LRC(buf, poly) == ReferenceLrc(bytes, {0, n}, poly));

    const auto ror = Cut(s, e, n);
    BYTE c = 0;
    for (int i = ror.first; i < ror.second; ++i) {
        c = static_cast<BYTE>(((c >> 1) | (c << 7)) ^ bytes[i]);
    }
    Check(buf.ROR_XOR_CRC(s, e) == c);
    (void)buf.ROR_XOR_CRC(s);

    const auto x = Cut(s, (e == -1 ? int64_t{n} - 1 : int64_t{e}) + 1, n);
    BYTE xr = 0;
    for (int i = x.first; i < x.second; ++i) {
        xr ^= bytes[i];
    }
    Check(buf.XOR_CRC(s, e) == xr);

    CByteArray seg;
    buf.GetDataSegment(&seg, s, e);
    Check(Contents(seg) == Bytes(bytes.begin() + x.first, bytes.begin() + x.second));
}

void Escapes(FuzzedDataProvider& in, CCombuf& buf, const Bytes& bytes) {
    const int n = static_cast<int>(bytes.size());
    const BYTE special = in.ConsumeIntegral<BYTE>();
    const BYTE escape = in.ConsumeBool() ? special : in.ConsumeIntegral<BYTE>();
    const int s = ConsumeIndex(in);
    const int e = ConsumeIndex(in);
    const auto r = Cut(s, e == -1 ? int64_t{n} - 1 : int64_t{e}, n);

    Bytes added;
    Bytes removed;
    for (int i = 0; i < n; ++i) {
        const bool inRange = i >= r.first && i < r.second;
        if (inRange && bytes[i] == special) {
            added.push_back(escape);
        }
        added.push_back(bytes[i]);
        if (!inRange || bytes[i] != escape) {
            removed.push_back(bytes[i]);
        }
    }
    buf.AddEscapeChars(special, escape, s, e);
    Check(Contents(buf) == added);
    CCombuf again;
    for (BYTE b : bytes) {
        again += b;
    }
    again.RemoveEscapeChars(escape, s, e);
    Check(Contents(again) == removed);

    // The array forms undo each other when the escape byte is the special one.
    CByteArray frame;
    for (BYTE b : bytes) {
        frame.Add(b);
    }
    CCombuf escaped;
    escaped.AddEscapeChars(frame, special, special);
    escaped.RemoveEscapeChars(escaped, special);
    Check(Contents(escaped) == bytes);
    escaped.RemoveEscapeChars(frame, escape);  // any bytes at all, trailing escape included
}

void Conversion(FuzzedDataProvider& in, CCombuf& buf, const Bytes& bytes) {
    auto code = [&in]() -> WORD {
        static constexpr WORD kCodes[] = {2, 3, 4, 5, 11, 17, 8, 0};
        return in.ConsumeBool() ? in.ConsumeIntegral<WORD>() : in.PickValueInArray(kCodes);
    };
    const WORD from = code();
    const WORD to = code();
    const int s = ConsumeIndex(in);
    const int e = ConsumeIndex(in);
    const int fromSize = ConvertibleElementSize(from);
    const int toSize = ConvertibleElementSize(to);

    CByteArray out;
    out.Add(0x5A);
    const int result = buf.ConvertDataIntoBuffer(from, to, &out, s, e);
    if (fromSize == 0 || toSize == 0) {
        Check(result == 0 && out.GetSize() == 1 && out[0] == 0x5A);
        return;
    }
    const int n = static_cast<int>(bytes.size());
    const auto r = Cut(s, e == -1 ? n : e, n);
    const int count = (r.second - r.first) / fromSize;
    Check(result == 1 && out.GetSize() == count * toSize);
    if (from == to) {
        const auto first = bytes.begin() + r.first;
        Check(Contents(out) == Bytes(first, first + count * fromSize));
    }
    Check(buf.ConvertDataIntoBuffer(from, to, &buf, s, e) == 1);
    Check(Contents(buf) == Contents(out));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const int op = in.ConsumeIntegralInRange(0, 2);
    const Bytes bytes = in.ConsumeBytes<BYTE>(in.ConsumeIntegralInRange<size_t>(0, 4096));
    CCombuf buf;
    for (BYTE b : bytes) {
        buf += b;
    }
    switch (op) {
        case 0:
            Checksums(in, buf, bytes);
            break;
        case 1:
            Escapes(in, buf, bytes);
            break;
        default:
            Conversion(in, buf, bytes);
            break;
    }
    return 0;
}
