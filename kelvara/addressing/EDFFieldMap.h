/** \addtogroup addressing
 @{ */
/// CEDFFieldMap: the fields of a format, owned, found by name or by index.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "kelvara/addressing/EDFField.h"
#include "kelvara/framework/Export.h"
#include "kelvara/framework/Types.h"

/// Names are compared case-sensitively. The index table is keyed by each
/// field's m_nIndex as it stood when the field was stored: a field whose
/// m_nIndex is changed afterwards is no longer found by index. Copies are deep.
class KELVARA_API CEDFFieldMap {
public:
    /// Fields by index.
    using IndexTable = std::map<int, CEDFField*>;

    /// An empty map.
    CEDFFieldMap() = default;
    /// Copies other.
    CEDFFieldMap(const CEDFFieldMap& other) { CopyFrom(other); }
    /// Copies other.
    CEDFFieldMap& operator=(const CEDFFieldMap& other);
    /// Moves other; it is left empty.
    CEDFFieldMap(CEDFFieldMap&&) noexcept = default;
    /// Moves other; it is left empty.
    CEDFFieldMap& operator=(CEDFFieldMap&&) noexcept = default;
    ~CEDFFieldMap() = default;

    /// Number of fields.
    int GetCount() const { return static_cast<int>(m_byName.size()); }
    /// True when there are no fields.
    BOOL IsEmpty() const { return m_byName.empty(); }

    ///@{
    /// The field stored under that name, or nullptr.
    CEDFField* Find(std::string_view name) const;
    BOOL Lookup(const char* pszName, CEDFField*& rpField) const;
    ///@}
    /// The field whose m_nIndex is nIndex, or nullptr.
    CEDFField* FindIndex(int nIndex) const {
        // Address checks look fields up by index all the time: the usual
        // dense indexes come from a plain table.
        if (nIndex >= 1 && static_cast<size_t>(nIndex) <= m_dense.size()) {
            CEDFField* pField = m_dense[static_cast<size_t>(nIndex) - 1];
            if (pField && pField->m_nIndex == nIndex) {
                return pField;
            }
        }
        return FindIndexSlow(nIndex);
    }

    /// The plain table behind FindIndex, for a walk that looks up one index
    /// after another while the map stays as it is: fields[i - 1] may be the
    /// field of index i (check its m_nIndex); FindIndex answers the rest.
    struct DenseIndex {
        /// The fields, by index; null where no field has that index.
        CEDFField* const* fields;
        /// Number of entries of fields.
        size_t nSize;
    };
    /// See DenseIndex.
    DenseIndex GetDenseIndex() const { return {m_dense.data(), m_dense.size()}; }

    /// Stores pField under that name and takes ownership of it. A field
    /// already stored under the name is destroyed: nothing can reach it any
    /// more; the result is then TRUE. A null pointer stores nothing.
    BOOL SetAt(const CString& strName, CEDFField* pField);
    /// Destroys every field.
    void RemoveAll();

    /// Calls fn with every field held, in no particular order.
    template <class Fn>
    void ForEach(Fn&& fn) const {
        for (const CEDFField* pField : m_all) {
            fn(*pField);
        }
    }

    /// Whether pred holds for some field held; stops at the first that does.
    template <class Pred>
    BOOL AnyOf(Pred&& pred) const {
        for (const CEDFField* pField : m_all) {
            if (pred(*pField)) {
                return TRUE;
            }
        }
        return FALSE;
    }

    ///@{
    /// Iteration in index order, as (index, field) pairs.
    IndexTable::const_iterator begin() const { return m_byIndex.begin(); }
    IndexTable::const_iterator end() const { return m_byIndex.end(); }
    ///@}

private:
    struct NameHash {
        using is_transparent = void;
        size_t operator()(std::string_view s) const noexcept {
            return std::hash<std::string_view>{}(s);
        }
    };
    struct Entry {
        std::unique_ptr<CEDFField> pField;
        int nStoredIndex = 0;  // m_nIndex when stored: where the index tables hold it
    };
    void CopyFrom(const CEDFFieldMap& other);
    CEDFField* FindIndexSlow(int nIndex) const;
    void Unindex(const Entry& entry);

    std::unordered_map<std::string, Entry, NameHash, std::equal_to<>> m_byName;
    IndexTable m_byIndex;
    // m_dense[i - 1] is the field of index i, for indexes up to about twice
    // the number of fields (so a stray large index costs no memory).
    std::vector<CEDFField*> m_dense;
    // Every field held, side by side, for the walks over all of them (an
    // address checks all its fields for a step each time it is validated).
    std::vector<CEDFField*> m_all;
};
/** @} */
