#include "kelvara/netmsg/QZNetMsg.h"

IMPLEMENT_SERIAL(CQZNetMsg, CObject, 1)

CQZNetMsg::CQZNetMsg() : m_Time(COleDateTime::GetCurrentTime()) {}

CQZNetMsg::CQZNetMsg(const CQZNetMsg& other)
    : CObject(),
      m_nFieldA(other.m_nFieldA),
      m_nFieldB(other.m_nFieldB),
      m_bClosing(other.m_bClosing),
      m_bCompressed(other.m_bCompressed),
      m_nFieldC(other.m_nFieldC),
      m_nFieldD(other.m_nFieldD),
      m_strMessage(other.m_strMessage),
      m_Time(other.m_Time) {
    m_DataBlock.Copy(other.m_DataBlock);
}

CQZNetMsg& CQZNetMsg::operator=(const CQZNetMsg& other) {
    if (this != &other) {
        m_nFieldA = other.m_nFieldA;
        m_nFieldB = other.m_nFieldB;
        m_bClosing = other.m_bClosing;
        m_bCompressed = other.m_bCompressed;
        m_nFieldC = other.m_nFieldC;
        m_nFieldD = other.m_nFieldD;
        m_strMessage = other.m_strMessage;
        m_Time = other.m_Time;
        m_DataBlock.Copy(other.m_DataBlock);
    }
    return *this;
}

CQZNetMsg::~CQZNetMsg() = default;

void CQZNetMsg::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        ar << m_bClosing << m_nFieldC << m_nFieldD << m_strMessage << m_Time << m_bCompressed
           << m_nFieldB << m_nFieldA;
    } else {
        ar >> m_bClosing >> m_nFieldC >> m_nFieldD >> m_strMessage >> m_Time >> m_bCompressed >>
            m_nFieldB >> m_nFieldA;
    }
    m_DataBlock.Serialize(ar);
}
