// A sample ARCNET driver plug-in: reads and writes runs of 16-bit registers
// at register stations on an ARCNET network, through the library's
// CNetPort. Its packets are those of RegisterPackets.h; the simulated
// station of ArcnetRegisterStation.h answers them on the virtual segment.
//
// A network driver does not run its exchanges itself, as a serial driver
// does. The port's poll thread sends every request of the driver's poll
// list once a pass (about every 100 ms), hands each answer to the items
// whose id it carries, and sends each item of the port's write list once.
// The driver puts the host's blocks into those lists and takes the results
// out of them:
//
// - a read block becomes a poll item with the block's id, which stays in the
//   poll list while the host keeps reading the block, so its data are
//   refreshed every pass. TransferData answers from the item's latest
//   answer, waiting up to the time-out when there is none yet (the block is
//   new, the station has gone quiet, or the station has just been written);
// - a write block becomes a write item, sent once, and, for as long as the
//   transfer waits, a poll item with the same id that asks the station for
//   the write's result.
//
// The hooks of CNetworkProtocol run on the poll thread while it holds the
// mutex of the list it walks; everything else here runs on the host's
// thread, and touches the lists only under the same mutexes.
//
// Addresses are "<node>:<area><register>", for example "12:R100": node 1 to
// 255 (0 is ARCNET's broadcast), area R (read and write) or I (read only),
// register 0 to 65535. A block's point count is its number of registers;
// its data may be of any type that CCombuf::ConvertDataIntoBuffer converts
// to and from 16-bit registers (type 2 is the registers as they are).
#include <kelvara/Kelvara.h>

#include <chrono>
#include <memory>
#include <thread>

#include "RegisterPackets.h"

namespace {

using namespace arcnet_registers;
using Clock = std::chrono::steady_clock;

constexpr const char* kRemoteFormat =
    "[NVD(Node) 1 to 255]:[T1(Area) R I][+1NVD(Register) 0 to 65535]";
// Node and area one byte each, register two: Compress then gives the
// request's address bytes.
constexpr const char* kAttributes = "U1U1U2";

constexpr WORD kRegisterType = 2;  // signed 16-bit, the station's registers
constexpr DWORD kDefaultTimeout = 500;
// A new request waits up to one pass to go out and its answer up to one
// more to be taken from the port: the time-out counts from then on.
constexpr auto kPollCycles = std::chrono::milliseconds(250);
constexpr auto kWaitStep = std::chrono::milliseconds(2);
// Read items the host has stopped asking for are dropped after this long,
// and the least recently asked when there are more than kMaxReadItems.
constexpr auto kForgetAfter = std::chrono::seconds(10);
constexpr int kMaxReadItems = 64;

// A poll or write item together with the request it stands for. The
// request is built once, on the host's thread; the poll thread only copies
// it (FormatTxMessage).
class CRegisterItem : public CPollListItem {
public:
    CRegisterItem(DWORD dwBlockId, BYTE byNode) : CPollListItem(dwBlockId, byNode) {}

    CCombuf m_Request;
    BYTE m_byFunction = 0;
    WORD m_wTransaction = 0;
    // What a read item was built from, to notice a block that has changed.
    CString m_strAddress;
    int m_nCount = 0;
    // Host's thread only: when the host last asked for a read item.
    Clock::time_point m_LastAsked;
};

// What the host's block asks for.
struct CRun {
    BYTE byNode = 0;
    CByteArray address;  // node, area, first register
    int nCount = 0;
};

// An exception the station answered with, for SetDeviceError.
struct CStationException {
    BYTE byCode = EX_NONE;
    CString strText;
};

CString ExceptionText(BYTE byCode) {
    switch (byCode) {
        case EX_ILLEGAL_FUNCTION:
            return "Station: illegal function";
        case EX_ILLEGAL_ADDRESS:
            return "Station: illegal register address";
        case EX_ILLEGAL_COUNT:
            return "Station: illegal register count";
        case EX_READ_ONLY:
            return "Station: register is read-only";
        default: {
            CString text;
            text.Format("Station: exception %u", static_cast<unsigned>(byCode));
            return text;
        }
    }
}

// An item's data are its last answer from the transaction number on (the
// poll thread cuts off the id: GetDataOffsetInPacket).
constexpr int kDataTransaction = 0;
constexpr int kDataStatus = kOffsetStatus - kOffsetTransaction;
constexpr int kDataValues = kAnswerHeaderSize - kOffsetTransaction;

class CArcnetRegisterDriver : public CNetworkProtocol {
public:
    CArcnetRegisterDriver() : CNetworkProtocol("", kRemoteFormat) {
        SetTimeoutDefaults(kDefaultTimeout);
        // The base class stored its own version text while it was built.
        m_GeneralProperties.m_strVersion = GetVersionInfo();
    }

    ~CArcnetRegisterDriver() override {
        if (IsStarted()) {
            CArcnetRegisterDriver::StopProtocol();
        }
    }

    CString GetVersionInfo() override { return "ARCNET register station driver 1.0"; }
    BOOL IsNetworkProtocol() override { return 1; }
    DWORD GetMaxBlockSize(CRemoteAddress*) override { return kMaxRegisters; }

    // The address text against this driver's format, whatever format the
    // host's address object carries.
    DWORD ValidateRemoteAddress(CRemoteAddress* pAddress) override {
        if (pAddress == nullptr) {
            return EDF_FAILED;
        }
        CRemoteAddress address(pAddress->m_strAddress, kRemoteFormat, kAttributes);
        return address.Validate();
    }

    DWORD StartProtocol() override {
        const DWORD dwResult = CNetworkProtocol::StartProtocol();
        if (dwResult != SE_NO_ERROR) {
            return dwResult;
        }
        // Node id 0: the card keeps the node id its switches give it.
        m_pPort = std::make_unique<CNetPort>(&m_PollProperties, &m_TimeoutProperties,
                                             GetCommsStats(), 0, this);
        const DWORD dwOpen = m_pPort->Open();
        if (dwOpen != SE_NO_ERROR) {
            m_pPort.reset();
            CNetworkProtocol::StopProtocol();
        }
        return dwOpen;
    }

    DWORD StopProtocol() override {
        const DWORD dwResult = CNetworkProtocol::StopProtocol();
        if (dwResult != SE_NO_ERROR) {
            return dwResult;
        }
        // Close stops the poll thread, so nothing reads the lists any more;
        // the port destroys the write items left in its list.
        m_pPort->Close();
        m_pPort.reset();
        m_PollProperties.RemoveAllItems();
        return SE_NO_ERROR;
    }

    DWORD TransferData(CComBlock* pBlock) override {
        if (pBlock == nullptr) {
            return SE_INVALID_BLOCK;
        }
        const Clock::time_point start = Clock::now();
        pBlock->RecycleBlockLeaveData();
        CStationException exception;
        const DWORD dwResult = Transfer(pBlock, start, &exception);
        if (exception.byCode != EX_NONE) {
            // The station refused (2004, a negative acknowledgement); its
            // reason goes to the block as the device error.
            pBlock->SetDeviceError(exception.byCode, &exception.strText, GetCommsStats());
        }
        if (dwResult != SE_NO_ERROR) {
            // Counts the error (2001 also as a time-out, with "NR" in the log).
            pBlock->SetStandardErrorCode(dwResult, GetCommsStats());
            pBlock->SetBlockBad();
        } else {
            pBlock->SetBlockGood();
        }
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
        pBlock->SetComTime(static_cast<DWORD>(elapsed.count()));
        // The base class counts the block and its com time.
        CNetworkProtocol::TransferData(pBlock);
        return dwResult;
    }

    // ---- The poll thread's hooks ----------------------------------------

    // Every packet starts with the item id. A packet too short to be an
    // answer gets id 0, which block ids reach only on wrapping, and even
    // then its data fail the transaction check of AwaitAnswer.
    DWORD GetBlockIdFromPacket(const CCombuf* pPacket) override {
        if (pPacket->GetSize() < kAnswerHeaderSize) {
            return 0;
        }
        return LoadLE(*pPacket, kOffsetItemId, 4);
    }

    // Items keep the answer from the transaction number on, so that the
    // host's side can tell which request it answers.
    DWORD GetDataOffsetInPacket() override { return kOffsetTransaction; }

    // The poll thread asks with type 17 for the items of the poll list (our
    // reads and write-result requests) and with 18 for the write list (our
    // writes). Each of our items carries its request ready built, so the
    // type adds nothing here.
    DWORD FormatTxMessage(CCombuf* pPacket, CPollListItem* pItem, BYTE) override {
        const auto* pRequest = dynamic_cast<const CRegisterItem*>(pItem);
        if (pRequest == nullptr) {
            pPacket->SetSize(0);  // not an item of ours: nothing to ask
            return 0;
        }
        *pPacket = pRequest->m_Request;
        return 0;
    }

private:
    DWORD Transfer(CComBlock* pBlock, Clock::time_point start, CStationException* pException) {
        if (m_pPort == nullptr) {
            return SE_PROTOCOL_NOT_STARTED;
        }
        CRun run;
        const DWORD dwResult = DescribeRun(pBlock, &run);
        if (dwResult != SE_NO_ERROR) {
            return dwResult;
        }
        const Clock::time_point deadline =
            start + kPollCycles + std::chrono::milliseconds(GetTimeout());
        if (pBlock->GetReadOrWrite() == RW_WRITE) {
            return WriteRun(pBlock, run, deadline, pException);
        }
        return ReadRun(pBlock, run, deadline, pException);
    }

    // Checks the block against the driver's address format and limits.
    DWORD DescribeRun(CComBlock* pBlock, CRun* pRun) {
        CRemoteAddress address(pBlock->GetFirstAddress()->m_strAddress, kRemoteFormat, kAttributes);
        if (address.Validate() != EDF_OK) {
            return SE_INVALID_BLOCK;
        }
        if (ConvertibleElementSize(pBlock->GetBlockType()) == 0) {
            return SE_INVALID_DATA_TYPE;
        }
        const DWORD dwCount = pBlock->GetPointCount();
        if (dwCount == 0 || dwCount > static_cast<DWORD>(kMaxRegisters)) {
            return SE_INVALID_BLOCK;
        }
        if (address.Compress(pRun->address) != EDF_OK) {
            return SE_INVALID_BLOCK;
        }
        pRun->byNode = pRun->address[0];
        pRun->nCount = static_cast<int>(dwCount);
        return SE_NO_ERROR;
    }

    DWORD ReadRun(CComBlock* pBlock, const CRun& run, Clock::time_point deadline,
                  CStationException* pException) {
        CRegisterItem* pItem = nullptr;
        CCombuf request;
        {
            CNetPort::CListLock lock(m_pPort->GetPollListMutex());
            if (!lock.IsLocked()) {
                return SE_INTERNAL_ERROR;
            }
            pItem = ReadItemFor(pBlock, run);
            request = pItem->m_Request;
        }
        GetCommsStats()->AddToCommsLog(&request, false);
        CByteArray answer;
        const DWORD dwResult = AwaitAnswer(pItem, nullptr, deadline, &answer);
        if (dwResult != SE_NO_ERROR) {
            return dwResult;
        }
        if (!TakeStatus(answer, pException)) {
            return SE_NAK_RECEIVED;
        }
        if (answer.GetSize() != kDataValues + 2 * run.nCount) {
            return SE_INVALID_FORMAT;
        }
        CCombuf registers;
        registers = answer;
        CByteArray data;
        registers.ConvertDataIntoBuffer(kRegisterType, pBlock->GetBlockType(), &data, kDataValues,
                                        -1);
        pBlock->SetBlockData(&data);
        return SE_NO_ERROR;
    }

    DWORD WriteRun(CComBlock* pBlock, const CRun& run, Clock::time_point deadline,
                   CStationException* pException) {
        CCombuf values;
        pBlock->GetBlockData(values);
        CByteArray registers;
        values.ConvertDataIntoBuffer(pBlock->GetBlockType(), kRegisterType, &registers, 0, -1);
        if (registers.GetSize() < 2 * run.nCount) {
            return SE_INVALID_BLOCK;  // fewer values than points
        }
        registers.SetSize(2 * run.nCount);

        const WORD wTransaction = ++m_wTransaction;
        auto* pWrite = NewItem(pBlock->GetBlockId(), run, FN_WRITE, wTransaction, &registers);
        auto* pResult = NewItem(pBlock->GetBlockId(), run, FN_WRITE_RESULT, wTransaction, nullptr);
        if (!AddItem(m_pPort->GetPollListMutex(), m_PollProperties.m_PollList, pResult)) {
            delete pResult;
            delete pWrite;
            return SE_INTERNAL_ERROR;
        }
        DWORD dwResult = SE_INTERNAL_ERROR;
        if (AddItem(m_pPort->GetWriteListMutex(), m_pPort->m_WriteList, pWrite)) {
            GetCommsStats()->AddToCommsLog(&pWrite->m_Request, false);
            CByteArray answer;
            dwResult = AwaitAnswer(pResult, pWrite, deadline, &answer);
            RemoveItem(m_pPort->GetWriteListMutex(), m_pPort->m_WriteList, pWrite);
            if (dwResult == SE_NO_ERROR && !TakeStatus(answer, pException)) {
                dwResult = SE_NAK_RECEIVED;
            } else if (dwResult == SE_NO_ERROR) {
                MarkReadsStale(run.byNode);
            }
        } else {
            delete pWrite;
        }
        RemoveItem(m_pPort->GetPollListMutex(), m_PollProperties.m_PollList, pResult);
        return dwResult;
    }

    // Waits for an answer to pItem's current request and takes it, or for
    // the deadline. A write item (pWrite) that the port failed to send ends
    // the wait with the port's code.
    DWORD AwaitAnswer(CRegisterItem* pItem, CRegisterItem* pWrite, Clock::time_point deadline,
                      CByteArray* pAnswer) {
        for (;;) {
            DWORD dwItemError = SE_NO_ERROR;
            {
                CNetPort::CListLock lock(m_pPort->GetPollListMutex());
                if (lock.IsLocked() && pItem->m_bDataValid &&
                    pItem->m_Data.GetSize() >= kDataValues &&
                    LoadLE(pItem->m_Data, kDataTransaction, 2) == pItem->m_wTransaction) {
                    pAnswer->Copy(pItem->m_Data);
                    break;
                }
                dwItemError = pItem->m_dwError;
            }
            if (pWrite != nullptr) {
                CNetPort::CListLock lock(m_pPort->GetWriteListMutex());
                if (lock.IsLocked() && FileTimeToULongLong(pWrite->m_ftSent) != 0 &&
                    pWrite->m_dwError != SE_NO_ERROR) {
                    return pWrite->m_dwError;
                }
            }
            if (Clock::now() >= deadline) {
                // The poll thread marks an overdue item 2001; a failed
                // transmission leaves the port's own code.
                return dwItemError != SE_NO_ERROR ? dwItemError : SE_TIMEOUT;
            }
            std::this_thread::sleep_for(kWaitStep);
        }
        CCombuf frame;
        AppendLE(frame, pItem->m_dwBlockId, 4);
        frame += *pAnswer;
        GetCommsStats()->AddToCommsLog(&frame, true);
        return SE_NO_ERROR;
    }

    // FALSE, with the exception in *pException, when the station refused.
    static bool TakeStatus(const CByteArray& answer, CStationException* pException) {
        const BYTE byStatus = answer[kDataStatus];
        if (byStatus == EX_NONE) {
            return true;
        }
        pException->byCode = byStatus;
        pException->strText = ExceptionText(byStatus);
        return false;
    }

    // The block's read item, made or brought up to date; under the poll-list
    // mutex.
    CRegisterItem* ReadItemFor(CComBlock* pBlock, const CRun& run) {
        const Clock::time_point now = Clock::now();
        ForgetIdleReads(now);
        const CString& strAddress = pBlock->GetFirstAddress()->m_strAddress;
        CRegisterItem* pItem = FindItem(pBlock->GetBlockId(), FN_READ);
        if (pItem == nullptr) {
            pItem = NewItem(pBlock->GetBlockId(), run, FN_READ, ++m_wTransaction, nullptr);
            m_PollProperties.m_PollList.Add(pItem);
        } else if (pItem->m_strAddress != strAddress || pItem->m_nCount != run.nCount) {
            // The host has pointed the block elsewhere: a new request, and
            // the answers to the old one no longer count.
            pItem->m_wTransaction = ++m_wTransaction;
            pItem->m_Request =
                BuildRequest(pBlock->GetBlockId(), run, FN_READ, pItem->m_wTransaction, nullptr);
            pItem->m_byNode = run.byNode;
            pItem->m_bDataValid = 0;
        }
        pItem->m_strAddress = strAddress;
        pItem->m_nCount = run.nCount;
        pItem->m_LastAsked = now;
        return pItem;
    }

    // Drops the read items the host no longer asks for, and the least
    // recently asked when the list is full; under the poll-list mutex.
    void ForgetIdleReads(Clock::time_point now) {
        CTypedPtrArray<CObArray, CPollListItem*>& list = m_PollProperties.m_PollList;
        int nReads = 0;
        int nOldest = -1;
        for (int i = list.GetSize() - 1; i >= 0; --i) {
            auto* pItem = static_cast<CRegisterItem*>(list[i]);
            if (pItem->m_byFunction != FN_READ) {
                continue;
            }
            if (now - pItem->m_LastAsked > kForgetAfter) {
                list.RemoveAt(i);
                delete pItem;
                continue;
            }
            ++nReads;
            if (nOldest < 0 ||
                pItem->m_LastAsked <= static_cast<CRegisterItem*>(list[nOldest])->m_LastAsked) {
                nOldest = i;
            }
        }
        if (nReads >= kMaxReadItems) {
            delete list[nOldest];
            list.RemoveAt(nOldest);
        }
    }

    // Under the poll-list mutex.
    CRegisterItem* FindItem(DWORD dwBlockId, BYTE byFunction) {
        for (int i = 0; i < m_PollProperties.m_PollList.GetSize(); ++i) {
            auto* pItem = static_cast<CRegisterItem*>(m_PollProperties.m_PollList[i]);
            if (pItem->m_dwBlockId == dwBlockId && pItem->m_byFunction == byFunction) {
                return pItem;
            }
        }
        return nullptr;
    }

    // A written station's read items wait for an answer to a request sent
    // after the write: answers already taken may show the old values.
    void MarkReadsStale(BYTE byNode) {
        CNetPort::CListLock lock(m_pPort->GetPollListMutex());
        if (!lock.IsLocked()) {
            return;
        }
        for (int i = 0; i < m_PollProperties.m_PollList.GetSize(); ++i) {
            auto* pItem = static_cast<CRegisterItem*>(m_PollProperties.m_PollList[i]);
            if (pItem->m_byFunction == FN_READ && pItem->m_byNode == byNode) {
                pItem->m_bDataValid = 0;
            }
        }
    }

    static CCombuf BuildRequest(DWORD dwBlockId, const CRun& run, BYTE byFunction,
                                WORD wTransaction, const CByteArray* pValues) {
        CCombuf request;
        AppendLE(request, dwBlockId, 4);
        AppendLE(request, wTransaction, 2);
        request += byFunction;
        request += run.address;
        request += static_cast<BYTE>(run.nCount);
        if (pValues != nullptr) {
            request += *pValues;
        }
        return request;
    }

    static CRegisterItem* NewItem(DWORD dwBlockId, const CRun& run, BYTE byFunction,
                                  WORD wTransaction, const CByteArray* pValues) {
        auto* pItem = new CRegisterItem(dwBlockId, run.byNode);
        pItem->m_byFunction = byFunction;
        pItem->m_wTransaction = wTransaction;
        pItem->m_Request = BuildRequest(dwBlockId, run, byFunction, wTransaction, pValues);
        return pItem;
    }

    template <class List>
    static bool AddItem(CQZMutex* pMutex, List& list, CRegisterItem* pItem) {
        CNetPort::CListLock lock(pMutex);
        if (!lock.IsLocked()) {
            return false;
        }
        list.Add(pItem);
        return true;
    }

    template <class List>
    static void RemoveItem(CQZMutex* pMutex, List& list, CRegisterItem* pItem) {
        CNetPort::CListLock lock(pMutex);
        if (!lock.IsLocked()) {
            return;  // left to the list's owner, which destroys it at the stop
        }
        for (int i = 0; i < list.GetSize(); ++i) {
            if (list[i] == pItem) {
                list.RemoveAt(i);
                delete pItem;
                return;
            }
        }
    }

    CPollProperties m_PollProperties;
    std::unique_ptr<CNetPort> m_pPort;
    // Host's thread only.
    WORD m_wTransaction = 0;
};

}  // namespace

KELVARA_EXPORT_DRIVER(CArcnetRegisterDriver, "ARCNET register station")
