// Helpers that store into and load from an in-memory archive.
#pragma once

#include <functional>
#include <vector>

#include "kelvara/framework/Archive.h"
#include "kelvara/framework/File.h"

namespace kelvara_test {

using Bytes = std::vector<BYTE>;

// The bytes an archive holds after `write` stored into it.
inline Bytes StoreWith(const std::function<void(CArchive&)>& write) {
    CMemFile file;
    {
        CArchive ar(&file, CArchive::store);
        write(ar);
        ar.Close();
    }
    const BYTE* p = file.GetBuffer();
    return Bytes(p, p + file.GetLength());
}

// Runs `read` on a loading archive over a copy of `bytes`.
inline void LoadFrom(const Bytes& bytes, const std::function<void(CArchive&)>& read) {
    CMemFile file;
    file.Write(bytes.data(), static_cast<UINT>(bytes.size()));
    file.SeekToBegin();
    CArchive ar(&file, CArchive::load);
    read(ar);
}

// The cause of the archive exception a load of `bytes` ends with, or none.
inline int LoadCause(const Bytes& bytes, const std::function<void(CArchive&)>& read) {
    try {
        LoadFrom(bytes, read);
    } catch (const CArchiveException& e) {
        return e.m_cause;
    }
    return CArchiveException::none;
}

}  // namespace kelvara_test
