/** \addtogroup netmsg
 @{ */
/// CQZNetMsg: a serialisable network message: a text, a time stamp, a data
/// block, a closing flag, a compressed flag and four integers whose meaning
/// belongs to the programs that exchange them.
///
/// Archive form (run-time class "CQZNetMsg", schema 1), integers 32-bit:
/// closing flag, field C, field D, text, time stamp, compressed flag,
/// field B, field A, data block (count, then the bytes).
#pragma once

#include "kelvara/framework/Archive.h"
#include "kelvara/framework/Array.h"
#include "kelvara/framework/DateTime.h"
#include "kelvara/framework/Export.h"
#include "kelvara/framework/Object.h"
#include "kelvara/framework/String.h"
#include "kelvara/framework/Types.h"

class KELVARA_API CQZNetMsg : public CObject {
    DECLARE_SERIAL(CQZNetMsg)

public:
    /// All integers and flags 0, empty text and data, time stamp now.
    CQZNetMsg();
    /// Copies other.
    CQZNetMsg(const CQZNetMsg& other);
    /// Copies other.
    CQZNetMsg& operator=(const CQZNetMsg& other);
    ~CQZNetMsg() override;

    /// The text member itself: what the caller writes there is what
    /// Serialize stores.
    CString* GetMessage() { return &m_strMessage; }
    /// Nonzero once SetClosing was called.
    int IsClosing() const { return m_bClosing; }
    /// There is no way back other than loading a message.
    void SetClosing() { m_bClosing = 1; }
    ///@{
    /// The compressed flag, stored and returned only.
    int IsCompressed() const { return m_bCompressed; }
    void SetCompressed(int bCompressed) { m_bCompressed = bCompressed; }
    ///@}

    void Serialize(CArchive& ar) override;

    ///@{
    /// Integers whose meaning belongs to the programs that exchange the message.
    LONG m_nFieldA = 0;
    LONG m_nFieldB = 0;
    ///@}
    /// See SetClosing.
    BOOL m_bClosing = 0;
    /// See SetCompressed.
    BOOL m_bCompressed = 0;
    ///@{
    /// Integers whose meaning belongs to the programs that exchange the message.
    LONG m_nFieldC = 0;
    LONG m_nFieldD = 0;
    ///@}
    /// The text.
    CString m_strMessage;
    /// The time stamp.
    COleDateTime m_Time;
    /// The data block.
    CByteArray m_DataBlock;
};
/** @} */
