/** \addtogroup sibling
 @{ */
/// CPollListItem: one request of a network driver's poll list (or write
/// list) with the state of its last exchange.
///
/// Archive form: block id, node, data (count, bytes), received and sent
/// times (low then high half each), data-valid flag, error, poll time.
#pragma once

#include "kelvara/framework/Archive.h"
#include "kelvara/framework/Array.h"
#include "kelvara/framework/Export.h"
#include "kelvara/framework/Object.h"
#include "kelvara/framework/Types.h"

class KELVARA_API CPollListItem : public CObject {
    DECLARE_SERIAL(CPollListItem)

public:
    /// Constructs with the defaults of the class.
    CPollListItem() = default;
    /// A request for block dwBlockId to node byNode.
    CPollListItem(DWORD dwBlockId, BYTE byNode) : m_dwBlockId(dwBlockId), m_byNode(byNode) {}
    /// Copies other.
    CPollListItem(const CPollListItem& other);
    /// Copies other.
    CPollListItem& operator=(const CPollListItem& other);
    ~CPollListItem() override;

    void Serialize(CArchive& ar) override;

    /// Smallest archive form of an item, for bounding counts read from an
    /// archive.
    static constexpr ULONGLONG kMinArchiveSize = 4 + 1 + 2 + 8 + 8 + 4 + 4 + 4;

    /// The id a reply must carry to belong to this request.
    DWORD m_dwBlockId = 0;
    /// Destination node of the request.
    BYTE m_byNode = 0;
    /// Data of the last reply.
    CByteArray m_Data;
    /// When the last reply was taken, and when the request was last sent
    /// (zero: never).
    FILETIME m_ftReceived{0, 0};
    /// See m_ftReceived.
    FILETIME m_ftSent{0, 0};
    /// TRUE when the last reply held data.
    BOOL m_bDataValid = 0;
    /// The error of the last exchange (0: none).
    DWORD m_dwError = 0;
    /// Accumulated duration of the poll passes (first item of a list only).
    DWORD m_dwPollTime = 0;
};
/** @} */
