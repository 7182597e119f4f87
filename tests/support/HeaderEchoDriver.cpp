#include "support/HeaderEchoDriver.h"

namespace testsupport {

DWORD CHeaderEchoDriver::GetBlockIdFromPacket(const CCombuf* pPacket) {
    if (pPacket->GetSize() < kHeaderLength) {
        return 0xFFFFFFFFu;
    }
    const BYTE* p = pPacket->GetData() + 1;
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<DWORD>(p[3]) << 24;
}

DWORD CHeaderEchoDriver::FormatTxMessage(CCombuf* pPacket, CPollListItem* pItem, BYTE byType) {
    pPacket->SetSize(kHeaderLength);
    BYTE* p = pPacket->GetData();
    p[0] = byType;
    for (int i = 0; i < 4; ++i) {
        p[1 + i] = static_cast<BYTE>(pItem->m_dwBlockId >> (8 * i));
    }
    if (byType == NETMSG_WRITE_REQUEST) {
        pPacket->Append(pItem->m_Data);
    }
    OnRequest(byType, *pItem);
    return 0;
}

}  // namespace testsupport
