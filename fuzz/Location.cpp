// Table locations under arbitrary definitions, texts, counts and archive
// records. Every outcome must be a result code (or a CArchiveException from
// a damaged record), never a crash, a hang or a sanitizer report.
#include <fuzzer/FuzzedDataProvider.h>
#include <kelvara/Kelvara.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

const char* const kDelimiters[] = {"", ":", "-", "::", ".", "\x80", " "};

LONG SmallOrAny(FuzzedDataProvider& in, LONG lo, LONG hi) {
    return in.ConsumeBool() ? in.ConsumeIntegralInRange<LONG>(lo, hi) : in.ConsumeIntegral<LONG>();
}

std::unique_ptr<CQZLocation> MakeChain(FuzzedDataProvider& in) {
    const int depth = in.ConsumeIntegralInRange<int>(1, 5);
    std::unique_ptr<CQZLocation> first;
    CQZLocation* last = nullptr;
    for (int i = 0; i < depth; ++i) {
        QZLocationDescriptor d{};
        d.nIncrement = SmallOrAny(in, -1, 4);
        d.eNumberBase = static_cast<LocationRadix>(in.ConsumeIntegralInRange<LONG>(-1, 4));
        d.nFormatLength = SmallOrAny(in, 0, 10);
        d.nShortestFormatLength = in.ConsumeIntegralInRange<LONG>(0, 10);
        TableOffsetRange r{};
        r.nMinLocation = SmallOrAny(in, -3, 40);
        r.nMaxLocation = SmallOrAny(in, -1, 300);
        auto* c = new CQZLocation(SmallOrAny(in, -50, 400), r, d);
        CString delimiter(
            kDelimiters[in.ConsumeIntegralInRange<size_t>(0, std::size(kDelimiters) - 1)]);
        c->AttatchDelimiter(&delimiter);
        if (last == nullptr) {
            first.reset(c);
        } else {
            last->AttatchFriendLocation(c);
        }
        last = c;
    }
    return first;
}

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

void RoundTrip(CQZLocation& l) {
    CMemFile file;
    {
        CArchive ar(&file, CArchive::store);
        ar << static_cast<const CObject*>(&l);
    }
    file.SeekToBegin();
    CArchive ar(&file, CArchive::load);
    CQZLocation* back = nullptr;
    ar >> back;
    std::unique_ptr<CQZLocation> own(back);
    Check(back != nullptr && back->CheckDefinition(&l) == 1 && (*back == l) == 1);
}

void LoadDamaged(const std::string& bytes) {
    CMemFile file;
    file.Write(bytes.data(), static_cast<UINT>(bytes.size()));
    file.SeekToBegin();
    CArchive ar(&file, CArchive::load);
    try {
        CQZLocation l;
        l.Serialize(ar);
        CString s;
        l.Format(s);
        l += 1000;
        l.FormatError(s);
    } catch (const CArchiveException&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    if (in.ConsumeIntegralInRange<int>(0, 7) == 0) {
        LoadDamaged(in.ConsumeRemainingBytesAsString());
        return 0;
    }
    std::unique_ptr<CQZLocation> l = MakeChain(in);
    CQZLocation other(*l);
    for (int op = 0; op < 16 && in.remaining_bytes() > 0; ++op) {
        CString s;
        switch (in.ConsumeIntegralInRange<int>(0, 11)) {
            case 0: {
                CString text(in.ConsumeRandomLengthString(64));
                const int result = l->Update(&text);
                Check(result == 0 || result == 1);
                Check(result == 0 ? l->GetLocationError() != LE_NONE : l->IsValid() == 1);
                break;
            }
            case 1:
                *l += in.ConsumeIntegral<int>();
                break;
            case 2:
                *l -= in.ConsumeIntegral<int>();
                break;
            case 3:
                (*l)++;
                --*l;
                ++*l;
                break;
            case 4:
                *l = in.ConsumeIntegral<int>();
                break;
            case 5:
                l->Format(s);
                break;
            case 6:
                l->FormatError(s);
                break;
            case 7: {
                const int n = in.ConsumeIntegral<int>();
                (void)(*l < other), (void)(*l >= other), (void)(*l == n), (void)(*l > n);
                break;
            }
            case 8:
                *l += other;
                other = *l - other;
                break;
            case 9:
                l->UpdateDefinition(&other);
                break;
            case 10:
                RoundTrip(*l);
                break;
            default:
                other = *MakeChain(in);
                break;
        }
    }
    return 0;
}
