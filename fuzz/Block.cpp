// Loads arbitrary bytes as a stored communication block, the way a host
// reads one back from its archive. A damaged record must end in a
// CArchiveException. A record that loads must store and load again to the
// same bytes, and every extraction, the offset-pair walk and the log line
// must run over it without a crash, a hang or a sanitizer report, giving
// results of the lengths their rules give. The bytes after the record
// choose the extraction ranges.
#include <fuzzer/FuzzedDataProvider.h>
#include <kelvara/Kelvara.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

using Bytes = std::vector<BYTE>;

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

Bytes Store(CComBlock& block) {
    CMemFile file;
    {
        CArchive ar(&file, CArchive::store);
        block.Serialize(ar);
        ar.Close();
    }
    const BYTE* p = file.GetBuffer();
    return Bytes(p, p + file.GetLength());
}

// Loads the record at the start of the bytes; how many bytes it took, or
// -1 when the archive refused it.
long long Load(CComBlock& block, const BYTE* data, size_t size) {
    CMemFile file;
    file.Write(data, static_cast<UINT>(size));
    file.SeekToBegin();
    CArchive ar(&file, CArchive::load);
    try {
        block.Serialize(ar);
    } catch (const CArchiveException&) {
        return -1;
    }
    return static_cast<long long>(file.GetPosition());
}

// An index near the data, near either end of the int range, or anything.
int PickIndex(FuzzedDataProvider& in, long long nLimit) {
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
        case 0:
            return static_cast<int>(std::clamp<long long>(
                in.ConsumeIntegralInRange<long long>(-2, nLimit + 1), INT_MIN, INT_MAX));
        case 1:
            return INT_MAX - in.ConsumeIntegralInRange<int>(0, 9);
        case 2:
            return INT_MIN + in.ConsumeIntegralInRange<int>(0, 9);
        default:
            return in.ConsumeIntegral<int>();
    }
}

long long CeilDiv(long long n, long long d) {
    return n / d + (n % d != 0 ? 1 : 0);
}

// Runs one range extraction; a refusal leaves the output alone, a result
// holds the number of bytes the range gives.
template <typename F>
void CheckRange(F extract, int nFirst, int nLast, long long nPerByte) {
    CByteArray out;
    out.Add(0x5A);
    if (extract(nFirst, nLast, out)) {
        const long long m = static_cast<long long>(nLast) - nFirst + 1;
        Check(m >= 0 && out.GetSize() == CeilDiv(m, nPerByte));
    } else {
        Check(out.GetSize() == 1 && out[0] == 0x5A);
    }
}

void Extract(CComBlock& b, int nFirst, int nLast, int nWhich) {
    switch (nWhich) {
        case 0:
            CheckRange([&](int f, int l, CByteArray& o) { return b.GetBlockSegment(f, l, o); },
                       nFirst, nLast, 1);
            break;
        case 1:
            CheckRange([&](int f, int l, CByteArray& o) { return b.GetBlockBitSegment(f, l, o); },
                       nFirst, nLast, 8);
            break;
        case 2:
            CheckRange(
                [&](int f, int l, CByteArray& o) { return b.GetBlockPackedBitSegment(f, l, o); },
                nFirst, nLast, 8);
            break;
        default:
            CheckRange(
                [&](int f, int l, CByteArray& o) { return b.GetBlockNibbleSegment(f, l, o); },
                nFirst, nLast, 2);
            break;
    }
}

void CheckElement(CComBlock& b, DWORD dwIndex) {
    CByteArray out;
    if (!b.GetBlockElement(dwIndex, out)) {
        return;
    }
    const int n = out.GetSize();
    if (b.IsTableAddressed()) {
        Check(n == 1 || n == 2 || n == 4 || n == 8);
    } else {
        Check(static_cast<DWORD>(n) == std::max<DWORD>(b.GetElementSize(), 1));
    }
    Check((static_cast<long long>(dwIndex) + 1) * n <= b.GetBufferSize());
}

void CheckPairWalk(CComBlock& b) {
    int first = 0;
    int second = 0;
    int n = 0;
    while (b.GetNextOffsetPair(&first, &second)) {
        ++n;
        Check(n <= b.GetOffsetPairCount());
    }
    Check(n == b.GetOffsetPairCount() && first == -1 && second == -1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CComBlock block;
    const long long nUsed = Load(block, data, size);
    if (nUsed < 0) {
        return 0;
    }

    const Bytes stored = Store(block);
    CComBlock again;
    Check(Load(again, stored.data(), stored.size()) == static_cast<long long>(stored.size()));
    Check(Store(again) == stored);

    const CString line = block.CreateLogString();
    Check(block.GetFirstAddress()->m_strAddress == " " ? line.IsEmpty()
                                                       : line.Left(10) == "Generated ");
    CheckPairWalk(block);
    CComBlock copy(block);
    Check(copy.GetOffsetPairCount() == block.GetOffsetPairCount());

    // The whole data once, whatever follows the record.
    const int nSize = block.GetBufferSize();
    for (int which = 0; which < 4; ++which) {
        Extract(block, 0, nSize - 1, which);
    }
    Extract(block, 0, 8 * nSize - 1, 2);
    for (DWORD i = 0; i < 16; ++i) {
        CheckElement(block, i);
    }

    FuzzedDataProvider in(data + nUsed, size - static_cast<size_t>(nUsed));
    for (int op = 0; op < 32 && in.remaining_bytes() > 0; ++op) {
        const int which = in.ConsumeIntegralInRange<int>(0, 5);
        if (which == 4) {
            CheckElement(block, in.ConsumeIntegral<DWORD>());
        } else if (which == 5) {
            if (in.ConsumeBool()) {
                block.SetBlockBad();
            } else {
                block.SetBlockGood();
            }
        } else {
            const long long nLimit = which == 2 ? 8LL * nSize : nSize;
            const int nFirst = PickIndex(in, nLimit);
            Extract(block, nFirst, PickIndex(in, nLimit), which);
        }
    }
    return 0;
}
