/** \addtogroup sibling
 @{ */
/// CPollProperties: a network driver's poll list, the requests its port's
/// poll thread sends in index order. The record owns the items.
///
/// Lines: "Poll.Count=<n>" then one "Poll.Item=<block id>,<node>" per item;
/// an update replaces the whole list (replies and times start afresh), and
/// fails when the count does not match the items. The archive form holds
/// every item whole.
#pragma once

#include "kelvara/framework/Array.h"
#include "kelvara/framework/Export.h"
#include "kelvara/sibling/PollListItem.h"
#include "kelvara/sibling/QZProperties.h"

class KELVARA_API CPollProperties : public CQZProperties {
    DECLARE_SERIAL(CPollProperties)

public:
    /// Constructs with the defaults of the class.
    CPollProperties();
    /// Copies other.
    CPollProperties(const CPollProperties& other);
    /// Copies other.
    CPollProperties& operator=(const CPollProperties& other);
    ~CPollProperties() override;

    void Serialize(CArchive& ar) override;
    bool DumpToStringList(CStringList& list) override;
    bool UpdateFromStringList(CStringList* pList) override;

    /// Appends a new item and returns it (owned by the record).
    CPollListItem* AddItem(DWORD dwBlockId, BYTE byNode);
    /// Deletes every item.
    void RemoveAllItems();

    /// The poll list, in index order (owned).
    CTypedPtrArray<CObArray, CPollListItem*> m_PollList;

protected:
    /// The list has no fixed fields: its lines are handled whole.
    void DescribeFields(FieldList&) override {}

private:
    void CopyItems(const CPollProperties& other);
    static bool ParseItem(const CString& strValue, CPollListItem& item);
};
/** @} */
