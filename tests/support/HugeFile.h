// A file for loading that claims far more bytes than a test could hold, so
// that a loader's count checks against the bytes left pass and its other
// limits are what is tested.
#pragma once

#include <algorithm>
#include <stdexcept>
#include <utility>
#include <vector>

#include "kelvara/framework/File.h"
#include "kelvara/framework/Types.h"

namespace kelvara_test {

// Its head, then zeros up to kLength. A read of more than kMaxCopy bytes
// is counted but not copied: a loader that goes on to read a huge run gets
// its count back without any memory being written. A loader that keeps
// reading item by item is stopped after kMaxReads reads with a
// std::length_error, which no archive loader throws.
class CHugeFile : public CFile {
public:
    static constexpr ULONGLONG kLength = 1ULL << 40;
    static constexpr UINT kMaxCopy = 1 << 20;
    static constexpr int kMaxReads = 1 << 20;

    explicit CHugeFile(std::vector<BYTE> head) : m_head(std::move(head)) {}

    UINT Read(void* lpBuf, UINT nCount) override {
        if (++m_nReads > kMaxReads) {
            throw std::length_error("the loader kept reading a claimed count");
        }
        const ULONGLONG n = std::min<ULONGLONG>(nCount, kLength - m_nPosition);
        for (ULONGLONG i = 0; n <= kMaxCopy && i < n; ++i) {
            const ULONGLONG at = m_nPosition + i;
            static_cast<BYTE*>(lpBuf)[i] = at < m_head.size() ? m_head[static_cast<size_t>(at)] : 0;
        }
        m_nPosition += n;
        return static_cast<UINT>(n);
    }
    ULONGLONG GetPosition() const override { return m_nPosition; }
    ULONGLONG GetLength() const override { return kLength; }

private:
    std::vector<BYTE> m_head;
    ULONGLONG m_nPosition = 0;
    int m_nReads = 0;
};

}  // namespace kelvara_test
