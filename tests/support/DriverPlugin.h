// A driver plug-in as a host uses one: loaded through CDriverLibrary, set
// through string lists, fed blocks made from addresses the driver checked.
#pragma once

#include <gtest/gtest.h>

#include <kelvara/Kelvara.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace testsupport {

// The driver goes before its library.
class LoadedDriver {
public:
    explicit LoadedDriver(const char* pszPath) {
        if (m_Library.Load(pszPath)) {
            m_pDriver.reset(m_Library.CreateDriver());
        }
    }
    ~LoadedDriver() {
        m_pDriver.reset();
        m_Library.Unload();
    }
    CProtocol* operator->() const { return m_pDriver.get(); }
    CProtocol& operator*() const { return *m_pDriver; }
    CProtocol* Get() const { return m_pDriver.get(); }
    bool IsLoaded() const { return m_pDriver != nullptr; }
    CString Error() const { return m_Library.GetLastError(); }
    CProtocol* CreateAnother() { return m_Library.CreateDriver(); }

private:
    CDriverLibrary m_Library;
    std::unique_ptr<CProtocol> m_pDriver;
};

// Dumps the settings, replaces the named lines ("Timing.Timeout", ...) and
// loads them back; false when a name is not in the dump or the driver
// refuses the list.
inline bool Configure(CProtocol& driver, const std::map<std::string, std::string>& settings) {
    CStringList list;
    if (!driver.DumpToStringList(list)) {
        return false;
    }
    std::size_t nReplaced = 0;
    for (POSITION pos = list.GetHeadPosition(); pos != nullptr;) {
        CString& line = list.GetNext(pos);
        const std::string text = line.GetString();
        const auto it = settings.find(text.substr(0, text.find('=')));
        if (it != settings.end()) {
            line = (it->first + "=" + it->second).c_str();
            ++nReplaced;
        }
    }
    return nReplaced == settings.size() && driver.UpdateFromStringList(&list);
}

// A block of count points from an address the driver accepts.
inline std::unique_ptr<CComBlock> MakeBlock(CProtocol& driver, const char* pszAddress,
                                            DWORD dwCount, WORD wType = 2) {
    CRemoteAddress first(pszAddress, driver.GetEDFFormatRemote()->m_strFormat, nullptr);
    EXPECT_EQ(driver.ValidateRemoteAddress(&first), static_cast<DWORD>(EDF_OK)) << pszAddress;
    return std::make_unique<CComBlock>(&first, wType, 1, dwCount, 2);
}

// Block data of values nBytes wide each, low byte first.
inline CByteArray PackValues(const std::vector<int>& values, int nBytes) {
    CByteArray data;
    for (std::size_t i = 0; i < values.size() * nBytes; ++i) {
        data.Add(static_cast<BYTE>(values[i / nBytes] >> (8 * (i % nBytes)) & 0xFF));
    }
    return data;
}

// The block made a write of the values.
inline std::unique_ptr<CComBlock> MakeWrite(CProtocol& driver, const char* pszAddress,
                                            const std::vector<int>& values, int nBytes,
                                            WORD wType = 2) {
    auto block = MakeBlock(driver, pszAddress, static_cast<DWORD>(values.size()), wType);
    CByteArray data = PackValues(values, nBytes);
    block->FillWriteBuffer(&data);
    return block;
}

// A block's data as values nBytes wide; empty when it has none.
inline std::vector<int> Values(CComBlock& block, int nBytes) {
    CByteArray data;
    std::vector<int> values;
    const int nSize = block.GetBlockData(data) ? data.GetSize() : 0;
    for (int i = 0; i + nBytes <= nSize; i += nBytes) {
        values.push_back(nBytes == 1 ? data[i] : data[i] | data[i + 1] << 8);
    }
    return values;
}

}  // namespace testsupport
