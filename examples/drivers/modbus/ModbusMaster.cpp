#include "ModbusMaster.h"

#include <algorithm>
#include <chrono>

namespace modbus {

namespace {

DWORD RunExchange(CComBlock& block, CCommsStats& stats, DWORD nRetries, const Exchange& exchange,
                  BlockWork& work, BYTE& exception) {
    Address address;
    if (work.addresses.Decode(block.GetFirstAddress()->m_strAddress, address) != EDF_OK) {
        return SE_INVALID_BLOCK;
    }
    CByteArray& values = work.values;
    values.RemoveAll();
    if (block.GetReadOrWrite() == RW_WRITE) {
        block.GetBlockData(values);
    }
    Request& request = work.request;
    const DWORD built =
        BuildRequest(address, block.GetPointCount(), block.GetReadOrWrite(), values, request);
    if (built != SE_NO_ERROR) {
        return built;
    }
    DWORD result = SE_TIMEOUT;
    for (DWORD attempt = 0; attempt <= nRetries; ++attempt) {
        if (attempt > 0) {
            stats.IncrementRetryCount();
        }
        CByteArray& reply = work.reply;
        reply.RemoveAll();
        result = exchange(request, reply);
        if (result != SE_NO_ERROR) {
            continue;
        }
        CByteArray& data = work.data;
        result = ParseReply(request, reply.GetData(), static_cast<std::size_t>(reply.GetSize()),
                            data, exception);
        if (result == SE_NO_ERROR && !request.IsWrite()) {
            block.SetBlockData(&data);
        }
        // The device understood and refused: asking again would get the
        // same answer.
        if (result == SE_NO_ERROR || result == SE_NAK_RECEIVED) {
            return result;
        }
    }
    return result;
}

}  // namespace

EDF_RET AddressCache::Decode(const char* text, Address& address) {
    const std::string_view key = text != nullptr ? text : "";
    if (const auto found = m_entries.find(key); found != m_entries.end()) {
        address = found->second;
        return EDF_OK;
    }
    const EDF_RET result = DecodeAddress(text, address);
    if (result == EDF_OK) {
        if (m_entries.size() >= kMaxEntries) {
            m_entries.clear();
        }
        m_entries.emplace(key, address);
    }
    return result;
}

DWORD TransferBlock(CProtocol& protocol, CComBlock* pBlock, DWORD nRetries,
                    const Exchange& exchange, BlockWork& work) {
    if (pBlock == nullptr) {
        return SE_INVALID_BLOCK;
    }
    CCommsStats& stats = *protocol.GetCommsStats();
    const auto start = std::chrono::steady_clock::now();
    pBlock->RecycleBlockLeaveData();
    BYTE exception = 0;
    const DWORD result = protocol.IsStarted()
                             ? RunExchange(*pBlock, stats, nRetries, exchange, work, exception)
                             : static_cast<DWORD>(SE_PROTOCOL_NOT_STARTED);
    if (result == SE_NO_ERROR) {
        pBlock->SetBlockGood();
    } else {
        // Stored and counted by the block; a time-out also logs "NR".
        pBlock->SetStandardErrorCode(result, &stats);
        if (result == SE_NAK_RECEIVED) {
            CString text = ExceptionText(exception);
            pBlock->SetDeviceError(exception, &text, &stats);
        }
        pBlock->SetBlockBad();
    }
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    pBlock->SetComTime(static_cast<DWORD>(elapsed.count()));
    return result;
}

DWORD ValidateAddress(const CRemoteAddress* pAddress) {
    if (pAddress == nullptr) {
        return EDF_FAILED;
    }
    Address address;
    return DecodeAddress(pAddress->m_strAddress, address);
}

DWORD MaxBlockSize(const CRemoteAddress* pAddress) {
    Address address;
    if (pAddress == nullptr || DecodeAddress(pAddress->m_strAddress, address) != EDF_OK) {
        return 0;
    }
    // A writable area's blocks may be written, which carries fewer points
    // than a read. The points left before the end of the area bound it too.
    const bool writable = IsWritableArea(address.area);
    const DWORD limit = IsBitArea(address.area)
                            ? (writable ? kMaxWriteBits : kMaxReadBits)
                            : (writable ? kMaxWriteRegisters : kMaxReadRegisters);
    return std::min<DWORD>(limit, 0x10000u - address.offset);
}

}  // namespace modbus
