// CEDFFieldMap: the fields of a format, owned, found by name or by index.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "kelvara/addressing/EDFField.h"
#include "kelvara/framework/Types.h"

// Names are compared case-sensitively. The index table is keyed by each
// field's m_nIndex as it stood when the field was stored: a field whose
// m_nIndex is changed afterwards is no longer found by index. Copies are deep.
class CEDFFieldMap {
public:
    using IndexTable = std::map<int, CEDFField*>;

    CEDFFieldMap() = default;
    CEDFFieldMap(const CEDFFieldMap& other) { CopyFrom(other); }
    CEDFFieldMap& operator=(const CEDFFieldMap& other);
    CEDFFieldMap(CEDFFieldMap&&) noexcept = default;
    CEDFFieldMap& operator=(CEDFFieldMap&&) noexcept = default;
    ~CEDFFieldMap() = default;

    int GetCount() const { return static_cast<int>(m_byName.size()); }
    BOOL IsEmpty() const { return m_byName.empty(); }

    // The field stored under that name, or nullptr.
    CEDFField* Find(std::string_view name) const;
    BOOL Lookup(const char* pszName, CEDFField*& rpField) const;
    // The field whose m_nIndex is nIndex, or nullptr.
    CEDFField* FindIndex(int nIndex) const;

    // Stores pField under that name and takes ownership of it. A field
    // already stored under the name is destroyed: nothing can reach it any
    // more. A null pointer stores nothing.
    void SetAt(const CString& strName, CEDFField* pField);
    // Destroys every field.
    void RemoveAll();

    // Calls fn with every field held, in no particular order.
    template <class Fn>
    void ForEach(Fn&& fn) const {
        for (const auto& entry : m_byName) {
            fn(*entry.second);
        }
    }

    // Iteration in index order, as (index, field) pairs.
    IndexTable::const_iterator begin() const { return m_byIndex.begin(); }
    IndexTable::const_iterator end() const { return m_byIndex.end(); }

private:
    struct NameHash {
        using is_transparent = void;
        size_t operator()(std::string_view s) const noexcept {
            return std::hash<std::string_view>{}(s);
        }
    };
    void CopyFrom(const CEDFFieldMap& other);

    std::unordered_map<std::string, std::unique_ptr<CEDFField>, NameHash, std::equal_to<>> m_byName;
    IndexTable m_byIndex;
};
