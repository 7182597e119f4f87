#include "kelvara/block/ComBlock.h"

#include <algorithm>

#include "kelvara/protocol/CommsStats.h"
#include "kelvara/protocol/ErrorCodes.h"
#include "kelvara/sibling/Utility.h"

std::atomic<DWORD> CComBlock::m_dwNextBlockId{1};

namespace {

constexpr DWORD kTimeoutCode = 2001;
constexpr DWORD kChecksumCode = 2002;

// Each pair in an archive takes two 32-bit offsets.
constexpr ULONGLONG kPairRecordSize = 8;

void CopyBytes(CByteArray& to, const CByteArray& from) {
    to.SetSize(from.GetSize());
    std::copy(from.begin(), from.end(), to.begin());
}

// Reads a 32-bit length followed by that many bytes; a length beyond what
// is left in the archive, or beyond what an array can hold, is a damaged
// record and fails before the array is touched.
void ReadSizedBytes(CArchive& ar, CByteArray& to) {
    DWORD dwLength = 0;
    ar >> dwLength;
    const int n = ar.CheckLoadCount(dwLength, 1);
    to.SetSize(n);
    ar.ReadExact(to.GetData(), static_cast<UINT>(n));
}

void WriteSizedBytes(CArchive& ar, const CByteArray& from) {
    ar << static_cast<DWORD>(from.GetSize());
    ar.Write(from.GetData(), static_cast<UINT>(from.GetSize()));
}

// Packs values one bit each, from position 0 of the first output byte up.
class BitPacker {
public:
    BitPacker(CByteArray& out, ULONGLONG nBits) : m_out(out) {
        m_out.SetSize(static_cast<int>(nBits / 8 + (nBits % 8 ? 1 : 0)));
    }
    void Put(int nValue) {
        BYTE& target = m_out[static_cast<int>(m_nBit / 8)];
        if (m_nBit % 8 == 0) {
            target = 0;
        }
        SetBit(static_cast<int>(m_nBit % 8), nValue, target);
        ++m_nBit;
    }

private:
    CByteArray& m_out;
    ULONGLONG m_nBit = 0;
};

}  // namespace

DWORD CComBlock::TakeNextBlockId() {
    return m_dwNextBlockId.fetch_add(1, std::memory_order_relaxed);
}

CComBlock::CComBlock()
    : CQZObject(2),
      m_dwBlockId(TakeNextBlockId()),
      m_FirstAddress("", "[]", nullptr),
      m_DeviceAddress("", "[]", nullptr) {
    m_TableOffset = 0;
    m_DeviceLocation = 0;
}

CComBlock::CComBlock(CRemoteAddress* pFirstAddress, WORD wBlockType, DWORD dwItemCount,
                     DWORD dwPointCount, DWORD dwElementSize)
    : CQZObject(2),
      m_dwBlockId(TakeNextBlockId()),
      m_wBlockType(wBlockType),
      m_dwItemCount(dwItemCount),
      m_dwPointCount(dwPointCount),
      m_dwElementSize(dwElementSize),
      m_FirstAddress(pFirstAddress ? CRemoteAddress(*pFirstAddress)
                                   : CRemoteAddress("", "[]", nullptr)),
      m_DeviceAddress("", "[]", nullptr) {
    m_TableOffset = 0;
    m_DeviceLocation = 0;
}

CComBlock::CComBlock(CString* pTableName, int nPLCDeviceType, CQZLocation* pTableOffset,
                     ProtocolBaseUnit eBaseUnit, DWORD dwItemCount, DWORD dwPointCount)
    : CQZObject(2),
      m_dwBlockId(TakeNextBlockId()),
      m_eProtocolBaseUnit(eBaseUnit),
      m_dwItemCount(dwItemCount),
      m_dwPointCount(dwPointCount),
      m_strTableName(pTableName ? *pTableName : CString()),
      m_nPLCDeviceType(nPLCDeviceType),
      m_TableOffset(pTableOffset ? CQZLocation(*pTableOffset) : CQZLocation()),
      m_bTableAddressed(1),
      m_FirstAddress("", "[]", nullptr),
      m_DeviceAddress("", "[]", nullptr) {
    m_DeviceLocation = 0;
}

CComBlock::CComBlock(EmptyTag) : CQZObject(1), m_dwBlockId(0) {}

CComBlock::CComBlock(const CComBlock& src) : CComBlock(EmptyTag{}) {
    *this = src;
}

CComBlock::~CComBlock() {
    m_Data.RemoveAll();
    m_EncodedEDF.RemoveAll();
    m_PropArray.RemoveAll();
    while (!m_OffsetPairs.IsEmpty()) {
        delete m_OffsetPairs.RemoveHead();
    }
}

CComBlock& CComBlock::operator=(const CComBlock& src) {
    if (this == &src) {
        return *this;
    }
    m_dwBlockId = TakeNextBlockId();
    m_wBlockType = src.m_wBlockType;
    m_eReadOrWrite = src.m_eReadOrWrite;
    m_ePriority = src.m_ePriority;
    m_bDisabled = src.m_bDisabled;
    m_dwComTime = src.m_dwComTime;
    m_dwStandardErrorCode = src.m_dwStandardErrorCode;
    m_dwDeviceErrorCode = src.m_dwDeviceErrorCode;
    m_strStandardError = src.m_strStandardError;
    m_strDeviceError = src.m_strDeviceError;
    m_bBad = src.m_bBad;
    m_dwItemCount = src.m_dwItemCount;
    m_dwPointCount = src.m_dwPointCount;
    m_dwElementSize = src.m_dwElementSize;
    m_FirstAddress = src.m_FirstAddress;
    m_DeviceAddress = src.m_DeviceAddress;
    CopyBytes(m_EncodedEDF, src.m_EncodedEDF);
    CopyBytes(m_Data, src.m_Data);
    m_nStringLength = src.m_nStringLength;
    m_nBitOffset = src.m_nBitOffset;
    m_eProtocolBaseUnit = src.m_eProtocolBaseUnit;
    m_strTableName = src.m_strTableName;
    m_TableOffset = src.m_TableOffset;
    m_DeviceLocation = src.m_DeviceLocation;
    m_bTableAddressed = src.m_bTableAddressed;
    m_nPLCDeviceType = src.m_nPLCDeviceType;
    // Each copied pair goes to the front, so the copy holds them reversed.
    for (POSITION pos = src.m_OffsetPairs.GetHeadPosition(); pos;) {
        const BitOffsetMapping* p = src.m_OffsetPairs.GetNext(pos);
        m_OffsetPairs.AddHead(new BitOffsetMapping{p->nFirstOffset, p->nSecondOffset});
    }
    return *this;
}

void CComBlock::SetStandardErrorCode(DWORD dwCode, CCommsStats* pStats) {
    m_dwStandardErrorCode = dwCode;
    m_strStandardError = GetStandardErrorMessage(dwCode);
    pStats->IncrementStandardErrors();
    pStats->SetLastError(m_strStandardError);
    if (dwCode == kTimeoutCode) {
        pStats->IncrementTimeoutErrors();
    } else if (dwCode == kChecksumCode) {
        pStats->IncrementCRCErrors();
    }
}

void CComBlock::SetDeviceError(DWORD dwCode, CString* pText, CCommsStats* pStats) {
    m_dwDeviceErrorCode = dwCode;
    m_strDeviceError = pText ? *pText : CString();
    pStats->IncrementDeviceErrors();
    pStats->SetLastError(m_strDeviceError);
}

void CComBlock::ClearForTransfer() {
    m_dwComTime = 0;
    m_dwStandardErrorCode = 0;
    m_dwDeviceErrorCode = 0;
    m_strStandardError.Empty();
    m_strDeviceError.Empty();
    m_bBad = 0;
    m_posOffsetPair = nullptr;
}

void CComBlock::RecycleBlock() {
    ClearForTransfer();
    m_Data.RemoveAll();
}

void CComBlock::RecycleBlockLeaveData() {
    ClearForTransfer();
}

void CComBlock::SetBlockData(CByteArray* pData) {
    if (pData) {
        CopyBytes(m_Data, *pData);
    }
}

void CComBlock::FillWriteBuffer(CByteArray* pData) {
    SetBlockData(pData);
    m_eReadOrWrite = RW_WRITE;
}

int CComBlock::GetBlockData(CByteArray& rData) {
    if (m_Data.IsEmpty() || m_bBad) {
        return 0;
    }
    CopyBytes(rData, m_Data);
    return 1;
}

void CComBlock::SetEncodedEDF(CByteArray* pEDF) {
    if (pEDF) {
        CopyBytes(m_EncodedEDF, *pEDF);
    }
}

void CComBlock::SetDeviceLocation(CQZLocation* pLocation) {
    if (pLocation) {
        m_DeviceLocation = *pLocation;
    }
}

void CComBlock::SetDeviceAddress(CRemoteAddress* pAddress) {
    if (pAddress) {
        m_DeviceAddress = *pAddress;
    }
}

DWORD CComBlock::GetSizeFromBaseUnit() {
    switch (m_eProtocolBaseUnit) {
        case PBU_BIT:
        case PBU_NIBBLE:
        case PBU_BYTE:
        case PBU_CHARACTER:
            return 1;
        case PBU_WORD:
            return 2;
        case PBU_DOUBLE_WORD:
            return 4;
        case PBU_QUAD_WORD:
            return 8;
    }
    switch (m_wBlockType) {
        case 3:
        case 4:
            return 4;
        case 5:
            return 8;
        case 8:
        case 11:
        case 17:
            return 1;
        default:
            return 2;
    }
}

DWORD CComBlock::GetExtractionElementSize() {
    const DWORD size = m_bTableAddressed ? GetSizeFromBaseUnit() : m_dwElementSize;
    return std::max<DWORD>(size, 1);
}

bool CComBlock::RefusesRange(LONGLONG nFirst, LONGLONG nLast, LONGLONG nLimit) {
    // Negative indexes and a first index beyond last + 1 are caller errors;
    // they are refused like indexes past the data. The indexes come from
    // 32-bit arguments, so nothing here can overflow 64 bits.
    return m_Data.IsEmpty() || m_bBad || nFirst < 0 || nLast < 0 || nFirst >= nLimit ||
           nLast >= nLimit || nFirst > nLast + 1;
}

int CComBlock::GetBlockElement(DWORD dwIndex, CByteArray& rOut) {
    if (m_Data.IsEmpty() || m_bBad) {
        return 0;
    }
    const ULONGLONG size = GetExtractionElementSize();
    if ((static_cast<ULONGLONG>(dwIndex) + 1) * size > static_cast<ULONGLONG>(m_Data.GetSize())) {
        return 0;
    }
    const auto first = m_Data.begin() + static_cast<std::ptrdiff_t>(dwIndex * size);
    rOut.SetSize(static_cast<int>(size));
    std::copy(first, first + static_cast<std::ptrdiff_t>(size), rOut.begin());
    return 1;
}

// The ranges below are walked with 64-bit indexes: a last bit of INT_MAX is
// a valid bit of a large block, and last + 1 must not wrap.

int CComBlock::GetBlockSegment(int nFirst, int nLast, CByteArray& rOut) {
    if (RefusesRange(nFirst, nLast, m_Data.GetSize())) {
        return 0;
    }
    const LONGLONG nCount = static_cast<LONGLONG>(nLast) - nFirst + 1;
    rOut.SetSize(static_cast<int>(nCount));
    const auto first = m_Data.begin() + nFirst;
    std::copy(first, first + static_cast<std::ptrdiff_t>(nCount), rOut.begin());
    return 1;
}

int CComBlock::GetBlockBitSegment(int nFirst, int nLast, CByteArray& rOut) {
    if (RefusesRange(nFirst, nLast, m_Data.GetSize())) {
        return 0;
    }
    BitPacker packer(rOut, static_cast<ULONGLONG>(static_cast<LONGLONG>(nLast) - nFirst + 1));
    for (LONGLONG i = nFirst; i <= nLast; ++i) {
        packer.Put(m_Data[static_cast<int>(i)]);
    }
    return 1;
}

int CComBlock::GetBlockPackedBitSegment(int nFirstBit, int nLastBit, CByteArray& rOut) {
    if (RefusesRange(nFirstBit, nLastBit, 8LL * m_Data.GetSize())) {
        return 0;
    }
    BitPacker packer(rOut, static_cast<ULONGLONG>(static_cast<LONGLONG>(nLastBit) - nFirstBit + 1));
    for (LONGLONG b = nFirstBit; b <= nLastBit; ++b) {
        packer.Put(GetBit(static_cast<int>(b % 8), m_Data[static_cast<int>(b / 8)]));
    }
    return 1;
}

int CComBlock::GetBlockNibbleSegment(int nFirst, int nLast, CByteArray& rOut) {
    if (RefusesRange(nFirst, nLast, m_Data.GetSize())) {
        return 0;
    }
    // A nibble is four bits; packing them bit by bit keeps every position
    // rule of the bit packings.
    BitPacker packer(rOut,
                     4ULL * static_cast<ULONGLONG>(static_cast<LONGLONG>(nLast) - nFirst + 1));
    for (LONGLONG i = nFirst; i <= nLast; ++i) {
        for (int bit = 0; bit < 4; ++bit) {
            packer.Put(GetBit(bit, m_Data[static_cast<int>(i)]));
        }
    }
    return 1;
}

void CComBlock::AddNewOffsetPair(int nFirstOffset, int nSecondOffset) {
    m_OffsetPairs.AddTail(new BitOffsetMapping{nFirstOffset, nSecondOffset});
}

void CComBlock::AddOffsetPairs(BitOffsetMappingList* pPairs) {
    if (pPairs == nullptr || pPairs == &m_OffsetPairs) {
        return;
    }
    for (POSITION pos = pPairs->GetHeadPosition(); pos;) {
        m_OffsetPairs.AddTail(pPairs->GetNext(pos));
    }
}

int CComBlock::GetNextOffsetPair(int* pFirstOffset, int* pSecondOffset) {
    POSITION next = nullptr;
    if (!m_OffsetPairs.IsEmpty()) {
        next = m_posOffsetPair ? m_posOffsetPair : m_OffsetPairs.GetHeadPosition();
        if (m_posOffsetPair) {
            m_OffsetPairs.GetNext(next);
        }
    }
    m_posOffsetPair = next;
    if (next == nullptr) {
        *pFirstOffset = -1;
        *pSecondOffset = -1;
        return 0;
    }
    const BitOffsetMapping* p = m_OffsetPairs.GetAt(next);
    *pFirstOffset = p->nFirstOffset;
    *pSecondOffset = p->nSecondOffset;
    return 1;
}

void CComBlock::Serialize(CArchive& ar) {
    CQZObject::Serialize(ar);
    if (ar.IsStoring()) {
        ar << static_cast<DWORD>(m_eProtocolBaseUnit) << m_wBlockType
           << static_cast<DWORD>(m_eReadOrWrite) << static_cast<DWORD>(m_ePriority)
           << static_cast<DWORD>(m_bDisabled) << m_dwComTime << m_dwStandardErrorCode
           << m_dwDeviceErrorCode << m_strStandardError << m_strDeviceError
           << static_cast<DWORD>(m_bBad) << m_dwItemCount << m_dwPointCount << m_dwElementSize
           << m_FirstAddress.m_strAddress << m_DeviceAddress.m_strAddress << m_strTableName;
        m_TableOffset.Serialize(ar);
        m_DeviceLocation.Serialize(ar);
        ar << static_cast<DWORD>(m_nStringLength) << static_cast<DWORD>(m_nBitOffset)
           << static_cast<DWORD>(m_nPLCDeviceType) << static_cast<DWORD>(m_bTableAddressed);
        WriteSizedBytes(ar, m_Data);
        ar << static_cast<DWORD>(m_OffsetPairs.GetCount());
        for (POSITION pos = m_OffsetPairs.GetHeadPosition(); pos;) {
            const BitOffsetMapping* p = m_OffsetPairs.GetNext(pos);
            ar << static_cast<DWORD>(p->nSecondOffset) << static_cast<DWORD>(p->nFirstOffset);
        }
        WriteSizedBytes(ar, m_EncodedEDF);
        return;
    }

    DWORD dwBaseUnit = 0;
    DWORD dwReadOrWrite = 0;
    DWORD dwPriority = 0;
    ar >> dwBaseUnit >> m_wBlockType >> dwReadOrWrite >> dwPriority >> m_bDisabled >> m_dwComTime >>
        m_dwStandardErrorCode >> m_dwDeviceErrorCode >> m_strStandardError >> m_strDeviceError >>
        m_bBad >> m_dwItemCount >> m_dwPointCount >> m_dwElementSize;
    m_eProtocolBaseUnit = static_cast<ProtocolBaseUnit>(dwBaseUnit);
    m_eReadOrWrite = static_cast<ReadOrWrite>(dwReadOrWrite);
    m_ePriority = static_cast<BlockPriority>(dwPriority);
    CString strAddress;
    ar >> strAddress;
    m_FirstAddress.SetAddress(strAddress);
    ar >> strAddress;
    m_DeviceAddress.SetAddress(strAddress);
    ar >> m_strTableName;
    m_TableOffset.Serialize(ar);
    m_DeviceLocation.Serialize(ar);
    ar >> m_nStringLength >> m_nBitOffset >> m_nPLCDeviceType >> m_bTableAddressed;
    ReadSizedBytes(ar, m_Data);
    DWORD dwPairs = 0;
    ar >> dwPairs;
    const int nPairs = ar.CheckLoadCount(dwPairs, kPairRecordSize);
    for (int i = 0; i < nPairs; ++i) {
        LONG nSecond = 0;
        LONG nFirst = 0;
        ar >> nSecond >> nFirst;
        m_OffsetPairs.AddTail(new BitOffsetMapping{nFirst, nSecond});
    }
    ReadSizedBytes(ar, m_EncodedEDF);
}

CString CComBlock::CreateLogString() {
    const CString& first = m_FirstAddress.m_strAddress;
    if (first == " ") {
        return CString();
    }
    CString line;
    line.Format(m_eReadOrWrite == RW_READ
                    ? "Generated read block containing %d point(s), starting at address %s"
                    : "Generated write block containing %d point(s), starting at address %s",
                static_cast<int>(m_dwPointCount), first.GetString());
    const CString& device = m_DeviceAddress.m_strAddress;
    if (!device.IsEmpty()) {
        line += ", device ";
        line += device;
    }
    return line;
}
