// CQZNetMsg: a serialisable network message: a text, a time stamp, a data
// block, a closing flag, a compressed flag and four integers whose meaning
// belongs to the programs that exchange them.
//
// Archive form (run-time class "CQZNetMsg", schema 1), integers 32-bit:
// closing flag, field C, field D, text, time stamp, compressed flag,
// field B, field A, data block (count, then the bytes).
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
    // All integers and flags 0, empty text and data, time stamp now.
    CQZNetMsg();
    CQZNetMsg(const CQZNetMsg& other);
    CQZNetMsg& operator=(const CQZNetMsg& other);
    ~CQZNetMsg() override;

    // The text member itself: what the caller writes there is what
    // Serialize stores.
    CString* GetMessage() { return &m_strMessage; }
    int IsClosing() const { return m_bClosing; }
    // There is no way back other than loading a message.
    void SetClosing() { m_bClosing = 1; }
    int IsCompressed() const { return m_bCompressed; }
    void SetCompressed(int bCompressed) { m_bCompressed = bCompressed; }

    void Serialize(CArchive& ar) override;

    LONG m_nFieldA = 0;
    LONG m_nFieldB = 0;
    BOOL m_bClosing = 0;
    BOOL m_bCompressed = 0;
    LONG m_nFieldC = 0;
    LONG m_nFieldD = 0;
    CString m_strMessage;
    COleDateTime m_Time;
    CByteArray m_DataBlock;
};
