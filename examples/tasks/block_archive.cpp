// Example: a communication block archived and loaded.
//
// A read block of ten words at D0100 is stored in a memory archive with its
// data, then loaded into a new block, which comes back with the same
// address, counts and data. A truncated copy of the record is refused with
// CArchiveException instead of giving a half-read block. Exits nonzero when
// the library answers anything else.
#include <kelvara/Kelvara.h>

#include <cstdio>

int main() {
    CRemoteAddress first("D0100", "[T1(Area) D M][+1N4D(Offset) 0 to 9999]", "U1U2");
    CComBlock block(&first, 0, 10, 10, 2);
    CByteArray data;
    for (int i = 0; i < 20; ++i) {
        data.Add(static_cast<BYTE>(i));
    }
    block.SetBlockData(&data);

    CMemFile file;
    {
        CArchive ar(&file, CArchive::store);
        block.Serialize(ar);
    }
    const ULONGLONG nLength = file.GetLength();
    std::printf("stored %llu bytes\n", static_cast<unsigned long long>(nLength));

    file.SeekToBegin();
    CComBlock loaded;
    {
        CArchive ar(&file, CArchive::load);
        loaded.Serialize(ar);
    }
    CByteArray back;
    loaded.GetBlockData(back);
    const bool same = loaded.GetFirstAddress()->GetAddress() == "D0100" &&
                      loaded.GetItemCount() == 10 && back.GetSize() == 20 && back[19] == 19;
    std::printf("loaded %s, %u items, %d data bytes\n",
                loaded.GetFirstAddress()->GetAddress().GetString(),
                static_cast<unsigned>(loaded.GetItemCount()), back.GetSize());

    // The same record cut short: the load throws and says why.
    CMemFile cut;
    cut.Write(file.GetBuffer(), static_cast<UINT>(nLength / 2));
    cut.SeekToBegin();
    bool refused = false;
    try {
        CArchive ar(&cut, CArchive::load);
        CComBlock partial;
        partial.Serialize(ar);
    } catch (const CArchiveException& e) {
        refused = e.m_cause == CArchiveException::endOfFile;
        std::printf("cut record: %s\n", e.what());
    }
    return same && refused ? 0 : 1;
}
