// Property records under arbitrary string lines and archive records.
//
// An update either takes its lines or changes nothing: a failed update of
// one record or of a chain of records leaves every record and the list as
// they were; a good one takes lines from the head only, and what the records
// then hold reads back the same through their lines and their archive form.
#include <fuzzer/FuzzedDataProvider.h>
#include <kelvara/Kelvara.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Lines(const CStringList& list) {
    std::vector<std::string> lines;
    for (POSITION pos = list.GetHeadPosition(); pos != nullptr;) {
        lines.emplace_back(list.GetNext(pos).GetString());
    }
    return lines;
}

std::vector<std::string> Dump(CQZProperties& record) {
    CStringList list;
    record.DumpToStringList(list);
    return Lines(list);
}

[[noreturn]] void Broken(const char* pszWhat) {
    std::fprintf(stderr, "%s\n", pszWhat);
    std::abort();
}

struct Records {
    CPortProperties port;
    CFlowProperties flow;
    CTimingProperties timing;
    CTCPIPProperties tcpip;
    CTimeoutOnlyProperties timeout;
    CPollProperties poll;
    CGeneralProperties general;

    std::vector<CQZProperties*> All() {
        return {&port, &flow, &timing, &tcpip, &timeout, &poll, &general};
    }
};

// Lines the records themselves write, to start fuzzed lines from.
std::vector<std::string> KnownLines() {
    Records r;
    r.poll.AddItem(7, 3);
    r.poll.AddItem(0xFFFFFFFFu, 255);
    std::vector<std::string> lines;
    for (CQZProperties* p : r.All()) {
        for (const std::string& line : Dump(*p)) {
            lines.push_back(line);
        }
    }
    return lines;
}

std::string FuzzedLine(FuzzedDataProvider& in, const std::vector<std::string>& known) {
    const std::string& base = known[in.ConsumeIntegralInRange<size_t>(0, known.size() - 1)];
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
        case 0:
            return base;
        case 1:  // the record's field with another value
            return base.substr(0, base.find('=') + 1) + in.ConsumeRandomLengthString(24);
        case 2:
            return base.substr(0, base.find('=') + 1) +
                   std::to_string(in.ConsumeIntegral<long long>() >>
                                  in.ConsumeIntegral<uint8_t>() % 64);
        default:
            return in.ConsumeRandomLengthString(40);
    }
}

void CheckRoundTrip(CQZProperties& record, CQZProperties& fresh) {
    const std::vector<std::string> held = Dump(record);
    CStringList list;
    record.DumpToStringList(list);
    if (!fresh.UpdateFromStringList(&list) || !list.IsEmpty() || Dump(fresh) != held) {
        Broken("a record's own lines do not read back");
    }
    CMemFile file;
    {
        CArchive ar(&file, CArchive::store);
        record.Serialize(ar);
    }
    file.SeekToBegin();
    CArchive ar(&file, CArchive::load);
    fresh.Serialize(ar);
    if (Dump(fresh) != held) {
        Broken("a record's archive form does not read back");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::vector<std::string> known = KnownLines();
    FuzzedDataProvider in(data, size);
    Records records;
    std::vector<CQZProperties*> all = records.All();

    // A chain of one to four records, in an order of the input's choosing.
    std::vector<CQZProperties*> chain;
    const int nChain = in.ConsumeIntegralInRange<int>(1, 4);
    for (int i = 0; i < nChain; ++i) {
        chain.push_back(all[in.ConsumeIntegralInRange<size_t>(0, all.size() - 1)]);
    }
    CStringList list;
    const int nLines = in.ConsumeIntegralInRange<int>(0, 24);
    for (int i = 0; i < nLines; ++i) {
        list.AddTail(CString(FuzzedLine(in, known).c_str()));
    }

    std::vector<std::vector<std::string>> before;
    for (CQZProperties* p : all) {
        before.push_back(Dump(*p));
    }
    const std::vector<std::string> linesBefore = Lines(list);
    bool bTaken = false;
    switch (chain.size()) {
        case 1:
            bTaken = chain[0]->UpdateFromStringList(&list);
            break;
        case 2:
            bTaken = UpdateRecordsFromStringList(&list, {chain[0], chain[1]});
            break;
        case 3:
            bTaken = UpdateRecordsFromStringList(&list, {chain[0], chain[1], chain[2]});
            break;
        default:
            bTaken = UpdateRecordsFromStringList(&list, {chain[0], chain[1], chain[2], chain[3]});
            break;
    }
    const std::vector<std::string> linesAfter = Lines(list);
    if (!bTaken) {
        if (linesAfter != linesBefore) {
            Broken("a failed update changed the list");
        }
        for (size_t i = 0; i < all.size(); ++i) {
            if (Dump(*all[i]) != before[i]) {
                Broken("a failed update changed a record");
            }
        }
    } else if (linesAfter.size() > linesBefore.size() ||
               !std::equal(linesAfter.begin(), linesAfter.end(),
                           linesBefore.end() - static_cast<std::ptrdiff_t>(linesAfter.size()))) {
        Broken("an update took lines other than those at the head");
    }

    Records fresh;
    std::vector<CQZProperties*> freshAll = fresh.All();
    for (size_t i = 0; i < all.size(); ++i) {
        CheckRoundTrip(*all[i], *freshAll[i]);
    }

    // The rest of the input as a record of the first chained kind.
    const std::string rest = in.ConsumeRemainingBytesAsString();
    CMemFile file;
    file.Write(rest.data(), static_cast<UINT>(rest.size()));
    file.SeekToBegin();
    const std::vector<std::string> held = Dump(*chain[0]);
    try {
        CArchive ar(&file, CArchive::load);
        chain[0]->Serialize(ar);
    } catch (CArchiveException&) {
        if (Dump(*chain[0]) != held) {
            Broken("a damaged record changed the record");
        }
    }
    return 0;
}
